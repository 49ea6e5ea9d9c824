// A shell started again right after the last one was closed: the closing shell still holds its
// forced-logout port while it records its final logout, and the new one waits for the port
// instead of giving up. The final logout is held back by a lock on the login records, taken in
// a second database session, as a slow link to the database would hold it back.

#include "platform/windowsystem.h"
#include "support/testdatabase.h"
#include "support/testshell.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <vector>

namespace {

// An employee whose account allows several live logins: logging in never asks another
// workstation anything, whatever records earlier runs left.
const QString EmpNo = QStringLiteral("1004");
const QString Password = QStringLiteral("orsa1004!");

// The greeting of a shell listening on the port, or nothing.
QByteArray greeting(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(3000))
        return QByteArray();
    while (!socket.canReadLine() && socket.waitForReadyRead(3000)) {
    }
    return socket.readLine().trimmed();
}

} // namespace

class tst_QuickRestartX11 : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void restartWhileFinalLogoutIsRecorded();

private:
    QProcess *startShell(quint16 port);

    std::unique_ptr<TestDatabase> m_db;
    std::unique_ptr<WindowSystem> m_windows;
    QTemporaryDir m_install;
    QTemporaryDir m_runtimeDir;
    std::vector<std::unique_ptr<QProcess>> m_started;
};

void tst_QuickRestartX11::initTestCase()
{
    if (qgetenv("DISPLAY").isEmpty())
        QSKIP("no X display: run the README's test command");
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        QSKIP("xdotool is needed: run the README's test command");
    QString error;
    m_db = TestDatabase::open(&error);
    if (!m_db)
        QSKIP(qPrintable(QStringLiteral("no test database: ") + error));
    m_windows = WindowSystem::createSystem();

    QVERIFY2(TestShell::install(m_install.path(), m_db->serviceName(),
                                QStringLiteral("프런트=ORSA_A;204,32\r\n"), &error),
             qPrintable(error));
}

void tst_QuickRestartX11::init()
{
    QString error;
    QVERIFY2(m_db->reset(&error), qPrintable(error));
    QVERIFY2(m_windows->findWindow(QStringLiteral("Tfrm_0Main")) == 0,
             "another shell runs on this display");
}

void tst_QuickRestartX11::cleanup()
{
    for (const std::unique_ptr<QProcess> &process : m_started) {
        if (process->state() != QProcess::NotRunning) {
            process->kill();
            process->waitForFinished(5000);
        }
    }
    m_started.clear();
}

QProcess *tst_QuickRestartX11::startShell(quint16 port)
{
    m_started.push_back(std::make_unique<QProcess>());
    QProcess *process = m_started.back().get();
    // One logon of its own, shared by both shells: the single-instance lock is theirs alone.
    TestShell::start(*process, m_install.path(), m_runtimeDir.path(), port);
    return process;
}

void tst_QuickRestartX11::restartWhileFinalLogoutIsRecorded()
{
    const quint16 port = TestShell::freePort();
    QVERIFY(port != 0);
    QProcess *first = startShell(port);
    const WindowId login = TestShell::waitForWindow(*m_windows, *first, QStringLiteral("Tfrm_AH010"));
    QVERIFY2(login != 0, "the first shell shows no login window");
    QVERIFY(TestShell::logIn(login, EmpNo, Password));
    const WindowId shell = TestShell::waitForWindow(*m_windows, *first, QStringLiteral("Tfrm_0Main"));
    QVERIFY2(shell != 0, "the first shell's main window did not appear after the login");
    const QList<TestDatabase::LoginRecord> before = m_db->loginRecords(EmpNo);
    QVERIFY(!before.isEmpty());
    QVERIFY(before.last().logoutIpNull);

    // The login records are locked in a session of their own: the final logout waits.
    QString error;
    std::unique_ptr<TestDatabase> locker = TestDatabase::open(&error);
    QVERIFY2(locker, qPrintable(error));
    QVERIFY2(locker->exec(QStringLiteral("BEGIN"), &error), qPrintable(error));
    QVERIFY2(locker->exec(QStringLiteral("LOCK TABLE ZA010DT IN EXCLUSIVE MODE"), &error), qPrintable(error));
    bool locked = true;
    const auto unlock = qScopeGuard([&] {
        if (locked)
            locker->exec(QStringLiteral("ROLLBACK"));
    });

    m_windows->closeWindow(shell);
    QTRY_VERIFY_WITH_TIMEOUT(
        m_db->value(QStringLiteral("SELECT count(*) FROM pg_locks WHERE NOT granted")).toInt() > 0, 10000);
    QCOMPARE(first->state(), QProcess::Running);
    {
        QTcpServer probe;
        QVERIFY2(!probe.listen(QHostAddress::Any, port), "the closing shell no longer holds its port");
    }

    // The next start takes the single-instance lock, the closing shell still has the port.
    QProcess *next = startShell(port);
    QVERIFY2(TestShell::waitForWindow(*m_windows, *next, QStringLiteral("TfrmZZC010"), 10000) != 0, "the new shell shows no splash");
    QTest::qWait(2000);
    QCOMPARE(next->state(), QProcess::Running);
    QVERIFY2(TestShell::windowsOf(*m_windows, *next, QString()).isEmpty(), "the new shell gave up on the port");
    QCOMPARE(first->state(), QProcess::Running);

    QVERIFY2(locker->exec(QStringLiteral("COMMIT"), &error), qPrintable(error));
    locked = false;
    QVERIFY2(first->waitForFinished(10000), "the first shell did not end after its final logout");
    QCOMPARE(first->exitStatus(), QProcess::NormalExit);
    QCOMPARE(first->exitCode(), 0);
    const QList<TestDatabase::LoginRecord> after = m_db->loginRecords(EmpNo);
    QCOMPARE(after.size(), before.size());
    QVERIFY(!after.last().logoutIpNull);

    QVERIFY2(TestShell::waitForWindow(*m_windows, *next, QStringLiteral("Tfrm_AH010")) != 0, "the new shell shows no login window");
    QVERIFY2(TestShell::windowsOf(*m_windows, *next, QString()).isEmpty(), "the new shell shows a message");
    QCOMPARE(greeting(port), QByteArray("^ORSA_MAIN^"));
}

QTEST_MAIN(tst_QuickRestartX11)
#include "tst_quickrestart_x11.moc"
