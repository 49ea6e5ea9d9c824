// Sequences of a busy front desk in which a forced-logout request, a login in progress, a
// cancelled login and an update check overlap: each must leave the session, the login records and
// the programs as the employee at the desk expects.

#include "tst_mainwindow_harness.h"

#include "peer/forcedlogoutclient.h"
#include "session/logoutrecording.h"
#include "support/logcapture.h"
#include "support/testdatabase.h"
#include "update/tfrm_bh010.h"
#include "update/updatewatch.h"

#include <QLocale>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QThread>

#include <atomic>

namespace {

const QString EmpNo = QStringLiteral("1001");
const QString EmpName = QStringLiteral("김민준");
const char *const ForcedText =
    "다른 PC에서 동일 사용자가 프로그램 종료를 요청했습니다.\r"
    "자신의 ID로 접속하시고 비밀번호는 다른 사람에게 알려주지 마십시오.\r"
    "같은 문제가 계속 발생할 경우 전산팀에 문의하십시오.";

// Another workstation asking this shell to log out, over real TCP on loopback.
class Requester : public QObject
{
public:
    explicit Requester(quint16 port)
    {
        connect(&socket, &QTcpSocket::readyRead, this, [this] {
            received += socket.readAll();
            if (!sent && received.contains('\n')) {
                sent = true;
                socket.write("^ORSA_MAIN^LOGIN\r\n");
            }
        });
        socket.connectToHost(QHostAddress::LocalHost, port);
    }
    bool acknowledged() const { return received.contains("^ORSA_MAIN^REQ_OK\r\n"); }
    // Waits for the acknowledgement with the event loop running, as a modal window would.
    bool waitForAcknowledgement()
    {
        return QTest::qWaitFor([this] { return acknowledged(); }, 5000);
    }

    QTcpSocket socket;
    QByteArray received;
    bool sent = false;
};

// An update server that answers every HEAD only when the test lets it: the answer comes while
// the desk goes on working.
class HeldUpdateServer : public QObject
{
public:
    explicit HeldUpdateServer(const QDateTime &modified) : m_modified(modified)
    {
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = server.nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    socket->readAll();
                    m_waiting.append(socket);
                });
        });
        server.listen(QHostAddress::LocalHost, 0);
    }
    int waiting() const { return int(m_waiting.size()); }
    void answerAll()
    {
        const QByteArray lastModified =
            QLocale::c()
                .toString(m_modified.toUTC(), QStringLiteral("ddd, dd MMM yyyy hh:mm:ss 'GMT'"))
                .toLatin1();
        for (QTcpSocket *socket : std::as_const(m_waiting)) {
            if (socket)
                socket->write("HTTP/1.1 200 OK\r\nContent-Length: 0\r\nLast-Modified: " + lastModified
                              + "\r\n\r\n");
        }
        m_waiting.clear();
    }

    QTcpServer server;

private:
    QDateTime m_modified;
    QList<QPointer<QTcpSocket>> m_waiting;
};

} // namespace

class tst_SessionOverlap : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void forcedLogoutSettlesProvisionalLogout();
    void twoRequestsGiveOneFollowUpLogin();
    void noticeOnlyForProgramOfTheSession_data();
    void noticeOnlyForProgramOfTheSession();
    void forcedLogoutClosesNoticesAndRefusesStarts();
    void requestFromOutsideAllowList_data();
    void requestFromOutsideAllowList();

private:
    std::unique_ptr<TestDatabase> m_db;
};

void tst_SessionOverlap::initTestCase()
{
    QString error;
    m_db = TestDatabase::open(&error);
    if (!m_db)
        QSKIP(qPrintable(QStringLiteral("no test database: ") + error));
}

void tst_SessionOverlap::forcedLogoutSettlesProvisionalLogout()
{
    // The employee presses "login as another user"; while that login window shows, another
    // workstation evicts the employee; then the window is cancelled.
    QString error;
    QVERIFY2(m_db->reset(&error), qPrintable(error));
    Installation install;
    install.write();
    Harness h;
    m_db->configure(h.db);
    LogoutRecording recording(h.db, h.shared);
    h.loginAs(EmpNo, EmpName, {0, 0, 0, 0});
    MainWindowServices services = h.services(install.path());
    services.recordLogout = [&recording](int kind, QString *e) { return recording.recordLogout(kind, e); };
    h.window = std::make_unique<Tfrm_0Main>(services);
    Tfrm_0Main *w = h.window.get();
    w->FormCreate();
    w->show();
    QCOMPARE(h.shared.EmpNo, EmpNo);
    // The record of this login, as the login window would have written it.
    QVERIFY2(m_db->insertLoginRecord(EmpNo, 500, h.shared.LocalIP, QString(), 60, -1, &error),
             qPrintable(error));

    QString duringWindow;
    bool acknowledged = false;
    h.login = [&](QWidget *) {
        duringWindow = m_db->loginRecords(EmpNo).last().logoutIp;
        Requester other(w->peerPort());
        acknowledged = other.waitForAcknowledgement();
        QTest::qWait(50);   // the message that follows the acknowledgement
        return false;       // the login window is cancelled
    };
    w->sbtLogin()->click();

    QCOMPARE(duringWindow, QStringLiteral("*") + h.shared.LocalIP);
    QVERIFY(acknowledged);
    QCOMPARE(h.messages.texts(), QStringList{QString::fromUtf8(ForcedText)});
    QVERIFY(h.shared.EmpNo.isEmpty());
    const TestDatabase::LoginRecord record = m_db->loginRecords(EmpNo).last();
    QCOMPARE(record.seq, 500);
    // Closed for good at the moment the window opened, never live again.
    QVERIFY(!record.logoutIpNull);
    QCOMPARE(record.logoutIp, h.shared.LocalIP);
    QVERIFY(record.logoutTime.isValid());
}

