#include "peer/forcedlogoutclient.h"
#include "peer/forcedlogouthandler.h"
#include "peer/forcedlogoutprotocol.h"
#include "peer/forcedlogoutserver.h"
#include "support/logcapture.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPointer>
#include <QSemaphore>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace P = ForcedLogoutProtocol;
using namespace Qt::StringLiterals;

namespace {

const QString Loopback = QStringLiteral("127.0.0.1");

// Records what the server asks of the shell; busy and the logout's outcome are set by the test.
class RecordingHandler : public ForcedLogoutHandler
{
public:
    quint64 currentSession() const override { return session; }
    bool busy() const override
    {
        ++busyQueries;
        return isBusy;
    }
    bool forcedLogout() override
    {
        calledWhileBusy = calledWhileBusy || isBusy;
        events.append(QStringLiteral("forcedLogout"));
        if (onForcedLogout)
            onForcedLogout();
        return logoutSucceeds;
    }
    void afterForcedLogout() override { events.append(QStringLiteral("afterForcedLogout")); }

    int count(const QString &event) const { return int(events.count(event)); }

    std::atomic<quint64> session{0};   // read by the listener's thread
    bool isBusy = false;
    bool logoutSucceeds = true;
    bool calledWhileBusy = false;
    mutable int busyQueries = 0;
    QStringList events;
    std::function<void()> onForcedLogout;
};

// A raw connection to the server under test, read without blocking the event loop the server
// runs on.
class RawPeer : public QObject
{
public:
    explicit RawPeer(quint16 port, const QString &from = QString())
    {
        connect(&socket, &QTcpSocket::readyRead, this, [this] { received += socket.readAll(); });
        connect(&socket, &QTcpSocket::disconnected, this, [this] { closedByServer = true; });
        if (!from.isEmpty())
            socket.bind(QHostAddress(from));
        socket.connectToHost(QHostAddress(Loopback), port);
    }
    void send(const QByteArray &bytes)
    {
        socket.write(bytes);
        socket.flush();
    }
    QTcpSocket socket;
    QByteArray received;
    bool closedByServer = false;
};

// A listening side that behaves as the test says, for the client under test.
class ScriptedPeer : public QObject
{
public:
    ScriptedPeer(const QByteArray &greeting, const QByteArray &answer, bool closeAfterGreeting)
        : m_greeting(greeting), m_answer(answer), m_closeAfterGreeting(closeAfterGreeting)
    {
        connect(&server, &QTcpServer::newConnection, this, [this] { accept(); });
        server.listen(QHostAddress(Loopback), 0);
    }
    quint16 port() const { return server.serverPort(); }

    QTcpServer server;
    QByteArray received;

private:
    void accept()
    {
        QTcpSocket *socket = server.nextPendingConnection();
        socket->setParent(this);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            received += socket->readAll();
            if (!m_answered && received.contains('\n')) {
                m_answered = true;
                if (!m_answer.isEmpty()) {
                    socket->write(m_answer);
                    socket->disconnectFromHost();
                }
            }
        });
        if (!m_greeting.isEmpty())
            socket->write(m_greeting);
        if (m_closeAfterGreeting)
            socket->disconnectFromHost();
    }

    QByteArray m_greeting;
    QByteArray m_answer;
    bool m_closeAfterGreeting;
    bool m_answered = false;
};

struct ClientOutcome
{
    bool acknowledged = false;
    qint64 elapsedMs = 0;
};

// The client blocks the thread it runs on, as it blocks the user interface in the shell; here it
// runs on a thread of its own so that the peer on this thread's event loop can answer.
ClientOutcome runClient(ForcedLogoutClient &client, const QString &address)
{
    std::atomic<bool> acknowledged{false};
    QElapsedTimer timer;
    timer.start();
    std::unique_ptr<QThread> thread(
        QThread::create([&] { acknowledged = client.requestLogout(address); }));
    thread->start();
    while (!thread->isFinished())
        QTest::qWait(5);
    thread->wait();
    return {acknowledged.load(), timer.elapsed()};
}

QByteArray longLine(int length)
{
    return QByteArray(length, 'A');
}

} // namespace

