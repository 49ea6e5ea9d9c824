// The real orsa program under a real X server: one shell per logon, the hand-over of a second
// start, and a new start right after the running shell was killed.

#include "platform/windowsystem.h"
#include "support/testshell.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>
#include <memory>
#include <vector>

namespace {

// An employee whose account allows several live logins: logging in never asks another
// workstation anything, whatever records earlier runs left.
const QString EmpNo = QStringLiteral("1004");
const QString Password = QStringLiteral("orsa1004!");

using TestShell::run;

bool viewable(WindowId window)
{
    QByteArray info;
    return run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), QString::number(window)}, &info)
        && info.contains("IsViewable");
}

// The properties of a window as xprop prints them.
QByteArray properties(WindowId window, const QStringList &names)
{
    QByteArray text;
    run(QStringLiteral("xprop"), QStringList{QStringLiteral("-id"), QString::number(window)} + names, &text);
    return text;
}

bool windowManagerRuns()
{
    QByteArray text;
    return run(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")}, &text)
        && text.contains("window id");
}

} // namespace

class tst_StartupX11 : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void secondStartHandsOver();
    void secondStartLeavesShellMinimised();
    void newStartAfterKill();
    void unusableLockDirectoryIsReported();

private:
    QProcess *startShell();
    WindowId waitForWindow(const QString &className, int timeoutMs = 20000);
    QStringList windowIds();

    std::unique_ptr<WindowSystem> m_windows;
    QTemporaryDir m_install;
    QString m_orsa;
    std::vector<std::unique_ptr<QProcess>> m_started;
    QString m_childWindow;
};

void tst_StartupX11::initTestCase()
{
    if (qgetenv("DISPLAY").isEmpty())
        QSKIP("no X display: run the README's test command");
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty()
        || QStandardPaths::findExecutable(QStringLiteral("xwininfo")).isEmpty())
        QSKIP("xdotool and xwininfo are needed: run the README's test command");
    const QString service = qEnvironmentVariable("ORSA_TEST_PGSERVICE");
    if (service.isEmpty())
        QSKIP("no test database (ORSA_TEST_PGSERVICE): run the README's test command");
    m_windows = WindowSystem::createSystem();
    m_childWindow = QStringLiteral(ORSA_BINARY_DIR "/tools/childwindow/childwindow");
    if (!QFile::exists(m_childWindow))
        QFAIL("tools/childwindow was not built");

    // A shell installed in a directory of its own, as on a workstation.
    m_orsa = m_install.filePath(QStringLiteral("orsa"));
    QString error;
    QVERIFY2(TestShell::install(m_install.path(), service,
                                QStringLiteral("프런트=ORSA_A;204,32\r\n객실관리=ORSA_B;308,32\r\n"), &error),
             qPrintable(error));
}

void tst_StartupX11::init()
{
    QVERIFY2(m_windows->findWindow(QStringLiteral("Tfrm_0Main")) == 0,
             "another shell runs on this display");
}

void tst_StartupX11::cleanup()
{
    for (const std::unique_ptr<QProcess> &process : m_started) {
        if (process->state() != QProcess::NotRunning) {
            process->kill();
            process->waitForFinished(5000);
        }
    }
    m_started.clear();
}

QProcess *tst_StartupX11::startShell()
{
    m_started.push_back(std::make_unique<QProcess>());
    QProcess *process = m_started.back().get();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("ORSA_PEER_PORT"), QString::number(TestShell::freePort()));
    environment.remove(QStringLiteral("ORSA_SET_CLOCK"));
    process->setProcessEnvironment(environment);
    process->setWorkingDirectory(m_install.path());
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(m_orsa, {QStringLiteral("orsa_demo")});
    return process;
}

WindowId tst_StartupX11::waitForWindow(const QString &className, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        const WindowId id = m_windows->findWindow(className);
        if (id != 0 && viewable(id))
            return id;
        QTest::qWait(50);
    }
    return 0;
}

QStringList tst_StartupX11::windowIds()
{
    QStringList ids;
    for (const TopLevelWindow &w : m_windows->topLevelWindows())
        ids.append(QString::number(w.id));
    return ids;
}

