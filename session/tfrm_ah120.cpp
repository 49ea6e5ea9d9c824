#include "session/tfrm_ah120.h"

#include "platform/appfiles.h"
#include "platform/profilefile.h"
#include "platform/windowsystem.h"
#include "session/okpicture.h"
#include "shared/sharedvalues.h"
#include "widgets/tpelimage.h"
#include "widgets/twlabel.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>

#include <limits>

namespace {

const QString AllRoles = QStringLiteral("[전체]");
const QString RoleSection = QStringLiteral("Role");

} // namespace

Tfrm_AH120::Tfrm_AH120(QWidget *owner, const SharedValues &shared, WindowSystem *windows)
    : QDialog(owner, Qt::Dialog | Qt::FramelessWindowHint), m_shared(shared)
{
    setObjectName(QStringLiteral("frm_AH120"));
    setWindowTitle(QStringLiteral("권한"));
    setFixedSize(ClientWidth, ClientHeight);
    QFont windowFont(QStringLiteral("굴림체"));
    windowFont.setPixelSize(12);
    setFont(windowFont);

    // The background and frame; everything else lies on it.
    m_wlbBack = new TwLabel(this);
    m_wlbBack->setObjectName(QStringLiteral("wlbBack"));
    m_wlbBack->setGeometry(0, 0, ClientWidth, ClientHeight);
    m_wlbBack->setAlignment(taLeftJustify);
    m_wlbBack->setCaption(QString());

    m_lblTeamRole = new QLabel(this);
    m_lblTeamRole->setObjectName(QStringLiteral("lblTeamRole"));
    m_lblTeamRole->move(18, 18);
    m_lblTeamRole->adjustSize();

    m_cbbTeamRole = new QComboBox(this);
    m_cbbTeamRole->setObjectName(QStringLiteral("cbbTeamRole"));
    m_cbbTeamRole->setEditable(false);
    m_cbbTeamRole->setGeometry(75, 15, 212, 20);
    m_cbbTeamRole->setStyleSheet(QStringLiteral("QComboBox QAbstractItemView::item { min-height: 12px; }"));
    m_cbbTeamRole->installEventFilter(this);
    // While the list is dropped down the keys go to it, not to the combo box.
    m_cbbTeamRoleList = m_cbbTeamRole->view();
    m_cbbTeamRoleList->installEventFilter(this);

    m_imgOK = new TPelImage(this);
    m_imgOK->setObjectName(QStringLiteral("imgOK"));
    m_imgOK->setGeometry(229, 42, 57, 21);
    m_imgOK->setNormalPicture(okButtonPicture(windowFont, false));
    m_imgOK->setActivePicture(okButtonPicture(windowFont, true));
    m_imgOK->setDisabledPicture(okButtonPicture(windowFont, false));
    m_imgOK->setNormalMode(true);
    m_imgOK->setCursor(Qt::PointingHandCursor);
    connect(m_imgOK, &TPelImage::clicked, this, &Tfrm_AH120::imgOKClick);

    m_cbbTeamRole->setFocus();
    if (windows)
        windows->setWindowClass(this, QStringLiteral("Tfrm_AH120"));
}

Tfrm_AH120::~Tfrm_AH120() = default;

QPoint Tfrm_AH120::placeUnder(const QRect &owner, const QRect &button, const QSize &window)
{
    // In 64 bits: a button far out (Main.ini allows any 32-bit position) must not overflow.
    const auto clamp = [](qint64 value) {
        return int(qBound(qint64(std::numeric_limits<int>::min()), value,
                          qint64(std::numeric_limits<int>::max())));
    };
    const qint64 top = qint64(owner.top()) + button.top() + button.height() + 2;
    qint64 left = qint64(owner.left()) + button.left();
    if (left + window.width() > qint64(owner.left()) + owner.width())
        left = qint64(owner.left()) + owner.width() - window.width() - 5;
    return QPoint(clamp(left), clamp(top));
}

int Tfrm_AH120::teamRoleType() const
{
    if (m_projectIndex < 0 || m_projectIndex >= m_shared.ProjectIds.size())
        return 0;
    return m_shared.ProjectIds.at(m_projectIndex).right;
}

