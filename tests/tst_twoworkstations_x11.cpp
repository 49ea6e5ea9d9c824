// Two real shells on two workstations: each orsa runs in a network namespace of its own with its
// own address and its own port 6010, both on one X server and one database. The same employee
// logs in on the second workstation; the first closes its child programs, records its logout,
// acknowledges, shows its message and asks for a new login, and only then does the second insert
// its login record.

#include "platform/windowsystem.h"
#include "support/testdatabase.h"
#include "support/testshell.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

#include <memory>
#include <vector>

namespace {

// A regular employee: one live login at a time.
const QString EmpNo = QStringLiteral("1001");
const QString Password = QStringLiteral("orsa1001!");

bool ip(const QStringList &arguments, QString *error = nullptr)
{
    return TestShell::run(QStringLiteral("ip"), arguments, nullptr, error);
}

struct Workstation
{
    QString ns;       // network namespace
    QString address;  // its address on the link between the two
    QString runtimeDir;
    std::unique_ptr<QProcess> shell;
};

} // namespace

class tst_TwoWorkstations : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();
    void loginOnSecondWorkstationEndsTheFirst();
    void requestQueuedDuringLoginSparesTheNewLogin();

private:
    bool startShell(Workstation &station);
    // The viewable top-level windows of one shell whose class is the given one; an empty class
    // gives the windows of no class of ours (message boxes).
    QList<WindowId> windowsOf(const Workstation &station, const QString &className);
    WindowId waitForWindow(const Workstation &station, const QString &className,
                           int timeoutMs = 20000);

    std::unique_ptr<TestDatabase> m_db;
    std::unique_ptr<WindowSystem> m_windows;
    QTemporaryDir m_install;
    QString m_orsa;
    QString m_childWindow;
    Workstation m_a;
    Workstation m_b;
    bool m_namespaces = false;
    QString m_vethA;
    QString m_vethB;
};