void tst_StartupX11::secondStartHandsOver()
{
    QProcess *first = startShell();
    const WindowId login = waitForWindow(QStringLiteral("Tfrm_AH010"));
    QVERIFY2(login != 0, "the first shell shows no login window");
    QVERIFY(TestShell::logIn(login, EmpNo, Password));
    const WindowId shell = waitForWindow(QStringLiteral("Tfrm_0Main"));
    QVERIFY2(shell != 0, "the first shell's main window did not appear after the login");

    // Another program's window covers the shell.
    QProcess cover;
    cover.start(m_childWindow, {QStringLiteral("--class"), QStringLiteral("OrsaTestCover"),
                                QStringLiteral("--title"), QStringLiteral("cover")});
    QVERIFY(cover.waitForStarted(3000));
    // "ready <window id>" once the cover is on screen.
    WindowId coverId = 0;
    QElapsedTimer coverTimer;
    coverTimer.start();
    while (coverId == 0 && coverTimer.elapsed() < 10000) {
        cover.waitForReadyRead(100);
        while (cover.canReadLine()) {
            const QByteArray line = cover.readLine().trimmed();
            if (line.startsWith("ready "))
                coverId = line.mid(6).toULongLong();
        }
    }
    QVERIFY(coverId != 0);

    const QStringList beforeIds = windowIds();
    const QSet<QString> before(beforeIds.cbegin(), beforeIds.cend());
    QProcess *second = startShell();
    QElapsedTimer timer;
    timer.start();
    // Qt's connection to the X server makes an unmapped helper window of its own; only a
    // window that was on screen counts as shown.
    QSet<QString> seen;
    QSet<QString> checked = before;
    while (second->state() != QProcess::NotRunning && timer.elapsed() < 3000) {
        for (const QString &id : windowIds()) {
            if (checked.contains(id))
                continue;
            checked.insert(id);
            if (viewable(id.toULongLong()))
                seen.insert(id);
        }
        second->waitForFinished(20);
    }
    const qint64 elapsed = timer.elapsed();
    QCOMPARE(second->state(), QProcess::NotRunning);
    QVERIFY2(elapsed < 1000, qPrintable(QStringLiteral("the second start took %1 ms").arg(elapsed)));
    QCOMPARE(second->exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->exitCode(), 0);
    QVERIFY2(seen.isEmpty(), "the second start showed a window");

    // The running shell is on top of the cover now.
    const QList<TopLevelWindow> stacking = m_windows->topLevelWindows();
    int shellIndex = -1;
    int coverIndex = -1;
    for (int i = 0; i < stacking.size(); ++i) {
        if (stacking.at(i).id == shell)
            shellIndex = i;
        if (stacking.at(i).id == coverId)
            coverIndex = i;
    }
    QVERIFY(shellIndex >= 0);
    QVERIFY(coverIndex >= 0);
    QVERIFY2(shellIndex < coverIndex, "the running shell was not brought forward");
    QCOMPARE(first->state(), QProcess::Running);
    cover.kill();
    cover.waitForFinished(3000);
}

// A window manager restores a window that is activated: a second start while the shell is
// minimised leaves it minimised, and has the window manager draw the user's attention to it.
void tst_StartupX11::secondStartLeavesShellMinimised()
{
    if (!windowManagerRuns())
        QSKIP("minimising needs a window manager: the test command runs this under one");
    QProcess *first = startShell();
    const WindowId login = waitForWindow(QStringLiteral("Tfrm_AH010"));
    QVERIFY2(login != 0, "the first shell shows no login window");
    QVERIFY(TestShell::logIn(login, EmpNo, Password));
    const WindowId shell = waitForWindow(QStringLiteral("Tfrm_0Main"));
    QVERIFY2(shell != 0, "the first shell's main window did not appear after the login");
    QVERIFY(run(QStringLiteral("xdotool"), {QStringLiteral("windowminimize"), QStringLiteral("--sync"),
                                            QString::number(shell)}));
    QTRY_VERIFY(properties(shell, {QStringLiteral("WM_STATE")}).contains("Iconic"));

    QProcess *second = startShell();
    QVERIFY(second->waitForFinished(5000));
    QCOMPARE(second->exitCode(), 0);
    QTRY_VERIFY(properties(shell, {QStringLiteral("_NET_WM_STATE")}).contains("_NET_WM_STATE_DEMANDS_ATTENTION"));
    QTest::qWait(200);
    QVERIFY(properties(shell, {QStringLiteral("WM_STATE")}).contains("Iconic"));
    QVERIFY(!viewable(shell));
    QCOMPARE(first->state(), QProcess::Running);
}