void tst_SessionOverlap::twoRequestsGiveOneFollowUpLogin()
{
    // The second request is served while the first one's message is still on screen.
    Installation install;
    install.write();
    Harness h;
    h.loginAs(EmpNo, EmpName, {0, 0, 0, 0});
    Tfrm_0Main *w = h.create(install.path());
    w->show();
    const int loginsBefore = h.loginsShown;

    std::unique_ptr<Requester> second;
    bool secondAcknowledged = false;
    h.messages.onShow = [&](const FakeMessages::Shown &) {
        if (second)
            return;
        second = std::make_unique<Requester>(w->peerPort());
        secondAcknowledged = second->waitForAcknowledgement();
        QTest::qWait(50);
    };
    Requester first(w->peerPort());
    QVERIFY(first.waitForAcknowledgement());
    QTRY_COMPARE(h.loginsShown, loginsBefore + 1);
    QTest::qWait(200);

    QVERIFY(secondAcknowledged);
    QCOMPARE(h.loginsShown, loginsBefore + 1);
    QCOMPARE(h.messages.texts(), QStringList{QString::fromUtf8(ForcedText)});
    QCOMPARE(h.shared.EmpNo, EmpNo);   // logged in again with that one login
}

void tst_SessionOverlap::noticeOnlyForProgramOfTheSession_data()
{
    QTest::addColumn<QString>("whileAsking");
    QTest::newRow("nothing happens") << QString();
    QTest::newRow("program closed by its user") << QStringLiteral("close");
    QTest::newRow("login as another user") << QStringLiteral("login");
}

void tst_SessionOverlap::noticeOnlyForProgramOfTheSession()
{
    QFETCH(QString, whileAsking);
    const QDateTime local(QDate(2026, 3, 2), QTime(10, 0), Qt::LocalTime);
    HeldUpdateServer updates(local.addSecs(3600));
    QVERIFY(updates.server.isListening());
    Installation install;
    install.write();
    QFile ini(install.dir.filePath(QStringLiteral("PelUpdate.ini")));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write(QStringLiteral("[SERVER]\r\nURL=http://127.0.0.1:%1/upd\r\n")
                  .arg(updates.server.serverPort())
                  .toLatin1());
    ini.close();
    QFile exe(install.dir.filePath(QStringLiteral("orsa_A.exe")));
    QVERIFY(exe.open(QIODevice::WriteOnly));
    exe.write("MZ");
    exe.close();
    QVERIFY(exe.open(QIODevice::ReadOnly));
    QVERIFY(exe.setFileTime(local, QFileDevice::FileModificationTime));
    exe.close();

    Harness h;
    h.loginAs(EmpNo, EmpName, {0, 0, 0, 0});
    Tfrm_0Main *w = h.create(install.path());
    w->show();
    const WindowId program = h.fakeWindows.addWindow(QStringLiteral("TfrmA0Main"));
    QSignalSpy finished(w->updateWatch(), &UpdateWatch::checkFinished);
    w->updateWatch()->runCheck();
    QTRY_COMPARE(updates.waiting(), 1);

    if (whileAsking == QLatin1String("close")) {
        h.fakeWindows.closeWindow(program);
    } else if (whileAsking == QLatin1String("login")) {
        h.loginAs(QStringLiteral("1004"), QStringLiteral("최유나"), {0, 0, 0, 0});
        w->sbtLogin()->click();
        QCOMPARE(h.shared.EmpNo, QStringLiteral("1004"));
        QVERIFY(!h.fakeWindows.contains(program));
    }
    updates.answerAll();
    if (whileAsking.isEmpty())
        QVERIFY(finished.wait(5000));
    else
        QTest::qWait(300);

    const int notices = int(w->findChildren<Tfrm_BH010 *>().size());
    QCOMPARE(notices, whileAsking.isEmpty() ? 1 : 0);
}