class tst_ForcedLogout : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void wireTexts();
    void lineReader_data();
    void lineReader();
    void comparison_data();
    void comparison();

    void client_data();
    void client();
    void clientAgainstClosedPortFailsFast();
    void clientRefusesHostNames();

    void server_data();
    void server();
    void serverClosesSilentConnection();
    void acknowledgementOnlyAfterLogout();
    void busyShellDefersRequest();
    void failedLogoutGivesNoAcknowledgement();
    void requestDroppedWhenPeerGaveUp();
    void queuedRequestBoundToItsSession_data();
    void queuedRequestBoundToItsSession();
    void connectionsBounded();
    void floodingAddressCrowdsOutOnlyItself();
    void floodingNetworkCrowdsOutOnlyItself();
    void allowList_data();
    void allowList();
    void listensOnIpv4Only();
    void portInUseGivesReason();

    void clientAndServer();
    void twoShellsAskingEachOtherBothFinish();
};

void tst_ForcedLogout::wireTexts()
{
    QCOMPARE(P::encodeLine(P::greeting()), QByteArray("^ORSA_MAIN^\r\n"));
    QCOMPARE(P::encodeLine(P::request()), QByteArray("^ORSA_MAIN^LOGIN\x0d\x0a"));
    QCOMPARE(P::encodeLine(P::request()).size(), 18);
    QCOMPARE(P::encodeLine(P::acknowledgement()), QByteArray("^ORSA_MAIN^REQ_OK\r\n"));
}

void tst_ForcedLogout::lineReader_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("chunk");  // bytes handed to the reader at a time; 0 = all at once
    QTest::addColumn<QList<QByteArray>>("lines");
    QTest::addColumn<int>("finalResult");  // LineReader::Result after the last line

    const int needMore = int(P::LineReader::Result::NeedMore);
    const int tooLong = int(P::LineReader::Result::TooLong);
    using L = QList<QByteArray>;

    QTest::newRow("CR LF") << QByteArray("^ORSA_MAIN^\r\n") << 0 << L{"^ORSA_MAIN^"} << needMore;
    QTest::newRow("LF alone") << QByteArray("^ORSA_MAIN^\n") << 0 << L{"^ORSA_MAIN^"} << needMore;
    QTest::newRow("byte by byte") << QByteArray("^ORSA_MAIN^LOGIN\r\n") << 1
                                  << L{"^ORSA_MAIN^LOGIN"} << needMore;
    QTest::newRow("two lines in one piece")
        << QByteArray("one\r\ntwo\nthr") << 0 << L{"one", "two"} << needMore;
    QTest::newRow("CR inside the line is kept") << QByteArray("a\rb\n") << 0 << L{"a\rb"} << needMore;
    QTest::newRow("only one CR removed") << QByteArray("a\r\r\n") << 0 << L{"a\r"} << needMore;
    QTest::newRow("empty line") << QByteArray("\r\n") << 0 << L{""} << needMore;
    QTest::newRow("no line end yet") << QByteArray("^ORSA_MAIN^") << 0 << L{} << needMore;
    QTest::newRow("16384 bytes with CR LF")
        << (longLine(16384) + "\r\n") << 1000 << L{longLine(16384)} << needMore;
    QTest::newRow("16384 bytes with LF") << (longLine(16384) + "\n") << 0 << L{longLine(16384)}
                                         << needMore;
    QTest::newRow("16384 bytes and CR, LF still to come")
        << (longLine(16384) + "\r") << 0 << L{} << needMore;
    QTest::newRow("16385 bytes with CR LF") << (longLine(16385) + "\r\n") << 0 << L{} << tooLong;
    QTest::newRow("16385 bytes refused before the line end")
        << longLine(16385) << 0 << L{} << tooLong;
    QTest::newRow("too long in small pieces") << longLine(20000) << 333 << L{} << tooLong;
    QTest::newRow("short line, then a long one")
        << ("ok\n" + longLine(16385) + "\n") << 0 << L{"ok"} << tooLong;
}

