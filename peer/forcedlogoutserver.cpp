#include "forcedlogoutserver.h"

#include "forcedlogouthandler.h"
#include "forcedlogoutprotocol.h"

#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace P = ForcedLogoutProtocol;

// One accepted connection: greeted, waiting for the request, then either handed to the server
// to be carried out or closed.
class ForcedLogoutServer::Connection : public QObject
{
public:
    enum class State { WaitingForRequest, RequestQueued, Closed };

    Connection(ForcedLogoutServer &server, QTcpSocket *socket)
        : QObject(&server), m_server(server), m_socket(socket)
    {
        m_socket->setParent(this);
        connect(m_socket, &QTcpSocket::readyRead, this, [this] { readRequest(); });
        connect(m_socket, &QTcpSocket::disconnected, this, [this] { peerClosed(); });
        connect(m_socket, &QTcpSocket::errorOccurred, this, [this] { peerClosed(); });
        m_timer.setSingleShot(true);
        connect(&m_timer, &QTimer::timeout, this, [this] { close(); });
        m_timer.start(server.m_requestTimeoutMs);
        // The requester decided to ask on what it read before it connected: its request is
        // meant for the login held now, not for one that begins while its line is on the way.
        m_session = server.m_handler.currentSession();
        m_socket->write(P::encodeLine(P::greeting()));
        // Bytes that came with the connection itself are read at once.
        if (m_socket->bytesAvailable() > 0)
            QTimer::singleShot(0, this, [this] { readRequest(); });
    }

    State state() const { return m_state; }
    // The login that was held when the requester was greeted.
    quint64 session() const { return m_session; }
    qint64 queuedMs() const { return m_queued.elapsed(); }
    // The requester still waits for the answer.
    bool requesterWaiting() const { return m_socket->state() == QAbstractSocket::ConnectedState; }
    QHostAddress peerAddress() const { return m_socket->peerAddress(); }

    // The logout is recorded: tell the peer, if it is still there.
    void acknowledge()
    {
        if (m_socket->state() == QAbstractSocket::ConnectedState) {
            m_socket->write(P::encodeLine(P::acknowledgement()));
            m_socket->flush();
        }
        close();
    }

    // Ends the connection without anything more. Gracefully, the written bytes still go out.
    void close(bool graceful = true)
    {
        if (m_state == State::Closed)
            return;
        m_state = State::Closed;
        m_timer.stop();
        m_socket->disconnect(this);
        if (graceful && m_socket->state() == QAbstractSocket::ConnectedState) {
            // The socket goes when its last bytes are out or after a short bound.
            QTcpSocket *socket = m_socket;
            socket->setParent(nullptr);
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            QTimer::singleShot(5000, socket, [socket] { socket->abort(); socket->deleteLater(); });
            socket->disconnectFromHost();
        } else {
            m_socket->abort();
        }
        m_server.forget(this);
        deleteLater();
    }

private:
    void readRequest()
    {
        if (m_state != State::WaitingForRequest) {
            m_socket->readAll();
            return;
        }
        m_reader.append(m_socket->readAll());
        QByteArray line;
        switch (m_reader.takeLine(&line)) {
        case P::LineReader::Result::NeedMore:
            return;
        case P::LineReader::Result::TooLong:
            close();
            return;
        case P::LineReader::Result::Line:
            break;
        }
        m_timer.stop();
        if (!P::matches(line, P::request())) {
            close();
            return;
        }
        m_state = State::RequestQueued;
        m_queued.start();
        m_server.enqueue(this);
    }

    void peerClosed()
    {
        if (m_state == State::WaitingForRequest)
            readRequest();
        // A requester that has gone no longer waits for the answer: it has closed the login
        // record itself, and acting now could only throw out a login that began meanwhile.
        close();
    }

    ForcedLogoutServer &m_server;
    QTcpSocket *m_socket;
    P::LineReader m_reader;
    QTimer m_timer;
    State m_state = State::WaitingForRequest;
    quint64 m_session = 0;
    QElapsedTimer m_queued;
};

ForcedLogoutServer::ForcedLogoutServer(ForcedLogoutHandler &handler, QObject *parent)
    : QObject(parent), m_handler(handler), m_server(std::make_unique<QTcpServer>()),
      m_workTimer(std::make_unique<QTimer>())
{
    m_workTimer->setSingleShot(true);
    connect(m_workTimer.get(), &QTimer::timeout, this, &ForcedLogoutServer::carryOutRequests);
    connect(m_server.get(), &QTcpServer::newConnection, this,
            &ForcedLogoutServer::acceptConnections);
}

ForcedLogoutServer::~ForcedLogoutServer()
{
    close();
}