int Tfrm_AH120::FillRoles()
{
    m_cbbTeamRole->clear();
    m_projectIndex = -1;
    for (int i = 0; i < m_shared.ProjectIds.size(); ++i) {
        if (m_shared.ProjectIds.at(i).id == m_projectId) {
            m_projectIndex = i;
            break;
        }
    }
    // A project that is not configured has no roles: the caller then refuses the start.
    if (m_projectIndex < 0 || m_projectIndex >= m_shared.RoleChoices.size())
        return 0;

    const QList<RoleChoice> &choices = m_shared.RoleChoices.at(m_projectIndex);
    for (const RoleChoice &choice : choices)
        m_cbbTeamRole->addItem(QStringLiteral("%1 - %2").arg(QString::number(choice.code), choice.name));
    if (choices.isEmpty())
        return 0;

    m_cbbTeamRole->setCurrentIndex(0);
    if (choices.size() == 1) {
        SaveRole();
        return 1;
    }
    m_cbbTeamRole->insertItem(0, AllRoles);
    m_cbbTeamRole->setCurrentIndex(0);

    switch (teamRoleType()) {
    case 1:
        m_lblTeamRole->setText(QStringLiteral("사업장"));
        break;
    case 2:
        m_lblTeamRole->setText(QStringLiteral("팀"));
        break;
    case 3:
        m_lblTeamRole->setText(QStringLiteral("영업장"));
        break;
    default:
        m_lblTeamRole->clear();
        break;
    }
    m_lblTeamRole->adjustSize();
    return int(choices.size());
}

QString Tfrm_AH120::roleFilePath() const
{
    return findAppFile(m_shared.AppDir, m_projectId + QStringLiteral(".ini"));
}

bool Tfrm_AH120::SaveRole()
{
    m_saved = false;
    m_saveError.clear();
    const int items = m_cbbTeamRole->count();
    const int selected = items >= 2 ? m_cbbTeamRole->currentIndex() - 1 : m_cbbTeamRole->currentIndex();

    QString code;
    QString name;
    if (selected == -1 && items >= 2) {
        code = QStringLiteral("0");
        name = m_cbbTeamRole->itemText(0);
    } else {
        const QList<RoleChoice> choices = m_projectIndex >= 0 && m_projectIndex < m_shared.RoleChoices.size()
                                              ? m_shared.RoleChoices.at(m_projectIndex)
                                              : QList<RoleChoice>();
        if (selected < 0 || selected >= choices.size()) {
            m_saveError = QStringLiteral("no role is chosen");
            return false;
        }
        code = QString::number(choices.at(selected).code);
        name = choices.at(selected).name;
    }

    const QList<QPair<QString, QString>> values = {
        {QStringLiteral("Type"), QString::number(teamRoleType())},
        {QStringLiteral("Code"), code},
        {QStringLiteral("Name"), name},
    };
    QString error;
    if (!ProfileFile::writeValues(roleFilePath(), RoleSection, values, &error)) {
        m_saveError = error.isEmpty() ? QStringLiteral("the role file cannot be written") : error;
        return false;
    }
    m_saved = true;
    return true;
}

void Tfrm_AH120::imgOKClick()
{
    SaveRole();
    accept();
}

bool Tfrm_AH120::eventFilter(QObject *watched, QEvent *event)
{
    const bool list = watched == m_cbbTeamRoleList;
    if ((watched == m_cbbTeamRole || list) && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            // Enter in the dropped-down list takes the highlighted entry and confirms at once,
            // one press as with the list closed.
            if (list) {
                const QModelIndex highlighted = m_cbbTeamRoleList->currentIndex();
                if (highlighted.isValid())
                    m_cbbTeamRole->setCurrentIndex(highlighted.row());
                m_cbbTeamRole->hidePopup();
            }
            imgOKClick();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void Tfrm_AH120::keyPressEvent(QKeyEvent *event)
{
    // Escape does not close the window: the choice is made with OK.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
