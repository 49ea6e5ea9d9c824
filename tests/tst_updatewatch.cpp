// The update watch against a real HTTP responder on the loopback: which running programs get a
// notice for which answers of the server, what is asked, and when the timer starts a check.

#include "update/updatewatch.h"

#include "fakewindowsystem.h"

#include <QFile>
#include <QHash>
#include <QLocale>
#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Answer
{
    int status = 200;
    QByteArray lastModified;   // empty: no header
};

// Answers HEAD requests by path and records every request it reads.
class HttpResponder : public QObject
{
public:
    HttpResponder()
    {
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = server.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
    bool listen() { return server.listen(QHostAddress(QStringLiteral("127.0.0.1"))); }
    QString base(const QString &dir = QStringLiteral("upd/")) const
    {
        return QStringLiteral("http://127.0.0.1:%1/").arg(server.serverPort()) + dir;
    }

    QHash<QByteArray, Answer> answers;
    QHash<QByteArray, QByteArray> moreHeaders;  // by path: whole lines, each ending in CRLF
    QList<QByteArray> requestLines;
    QList<QByteArray> headerBlocks;
    QTcpServer server;

private:
    void serve(QTcpSocket *socket)
    {
        QByteArray &buffer = m_buffers[socket];
        buffer += socket->readAll();
        int end;
        while ((end = buffer.indexOf("\r\n\r\n")) >= 0) {
            const QByteArray head = buffer.left(end);
            buffer.remove(0, end + 4);
            const QByteArray line = head.left(head.indexOf("\r\n"));
            requestLines.append(line);
            headerBlocks.append(head);
            const QByteArray path = line.split(' ').value(1);
            const Answer answer = answers.value(path, Answer{404, {}});
            QByteArray reply = "HTTP/1.1 " + QByteArray::number(answer.status)
                + (answer.status == 200 ? " OK" : " Other") + "\r\nContent-Length: 0\r\n";
            if (answer.status / 100 == 3)
                reply += "Location: /elsewhere.exe\r\n";
            if (!answer.lastModified.isEmpty())
                reply += "Last-Modified: " + answer.lastModified + "\r\n";
            reply += moreHeaders.value(path);
            socket->write(reply + "\r\n");
        }
    }
    QHash<QTcpSocket *, QByteArray> m_buffers;
};

QByteArray httpDate(const QDateTime &time)
{
    return QLocale::c()
        .toString(time.toUTC(), QStringLiteral("ddd, dd MMM yyyy hh:mm:ss 'GMT'"))
        .toLatin1();
}

QDateTime localAt(const QString &hhmmss)
{
    return QDateTime(QDate(2026, 3, 2), QTime::fromString(hhmmss, QStringLiteral("hh:mm:ss")),
                     Qt::LocalTime);
}

struct Notice
{
    QString title;
    QString name;
};

} // namespace

class tst_UpdateWatch : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void answers_data();
    void answers();
    void serverDown();
    void tricklingServer();
    void noSignInToTheUpdateServer();
    void titlesAndOpenNotices();
    void ticks();
    void emptyAddressIsOff();

private:
    void makeWatch();
    bool check();
    void writeExecutable(const QString &name, const QDateTime &time);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<HttpResponder> m_http;
    std::unique_ptr<FakeWindowSystem> m_windows;
    std::unique_ptr<UpdateWatch> m_watch;
    QList<QPair<QString, QString>> m_projects;
    QList<Notice> m_notices;
};

void tst_UpdateWatch::init()
{
    m_watch.reset();
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_http = std::make_unique<HttpResponder>();
    QVERIFY(m_http->listen());
    m_windows = std::make_unique<FakeWindowSystem>();
    m_projects.clear();
    m_notices.clear();
    makeWatch();
}

void tst_UpdateWatch::makeWatch()
{
    UpdateWatchHost host;
    host.projects = [this] { return m_projects; };
    host.showUpdateNotice = [this](const QString &title, const QString &name) {
        m_notices.append({title, name});
    };
    m_watch = std::make_unique<UpdateWatch>(*m_windows, host);
    m_watch->setUpdateUrl(m_http->base());
    m_watch->setAppDir(m_dir->path() + QLatin1Char('/'));
}

bool tst_UpdateWatch::check()
{
    QSignalSpy finished(m_watch.get(), &UpdateWatch::checkFinished);
    m_watch->runCheck();
    return finished.count() == 1 || finished.wait(10000);
}

void tst_UpdateWatch::writeExecutable(const QString &name, const QDateTime &time)
{
    QFile file(m_dir->filePath(name));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("MZ");
    file.close();
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.setFileTime(time, QFileDevice::FileModificationTime));
}