void tst_ForcedLogout::lineReader()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, chunk);
    QFETCH(QList<QByteArray>, lines);
    QFETCH(int, finalResult);

    P::LineReader reader;
    QList<QByteArray> taken;
    P::LineReader::Result result = P::LineReader::Result::NeedMore;
    const int step = chunk > 0 ? chunk : int(bytes.size());
    for (int offset = 0; offset < bytes.size() && result != P::LineReader::Result::TooLong;
         offset += step) {
        reader.append(bytes.mid(offset, step));
        QByteArray line;
        while ((result = reader.takeLine(&line)) == P::LineReader::Result::Line)
            taken.append(line);
    }
    QCOMPARE(taken, lines);
    QCOMPARE(int(result), finalResult);
}

void tst_ForcedLogout::comparison_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<bool>("matches");

    QTest::newRow("acknowledgement") << QByteArray("^ORSA_MAIN^REQ_OK") << P::acknowledgement() << true;
    QTest::newRow("lower-case acknowledgement")
        << QByteArray("^orsa_main^req_ok") << P::acknowledgement() << true;
    QTest::newRow("mixed-case request") << QByteArray("^Orsa_Main^Login") << P::request() << true;
    QTest::newRow("greeting is not the request") << QByteArray("^ORSA_MAIN^") << P::request() << false;
    QTest::newRow("trailing blank") << QByteArray("^ORSA_MAIN^LOGIN ") << P::request() << false;
    QTest::newRow("leading blank") << QByteArray(" ^ORSA_MAIN^") << P::greeting() << false;
    QTest::newRow("longer message") << QByteArray("^ORSA_MAIN^REQ_OKAY") << P::acknowledgement() << false;
    QTest::newRow("empty line") << QByteArray() << P::greeting() << false;
}

void tst_ForcedLogout::comparison()
{
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, message);
    QFETCH(bool, matches);
    QCOMPARE(P::matches(line, message), matches);
}

void tst_ForcedLogout::client_data()
{
    QTest::addColumn<QByteArray>("greeting");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<bool>("closeAfterGreeting");
    QTest::addColumn<bool>("requestSent");
    QTest::addColumn<bool>("acknowledged");

    const QByteArray greeting("^ORSA_MAIN^\r\n");
    QTest::newRow("acknowledged") << greeting << QByteArray("^ORSA_MAIN^REQ_OK\r\n") << false
                                  << true << true;
    QTest::newRow("lower-case acknowledgement")
        << QByteArray("^orsa_main^\r\n") << QByteArray("^orsa_main^req_ok\r\n") << false << true
        << true;
    QTest::newRow("lines with LF alone")
        << QByteArray("^ORSA_MAIN^\n") << QByteArray("^ORSA_MAIN^REQ_OK\n") << false << true << true;
    QTest::newRow("wrong greeting") << QByteArray("220 mail ready\r\n")
                                    << QByteArray("^ORSA_MAIN^REQ_OK\r\n") << false << false << false;
    QTest::newRow("wrong answer") << greeting << QByteArray("^ORSA_MAIN^REQ_NO\r\n") << false
                                  << true << false;
    QTest::newRow("answer cut off by the close")
        << greeting << QByteArray("^ORSA_MAIN^REQ_OK") << false << true << false;
    QTest::newRow("closed after the greeting") << greeting << QByteArray() << true << false << false;
    QTest::newRow("greeting cut off by the close")
        << QByteArray("^ORSA_MAIN^") << QByteArray() << true << false << false;
    QTest::newRow("answer line too long")
        << greeting << (longLine(16385) + "\r\n") << false << true << false;
    QTest::newRow("silent listener") << QByteArray() << QByteArray() << false << false << false;
    QTest::newRow("silent after the request") << greeting << QByteArray() << false << true << false;
}

void tst_ForcedLogout::client()
{
    QFETCH(QByteArray, greeting);
    QFETCH(QByteArray, answer);
    QFETCH(bool, closeAfterGreeting);
    QFETCH(bool, requestSent);
    QFETCH(bool, acknowledged);

    ScriptedPeer peer(greeting, answer, closeAfterGreeting);
    QVERIFY(peer.server.isListening());
    ForcedLogoutClient client;
    client.setPort(peer.port());
    client.setReadTimeout(400);

    const ClientOutcome outcome = runClient(client, Loopback);
    QCOMPARE(outcome.acknowledged, acknowledged);
    QCOMPARE(client.lastError().isEmpty(), acknowledged);
    // Every wait is bounded: a silent listener costs two read bounds at most.
    QVERIFY2(outcome.elapsedMs < 3000, qPrintable(QString::number(outcome.elapsedMs)));
    QTRY_COMPARE(peer.received, requestSent ? QByteArray("^ORSA_MAIN^LOGIN\r\n") : QByteArray());
}

