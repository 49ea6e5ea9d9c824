#include "app/tfrmzzc010.h"

#include "machine/pelfunction.h"
#include "platform/appfiles.h"
#include "platform/imagelibrary.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QPalette>
#include <QPixmap>
#include <QScreen>

namespace {

constexpr int ClientWidth = 537;
constexpr int ClientHeight = 284;

// The library's mono bitmaps carry the DIB bit as the pixel index; any other picture used as a
// mask is taken by its brightness.
int maskPixel(const QImage &mask, int x, int y)
{
    if (mask.format() == QImage::Format_Mono || mask.format() == QImage::Format_MonoLSB)
        return mask.pixelIndex(x, y) ? 1 : 0;
    return qGray(mask.pixel(x, y)) >= 128 ? 1 : 0;
}

QLabel *makeLabel(QWidget *parent, const QString &name, const QRect &bounds, const QFont &font,
                  const QColor &color, Qt::Alignment alignment)
{
    auto *label = new QLabel(parent);
    label->setObjectName(name);
    label->setGeometry(bounds);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
    label->setAlignment(alignment);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    return label;
}

} // namespace

TfrmZZC010::TfrmZZC010(QWidget *owner, const QString &libraryPath)
    : QWidget(owner, Qt::SplashScreen | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("frmZZC010"));
    QFont windowFont(QStringLiteral("MS Sans Serif"));
    windowFont.setPixelSize(11);
    setFont(windowFont);
    setFixedSize(ClientWidth, ClientHeight);

    m_imgImage = new QLabel(this);
    m_imgImage->setObjectName(QStringLiteral("imgImage"));
    m_imgImage->setGeometry(0, 0, ClientWidth, ClientHeight);
    m_imgImage->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    QFont titleFont(QStringLiteral("바탕"));
    titleFont.setPixelSize(24);
    const Qt::Alignment right = Qt::AlignRight | Qt::AlignVCenter;
    // The shadow lies under the title, one pixel to the right and one down.
    m_lblProjectNameShadow = makeLabel(this, QStringLiteral("lblProjectNameShadow"),
                                       QRect(243, 154, 213, 24), titleFont, QColor(0x80, 0x80, 0x00),
                                       right);
    m_lblProjectName = makeLabel(this, QStringLiteral("lblProjectName"), QRect(242, 153, 213, 24),
                                 titleFont, QColor(0xFF, 0xFF, 0x00), right);
    m_lblCopyright = makeLabel(this, QStringLiteral("lblCopyright"), QRect(179, 262, 178, 11),
                               windowFont, QColor(0x00, 0x00, 0x80), Qt::AlignLeft | Qt::AlignVCenter);
    QFont versionFont = windowFont;
    versionFont.setBold(true);
    m_lblVersion = makeLabel(this, QStringLiteral("lblVersion"), QRect(340, 180, 115, 11),
                             versionFont, QColor(0xFF, 0xFF, 0xFF), right);

    FormCreate(libraryPath.isEmpty()
                   ? findAppFile(QCoreApplication::applicationDirPath(), QStringLiteral("MainImg.dll"))
                   : libraryPath);

    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        move(area.left() + (area.width() - width()) / 2, area.top() + (area.height() - height()) / 2);
    }
}

TfrmZZC010::~TfrmZZC010() = default;

void TfrmZZC010::FormCreate(const QString &libraryPath)
{
    QImage maskBitmap;
    QString error;
    if (const auto library = ImageLibrary::load(libraryPath, &error)) {
        const QImage splash = library->bitmap(QStringLiteral("SPLASH"), &error);
        if (splash.isNull()) {
            m_loadError = error;
        } else {
            m_imgImage->setPixmap(QPixmap::fromImage(splash));
            maskBitmap = library->bitmap(QStringLiteral("SMASK"), &error);
            if (maskBitmap.isNull())
                m_loadError = error;
        }
    } else {
        m_loadError = error;
    }

    // Without the mask there is no outline and the splash stays hidden rather than showing a
    // bare rectangle; the title and the version are set all the same.
    m_shapeRegion = CreateMaskRegion(maskBitmap, height());
    if (!m_shapeRegion.isEmpty())
        setMask(m_shapeRegion);

    m_lblProjectName->setText(defaultApplicationTitle(QCoreApplication::applicationFilePath()));
    m_lblProjectNameShadow->setText(m_lblProjectName->text());
    m_lblVersion->setText(GetVersionText());
    m_lblCopyright->setText(QStringLiteral("Copyright (C) 2025 Orsa"));
    m_lblCopyright->adjustSize();
}

void TfrmZZC010::setVisible(bool visible)
{
    if (visible && m_shapeRegion.isEmpty())
        return;
    QWidget::setVisible(visible);
}

QRegion TfrmZZC010::CreateMaskRegion(const QImage &maskBitmap, int windowHeight)
{
    QRegion region;
    const int maskWidth = maskBitmap.isNull() ? 0 : maskBitmap.width();
    const int height = maskBitmap.isNull() ? 0 : maskBitmap.height();
    int width = maskWidth;
    if (width % 16 != 0)
        width = width - width % 16 + 16;

    // White everywhere first, so the widened columns stay white.
    QByteArray bits(qMax<qint64>(1, qint64(width) * height / 8), char(0xFF));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < maskWidth; ++x) {
            if (maskPixel(maskBitmap, x, y) == 0) {
                const qint64 i = qint64(y) * width + x;
                bits[i / 8] = char(quint8(bits.at(i / 8)) & ~(0x80u >> (i % 8)));
            }
        }
    }

    for (int y = 0; y < height; ++y) {
        int runStart = -1;
        for (int x = 0; x < width; ++x) {
            const int bit = GetMaskBit(bits, x, y, width, windowHeight);
            if (bit == 0 && runStart < 0) {
                runStart = x;
            } else if (bit == 1 && runStart >= 0) {
                region += QRect(QPoint(runStart, y), QPoint(x - 1, y));
                runStart = -1;
            }
        }
        if (runStart >= 0)
            region += QRect(QPoint(runStart, y), QPoint(width - 1, y));
    }
    return region;
}

int TfrmZZC010::GetMaskBit(const QByteArray &bits, int x, int y, int width, int windowHeight)
{
    if (x < 0 || y < 0 || x > width - 1 || y > windowHeight - 1)
        return 1;
    const qint64 i = qint64(y) * width + x;
    if (i / 8 >= bits.size())
        return 1;
    return GetBit(quint8(bits.at(i / 8)), int(i % 8));
}

int TfrmZZC010::GetBit(quint8 byte, int n)
{
    if (n < 0 || n > 7)
        return 1;
    return (byte >> (7 - n)) & 1;
}

QString TfrmZZC010::defaultApplicationTitle(const QString &executablePath)
{
    QString name = QFileInfo(executablePath).fileName();
    const int dot = name.indexOf(QLatin1Char('.'));
    if (dot >= 0)
        name.truncate(dot);
    if (name.isEmpty())
        return name;
    return name.left(1) + name.mid(1).toLower();
}
