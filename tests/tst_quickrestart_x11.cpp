// A shell started again right after the last one was closed: the closing shell still holds its
// forced-logout port while it records its final logout, and the new one waits for the port
// instead of giving up. The final logout is held back by a lock on the login records, taken in
// a second database session, as a slow link to the database would hold it back.

#include "platform/cp949.h"
#include "platform/windowsystem.h"
#include "support/testdatabase.h"

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

bool run(const QString &program, const QStringList &arguments, QByteArray *output = nullptr)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(10000))
        return false;
    if (output)
        *output = process.readAllStandardOutput();
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::Any, 0);
    return probe.serverPort();
}

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
    // The viewable top-level windows of one shell with the given class; an empty class gives
    // the ones of no class of ours (message boxes).
    QList<WindowId> windowsOf(QProcess *shell, const QString &className);
    WindowId waitForWindow(QProcess *shell, const QString &className, int timeoutMs = 20000);
    bool logIn(WindowId loginWindow);

    std::unique_ptr<TestDatabase> m_db;
    std::unique_ptr<WindowSystem> m_windows;
    QTemporaryDir m_install;
    QTemporaryDir m_runtimeDir;
    QString m_orsa;
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

    const QString build = QStringLiteral(ORSA_BINARY_DIR);
    m_orsa = m_install.filePath(QStringLiteral("orsa"));
    QVERIFY(QFile::copy(build + QStringLiteral("/app/orsa"), m_orsa));
    QVERIFY(QFile::copy(build + QStringLiteral("/demo/MainImg.dll"),
                        m_install.filePath(QStringLiteral("MainImg.dll"))));
    QFile ini(m_install.filePath(QStringLiteral("Main.ini")));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write(Cp949::encode(QStringLiteral(
        "[MAIN]\r\nTITLE=오르사 통합시스템\r\nDRIVER=POSTGRESQL\r\nDATABASE=%1\r\nIMAGE_WIDTH=96\r\n"
        "IMAGE_HEIGHT=40\r\nMINIMIZE=596,6,16,16\r\nCLOSE=616,6,16,16\r\n"
        "[PROJECTS]\r\n프런트=ORSA_A;204,32\r\n"
        "[LOGIN]\r\nCLOSE=332,10,18,18\r\nID=112,71,146,18\r\nPASSWORD=112,109,146,18\r\n"
        "LOGIN=272,68,68,62\r\nPASSCHANGE=230,160,110,24\r\n").arg(m_db->serviceName())));
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
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // One logon of its own, shared by both shells: the single-instance lock is theirs alone.
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtimeDir.path());
    environment.insert(QStringLiteral("ORSA_PEER_PORT"), QString::number(port));
    environment.remove(QStringLiteral("ORSA_SET_CLOCK"));
    process->setProcessEnvironment(environment);
    process->setWorkingDirectory(m_install.path());
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    process->start(m_orsa, {QStringLiteral("orsa_demo")});
    return process;
}

QList<WindowId> tst_QuickRestartX11::windowsOf(QProcess *shell, const QString &className)
{
    QList<WindowId> found;
    if (shell->state() != QProcess::Running)
        return found;
    QByteArray output;
    run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                    QStringLiteral("--pid"), QString::number(shell->processId())},
        &output);
    QSet<WindowId> ofShell;
    for (const QByteArray &line : output.split('\n')) {
        if (!line.trimmed().isEmpty())
            ofShell.insert(line.trimmed().toULongLong());
    }
    for (const TopLevelWindow &window : m_windows->topLevelWindows()) {
        if (!ofShell.contains(window.id))
            continue;
        const bool ours = window.className.startsWith(QLatin1String("Tfrm"));
        if (className.isEmpty() ? !ours : window.className == className)
            found.append(window.id);
    }
    return found;
}

WindowId tst_QuickRestartX11::waitForWindow(QProcess *shell, const QString &className, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        const QList<WindowId> found = windowsOf(shell, className);
        if (!found.isEmpty())
            return found.first();
        QTest::qWait(100);
    }
    return 0;
}

bool tst_QuickRestartX11::logIn(WindowId loginWindow)
{
    // Without a window manager keyboard input goes nowhere until a window has the focus.
    const QString window = QString::number(loginWindow);
    const QString xdotool = QStringLiteral("xdotool");
    return run(xdotool, {QStringLiteral("windowfocus"), QStringLiteral("--sync"), window})
        && run(xdotool, {QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("30"), EmpNo})
        && run(xdotool, {QStringLiteral("key"), QStringLiteral("Return")})
        && run(xdotool, {QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("30"), Password})
        && run(xdotool, {QStringLiteral("key"), QStringLiteral("Return")});
}

void tst_QuickRestartX11::restartWhileFinalLogoutIsRecorded()
{
    const quint16 port = freePort();
    QVERIFY(port != 0);
    QProcess *first = startShell(port);
    const WindowId login = waitForWindow(first, QStringLiteral("Tfrm_AH010"));
    QVERIFY2(login != 0, "the first shell shows no login window");
    QVERIFY(logIn(login));
    const WindowId shell = waitForWindow(first, QStringLiteral("Tfrm_0Main"));
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
    QVERIFY2(waitForWindow(next, QStringLiteral("TfrmZZC010"), 10000) != 0, "the new shell shows no splash");
    QTest::qWait(2000);
    QCOMPARE(next->state(), QProcess::Running);
    QVERIFY2(windowsOf(next, QString()).isEmpty(), "the new shell gave up on the port");
    QCOMPARE(first->state(), QProcess::Running);

    QVERIFY2(locker->exec(QStringLiteral("COMMIT"), &error), qPrintable(error));
    locked = false;
    QVERIFY2(first->waitForFinished(10000), "the first shell did not end after its final logout");
    QCOMPARE(first->exitStatus(), QProcess::NormalExit);
    QCOMPARE(first->exitCode(), 0);
    const QList<TestDatabase::LoginRecord> after = m_db->loginRecords(EmpNo);
    QCOMPARE(after.size(), before.size());
    QVERIFY(!after.last().logoutIpNull);

    QVERIFY2(waitForWindow(next, QStringLiteral("Tfrm_AH010")) != 0, "the new shell shows no login window");
    QVERIFY2(windowsOf(next, QString()).isEmpty(), "the new shell shows a message");
    QCOMPARE(greeting(port), QByteArray("^ORSA_MAIN^"));
}

QTEST_MAIN(tst_QuickRestartX11)
#include "tst_quickrestart_x11.moc"
