#include "update/tfrm_bh010.h"

#include "platform/messages.h"
#include "platform/windowsystem.h"
#include "shared/logcategories.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>
#include <QScreen>
#include <QThread>

const QString Tfrm_BH010::UpdateCaption =
    QStringLiteral("프로그램이 변경되었습니다.\r\n지금 업데이트 하려면 이곳을 누르십시오.");
const QString Tfrm_BH010::CloseCaption = QStringLiteral("변경하지 않고 닫기");

namespace {

QRegion roundedRegion(int left, int top, int right, int bottom)
{
    // The corner ellipses are 6 x 6 pixels; right and bottom lie outside the shape.
    QPainterPath path;
    path.addRoundedRect(QRectF(left, top, right - left, bottom - top), 3, 3);
    return QRegion(path.toFillPolygon().toPolygon());
}

void setLabelLook(QLabel *label, const QColor &colour, bool underline)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    QFont font = label->font();
    font.setUnderline(underline);
    label->setFont(font);
}

} // namespace

QImage noticeBackground()
{
    QImage image(Tfrm_BH010::DesignWidth, Tfrm_BH010::DesignHeight, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    // The grey shadow toward the bottom right, then the pale yellow card.
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(150, 150, 150));
    painter.drawRoundedRect(QRectF(5, 5, image.width() - 5, image.height() - 5), 3, 3);
    painter.setBrush(QColor(255, 255, 225));
    painter.setPen(QColor(190, 180, 120));
    painter.drawRoundedRect(QRectF(0.5, 0.5, image.width() - 6, image.height() - 6), 3, 3);
    return image;
}

NoticeLabel::NoticeLabel(QWidget *parent) : QLabel(parent)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAutoFillBackground(false);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

void NoticeLabel::setCaption(const QString &caption)
{
    m_caption = caption;
    QString shown = caption;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    setText(shown);
}

void NoticeLabel::lblMouseEnter()
{
    setLabelLook(this, QColor(0, 0, 255), true);
}

void NoticeLabel::lblMouseLeave()
{
    setLabelLook(this, QColor(0, 0, 0), false);
}

void NoticeLabel::enterEvent(QEnterEvent *event)
{
    QLabel::enterEvent(event);
    lblMouseEnter();
}

void NoticeLabel::leaveEvent(QEvent *event)
{
    QLabel::leaveEvent(event);
    lblMouseLeave();
}

void NoticeLabel::mouseReleaseEvent(QMouseEvent *event)
{
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        Q_EMIT clicked();
}

Tfrm_BH010::Tfrm_BH010(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setWindowTitle(QStringLiteral("Update"));
    QFont font(QStringLiteral("굴림"));
    font.setPixelSize(12);
    setFont(font);
    resize(DesignWidth, DesignHeight);

    m_imgUpdate = new QLabel(this);
    m_imgUpdate->setGeometry(0, 0, DesignWidth, DesignHeight);
    m_imgUpdate->setPixmap(QPixmap::fromImage(noticeBackground()));

    m_lblUpdate = new NoticeLabel(this);
    m_lblUpdate->setGeometry(13, 11, 224, 24);
    m_lblUpdate->setCaption(UpdateCaption);
    connect(m_lblUpdate, &NoticeLabel::clicked, this, &Tfrm_BH010::lblUpdateClick);

    m_lblClose = new NoticeLabel(this);
    m_lblClose->setGeometry(150, 42, 104, 12);
    m_lblClose->setCaption(CloseCaption);
    connect(m_lblClose, &NoticeLabel::clicked, this, &Tfrm_BH010::lblCloseClick);

    FormCreate();
}

void Tfrm_BH010::FormCreate()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    const QRect workArea = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    move(workArea.x() + workArea.width() - DesignWidth - 5,
         workArea.y() + workArea.height() - DesignHeight - 5);
    resize(DesignWidth + 2, DesignHeight + 2);
    setMask(roundedRegion(6, 6, width() - 1, height() - 1)
            | roundedRegion(0, 0, width() - 5, height() - 5));
}

void Tfrm_BH010::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    FormShow();
}

void Tfrm_BH010::FormShow()
{
    setWindowTitle(ProgramName.toLower());
    m_lblUpdate->setCaption(ProgramTitle + UpdateCaption);
}

void Tfrm_BH010::lblCloseClick()
{
    close();
}

void Tfrm_BH010::lblUpdateClick()
{
    bool stillRunning = false;
    if (ProgramName.toUpper().startsWith(QLatin1String("ORSA_")) && ProgramName.size() == 6
        && m_actions.windows) {
        WindowSystem &windows = *m_actions.windows;
        QChar letter = ProgramName.at(5);
        if (letter.unicode() >= 'a' && letter.unicode() <= 'z')
            letter = QChar(letter.unicode() - 'a' + 'A');
        const QString className = QStringLiteral("Tfrm") + letter + QStringLiteral("0Main");
        WindowId window = windows.findWindow(className);
        if (window != 0) {
            windows.closeWindow(window);
            // The close request does not wait for the program: it is given a little time to
            // handle it and go.
            QElapsedTimer elapsed;
            elapsed.start();
            while ((window = windows.findWindow(className)) != 0
                   && elapsed.elapsed() < m_actions.closeTimeoutMs)
                QThread::msleep(20);
        }
        stillRunning = window != 0;
    }

    if (stillRunning) {
        if (m_actions.messages)
            m_actions.messages->show(QStringLiteral("실행 중인 프로그램을 종료할 수 없습니다.\r")
                                         + ProgramTitle
                                         + QStringLiteral("를(을) 직접 종료하고 다시 실행하십시오."),
                                     MessageIcon::Error, MessageButtons::Ok, windowTitle());
    } else if (m_actions.launchProgram) {
        qCInfo(lcLaunch).noquote() << "update restart of" << ProgramName + QStringLiteral(".exe");
        m_actions.launchProgram(ProgramName + QStringLiteral(".exe"));
    }
    close();
}