void tst_StartupX11::newStartAfterKill()
{
    QProcess *first = startShell();
    QVERIFY(waitForWindow(QStringLiteral("Tfrm_AH010")) != 0);
    ::kill(static_cast<pid_t>(first->processId()), SIGKILL);
    QVERIFY(first->waitForFinished(5000));
    QTRY_VERIFY_WITH_TIMEOUT(m_windows->findWindow(QStringLiteral("Tfrm_AH010")) == 0, 5000);

    // The kernel freed the lock with the process: the next start is the shell at once.
    QProcess *next = startShell();
    const WindowId login = waitForWindow(QStringLiteral("Tfrm_AH010"));
    QVERIFY2(login != 0, "the new start did not become the running shell");
    QCOMPARE(next->state(), QProcess::Running);

    // Cancelling its first login ends it cleanly, and frees the lock for the one after.
    m_windows->closeWindow(login);
    QVERIFY(next->waitForFinished(10000));
    QCOMPARE(next->exitStatus(), QProcess::NormalExit);
    QCOMPARE(next->exitCode(), 0);
    QProcess *after = startShell();
    QVERIFY(waitForWindow(QStringLiteral("Tfrm_AH010")) != 0);
    QCOMPARE(after->state(), QProcess::Running);
}

// Another local user made the fallback lock directory of this user first (no XDG_RUNTIME_DIR):
// that is no running shell, so the start does not end silently with 0 as a hand-over would; it
// names the directory and ends with an error.
void tst_StartupX11::unusableLockDirectoryIsReported()
{
    if (::geteuid() != 0)
        QSKIP("running the shell as another user needs root");
    if (QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
        QSKIP("setpriv (util-linux) is needed");
    const QString uid = QStringLiteral("64123");  // a user without an account
    const QString lockDir = QStringLiteral("/tmp/orsa-") + uid;
    QDir(lockDir).removeRecursively();
    // Made by root, as another user would make it: private, but not the shell user's own.
    QVERIFY(QDir().mkdir(lockDir));
    QVERIFY(QFile::setPermissions(lockDir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

    m_started.push_back(std::make_unique<QProcess>());
    QProcess *shell = m_started.back().get();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    environment.insert(QStringLiteral("HOME"), QStringLiteral("/tmp"));
    environment.insert(QStringLiteral("ORSA_PEER_PORT"), QString::number(TestShell::freePort()));
    shell->setProcessEnvironment(environment);
    shell->setWorkingDirectory(QStringLiteral("/tmp"));
    shell->start(QStringLiteral("setpriv"),
                 {QStringLiteral("--reuid=") + uid, QStringLiteral("--regid=") + uid,
                  QStringLiteral("--clear-groups"), QStringLiteral("--"),
                  QStringLiteral(ORSA_BINARY_DIR "/app/orsa"), QStringLiteral("orsa_demo")});
    const WindowId box = TestShell::waitForWindow(*m_windows, *shell, QString());
    const QByteArray early = shell->readAllStandardError();
    QVERIFY2(box != 0, early.constData());
    QVERIFY(TestShell::typeInto(box, {QStringLiteral("<Return>")}));
    QVERIFY(shell->waitForFinished(10000));
    QDir(lockDir).removeRecursively();
    const QByteArray errors = early + shell->readAllStandardError();
    QCOMPARE(shell->exitStatus(), QProcess::NormalExit);
    QVERIFY(shell->exitCode() != 0);
    QVERIFY2(errors.contains(QFile::encodeName(lockDir)), errors.constData());
}

QTEST_MAIN(tst_StartupX11)
#include "tst_startup_x11.moc"