void tst_ForcedLogout::clientAgainstClosedPortFailsFast()
{
    quint16 port = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress(Loopback), 0));
        port = probe.serverPort();
    }
    ForcedLogoutClient client;
    client.setPort(port);
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!client.requestLogout(Loopback));
    QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(!client.lastError().isEmpty());
}

void tst_ForcedLogout::clientRefusesHostNames()
{
    ForcedLogoutClient client;
    QVERIFY(!client.requestLogout(QStringLiteral("localhost")));
    QVERIFY(!client.requestLogout(QString()));
    QVERIFY(!client.requestLogout(QStringLiteral("*127.0.0.1")));
}

void tst_ForcedLogout::server_data()
{
    QTest::addColumn<QList<QByteArray>>("pieces");  // what the peer sends, piece by piece
    QTest::addColumn<bool>("acts");

    using L = QList<QByteArray>;
    QTest::newRow("request") << L{"^ORSA_MAIN^LOGIN\r\n"} << true;
    QTest::newRow("lower-case request") << L{"^orsa_main^login\r\n"} << true;
    QTest::newRow("request with LF alone") << L{"^ORSA_MAIN^LOGIN\n"} << true;
    QTest::newRow("request in pieces") << L{"^ORSA_", "MAIN^LO", "GIN\r", "\n"} << true;
    QTest::newRow("wrong first line") << L{"GET / HTTP/1.0\r\n"} << false;
    QTest::newRow("greeting sent back") << L{"^ORSA_MAIN^\r\n"} << false;
    QTest::newRow("wrong first line, then the request")
        << L{"HELLO\r\n^ORSA_MAIN^LOGIN\r\n"} << false;
    QTest::newRow("16385-byte line") << L{longLine(16385) + "\r\n"} << false;
    QTest::newRow("endless line without LF") << L{longLine(10000), longLine(10000)} << false;
}

void tst_ForcedLogout::server()
{
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(bool, acts);

    RecordingHandler handler;
    ForcedLogoutServer server(handler);
    QVERIFY(server.listen(0));
    RawPeer peer(server.serverPort());
    QTRY_COMPARE(peer.received, QByteArray("^ORSA_MAIN^\r\n"));
    for (const QByteArray &piece : pieces) {
        peer.send(piece);
        QTest::qWait(20);
    }
    QTRY_VERIFY(peer.closedByServer);
    if (acts) {
        QCOMPARE(peer.received, QByteArray("^ORSA_MAIN^\r\n^ORSA_MAIN^REQ_OK\r\n"));
        QTRY_COMPARE(handler.events,
                     QStringList({QStringLiteral("forcedLogout"), QStringLiteral("afterForcedLogout")}));
    } else {
        QTest::qWait(100);
        QCOMPARE(peer.received, QByteArray("^ORSA_MAIN^\r\n"));
        QCOMPARE(handler.events, QStringList());
    }
    QTRY_COMPARE(server.connectionCount(), 0);
}

void tst_ForcedLogout::serverClosesSilentConnection()
{
    RecordingHandler handler;
    ForcedLogoutServer server(handler);
    server.setRequestTimeout(300);
    QVERIFY(server.listen(0));

    RawPeer silent(server.serverPort());
    RawPeer halfLine(server.serverPort());
    QTRY_COMPARE(halfLine.received, QByteArray("^ORSA_MAIN^\r\n"));
    halfLine.send("^ORSA_MAIN^LOG");
    QElapsedTimer timer;
    timer.start();
    QTRY_VERIFY_WITH_TIMEOUT(silent.closedByServer && halfLine.closedByServer, 3000);
    QVERIFY(timer.elapsed() >= 200);
    QCOMPARE(handler.events, QStringList());
    QCOMPARE(server.connectionCount(), 0);
}