void tst_SessionOverlap::forcedLogoutClosesNoticesAndRefusesStarts()
{
    Installation install;
    install.write();
    QFile updater(install.dir.filePath(QStringLiteral("PelUpdate.exe")));
    QVERIFY(updater.open(QIODevice::WriteOnly));
    updater.close();
    Harness h;
    h.loginAs(EmpNo, EmpName, {0, 0, 0, 0});
    Tfrm_0Main *w = h.create(install.path());
    w->show();
    w->ShowUpdateNotice(QStringLiteral("프런트"), QStringLiteral("orsa_A"));
    QPointer<Tfrm_BH010> notice = w->findChild<Tfrm_BH010 *>();
    QVERIFY(notice && notice->isVisible());

    QVERIFY(w->forcedLogout());
    QTRY_VERIFY(!notice || !notice->isVisible());

    // A start with nobody logged in (the new login was cancelled) is refused.
    h.messages.shown.clear();
    w->LaunchProgram(QStringLiteral("orsa_A.exe"));
    QVERIFY(h.programs.created.isEmpty());
    QCOMPARE(h.messages.shown.size(), 1);
    QCOMPARE(h.messages.shown.first().icon, MessageIcon::Error);
}


void tst_SessionOverlap::requestFromOutsideAllowList_data()
{
    QTest::addColumn<QString>("allow");
    QTest::addColumn<bool>("acts");
    QTest::newRow("requester inside [PEER] ALLOW") << QStringLiteral("127.0.9.0/24, 127.0.0.1") << true;
    QTest::newRow("requester outside [PEER] ALLOW") << QStringLiteral("127.0.9.0/24") << false;
}

// A request from a workstation outside the list ends nothing here: the session stays live and
// its record open, and the requester, unanswered, closes the record itself. One from inside
// ends the session, and the operations log says from where, whom and how.
void tst_SessionOverlap::requestFromOutsideAllowList()
{
    QFETCH(QString, allow);
    QFETCH(bool, acts);
    QString error;
    QVERIFY2(m_db->reset(&error), qPrintable(error));
    Installation install;
    install.projects += QStringLiteral("[PEER]\r\nALLOW=") + allow + QStringLiteral("\r\n");
    install.write();
    Harness h;
    m_db->configure(h.db);
    LogoutRecording recording(h.db, h.shared);
    h.loginAs(EmpNo, EmpName, {0, 0, 0, 0});
    MainWindowServices services = h.services(install.path());
    services.recordLogout = [&recording](int kind, QString *e) { return recording.recordLogout(kind, e); };
    h.window = std::make_unique<Tfrm_0Main>(services);
    Tfrm_0Main *w = h.window.get();
    LogCapture log;
    w->FormCreate();
    w->show();
    QCOMPARE(h.shared.EmpNo, EmpNo);
    QVERIFY2(m_db->insertLoginRecord(EmpNo, 500, h.shared.LocalIP, QString(), 60, -1, &error),
             qPrintable(error));
    h.login = [](QWidget *) { return false; };   // the new login after an eviction is cancelled

    // The requesting shell blocks while it asks, as on its own workstation: on a thread here.
    ForcedLogoutClient client;
    client.setPort(w->peerPort());
    std::atomic<bool> acknowledged{false};
    std::unique_ptr<QThread> thread(QThread::create([&] { acknowledged = client.requestLogout(QStringLiteral("127.0.0.1")); }));
    thread->start();
    QVERIFY(QTest::qWaitFor([&] { return thread->isFinished(); }, 20000));
    thread->wait();
    QCOMPARE(acknowledged.load(), acts);

    const TestDatabase::LoginRecord record = m_db->loginRecords(EmpNo).last();
    QCOMPARE(record.seq, 500);
    if (acts) {
        QTRY_COMPARE(h.messages.texts(), QStringList{QString::fromUtf8(ForcedText)});
        QVERIFY(h.shared.EmpNo.isEmpty());
        QCOMPARE(record.logoutIp, h.shared.LocalIP);
        const QStringList lines = log.lines();
        QVERIFY2(log.linesWith({QStringLiteral("orsa.peer"), QStringLiteral("from 127.0.0.1"),
                                QStringLiteral("acted on")}).size() == 1, qPrintable(lines.join(u'\n')));
        QVERIFY2(log.linesWith({QStringLiteral("orsa.session"), QStringLiteral("employee ") + EmpNo,
                                QStringLiteral("kind 1")}).size() == 1, qPrintable(lines.join(u'\n')));
    } else {
        QTest::qWait(100);
        QCOMPARE(h.messages.texts(), QStringList());
        QCOMPARE(h.shared.EmpNo, EmpNo);
        QVERIFY(record.logoutIpNull);
        QCOMPARE(log.linesWith({QStringLiteral("127.0.0.1"), QStringLiteral("refused")}).size(), 1);
    }
}

QTEST_MAIN(tst_SessionOverlap)
#include "tst_sessionoverlap.moc"
