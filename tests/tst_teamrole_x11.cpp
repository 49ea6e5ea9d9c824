#include "platform/windowsystem.h"
#include "session/tfrm_ah120.h"
#include "shared/sharedvalues.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

// The team-role window on a real display: other programs of the suite find it by its class
// and caption, and closing it from outside counts as closing it without OK.
class tst_TeamRoleX11 : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void closedFromOutside();

private:
    std::unique_ptr<WindowSystem> m_windows;
};

void tst_TeamRoleX11::initTestCase()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("needs an X server: run the README's test command");
    m_windows = WindowSystem::createSystem();
}

void tst_TeamRoleX11::closedFromOutside()
{
    QTemporaryDir dir;
    SharedValues shared;
    shared.AppDir = QDir::toNativeSeparators(dir.path()) + QDir::separator();
    shared.ProjectIds = {{QStringLiteral("ORSA_B"), 2}};
    shared.RoleChoices = {{{QStringLiteral("객실팀"), 30}, {QStringLiteral("식음팀"), 31}}};

    Tfrm_AH120 w(nullptr, shared, m_windows.get());
    w.setProjectId(QStringLiteral("ORSA_B"));
    QCOMPARE(w.FillRoles(), 2);
    w.open();

    WindowId found = 0;
    QTRY_VERIFY((found = m_windows->findWindow(QStringLiteral("Tfrm_AH120"), QStringLiteral("권한"))) != 0);
    m_windows->closeWindow(found);
    QTRY_VERIFY(!w.isVisible());
    QCOMPARE(w.result(), int(QDialog::Rejected));
    QVERIFY(!w.saved());
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("ORSA_B.ini"))));
}

QTEST_MAIN(tst_TeamRoleX11)
#include "tst_teamrole_x11.moc"