void tst_ForcedLogout::acknowledgementOnlyAfterLogout()
{
    RecordingHandler handler;
    ForcedLogoutServer server(handler);
    QVERIFY(server.listen(0));
    RawPeer peer(server.serverPort());
    QTRY_COMPARE(peer.received, QByteArray("^ORSA_MAIN^\r\n"));

    // Inside the logout, nothing more may have reached the peer: this blocks the thread the
    // server runs on, so only bytes written before the call could arrive.
    bool earlyBytes = true;
    handler.onForcedLogout = [&] {
        earlyBytes = peer.socket.waitForReadyRead(300) || peer.socket.bytesAvailable() > 0
                     || peer.received != "^ORSA_MAIN^\r\n";
        QVERIFY(!handler.events.contains(QStringLiteral("afterForcedLogout")));
    };
    peer.send("^ORSA_MAIN^LOGIN\r\n");
    QTRY_COMPARE(handler.count(QStringLiteral("forcedLogout")), 1);
    QVERIFY(!earlyBytes);
    QTRY_COMPARE(peer.received, QByteArray("^ORSA_MAIN^\r\n^ORSA_MAIN^REQ_OK\r\n"));
    QTRY_COMPARE(handler.events.last(), QStringLiteral("afterForcedLogout"));
}

void tst_ForcedLogout::busyShellDefersRequest()
{
    RecordingHandler handler;
    handler.isBusy = true;
    ForcedLogoutServer server(handler);
    server.setBusyRetryInterval(20);
    QVERIFY(server.listen(0));
    RawPeer peer(server.serverPort());
    QTRY_COMPARE(peer.received, QByteArray("^ORSA_MAIN^\r\n"));
    peer.send("^ORSA_MAIN^LOGIN\r\n");

    QTRY_VERIFY(handler.busyQueries >= 3);  // it keeps looking while the operation goes on
    QTest::qWait(200);
    QCOMPARE(handler.events, QStringList());
    QCOMPARE(peer.received, QByteArray("^ORSA_MAIN^\r\n"));

    handler.isBusy = false;
    QTRY_COMPARE(peer.received, QByteArray("^ORSA_MAIN^\r\n^ORSA_MAIN^REQ_OK\r\n"));
    QCOMPARE(handler.count(QStringLiteral("forcedLogout")), 1);
    QVERIFY(!handler.calledWhileBusy);
}

void tst_ForcedLogout::failedLogoutGivesNoAcknowledgement()
{
    RecordingHandler handler;
    handler.logoutSucceeds = false;
    ForcedLogoutServer server(handler);
    QVERIFY(server.listen(0));
    RawPeer peer(server.serverPort());
    QTRY_COMPARE(peer.received, QByteArray("^ORSA_MAIN^\r\n"));
    peer.send("^ORSA_MAIN^LOGIN\r\n");
    QTRY_VERIFY(peer.closedByServer);
    QTest::qWait(100);
    QCOMPARE(peer.received, QByteArray("^ORSA_MAIN^\r\n"));
    QCOMPARE(handler.events, QStringList({QStringLiteral("forcedLogout")}));
}

void tst_ForcedLogout::requestDroppedWhenPeerGaveUp()
{
    RecordingHandler handler;
    handler.isBusy = true;
    ForcedLogoutServer server(handler);
    server.setBusyRetryInterval(20);
    QVERIFY(server.listen(0));
    {
        RawPeer peer(server.serverPort());
        QTRY_COMPARE(peer.received, QByteArray("^ORSA_MAIN^\r\n"));
        peer.send("^ORSA_MAIN^LOGIN\r\n");
        QTest::qWait(100);
        peer.socket.abort();
    }
    QTRY_COMPARE(server.connectionCount(), 0);
    handler.isBusy = false;
    QTest::qWait(200);
    QCOMPARE(handler.events, QStringList());
}