void tst_TwoWorkstations::initTestCase()
{
    if (qgetenv("DISPLAY").isEmpty())
        QSKIP("no X display: run the README's test command");
    if (geteuid() != 0)
        QSKIP("network namespaces need root: run the README's test command as root");
    for (const char *tool : {"ip", "xdotool", "xwininfo"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            QSKIP(qPrintable(QStringLiteral("%1 is needed: run the README's test command")
                                 .arg(QString::fromLatin1(tool))));
    }
    QString error;
    m_db = TestDatabase::open(&error);
    if (!m_db)
        QSKIP(qPrintable(QStringLiteral("no test database: ") + error));
    m_windows = WindowSystem::createSystem();
    m_childWindow = QStringLiteral(ORSA_BINARY_DIR "/tools/childwindow/childwindow");
    QVERIFY2(QFile::exists(m_childWindow), "tools/childwindow was not built");

    // One installation for both workstations, as from one share.
    QVERIFY(m_install.isValid());
    QFile::setPermissions(m_install.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                | QFileDevice::ExeOwner | QFileDevice::ReadOther
                                                | QFileDevice::ExeOther);
    m_orsa = m_install.filePath(QStringLiteral("orsa"));
    QVERIFY2(TestShell::install(m_install.path(), m_db->serviceName(),
                                QStringLiteral("프런트=ORSA_A;204,32\r\n객실관리=ORSA_B;308,32\r\n"), &error),
             qPrintable(error));

    // Two workstations joined by one link, each with its own network stack. The names carry
    // the process id, so parallel runs do not meet.
    const QString id = QString::number(QCoreApplication::applicationPid() % 100000);
    const int subnet = 10 + int(QCoreApplication::applicationPid() % 200);
    m_a.ns = QStringLiteral("orsaA") + id;
    m_b.ns = QStringLiteral("orsaB") + id;
    m_vethA = QStringLiteral("oa") + id;
    m_vethB = QStringLiteral("ob") + id;
    m_a.address = QStringLiteral("10.77.%1.1").arg(subnet);
    m_b.address = QStringLiteral("10.77.%1.2").arg(subnet);
    QVERIFY2(ip({QStringLiteral("netns"), QStringLiteral("add"), m_a.ns}, &error), qPrintable(error));
    m_namespaces = true;
    QVERIFY2(ip({QStringLiteral("netns"), QStringLiteral("add"), m_b.ns}, &error), qPrintable(error));
    QVERIFY2(ip({QStringLiteral("link"), QStringLiteral("add"), m_vethA, QStringLiteral("type"),
                 QStringLiteral("veth"), QStringLiteral("peer"), QStringLiteral("name"), m_vethB},
                &error),
             qPrintable(error));
    for (const auto &[station, veth] : {std::pair<Workstation *, QString>{&m_a, m_vethA},
                                        std::pair<Workstation *, QString>{&m_b, m_vethB}}) {
        QVERIFY2(ip({QStringLiteral("link"), QStringLiteral("set"), veth, QStringLiteral("netns"),
                     station->ns}, &error), qPrintable(error));
        const QStringList inside = {QStringLiteral("-n"), station->ns};
        QVERIFY2(ip(inside + QStringList{QStringLiteral("addr"), QStringLiteral("add"),
                                         station->address + QStringLiteral("/24"),
                                         QStringLiteral("dev"), veth}, &error),
                 qPrintable(error));
        QVERIFY2(ip(inside + QStringList{QStringLiteral("link"), QStringLiteral("set"), veth,
                                         QStringLiteral("up")}, &error),
                 qPrintable(error));
        QVERIFY2(ip(inside + QStringList{QStringLiteral("link"), QStringLiteral("set"),
                                         QStringLiteral("lo"), QStringLiteral("up")}, &error),
                 qPrintable(error));
    }
}

void tst_TwoWorkstations::cleanupTestCase()
{
    if (m_namespaces) {
        // The link goes with the namespaces.
        ip({QStringLiteral("netns"), QStringLiteral("del"), m_a.ns});
        ip({QStringLiteral("netns"), QStringLiteral("del"), m_b.ns});
    }
}

void tst_TwoWorkstations::init()
{
    QString error;
    QVERIFY2(m_db->reset(&error), qPrintable(error));
    QVERIFY2(m_windows->findWindow(QStringLiteral("Tfrm_0Main")) == 0,
             "another shell runs on this display");
}

void tst_TwoWorkstations::cleanup()
{
    for (Workstation *station : {&m_a, &m_b}) {
        if (station->shell && station->shell->state() != QProcess::NotRunning) {
            station->shell->kill();
            station->shell->waitForFinished(5000);
        }
        station->shell.reset();
        if (!station->runtimeDir.isEmpty())
            QDir(station->runtimeDir).removeRecursively();
    }
}

bool tst_TwoWorkstations::startShell(Workstation &station)
{
    // Each workstation has its own logon, so its own single-instance lock.
    station.runtimeDir = m_install.filePath(QStringLiteral("run-") + station.ns);
    QDir().mkpath(station.runtimeDir);
    QFile::setPermissions(station.runtimeDir,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    station.shell = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), station.runtimeDir);
    // Both workstations use another port than 6010 for the forced-logout protocol: the request
    // must reach the listener of the other one on that port.
    environment.insert(QStringLiteral("ORSA_PEER_PORT"), QStringLiteral("6011"));
    environment.remove(QStringLiteral("ORSA_SET_CLOCK"));  // the clock stays as it is
    station.shell->setProcessEnvironment(environment);
    station.shell->setWorkingDirectory(m_install.path());
    station.shell->setProcessChannelMode(QProcess::ForwardedChannels);
    // "ip netns exec" enters the namespace and then becomes the shell itself.
    station.shell->start(QStringLiteral("ip"), {QStringLiteral("netns"), QStringLiteral("exec"),
                                                station.ns, m_orsa, QStringLiteral("orsa_demo")});
    return station.shell->waitForStarted(5000);
}