void tst_UpdateWatch::answers_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("serverTime");   // local clock time; empty: no Last-Modified
    QTest::addColumn<QString>("localTime");    // empty: no local executable
    QTest::addColumn<bool>("notice");

    QTest::newRow("server an hour later") << 200 << "11:07:00" << "10:07:00" << true;
    QTest::newRow("next minute by one second") << 200 << "10:08:00" << "10:07:59" << true;
    QTest::newRow("same minute") << 200 << "10:07:50" << "10:07:10" << false;
    QTest::newRow("same time") << 200 << "10:07:10" << "10:07:10" << false;
    QTest::newRow("server older") << 200 << "12:30:00" << "13:05:00" << false;
    QTest::newRow("no Last-Modified") << 200 << "" << "10:07:00" << false;
    QTest::newRow("not found") << 404 << "11:07:00" << "10:07:00" << false;
    QTest::newRow("server error") << 500 << "11:07:00" << "10:07:00" << false;
    QTest::newRow("redirect is not followed") << 302 << "11:07:00" << "10:07:00" << false;
    QTest::newRow("no local executable") << 200 << "11:07:00" << "" << false;
}

void tst_UpdateWatch::answers()
{
    QFETCH(int, status);
    QFETCH(QString, serverTime);
    QFETCH(QString, localTime);
    QFETCH(bool, notice);

    m_windows->addWindow(QStringLiteral("TfrmA0Main"), QStringLiteral("Front"));
    m_http->answers.insert("/upd/orsa_a.exe",
                           {status, serverTime.isEmpty() ? QByteArray() : httpDate(localAt(serverTime))});
    if (!localTime.isEmpty())
        writeExecutable(QStringLiteral("orsa_A.exe"), localAt(localTime));

    QVERIFY(check());
    QCOMPARE(m_http->requestLines, QList<QByteArray>{"HEAD /upd/orsa_a.exe HTTP/1.1"});
    const QByteArray headers = m_http->headerBlocks.value(0);
    QVERIFY2(headers.contains("User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n"), headers);
    QVERIFY2(headers.contains("Accept: text/html, */*\r\n"), headers);
    QCOMPARE(m_notices.size(), notice ? 1 : 0);
    if (notice)
        QCOMPARE(m_notices.first().name, QStringLiteral("orsa_A"));
    QVERIFY(!m_watch->checkPending());
}

void tst_UpdateWatch::serverDown()
{
    m_windows->addWindow(QStringLiteral("TfrmA0Main"));
    writeExecutable(QStringLiteral("orsa_A.exe"), localAt(QStringLiteral("10:00:00")));
    m_http->server.close();
    QVERIFY(check());
    QVERIFY(m_notices.isEmpty());
    QVERIFY(!m_watch->checkPending());
}

// A server that sends its header a line at a time, without end, never goes silent: the check
// still ends by its deadline, counts as "not newer", and the next check runs.
void tst_UpdateWatch::tricklingServer()
{
    QTcpServer trickler;
    QVERIFY(trickler.listen(QHostAddress(QStringLiteral("127.0.0.1"))));
    QTimer drip;
    QList<QPointer<QTcpSocket>> sockets;
    connect(&trickler, &QTcpServer::newConnection, this, [&] {
        while (QTcpSocket *socket = trickler.nextPendingConnection()) {
            socket->write("HTTP/1.1 200 OK\r\nLast-Modified: " + httpDate(localAt(QStringLiteral("11:07:00")))
                          + "\r\n");
            sockets.append(socket);
        }
    });
    connect(&drip, &QTimer::timeout, this, [&] {
        for (const QPointer<QTcpSocket> &socket : std::as_const(sockets)) {
            if (socket)
                socket->write("X-Padding: more\r\n");
        }
    });
    drip.start(50);

    m_windows->addWindow(QStringLiteral("TfrmA0Main"));
    writeExecutable(QStringLiteral("orsa_A.exe"), localAt(QStringLiteral("10:07:00")));
    m_watch->setUpdateUrl(QStringLiteral("http://127.0.0.1:%1/upd/").arg(trickler.serverPort()));
    m_watch->setRequestDeadlineMs(1000);
    QVERIFY(check());
    QVERIFY(!sockets.isEmpty());
    QVERIFY(m_notices.isEmpty());
    QVERIFY(!m_watch->checkPending());

    // The next check is not held up by the first one.
    m_http->answers.insert("/upd/orsa_a.exe", {200, httpDate(localAt(QStringLiteral("11:07:00")))});
    m_watch->setUpdateUrl(m_http->base());
    QVERIFY(check());
    QCOMPARE(m_notices.size(), 1);
}

