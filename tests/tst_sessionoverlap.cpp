// Sequences of a busy front desk in which a forced-logout request, a login in progress, a
// cancelled login and an update check overlap: each must leave the session, the login records and
// the programs as the employee at the desk expects.

#include "tst_mainwindow_harness.h"

#include "peer/forcedlogoutclient.h"
#include "session/logoutrecording.h"
#include "session/tfrm_ah120.h"
#include "support/logcapture.h"
#include "support/testdatabase.h"
#include "update/tfrm_bh010.h"
#include "update/updatewatch.h"

#include <QDeadlineTimer>
#include <QDialog>
#include <QElapsedTimer>
#include <QLocale>
#include <QPointer>
#include <QScopeGuard>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>

namespace {

const QString EmpNo = QStringLiteral("1001");
const QString EmpName = QStringLiteral("김민준");
// Who logs in at the desk after the eviction.
const QString NextEmpNo = QStringLiteral("1004");
const QString NextEmpName = QStringLiteral("최유나");
const char *const ForcedText =
    "다른 PC에서 동일 사용자가 프로그램 종료를 요청했습니다.\r"
    "자신의 ID로 접속하시고 비밀번호는 다른 사람에게 알려주지 마십시오.\r"
    "같은 문제가 계속 발생할 경우 전산팀에 문의하십시오.";

// Another workstation asking this shell to log out, over real TCP on loopback.
class Requester : public QObject
{
public:
    // holdRequest: the request line waits for sendRequest(), as from a slow requester.
    explicit Requester(quint16 port, bool holdRequest = false) : hold(holdRequest)
    {
        connect(&socket, &QTcpSocket::readyRead, this, [this] {
            received += socket.readAll();
            if (!hold && greeted())
                sendRequest();
        });
        socket.connectToHost(QHostAddress::LocalHost, port);
    }
    bool greeted() const { return received.contains('\n'); }
    void sendRequest()
    {
        if (sent)
            return;
        sent = true;
        socket.write("^ORSA_MAIN^LOGIN\r\n");
    }
    bool acknowledged() const { return received.contains("^ORSA_MAIN^REQ_OK\r\n"); }
    // Declined: the shell closed the connection without the acknowledgement.
    bool waitForDecline()
    {
        return QTest::qWaitFor([this] { return socket.state() == QAbstractSocket::UnconnectedState; },
                               5000)
            && !acknowledged();
    }
    // Waits for the acknowledgement with the event loop running, as a modal window would.
    bool waitForAcknowledgement()
    {
        return QTest::qWaitFor([this] { return acknowledged(); }, 5000);
    }

    QTcpSocket socket;
    QByteArray received;
    bool hold = false;
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
    void evictionWaitsForOpenWindow_data();
    void evictionWaitsForOpenWindow();
    void requestBelongsToGreetedLogin();
    void programOfEndedLoginClosedWhenItShows();
    void requestFindingNothingToCloseDeclined_data();
    void requestFindingNothingToCloseDeclined();
    void listenerAnswersWhileShellWaits();

private:
    // Employee EmpNo logged in at the desk with a live record (SEQ 500), the logout records
    // written for real; the next login (the one after an eviction) is NextEmpNo's, with a record
    // of its own (SEQ 600).
    Tfrm_0Main *openDesk(Harness &h, const QString &dir, LogoutRecording &recording,
                         const QList<int> &rights = {0, 0, 0, 0},
                         const QList<QList<RoleChoice>> &roles = {});
    // The first login's record closed by this workstation's eviction, the next login's live.
    void checkEvictionRecords(const QString &localIp);

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
    // workstation evicts the employee: the window is ended as a cancel would, then the eviction
    // runs.
    QString error;
    QVERIFY2(m_db->reset(&error), qPrintable(error));
    Installation install;
    install.write();
    Harness h;
    m_db->configure(h.db);
    LogoutRecording recording(h.db, h.shared);
    // The window records its final logout when it goes: before the recording does.
    const auto windowFirst = qScopeGuard([&h] { h.window.reset(); });
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
    std::unique_ptr<Requester> other;
    bool cancelled = false;
    h.login = [&](QWidget *owner) {
        if (other)
            return false;   // the login after the eviction is cancelled too
        duringWindow = m_db->loginRecords(EmpNo).last().logoutIp;
        other = std::make_unique<Requester>(w->peerPort());
        QDialog loginWindow(owner);
        QTimer::singleShot(5000, &loginWindow, &QDialog::accept);   // left open by the employee
        cancelled = loginWindow.exec() == QDialog::Rejected;
        return false;
    };
    w->sbtLogin()->click();

