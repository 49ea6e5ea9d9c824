// A TCP proxy on loopback that stands for the link between a resort's site and the head
// office's database. Every piece of bytes is held for --delay milliseconds in each direction
// (the kernel here has no netem), and a new connection waits --handshake milliseconds before
// its first bytes go on, as a TCP handshake over such a link would. When a connection ends, one
// line goes to the --log file: the round trips it took (how often the server answered after the
// client had sent something), its bytes each way and its duration.
//
//   bench_wireproxy --to unix:/tmp/pg/.s.PGSQL.54320 --delay 10 --handshake 20
//       --port-file proxy.port --log proxy.log
//
// The port it listens on (on 127.0.0.1, chosen by the system) is written to the port file.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <utility>

namespace {

QElapsedTimer clockSinceStart;

struct Settings
{
    QString target;
    int delayMs = 0;
    int handshakeMs = 0;
    QString logPath;
};

// One direction of a connection: pieces wait in order until they are due.
class Direction : public QObject
{
public:
    Direction(QIODevice *to, std::function<bool()> ready) : m_to(to), m_ready(std::move(ready))
    {
        m_timer.setSingleShot(true);
        connect(&m_timer, &QTimer::timeout, this, [this] { pump(); });
    }

    void push(const QByteArray &bytes, qint64 due)
    {
        m_queue.append({due, bytes});
        pump();
    }

    void pump()
    {
        const qint64 now = clockSinceStart.elapsed();
        while (!m_queue.isEmpty() && m_queue.first().first <= now && m_ready()) {
            m_to->write(m_queue.takeFirst().second);
        }
        if (!m_queue.isEmpty() && m_ready())
            m_timer.start(int(std::max<qint64>(0, m_queue.first().first - now)));
        if (m_queue.isEmpty() && m_drained) {
            // Called once; it may end the connection and this direction with it.
            const std::function<void()> drained = std::exchange(m_drained, nullptr);
            drained();
        }
    }

    bool empty() const { return m_queue.isEmpty(); }
    qint64 lastDue() const { return m_queue.isEmpty() ? 0 : m_queue.last().first; }
    std::function<void()> m_drained;

private:
    QIODevice *m_to;
    std::function<bool()> m_ready;
    QList<QPair<qint64, QByteArray>> m_queue;
    QTimer m_timer;
};

class Link : public QObject
{
public:
    Link(QTcpSocket *client, const Settings &settings) : m_client(client), m_settings(settings)
    {
        m_client->setParent(this);
        m_accepted = clockSinceStart.elapsed();
        // Both directions exist before the connection to the server is asked for: a local
        // socket may be connected at once, inside the call.
        QLocalSocket *local = nullptr;
        QTcpSocket *tcp = nullptr;
        if (settings.target.startsWith(QLatin1String("unix:")))
            m_server = local = new QLocalSocket(this);
        else
            m_server = tcp = new QTcpSocket(this);
        m_up = new Direction(m_server, [this] { return m_serverUp; });
        m_up->setParent(this);
        m_down = new Direction(m_client, [] { return true; });
        m_down->setParent(this);
        if (local) {
            connect(local, &QLocalSocket::connected, this, [this] { serverConnected(); });
            connect(local, &QLocalSocket::readyRead, this, [this] { fromServer(); });
            connect(local, &QLocalSocket::disconnected, this, [this] { serverGone(); });
            connect(local, &QLocalSocket::errorOccurred, this, [this] { serverGone(); });
            local->connectToServer(settings.target.mid(5));
        } else {
            const QStringList parts = settings.target.mid(4).split(u':');
            connect(tcp, &QTcpSocket::connected, this, [this] { serverConnected(); });
            connect(tcp, &QTcpSocket::readyRead, this, [this] { fromServer(); });
            connect(tcp, &QTcpSocket::disconnected, this, [this] { serverGone(); });
            connect(tcp, &QTcpSocket::errorOccurred, this, [this] { serverGone(); });
            tcp->connectToHost(parts.value(0), quint16(parts.value(1).toUInt()));
        }
        connect(m_client, &QTcpSocket::readyRead, this, [this] { fromClient(); });
        connect(m_client, &QTcpSocket::disconnected, this, [this] { clientGone(); });
    }

private:
    void serverConnected()
    {
        m_serverUp = true;
        m_up->pump();
    }