bool ForcedLogoutServer::listen(quint16 port, QString *error)
{
    if (m_server->isListening())
        m_server->close();
    if (m_server->listen(QHostAddress::Any, port))
        return true;
    if (error)
        *error = m_server->errorString();
    return false;
}

void ForcedLogoutServer::close()
{
    m_server->close();
    m_workTimer->stop();
    m_requests.clear();
    const QList<QPointer<Connection>> open = m_connections;
    for (const QPointer<Connection> &connection : open) {
        if (connection)
            connection->close(false);
    }
    m_connections.clear();
}

bool ForcedLogoutServer::isListening() const
{
    return m_server->isListening();
}

quint16 ForcedLogoutServer::serverPort() const
{
    return m_server->serverPort();
}

int ForcedLogoutServer::connectionCount() const
{
    int count = 0;
    for (const QPointer<Connection> &connection : m_connections) {
        if (connection)
            ++count;
    }
    return count;
}

void ForcedLogoutServer::acceptConnections()
{
    while (m_server->hasPendingConnections()) {
        QTcpSocket *socket = m_server->nextPendingConnection();
        if (!socket)
            break;
        if (connectionCount() >= m_maxConnections && !makeRoomFor(socket->peerAddress())) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        m_connections.append(new Connection(*this, socket));
    }
}

bool ForcedLogoutServer::makeRoomFor(const QHostAddress &newcomer)
{
    // A workstation that floods the port must crowd out only itself: a newcomer from an address
    // that holds fewer connections than the busiest one takes the place of that address's
    // oldest connection still waiting for its request. Requests already received are kept.
    QHash<QString, int> perAddress;
    for (const QPointer<Connection> &connection : std::as_const(m_connections)) {
        if (connection)
            ++perAddress[connection->peerAddress().toString()];
    }
    QString busiest;
    int most = 0;
    for (auto it = perAddress.cbegin(); it != perAddress.cend(); ++it) {
        if (it.value() > most) {
            most = it.value();
            busiest = it.key();
        }
    }
    if (perAddress.value(newcomer.toString()) + 1 >= most)
        return false;
    Connection *oldest = nullptr;
    for (const QPointer<Connection> &connection : std::as_const(m_connections)) {
        if (connection && connection->state() == Connection::State::WaitingForRequest
            && connection->peerAddress().toString() == busiest) {
            oldest = connection;
            break;
        }
    }
    if (!oldest)
        return false;
    oldest->close(false);
    return true;
}

void ForcedLogoutServer::enqueue(Connection *connection)
{
    m_requests.append(connection);
    // Carried out from the event loop, never from inside the socket's signal.
    if (!m_workTimer->isActive())
        m_workTimer->start(0);
}

void ForcedLogoutServer::forget(Connection *connection)
{
    m_connections.removeAll(QPointer<Connection>(connection));
    m_requests.removeAll(QPointer<Connection>(connection));
}

void ForcedLogoutServer::carryOutRequests()
{
    // Requests whose requester has gone or has waited too long are dropped unanswered.
    const QList<QPointer<Connection>> queued = m_requests;
    for (const QPointer<Connection> &connection : queued) {
        if (connection && (!connection->requesterWaiting() || connection->queuedMs() >= m_queueLimitMs))
            connection->close(false);
    }
    m_requests.removeAll(QPointer<Connection>());
    if (m_requests.isEmpty()) {
        if (m_waitingForHandler) {
            m_waitingForHandler = false;
            m_handler.evictionWithdrawn();
        }
        return;
    }
    // The handler's own work may run nested event loops (closing programs, message boxes);
    // a second request waits until the first one's logout is done.
    if (m_acting || m_handler.busy()) {
        m_workTimer->start(m_busyRetryMs);
        return;
    }
    if (m_requests.first()->session() != m_handler.currentSession()) {
        // The login the request was meant for has ended, or another one has begun: nothing is
        // done here, and the requester, declined, closes the record itself if it is still
        // open. The new login is left alone.
        m_requests.takeFirst()->close();
    } else if (!m_handler.readyToEvict()) {
        // Windows of the shell are open: they are being ended, and the request waits for them.
        m_waitingForHandler = true;
        m_workTimer->start(m_busyRetryMs);
        return;
    } else {
        m_waitingForHandler = false;
        const QPointer<Connection> connection = m_requests.takeFirst();
        m_acting = true;
        const bool loggedOut = m_handler.forcedLogout();
        m_acting = false;
        if (loggedOut) {
            if (connection)
                connection->acknowledge();
            // The message and the new login come after the acknowledgement is on its way; the
            // peer reads nothing more, so they need not wait for the connection.
            QTimer::singleShot(0, this, [this] { m_handler.afterForcedLogout(); });
        } else if (connection) {
            connection->close();
        }
    }
    if (!m_requests.isEmpty() && !m_workTimer->isActive())
        m_workTimer->start(0);
}