// A server that asks for Windows sign-in (NTLM, Negotiate) gets no answer to it: the check is
// anonymous, and nothing of the user's credentials goes out, not even the first step.
void tst_UpdateWatch::noSignInToTheUpdateServer()
{
    m_windows->addWindow(QStringLiteral("TfrmA0Main"));
    writeExecutable(QStringLiteral("orsa_A.exe"), localAt(QStringLiteral("10:07:00")));
    m_http->answers.insert("/upd/orsa_a.exe", {401, httpDate(localAt(QStringLiteral("11:07:00")))});
    m_http->moreHeaders.insert("/upd/orsa_a.exe",
                               "WWW-Authenticate: Negotiate\r\nWWW-Authenticate: NTLM\r\n");
    QVERIFY(check());
    QVERIFY(m_notices.isEmpty());
    QVERIFY(!m_watch->checkPending());
    QVERIFY(!m_http->headerBlocks.isEmpty());
    for (const QByteArray &headers : std::as_const(m_http->headerBlocks))
        QVERIFY2(!headers.toLower().contains("authorization:"), headers);
}

void tst_UpdateWatch::titlesAndOpenNotices()
{
    // Running: A (matched by a capitalised id), C (no project), D (no newer copy), and the shell
    // and a notice window that are not project programs.
    m_projects = {{QStringLiteral("ORSA_A"), QStringLiteral("프런트")},
                  {QStringLiteral("orsa_d"), QStringLiteral("회계")}};
    m_windows->addWindow(QStringLiteral("Tfrm_0Main"));
    m_windows->addWindow(QStringLiteral("TfrmC0Main"));
    m_windows->addWindow(QStringLiteral("TfrmD0Main"));
    m_windows->addWindow(QStringLiteral("TfrmA0Main"));
    const QByteArray newer = httpDate(localAt(QStringLiteral("11:00:00")));
    m_http->answers.insert("/upd/orsa_a.exe", {200, newer});
    m_http->answers.insert("/upd/orsa_c.exe", {200, newer});
    m_http->answers.insert("/upd/orsa_d.exe", {200, httpDate(localAt(QStringLiteral("09:00:00")))});
    for (const QString &name : {QStringLiteral("orsa_A.exe"), QStringLiteral("orsa_C.exe"),
                                QStringLiteral("orsa_D.exe")})
        writeExecutable(name, localAt(QStringLiteral("10:00:00")));

    QVERIFY(check());
    QCOMPARE(m_http->requestLines.size(), 3);
    QCOMPARE(m_notices.size(), 2);
    QCOMPARE(m_notices.at(0).name, QStringLiteral("orsa_A"));
    QCOMPARE(m_notices.at(0).title, QStringLiteral("프런트"));
    QCOMPARE(m_notices.at(1).name, QStringLiteral("orsa_C"));
    QCOMPARE(m_notices.at(1).title, QString());

    // A notice open for orsa_A (its caption in lower case): only orsa_C is shown again.
    m_notices.clear();
    m_windows->addWindow(QStringLiteral("Tfrm_BH010"), QStringLiteral("orsa_a"));
    QVERIFY(check());
    QCOMPARE(m_notices.size(), 1);
    QCOMPARE(m_notices.at(0).name, QStringLiteral("orsa_C"));
}

void tst_UpdateWatch::ticks()
{
    m_windows->addWindow(QStringLiteral("TfrmB0Main"));
    m_http->answers.insert("/upd/orsa_b.exe", {200, httpDate(localAt(QStringLiteral("11:00:00")))});
    writeExecutable(QStringLiteral("orsa_B.exe"), localAt(QStringLiteral("10:00:00")));
    QSignalSpy finished(m_watch.get(), &UpdateWatch::checkFinished);

    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 600; ++i)
            m_watch->tmrTimerTimer();
        QCOMPARE(m_watch->tag(), 600);
        QTest::qWait(50);
        QCOMPARE(m_http->requestLines.size(), round);
        m_watch->tmrTimerTimer();   // the 601st tick
        QCOMPARE(m_watch->tag(), 0);
        QVERIFY(finished.count() == round + 1 || finished.wait(10000));
        QCOMPARE(m_http->requestLines.size(), round + 1);
        QCOMPARE(m_notices.size(), round + 1);
    }
}

void tst_UpdateWatch::emptyAddressIsOff()
{
    m_windows->addWindow(QStringLiteral("TfrmB0Main"));
    m_watch->setUpdateUrl(QString());
    for (int i = 0; i < 1300; ++i)
        m_watch->tmrTimerTimer();
    QCOMPARE(m_watch->tag(), 0);
    m_watch->runCheck();
    QTest::qWait(100);
    QVERIFY(m_http->requestLines.isEmpty());
    QCOMPARE(m_windows->scans, 0);
    QVERIFY(m_notices.isEmpty());
}

QTEST_GUILESS_MAIN(tst_UpdateWatch)
#include "tst_updatewatch.moc"