void tst_ForcedLogout::queuedRequestBoundToItsSession_data()
{
    QTest::addColumn<bool>("sessionChanges");    // a login begins or ends while it waits
    QTest::addColumn<int>("busyMs");             // how long the shell stays busy
    QTest::addColumn<QByteArray>("answer");      // what the requester reads after the greeting
    QTest::addColumn<QStringList>("events");
    const QStringList acted = {QStringLiteral("forcedLogout"), QStringLiteral("afterForcedLogout")};
    QTest::newRow("same login") << false << 100 << QByteArray("^ORSA_MAIN^REQ_OK\r\n") << acted;
    // Declined: the requester closes the old record itself if it is still open.
    QTest::newRow("another login began") << true << 100 << QByteArray() << QStringList();
    QTest::newRow("waited past the limit") << false << 1500 << QByteArray() << QStringList();
}

void tst_ForcedLogout::queuedRequestBoundToItsSession()
{
    QFETCH(bool, sessionChanges);
    QFETCH(int, busyMs);
    QFETCH(QByteArray, answer);
    QFETCH(QStringList, events);

    RecordingHandler handler;
    handler.session = 7;
    handler.isBusy = true;
    ForcedLogoutServer server(handler);
    server.setBusyRetryInterval(20);
    server.setQueueLimit(600);
    QVERIFY(server.listen(0));
    RawPeer peer(server.serverPort());
    QTRY_COMPARE(peer.received, QByteArray("^ORSA_MAIN^\r\n"));
    peer.send("^ORSA_MAIN^LOGIN\r\n");
    QTest::qWait(50);
    if (sessionChanges)
        handler.session = 8;
    QTimer::singleShot(busyMs, this, [&] { handler.isBusy = false; });

    QTRY_VERIFY(peer.closedByServer);
    QCOMPARE(peer.received, QByteArray("^ORSA_MAIN^\r\n") + answer);
    QTRY_COMPARE(handler.events, events);
    QTest::qWait(busyMs + 100);
    QCOMPARE(handler.events, events);
}

void tst_ForcedLogout::connectionsBounded()
{
    RecordingHandler handler;
    ForcedLogoutServer server(handler);
    server.setMaxConnections(2);
    QVERIFY(server.listen(0));

    auto first = std::make_unique<RawPeer>(server.serverPort());
    QTRY_COMPARE(first->received, QByteArray("^ORSA_MAIN^\r\n"));
    auto second = std::make_unique<RawPeer>(server.serverPort());
    QTRY_COMPARE(second->received, QByteArray("^ORSA_MAIN^\r\n"));
    RawPeer third(server.serverPort());
    QTRY_VERIFY(third.closedByServer);
    QCOMPARE(third.received, QByteArray());
    QCOMPARE(server.connectionCount(), 2);

    first.reset();
    QTRY_COMPARE(server.connectionCount(), 1);
    RawPeer fourth(server.serverPort());
    QTRY_COMPARE(fourth.received, QByteArray("^ORSA_MAIN^\r\n"));
    fourth.send("^ORSA_MAIN^LOGIN\r\n");
    QTRY_COMPARE(fourth.received, QByteArray("^ORSA_MAIN^\r\n^ORSA_MAIN^REQ_OK\r\n"));
}

// Another workstation that floods the port fills it only for itself: a request from this one
// (on another network: addresses of one /24 count together) still gets through.
void tst_ForcedLogout::floodingAddressCrowdsOutOnlyItself()
{
    RecordingHandler handler;
    ForcedLogoutServer server(handler);
    server.setMaxConnections(2);
    QVERIFY(server.listen(0));
    const QString flooder = QStringLiteral("127.0.3.3");

    RawPeer first(server.serverPort(), flooder);
    QTRY_COMPARE(first.received, QByteArray("^ORSA_MAIN^\r\n"));
    RawPeer second(server.serverPort(), flooder);
    QTRY_COMPARE(second.received, QByteArray("^ORSA_MAIN^\r\n"));
    RawPeer third(server.serverPort(), flooder);
    QTRY_VERIFY(third.closedByServer);
    QCOMPARE(third.received, QByteArray());

    RawPeer real(server.serverPort());
    QTRY_COMPARE(real.received, QByteArray("^ORSA_MAIN^\r\n"));
    real.send("^ORSA_MAIN^LOGIN\r\n");
    QTRY_COMPARE(real.received, QByteArray("^ORSA_MAIN^\r\n^ORSA_MAIN^REQ_OK\r\n"));
    // The flooder's oldest connection made the room.
    QTRY_VERIFY(first.closedByServer);
    QVERIFY(!second.closedByServer);
}