QList<WindowId> tst_TwoWorkstations::windowsOf(const Workstation &station, const QString &className)
{
    return station.shell ? TestShell::windowsOf(*m_windows, *station.shell, className) : QList<WindowId>();
}

WindowId tst_TwoWorkstations::waitForWindow(const Workstation &station, const QString &className,
                                            int timeoutMs)
{
    return station.shell ? TestShell::waitForWindow(*m_windows, *station.shell, className, timeoutMs) : 0;
}

void tst_TwoWorkstations::loginOnSecondWorkstationEndsTheFirst()
{
    // Workstation A: the employee logs in and starts a program of the suite.
    QVERIFY(startShell(m_a));
    const WindowId loginA = waitForWindow(m_a, QStringLiteral("Tfrm_AH010"));
    QVERIFY2(loginA != 0, "workstation A shows no login window");
    QVERIFY(TestShell::logIn(loginA, EmpNo, Password));
    QVERIFY2(waitForWindow(m_a, QStringLiteral("Tfrm_0Main")) != 0,
             "workstation A's main window did not appear after the login");
    QList<TestDatabase::LoginRecord> records = m_db->loginRecords(EmpNo);
    QVERIFY(!records.isEmpty());
    const qint64 seqA = records.last().seq;
    QCOMPARE(records.last().loginIp, m_a.address);
    QVERIFY(records.last().logoutIpNull);

    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(m_childWindow, {QStringLiteral("--class"), QStringLiteral("TfrmA0Main"),
                                QStringLiteral("--title"), QStringLiteral("프런트")});
    QVERIFY(child.waitForReadyRead(10000));
    QVERIFY(child.readAllStandardOutput().startsWith("ready"));

    // Workstation B: the same employee.
    QVERIFY(startShell(m_b));
    const WindowId loginB = waitForWindow(m_b, QStringLiteral("Tfrm_AH010"));
    QVERIFY2(loginB != 0, "workstation B shows no login window");
    QVERIFY(TestShell::logIn(loginB, EmpNo, Password));
    // The question about the login that is still open on A: Yes (the default button).
    const WindowId question = waitForWindow(m_b, QString());
    QVERIFY2(question != 0, "workstation B does not ask about the other workstation");
    QVERIFY(TestShell::typeInto(question, {QStringLiteral("<Return>")}));

    // A closes its program, records its logout, acknowledges, and then shows its message.
    QVERIFY2(child.waitForFinished(20000), "workstation A did not close its child program");
    const WindowId message = waitForWindow(m_a, QString());
    QVERIFY2(message != 0, "workstation A shows no message after the forced logout");
    QVERIFY2(waitForWindow(m_b, QStringLiteral("Tfrm_0Main")) != 0,
             "workstation B's main window did not appear after the login");

    records = m_db->loginRecords(EmpNo);
    QCOMPARE(records.size(), int(seqA) - int(records.first().seq) + 2);
    const TestDatabase::LoginRecord &first = records.at(records.size() - 2);
    const TestDatabase::LoginRecord &second = records.last();
    QCOMPARE(first.seq, seqA);
    // Closed by A itself as an ordinary logout, not by B as unanswered.
    QCOMPARE(first.logoutIp, m_a.address);
    QVERIFY(first.logoutTime.isValid());
    QCOMPARE(second.seq, seqA + 1);
    QCOMPARE(second.loginIp, m_b.address);
    QVERIFY(second.logoutIpNull);
    // B's record came after A's logout had been committed.
    QVERIFY2(second.loginTime >= first.logoutTime,
             qPrintable(second.loginTime.toString(Qt::ISODate) + QStringLiteral(" < ")
                        + first.logoutTime.toString(Qt::ISODate)));

    // After the message A asks for a new login.
    QVERIFY(TestShell::typeInto(message, {QStringLiteral("<Return>")}));
    QVERIFY2(waitForWindow(m_a, QStringLiteral("Tfrm_AH010")) != 0,
             "workstation A does not ask for a new login after its message");
    QVERIFY(m_a.shell->state() == QProcess::Running);
}