    void fromClient()
    {
        const QByteArray bytes = m_client->readAll();
        m_bytesUp += bytes.size();
        m_lastFromClient = true;
        const qint64 start = std::max(clockSinceStart.elapsed(), m_accepted + m_settings.handshakeMs);
        m_up->push(bytes, start + m_settings.delayMs);
    }

    void fromServer()
    {
        const QByteArray bytes = m_server->readAll();
        m_bytesDown += bytes.size();
        if (m_lastFromClient)
            ++m_rounds;
        m_lastFromClient = false;
        m_down->push(bytes, clockSinceStart.elapsed() + m_settings.delayMs);
    }

    void clientGone()
    {
        if (m_clientGone)
            return;
        m_clientGone = true;
        // What the client sent last still reaches the server, late as everything else.
        m_up->m_drained = [this] { closeServer(); };
        m_up->pump();
    }

    void serverGone()
    {
        if (m_serverGone)
            return;
        m_serverGone = true;
        m_down->m_drained = [this] { closeClient(); };
        m_down->pump();
    }

    void closeServer()
    {
        if (auto *local = qobject_cast<QLocalSocket *>(m_server))
            local->disconnectFromServer();
        else if (auto *tcp = qobject_cast<QTcpSocket *>(m_server))
            tcp->disconnectFromHost();
        m_serverGone = true;
        finish();
    }

    void closeClient()
    {
        m_client->disconnectFromHost();
        m_clientGone = true;
        finish();
    }

    void finish()
    {
        if (m_logged || !m_clientGone || !m_serverGone)
            return;
        m_logged = true;
        QFile log(m_settings.logPath);
        if (log.open(QIODevice::Append)) {
            log.write(QStringLiteral("rounds=%1 up=%2 down=%3 ms=%4\n")
                          .arg(m_rounds)
                          .arg(m_bytesUp)
                          .arg(m_bytesDown)
                          .arg(clockSinceStart.elapsed() - m_accepted)
                          .toUtf8());
        }
        deleteLater();
    }

    QTcpSocket *m_client;
    QIODevice *m_server = nullptr;
    Settings m_settings;
    Direction *m_up = nullptr;
    Direction *m_down = nullptr;
    qint64 m_accepted = 0;
    bool m_serverUp = false;
    bool m_lastFromClient = false;
    bool m_clientGone = false;
    bool m_serverGone = false;
    bool m_logged = false;
    int m_rounds = 0;
    qint64 m_bytesUp = 0;
    qint64 m_bytesDown = 0;
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    clockSinceStart.start();
    QCommandLineParser parser;
    parser.addOptions({{QStringLiteral("to"), QStringLiteral("unix:PATH or tcp:HOST:PORT"), QStringLiteral("target")},
                       {QStringLiteral("delay"), QStringLiteral("ms each way"), QStringLiteral("ms"), QStringLiteral("0")},
                       {QStringLiteral("handshake"), QStringLiteral("ms before a new connection's first bytes"), QStringLiteral("ms"), QStringLiteral("0")},
                       {QStringLiteral("port-file"), QStringLiteral("where the port goes"), QStringLiteral("file")},
                       {QStringLiteral("log"), QStringLiteral("one line per connection"), QStringLiteral("file")}});
    parser.process(app);
    Settings settings;
    settings.target = parser.value(QStringLiteral("to"));
    settings.delayMs = parser.value(QStringLiteral("delay")).toInt();
    settings.handshakeMs = parser.value(QStringLiteral("handshake")).toInt();
    settings.logPath = parser.value(QStringLiteral("log"));
    if (settings.target.isEmpty() || settings.logPath.isEmpty() || !parser.isSet(QStringLiteral("port-file"))) {
        std::fprintf(stderr, "usage: bench_wireproxy --to unix:PATH|tcp:HOST:PORT [--delay MS] "
                             "[--handshake MS] --port-file FILE --log FILE\n");
        return 2;
    }

    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0)) {
        std::fprintf(stderr, "bench_wireproxy: %s\n", qPrintable(server.errorString()));
        return 1;
    }
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        while (QTcpSocket *client = server.nextPendingConnection())
            new Link(client, settings);
    });
    QFile portFile(parser.value(QStringLiteral("port-file")));
    if (!portFile.open(QIODevice::WriteOnly)
        || portFile.write(QByteArray::number(server.serverPort()) + '\n') < 0) {
        std::fprintf(stderr, "bench_wireproxy: cannot write %s\n", qPrintable(portFile.fileName()));
        return 1;
    }
    portFile.close();
    return app.exec();
}