    QCOMPARE(duringWindow, QStringLiteral("*") + h.shared.LocalIP);
    QVERIFY(cancelled);
    QVERIFY(other->waitForAcknowledgement());
    QTRY_COMPARE(h.loginsShown, 3);   // the first, this one, the one after the eviction
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
    bool secondDeclined = false;
    h.messages.onShow = [&](const FakeMessages::Shown &) {
        if (second)
            return;
        // Greeted after the eviction: there is no login left for it to end.
        second = std::make_unique<Requester>(w->peerPort());
        secondDeclined = second->waitForDecline();
        QTest::qWait(50);
    };
    Requester first(w->peerPort());
    QVERIFY(first.waitForAcknowledgement());
    QTRY_COMPARE(h.loginsShown, loginsBefore + 1);
    QTest::qWait(200);

    QVERIFY(secondDeclined);
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
    // The window records its final logout when it goes: before the recording it uses.
    const auto windowFirst = qScopeGuard([&h] { h.window.reset(); });
    h.loginAs(EmpNo, EmpName, {0, 0, 0, 0});
    MainWindowServices services = h.services(install.path());
    services.recordLogout = [&recording](int kind, QString *e) { return recording.recordLogout(kind, e); };
    services.recordsClosed = [&recording] { return recording.lastRowsChanged(); };
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

Tfrm_0Main *tst_SessionOverlap::openDesk(Harness &h, const QString &dir, LogoutRecording &recording,
                                          const QList<int> &rights,
                                          const QList<QList<RoleChoice>> &roles)
{
    QString error;
    if (!m_db->reset(&error))
        qFatal("%s", qPrintable(error));
    m_db->configure(h.db);
    h.loginAs(EmpNo, EmpName, rights, roles);
    MainWindowServices services = h.services(dir);
    services.recordLogout = [&recording](int kind, QString *e) { return recording.recordLogout(kind, e); };
    services.recordsClosed = [&recording] { return recording.lastRowsChanged(); };
    h.window = std::make_unique<Tfrm_0Main>(services);
    Tfrm_0Main *w = h.window.get();
    w->FormCreate();
    w->show();
    if (!m_db->insertLoginRecord(EmpNo, 500, h.shared.LocalIP, QString(), 60, -1, &error))
        qFatal("%s", qPrintable(error));
    h.login = [&h, this](QWidget *) {
        h.shared.EmpNo = NextEmpNo;
        h.shared.EmpName = NextEmpName;
        for (ProjectId &project : h.shared.ProjectIds)
            project.right = 0;
        QString e;
        return m_db->insertLoginRecord(NextEmpNo, 600, h.shared.LocalIP, QString(), 0, -1, &e);
    };
    return w;
}

void tst_SessionOverlap::checkEvictionRecords(const QString &localIp)
{
    const TestDatabase::LoginRecord evicted = m_db->loginRecords(EmpNo).last();
    QCOMPARE(evicted.seq, 500);
    QVERIFY(!evicted.logoutIpNull);
    QCOMPARE(evicted.logoutIp, localIp);   // kind 1: ended from this workstation
    QVERIFY(qAbs(evicted.logoutTime.secsTo(m_db->serverNow())) <= 10);
    const TestDatabase::LoginRecord next = m_db->loginRecords(NextEmpNo).last();
    QCOMPARE(next.seq, 600);
    QVERIFY(next.logoutIpNull);
    QVERIFY(!next.logoutTime.isValid());
}

void tst_SessionOverlap::evictionWaitsForOpenWindow_data()
{
    // The window that is open when the request arrives. Left open, as the user would leave it,
    // until the shell ends it or the login after the eviction has happened underneath it; then
    // it is answered OK / Yes.
    QTest::addColumn<QString>("window");
    QTest::newRow("box from the update notice's click") << QStringLiteral("notice");
    QTest::newRow("team-role window") << QStringLiteral("team role");
    QTest::newRow("close question") << QStringLiteral("close");
    QTest::newRow("remote-control question") << QStringLiteral("remote control");
}

void tst_SessionOverlap::evictionWaitsForOpenWindow()
{
    QFETCH(QString, window);
    Installation install;
    install.write();
    Harness h;
    LogoutRecording recording(h.db, h.shared);
    // The window records its final logout when it goes: before the recording does.
    const auto windowFirst = qScopeGuard([&h] { h.window.reset(); });
    const QList<QList<RoleChoice>> roles{{{QStringLiteral("프런트1팀"), 11}, {QStringLiteral("프런트2팀"), 12}}};
    Tfrm_0Main *w = openDesk(h, install.path(), recording, {2, 0, 0, 0}, roles);
    QCOMPARE(h.shared.EmpNo, EmpNo);
    h.fakeWindows.addWindow(QStringLiteral("TfrmA0Main"));   // the close question asks
    const auto windowDone = [&] { return h.messages.cancels > 0 || h.shared.EmpNo == NextEmpNo; };

    std::unique_ptr<Requester> other;
    h.messages.onShow = [&](const FakeMessages::Shown &) {
        if (other)
            return;   // the message that follows the eviction
        other = std::make_unique<Requester>(w->peerPort());
        // Bounded: the row fails below when the window was never ended.
        (void)QTest::qWaitFor(windowDone, 5000);
    };
    QSignalSpy shellClosed(w, &Tfrm_0Main::shellClosed);

    if (window == QLatin1String("notice")) {
        // No updater is installed: the restart ends in a message box inside the click.
        w->ShowUpdateNotice(QStringLiteral("프런트"), QStringLiteral("orsa_A"));
        QPointer<Tfrm_BH010> notice = w->findChild<Tfrm_BH010 *>();
        QVERIFY(notice);
        notice->lblUpdateClick();
        // The click handler went on with its notice until it returned.
        QVERIFY2(notice, "the notice was deleted inside its own click");
    } else if (window == QLatin1String("team role")) {
        QTimer::singleShot(0, this, [&] { other = std::make_unique<Requester>(w->peerPort()); });
        QElapsedTimer open;
        open.start();
        QTimer answer;
        answer.setInterval(20);
        connect(&answer, &QTimer::timeout, this, [&] {
            auto *teamRole = w->findChild<Tfrm_AH120 *>();
            if (!teamRole || !teamRole->isVisible())
                return;
            if (windowDone())
                teamRole->imgOKClick();
            else if (open.elapsed() > 5000)
                teamRole->reject();
        });
        answer.start();
        w->imgProjectClick(w->imgProjects().first());
    } else if (window == QLatin1String("close")) {
        w->close();
    } else {
        w->sbtControlClick();
    }

    QVERIFY(other);
    QVERIFY(other->waitForAcknowledgement());
    QTRY_COMPARE(h.shared.EmpNo, NextEmpNo);   // the login after the eviction
    QCOMPARE(h.messages.texts().count(QString::fromUtf8(ForcedText)), 1);
    // Nothing the stale window would have done for the evicted login is done.
    QCOMPARE(shellClosed.count(), 0);
    QVERIFY(w->isVisible());
    QVERIFY(h.programs.executed.isEmpty());
    QVERIFY(h.programs.created.isEmpty());
    QVERIFY(!QFile::exists(install.dir.filePath(QStringLiteral("ORSA_A.ini"))));
    checkEvictionRecords(h.shared.LocalIP);

    // The next login's final logout is written when the shell ends.
    h.window.reset();
    QCOMPARE(m_db->loginRecords(NextEmpNo).last().logoutIp, h.shared.LocalIP);
}

void tst_SessionOverlap::requestBelongsToGreetedLogin()
{
    // Employee A presses "login as another user"; another workstation, asking for A, is greeted
    // while the login window is idle; its request line comes only after B has logged in.
    Installation install;
    install.write();
    Harness h;
    LogoutRecording recording(h.db, h.shared);
    // The window records its final logout when it goes: before the recording does.
    const auto windowFirst = qScopeGuard([&h] { h.window.reset(); });
    Tfrm_0Main *w = openDesk(h, install.path(), recording);
    const auto nextLogin = h.login;
    Requester other(w->peerPort(), true);
    bool greetedDuringLogin = false;
    h.login = [&](QWidget *owner) {
        greetedDuringLogin = QTest::qWaitFor([&] { return other.greeted(); }, 5000);
        return nextLogin(owner);
    };
    w->sbtLogin()->click();
    QVERIFY(greetedDuringLogin);
    QCOMPARE(h.shared.EmpNo, NextEmpNo);

    other.sendRequest();
    QVERIFY(other.waitForDecline());
    QTest::qWait(200);
    QCOMPARE(h.shared.EmpNo, NextEmpNo);
    QCOMPARE(h.messages.texts(), QStringList());
    const TestDatabase::LoginRecord first = m_db->loginRecords(EmpNo).last();
    QCOMPARE(first.logoutIp, h.shared.LocalIP);   // ended by the login of B (kind 3)
    const TestDatabase::LoginRecord next = m_db->loginRecords(NextEmpNo).last();
    QVERIFY(next.logoutIpNull);
}

void tst_SessionOverlap::programOfEndedLoginClosedWhenItShows()
{
    Installation install;
    install.write();
    QFile updater(install.dir.filePath(QStringLiteral("PelUpdate.exe")));
    QVERIFY(updater.open(QIODevice::WriteOnly));
    updater.close();
    Harness h;
    LogoutRecording recording(h.db, h.shared);
    // The window records its final logout when it goes: before the recording does.
    const auto windowFirst = qScopeGuard([&h] { h.window.reset(); });
    Tfrm_0Main *w = openDesk(h, install.path(), recording);
    w->LaunchProgram(QStringLiteral("ORSA_A.exe"));
    QCOMPARE(h.programs.created.size(), 1);

    // Evicted before the updater has shown a window.
    Requester other(w->peerPort());
    QVERIFY(other.waitForAcknowledgement());
    QTRY_COMPARE(h.shared.EmpNo, NextEmpNo);
    checkEvictionRecords(h.shared.LocalIP);

    const WindowId updaterWindow = h.fakeWindows.addWindow(QStringLiteral("TPelUpdateMainForm"));
    const WindowId project = h.fakeWindows.addWindow(QStringLiteral("TfrmA0Main"));
    QTRY_VERIFY(!h.fakeWindows.contains(updaterWindow));
    QTRY_VERIFY(!h.fakeWindows.contains(project));
}

void tst_SessionOverlap::requestFindingNothingToCloseDeclined_data()
{
    QTest::addColumn<QString>("before");
    // The eviction before has left the desk without a login (its new login was cancelled).
    QTest::newRow("nobody logged in") << QStringLiteral("evicted");
    // The record has been closed elsewhere (a requester that gave up on this shell).
    QTest::newRow("record closed already") << QStringLiteral("closed");
}

void tst_SessionOverlap::requestFindingNothingToCloseDeclined()
{
    QFETCH(QString, before);
    Installation install;
    install.write();
    Harness h;
    LogoutRecording recording(h.db, h.shared);
    // The window records its final logout when it goes: before the recording does.
    const auto windowFirst = qScopeGuard([&h] { h.window.reset(); });
    Tfrm_0Main *w = openDesk(h, install.path(), recording);
    QString error;
    if (before == QLatin1String("evicted")) {
        h.login = [](QWidget *) { return false; };
        Requester first(w->peerPort());
        QVERIFY(first.waitForAcknowledgement());
        QTRY_VERIFY(h.loginsShown >= 2);
        QVERIFY(h.shared.EmpNo.isEmpty());
    } else {
        QVERIFY2(m_db->exec(QStringLiteral("UPDATE ZA010DT SET LOGOUT_TIME = LOCALTIMESTAMP(0), "
                                           "LOGOUT_IP = '타PC강제종료' WHERE EMP_NO = ? AND SEQ = 500"),
                            {EmpNo}, &error),
                 qPrintable(error));
    }
    const TestDatabase::LoginRecord recordBefore = m_db->loginRecords(EmpNo).last();
    QVERIFY(!recordBefore.logoutIpNull);

    Requester other(w->peerPort());
    QVERIFY(other.waitForDecline());
    QTest::qWait(200);
    const TestDatabase::LoginRecord recordAfter = m_db->loginRecords(EmpNo).last();
    QCOMPARE(recordAfter.logoutIp, recordBefore.logoutIp);
    QCOMPARE(recordAfter.logoutTime, recordBefore.logoutTime);
}

void tst_SessionOverlap::listenerAnswersWhileShellWaits()
{
    // The shell's own login asks a workstation that never answers, and its thread waits 12 s for
    // the greeting. Meanwhile another workstation asks this shell, waiting 10 s for each line.
    Installation install;
    install.write();
    Harness h;
    LogoutRecording recording(h.db, h.shared);
    // The window records its final logout when it goes: before the recording does.
    const auto windowFirst = qScopeGuard([&h] { h.window.reset(); });
    Tfrm_0Main *w = openDesk(h, install.path(), recording);
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
    const quint16 port = w->peerPort();

    struct Outcome
    {
        bool greeted = false;
        bool acknowledged = false;
        bool closedWithinWait = false;
    } outcome;
    std::unique_ptr<QThread> other;
    h.login = [&](QWidget *) {
        other.reset(QThread::create([&outcome, port] {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, port);
            if (!socket.waitForConnected(5000))
                return;
            QByteArray received;
            QDeadlineTimer line(10000);
            while (!received.contains('\n') && socket.waitForReadyRead(int(line.remainingTime())))
                received += socket.readAll();
            outcome.greeted = received.contains('\n');
            if (!outcome.greeted)
                return;
            socket.write("^ORSA_MAIN^LOGIN\r\n");
            socket.waitForBytesWritten(1000);
            received.clear();
            line = QDeadlineTimer(10000);
            while (socket.state() == QAbstractSocket::ConnectedState
                   && socket.waitForReadyRead(int(line.remainingTime())))
                received += socket.readAll();
            received += socket.readAll();
            outcome.acknowledged = received.contains("^ORSA_MAIN^REQ_OK");
            outcome.closedWithinWait =
                socket.state() == QAbstractSocket::UnconnectedState && !line.hasExpired();
        }));
        other->start();
        ForcedLogoutClient client;
        client.setPort(silent.serverPort());
        client.setReadTimeout(12000);
        client.requestLogout(QStringLiteral("127.0.0.1"));
        return false;   // the login is cancelled
    };
    w->sbtLogin()->click();
    QVERIFY(other && other->wait(15000));

    // Greeted at once and declined while it still waited, so it closes the record itself; the
    // request is not carried out afterwards either.
    QVERIFY(outcome.greeted);
    QVERIFY(!outcome.acknowledged);
    QVERIFY(outcome.closedWithinWait);
    QTest::qWait(300);
    QCOMPARE(h.shared.EmpNo, EmpNo);
    QCOMPARE(h.messages.texts(), QStringList());
    QVERIFY(m_db->loginRecords(EmpNo).last().logoutIpNull);
}

QTEST_MAIN(tst_SessionOverlap)
#include "tst_sessionoverlap.moc"