// Eight addresses of one network, one connection each, hold every place: a request from another
// network still takes the place of one of them.
void tst_ForcedLogout::floodingNetworkCrowdsOutOnlyItself()
{
    RecordingHandler handler;
    ForcedLogoutServer server(handler);
    QVERIFY(server.listen(0));
    std::vector<std::unique_ptr<RawPeer>> flooders;
    for (int i = 1; i <= ForcedLogoutServer::DefaultMaxConnections; ++i) {
        flooders.push_back(std::make_unique<RawPeer>(server.serverPort(), QStringLiteral("127.0.3.%1").arg(i)));
        QTRY_COMPARE(flooders.back()->received, QByteArray("^ORSA_MAIN^\r\n"));
    }
    QCOMPARE(server.connectionCount(), ForcedLogoutServer::DefaultMaxConnections);

    RawPeer real(server.serverPort(), QStringLiteral("127.0.4.1"));
    QTRY_COMPARE(real.received, QByteArray("^ORSA_MAIN^\r\n"));
    real.send("^ORSA_MAIN^LOGIN\r\n");
    QTRY_COMPARE(real.received, QByteArray("^ORSA_MAIN^\r\n^ORSA_MAIN^REQ_OK\r\n"));
    QTRY_VERIFY(flooders.front()->closedByServer);
}

void tst_ForcedLogout::allowList_data()
{
    QTest::addColumn<QString>("allow");
    QTest::addColumn<QString>("from");
    QTest::addColumn<bool>("acts");
    QTest::newRow("inside a listed network") << u"127.0.6.0/24, 127.0.5.0/24"_s << u"127.0.5.7"_s << true;
    QTest::newRow("a listed address") << u"127.0.5.7"_s << u"127.0.5.7"_s << true;
    QTest::newRow("outside every entry") << u"127.0.6.0/24, 127.0.5.8"_s << u"127.0.5.7"_s << false;
}

// A workstation outside the list is not even greeted: the connection closes at once, nothing
// is done here, and the requester takes it for a shell that does not answer.
void tst_ForcedLogout::allowList()
{
    QFETCH(QString, allow);
    QFETCH(QString, from);
    QFETCH(bool, acts);

    const std::optional<PeerAllowList> list = PeerAllowList::parse(allow);
    QVERIFY(list);
    LogCapture log;
    RecordingHandler handler;
    ForcedLogoutServer server(handler);
    server.setAllowList(*list);
    QVERIFY(server.listen(0));
    RawPeer peer(server.serverPort(), from);
    if (acts) {
        QTRY_COMPARE(peer.received, QByteArray("^ORSA_MAIN^\r\n"));
        peer.send("^ORSA_MAIN^LOGIN\r\n");
        QTRY_COMPARE(peer.received, QByteArray("^ORSA_MAIN^\r\n^ORSA_MAIN^REQ_OK\r\n"));
        QCOMPARE(log.linesWith({from, u"acted on"_s}).size(), 1);
    } else {
        QTRY_VERIFY(peer.closedByServer);
        peer.send("^ORSA_MAIN^LOGIN\r\n");
        QTest::qWait(100);
        QCOMPARE(peer.received, QByteArray());
        QCOMPARE(handler.events, QStringList());
        QCOMPARE(log.linesWith({from, u"refused"_s}).size(), 1);
    }
}

// Peers reach the shell at its IPv4 LOGIN_IP; a port also open on IPv6 would slip past a
// firewall written for IPv4.
void tst_ForcedLogout::listensOnIpv4Only()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHostIPv6, 0))
        QSKIP("no IPv6 loopback on this machine");
    probe.close();
    RecordingHandler handler;
    ForcedLogoutServer server(handler);
    QVERIFY(server.listen(0));
    QTcpSocket overIpv6;
    overIpv6.connectToHost(QHostAddress::LocalHostIPv6, server.serverPort());
    QVERIFY(!overIpv6.waitForConnected(3000));
    QCOMPARE(overIpv6.error(), QAbstractSocket::ConnectionRefusedError);
    RawPeer overIpv4(server.serverPort());
    QTRY_COMPARE(overIpv4.received, QByteArray("^ORSA_MAIN^\r\n"));
}