void tst_TwoWorkstations::requestQueuedDuringLoginSparesTheNewLogin()
{
    // Employee 1001 logs in on A while the login is still open on a third workstation that
    // cannot be reached, so A asks its question and is inside the login. Meanwhile B, where
    // employee 1003 logs in, asks A to end a stale login of 1003 left from an earlier run on A.
    // A cannot serve the request before its own login is done; B gives up after its wait and
    // closes that record itself. A's login then succeeds and must stay: the request that waited
    // was meant for a login that A no longer holds.
    const QString unreachable = QStringLiteral("10.99.0.1");
    QString error;
    QVERIFY2(ip({QStringLiteral("-n"), m_a.ns, QStringLiteral("route"), QStringLiteral("replace"),
                 QStringLiteral("unreachable"), QStringLiteral("10.99.0.0/16")}, &error),
             qPrintable(error));
    const QString other = QStringLiteral("1003");
    QVERIFY2(m_db->exec(QStringLiteral("UPDATE ZA010MS SET U_DATE = LOCALTIMESTAMP(0) WHERE EMP_NO = ?"),
                        {other}, &error),
             qPrintable(error));
    QVERIFY2(m_db->insertLoginRecord(EmpNo, 900, unreachable, QString(), 600, -1, &error), qPrintable(error));
    QVERIFY2(m_db->insertLoginRecord(other, 900, m_a.address, QString(), 7200, -1, &error), qPrintable(error));

    QVERIFY(startShell(m_a));
    const WindowId loginA = waitForWindow(m_a, QStringLiteral("Tfrm_AH010"));
    QVERIFY2(loginA != 0, "workstation A shows no login window");
    QVERIFY(TestShell::logIn(loginA, EmpNo, Password));
    const WindowId questionA = waitForWindow(m_a, QString());
    QVERIFY2(questionA != 0, "workstation A does not ask about the unreachable workstation");

    QVERIFY(startShell(m_b));
    const WindowId loginB = waitForWindow(m_b, QStringLiteral("Tfrm_AH010"));
    QVERIFY2(loginB != 0, "workstation B shows no login window");
    QVERIFY(TestShell::logIn(loginB, other, QStringLiteral("orsa1003!")));
    const WindowId questionB = waitForWindow(m_b, QString());
    QVERIFY2(questionB != 0, "workstation B does not ask about its login on A");
    QVERIFY(TestShell::typeInto(questionB, {QStringLiteral("<Return>")}));
    // B waits for A's answer, gives up, closes the stale record itself and goes on.
    QVERIFY2(waitForWindow(m_b, QStringLiteral("Tfrm_0Main"), 30000) != 0,
             "workstation B's main window did not appear after its unanswered request");
    QList<TestDatabase::LoginRecord> records = m_db->loginRecords(other);
    QCOMPARE(records.at(records.size() - 2).logoutIp, QStringLiteral("타PC강제종료"));
    QCOMPARE(records.last().loginIp, m_b.address);

    // Now A's employee answers the question: the login goes through.
    QVERIFY(TestShell::typeInto(questionA, {QStringLiteral("<Return>")}));
    QVERIFY2(waitForWindow(m_a, QStringLiteral("Tfrm_0Main")) != 0,
             "workstation A's main window did not appear after the login");
    QTest::qWait(1500);
    QVERIFY2(windowsOf(m_a, QString()).isEmpty(), "workstation A shows a message after its login");
    QVERIFY(windowsOf(m_a, QStringLiteral("Tfrm_AH010")).isEmpty());
    records = m_db->loginRecords(EmpNo);
    QCOMPARE(records.at(records.size() - 2).logoutIp, QStringLiteral("타PC강제종료"));
    QCOMPARE(records.last().loginIp, m_a.address);
    QVERIFY2(records.last().logoutIpNull, "A's new login record was closed");
}

QTEST_MAIN(tst_TwoWorkstations)
#include "tst_twoworkstations_x11.moc"