void tst_ForcedLogout::portInUseGivesReason()
{
    QTcpServer occupant;
    QVERIFY(occupant.listen(QHostAddress::Any, 0));
    RecordingHandler handler;
    ForcedLogoutServer server(handler);
    QString error;
    QVERIFY(!server.listen(occupant.serverPort(), &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!server.isListening());
}

void tst_ForcedLogout::clientAndServer()
{
    RecordingHandler handler;
    handler.isBusy = true;
    ForcedLogoutServer server(handler);
    server.setBusyRetryInterval(20);
    QVERIFY(server.listen(0));
    // The shell stays busy for a while after the request came: the client keeps waiting.
    QTimer::singleShot(300, this, [&] { handler.isBusy = false; });

    ForcedLogoutClient client;
    client.setPort(server.serverPort());
    const ClientOutcome outcome = runClient(client, Loopback);
    QVERIFY2(outcome.acknowledged, qPrintable(client.lastError()));
    QVERIFY(outcome.elapsedMs >= 250);
    QTRY_COMPARE(handler.events,
                 QStringList({QStringLiteral("forcedLogout"), QStringLiteral("afterForcedLogout")}));
}

namespace {

// One shell: its own thread stands in for its user-interface thread, with the server on it and
// the client blocking it.
class ShellThread : public QThread
{
public:
    ShellThread(QSemaphore &ready, QSemaphore &go) : m_ready(ready), m_go(go) {}

    std::atomic<quint16> port{0};
    std::atomic<quint16> peerPort{0};
    std::atomic<bool> acknowledged{false};
    std::atomic<int> logouts{0};
    std::atomic<qint64> requestMs{0};

protected:
    void run() override
    {
        class Handler : public ForcedLogoutHandler
        {
        public:
            explicit Handler(std::atomic<int> &logouts) : m_logouts(logouts) {}
            quint64 currentSession() const override { return 0; }
            bool busy() const override { return false; }
            bool forcedLogout() override
            {
                ++m_logouts;
                return true;
            }
            void afterForcedLogout() override {}

        private:
            std::atomic<int> &m_logouts;
        } handler(logouts);
        ForcedLogoutServer server(handler);
        if (server.listen(0))
            port = server.serverPort();
        m_ready.release();
        m_go.acquire();

        ForcedLogoutClient client;
        client.setPort(peerPort);
        client.setReadTimeout(500);
        QElapsedTimer timer;
        timer.start();
        acknowledged = client.requestLogout(Loopback);
        requestMs = timer.elapsed();

        // Back in the event loop: the request that waited meanwhile is served.
        QEventLoop loop;
        QTimer::singleShot(1500, &loop, &QEventLoop::quit);
        loop.exec();
    }

private:
    QSemaphore &m_ready;
    QSemaphore &m_go;
};

} // namespace

void tst_ForcedLogout::twoShellsAskingEachOtherBothFinish()
{
    QSemaphore ready;
    QSemaphore go;
    ShellThread a(ready, go);
    ShellThread b(ready, go);
    a.start();
    b.start();
    ready.acquire(2);
    QVERIFY(a.port != 0 && b.port != 0);
    a.peerPort = b.port.load();
    b.peerPort = a.port.load();
    go.release(2);
    QVERIFY(a.wait(10000));
    QVERIFY(b.wait(10000));

    // Neither waits longer than its bounds; whichever side got its answer was really served.
    QVERIFY2(a.requestMs < 2000, qPrintable(QString::number(a.requestMs)));
    QVERIFY2(b.requestMs < 2000, qPrintable(QString::number(b.requestMs)));
    if (a.acknowledged)
        QCOMPARE(b.logouts.load(), 1);
    if (b.acknowledged)
        QCOMPARE(a.logouts.load(), 1);
    QVERIFY(a.logouts <= 1 && b.logouts <= 1);
}

QTEST_GUILESS_MAIN(tst_ForcedLogout)
#include "tst_forcedlogout.moc"
