#include "forcedlogoutserver.h"

#include "forcedlogouthandler.h"
#include "forcedlogoutprotocol.h"
#include "shared/logcategories.h"

#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

namespace P = ForcedLogoutProtocol;

using Request = ForcedLogoutServer::Request;

// The listener's side: accepts, greets, reads and answers on its own thread. Everything in this
// class runs on that thread.
class ForcedLogoutServer::Listener : public QObject
{
public:
    class Connection;

    Listener(ForcedLogoutServer &server, ForcedLogoutHandler &handler,
             std::shared_ptr<Settings> settings)
        : m_server(&server), m_handler(handler), m_settings(std::move(settings))
    {
    }
    ~Listener() override
    {
        close();
        // Sockets still sending their last bytes go with the listener.
        for (const QPointer<QTcpSocket> &socket : std::as_const(m_lingering))
            delete socket.data();
    }

    bool listen(quint16 port, QString *error);
    void close();
    void setAllowList(const PeerAllowList &allowList) { m_allowList = allowList; }
    // The user-interface thread has carried the request out (or declined it).
    void answer(quint64 connection, bool acknowledge);

private:
    friend class Connection;

    void acceptConnections();
    // Who may take a place when all of them are taken: the accept-time policy.
    bool makeRoomFor(const QHostAddress &newcomer);
    void forget(Connection *connection);
    void countConnections() { m_settings->connections = int(m_connections.size()); }

    QPointer<ForcedLogoutServer> m_server;   // read only to post to it
    ForcedLogoutHandler &m_handler;
    std::shared_ptr<Settings> m_settings;
    std::unique_ptr<QTcpServer> m_tcpServer;
    QList<Connection *> m_connections;
    QList<QPointer<QTcpSocket>> m_lingering;
    quint64 m_nextNumber = 1;
    PeerAllowList m_allowList;
};

// One accepted connection: greeted, waiting for the request, then either handed to the
// user-interface thread to be carried out or closed.
class ForcedLogoutServer::Listener::Connection : public QObject
{
public:
    enum class State { WaitingForRequest, RequestQueued, Closed };

    Connection(Listener &listener, QTcpSocket *socket)
        : QObject(&listener), m_listener(listener), m_socket(socket), m_number(listener.m_nextNumber++)
    {
        m_socket->setParent(this);
        m_peer = m_socket->peerAddress();
        connect(m_socket, &QTcpSocket::readyRead, this, [this] { readRequest(); });
        connect(m_socket, &QTcpSocket::disconnected, this, [this] { peerClosed(); });
        connect(m_socket, &QTcpSocket::errorOccurred, this, [this] { peerClosed(); });
        m_timer.setSingleShot(true);
        connect(&m_timer, &QTimer::timeout, this, [this] { timedOut(); });
        m_timer.start(listener.m_settings->requestTimeoutMs.load());
        // The requester decided to ask on what it read before it connected: its request is
        // meant for the login held now, not for one that begins while its line is on the way.
        m_session = listener.m_handler.currentSession();
        m_socket->write(P::encodeLine(P::greeting()));
        // Bytes that came with the connection itself are read at once.
        if (m_socket->bytesAvailable() > 0)
            QTimer::singleShot(0, this, [this] { readRequest(); });
    }

    State state() const { return m_state; }
    quint64 number() const { return m_number; }
    QHostAddress peerAddress() const { return m_peer; }

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
        // A request not yet taken up by the user-interface thread is never carried out now.
        if (m_request)
            m_request->stage.store(Request::Dropped);
        m_socket->disconnect(this);
        if (graceful && m_socket->state() == QAbstractSocket::ConnectedState) {
            // The socket goes when its last bytes are out or after a short bound.
            QTcpSocket *socket = m_socket;
            socket->setParent(nullptr);
            m_listener.m_lingering.removeAll(QPointer<QTcpSocket>());
            m_listener.m_lingering.append(socket);
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            QTimer::singleShot(5000, socket, [socket] { socket->abort(); socket->deleteLater(); });
            socket->disconnectFromHost();
        } else {
            m_socket->abort();
        }
        m_listener.forget(this);
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
        m_request = std::make_shared<Request>();
        m_request->connection = m_number;
        m_request->session = m_session;
        m_request->peer = m_peer.toString();
        // The user-interface thread must take it up while the requester still waits.
        m_timer.start(m_listener.m_settings->queueLimitMs.load());
        if (m_listener.m_server) {
            ForcedLogoutServer *server = m_listener.m_server;
            const std::shared_ptr<Request> request = m_request;
            QMetaObject::invokeMethod(server, [server, request] { server->enqueue(request); },
                                      Qt::QueuedConnection);
        }
    }

    void timedOut()
    {
        // Waiting for the request: closed without acting. Queued: declined unless the
        // user-interface thread is carrying it out already; then its answer is awaited.
        if (m_state == State::RequestQueued) {
            int queued = Request::Queued;
            if (!m_request->stage.compare_exchange_strong(queued, Request::Dropped))
                return;
            qCWarning(lcPeer).noquote() << "forced-logout request from" << m_peer.toString()
                                        << "declined: not taken up while the requester waited";
        }
        close(false);
    }

    void peerClosed()
    {
        if (m_state == State::WaitingForRequest)
            readRequest();
        // A requester that has gone no longer waits for the answer: it has closed the login
        // record itself, and acting now could only throw out a login that began meanwhile.
        close();
    }

    Listener &m_listener;
    QTcpSocket *m_socket;
    quint64 m_number;
    QHostAddress m_peer;
    P::LineReader m_reader;
    QTimer m_timer;
    State m_state = State::WaitingForRequest;
    quint64 m_session = 0;
    std::shared_ptr<Request> m_request;
};

bool ForcedLogoutServer::Listener::listen(quint16 port, QString *error)
{
    if (!m_tcpServer) {
        m_tcpServer = std::make_unique<QTcpServer>();
        connect(m_tcpServer.get(), &QTcpServer::newConnection, this, &Listener::acceptConnections);
    }
    if (m_tcpServer->isListening())
        m_tcpServer->close();
    const bool listening = m_tcpServer->listen(QHostAddress::AnyIPv4, port);
    m_settings->listening = listening;
    m_settings->port = listening ? m_tcpServer->serverPort() : quint16(0);
    if (!listening && error)
        *error = m_tcpServer->errorString();
    return listening;
}

void ForcedLogoutServer::Listener::close()
{
    if (m_tcpServer)
        m_tcpServer->close();
    m_settings->listening = false;
    m_settings->port = 0;
    const QList<Connection *> open = m_connections;
    for (Connection *connection : open)
        connection->close(false);
    m_connections.clear();
    countConnections();
}

void ForcedLogoutServer::Listener::answer(quint64 number, bool acknowledge)
{
    for (Connection *connection : std::as_const(m_connections)) {
        if (connection->number() != number)
            continue;
        if (acknowledge)
            connection->acknowledge();
        else
            connection->close();
        return;
    }
}

void ForcedLogoutServer::Listener::acceptConnections()
{
    while (m_tcpServer->hasPendingConnections()) {
        QTcpSocket *socket = m_tcpServer->nextPendingConnection();
        if (!socket)
            break;
        if (!m_allowList.contains(socket->peerAddress())) {
            qCWarning(lcPeer).noquote() << "connection from" << socket->peerAddress().toString()
                                        << "refused: not allowed by [PEER] ALLOW";
            socket->abort();
            socket->deleteLater();
            continue;
        }
        if (m_connections.size() >= m_settings->maxConnections.load()
            && !makeRoomFor(socket->peerAddress())) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        m_connections.append(new Connection(*this, socket));
        countConnections();
    }
}

bool ForcedLogoutServer::Listener::makeRoomFor(const QHostAddress &newcomer)
{
    // A network that floods the port must crowd out only itself: a newcomer from a group of
    // addresses (PeerAllowList::groupOf) that holds fewer connections than the busiest group
    // takes the place of that group's oldest connection still waiting for its request, so a
    // handful of addresses of one network do no better than one. Requests already received
    // are kept.
    QHash<QString, int> perGroup;
    for (const Connection *connection : std::as_const(m_connections))
        ++perGroup[m_allowList.groupOf(connection->peerAddress())];
    QString busiest;
    int most = 0;
    for (auto it = perGroup.cbegin(); it != perGroup.cend(); ++it) {
        if (it.value() > most) {
            most = it.value();
            busiest = it.key();
        }
    }
    if (perGroup.value(m_allowList.groupOf(newcomer)) + 1 >= most)
        return false;
    for (Connection *connection : std::as_const(m_connections)) {
        if (connection->state() == Connection::State::WaitingForRequest
            && m_allowList.groupOf(connection->peerAddress()) == busiest) {
            connection->close(false);
            return true;
        }
    }
    return false;
}

void ForcedLogoutServer::Listener::forget(Connection *connection)
{
    m_connections.removeAll(connection);
    countConnections();
}

ForcedLogoutServer::ForcedLogoutServer(ForcedLogoutHandler &handler, QObject *parent)
    : QObject(parent), m_handler(handler), m_settings(std::make_shared<Settings>()),
      m_thread(std::make_unique<QThread>()), m_workTimer(new QTimer(this))
{
    m_thread->setObjectName(QStringLiteral("forced-logout listener"));
    m_listener = new Listener(*this, handler, m_settings);
    m_listener->moveToThread(m_thread.get());
    m_thread->start();
    m_workTimer->setSingleShot(true);
    connect(m_workTimer, &QTimer::timeout, this, &ForcedLogoutServer::carryOutRequests);
}

ForcedLogoutServer::~ForcedLogoutServer()
{
    close();
    Listener *listener = m_listener;
    QMetaObject::invokeMethod(listener, [listener] { delete listener; },
                              Qt::BlockingQueuedConnection);
    m_thread->quit();
    m_thread->wait();
}

bool ForcedLogoutServer::listen(quint16 port, QString *error)
{
    bool listening = false;
    QString reason;
    Listener *listener = m_listener;
    QMetaObject::invokeMethod(
        listener, [listener, port, &listening, &reason] { listening = listener->listen(port, &reason); },
        Qt::BlockingQueuedConnection);
    if (!listening && error)
        *error = reason;
    return listening;
}

void ForcedLogoutServer::setAllowList(const PeerAllowList &allowList)
{
    Listener *listener = m_listener;
    QMetaObject::invokeMethod(listener, [listener, allowList] { listener->setAllowList(allowList); },
                              Qt::BlockingQueuedConnection);
}

void ForcedLogoutServer::close()
{
    m_workTimer->stop();
    m_requests.clear();
    m_waitingForHandler = false;
    Listener *listener = m_listener;
    QMetaObject::invokeMethod(listener, [listener] { listener->close(); },
                              Qt::BlockingQueuedConnection);
}

bool ForcedLogoutServer::isListening() const
{
    return m_settings->listening.load();
}

quint16 ForcedLogoutServer::serverPort() const
{
    return m_settings->port.load();
}

int ForcedLogoutServer::connectionCount() const
{
    return m_settings->connections.load();
}

void ForcedLogoutServer::enqueue(const std::shared_ptr<Request> &request)
{
    m_requests.append(request);
    // Carried out from the event loop, never from inside the call that delivered it.
    if (!m_workTimer->isActive())
        m_workTimer->start(0);
}

void ForcedLogoutServer::answer(const std::shared_ptr<Request> &request, bool acknowledge)
{
    Listener *listener = m_listener;
    const quint64 number = request->connection;
    QMetaObject::invokeMethod(
        listener, [listener, number, acknowledge] { listener->answer(number, acknowledge); },
        Qt::QueuedConnection);
}

void ForcedLogoutServer::carryOutRequests()
{
    // Requests the listener has given up on (the requester has gone, or the queue limit has
    // passed) are never carried out.
    for (int i = int(m_requests.size()) - 1; i >= 0; --i) {
        if (m_requests.at(i)->stage.load() != Request::Queued)
            m_requests.removeAt(i);
    }
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
    const std::shared_ptr<Request> request = m_requests.first();
    if (request->session != m_handler.currentSession()) {
        // The login the request was meant for has ended, or another one has begun: nothing is
        // done here, and the requester, declined, closes the record itself if it is still
        // open. The new login is left alone.
        m_requests.removeFirst();
        qCInfo(lcPeer).noquote() << "forced-logout request from" << request->peer
                                 << "declined: the login it was meant for has ended";
        answer(request, false);
    } else if (!m_handler.readyToEvict()) {
        // Windows of the shell are open: they are being ended, and the request waits for them.
        m_waitingForHandler = true;
        m_workTimer->start(m_busyRetryMs);
        return;
    } else {
        m_waitingForHandler = false;
        m_requests.removeFirst();
        int queued = Request::Queued;
        // The listener may have declined it a moment ago: then it is not carried out.
        if (request->stage.compare_exchange_strong(queued, Request::Taken)) {
            qCInfo(lcPeer).noquote() << "forced-logout request from" << request->peer
                                     << "- acting on it";
            m_acting = true;
            const bool loggedOut = m_handler.forcedLogout();
            m_acting = false;
            qCInfo(lcPeer).noquote() << "forced-logout request from" << request->peer
                                     << (loggedOut ? "- acted on"
                                                   : "- declined: no login record was closed");
            answer(request, loggedOut);
            // The message and the new login come after the acknowledgement is on its way; the
            // peer reads nothing more, so they need not wait for the connection.
            if (loggedOut)
                QTimer::singleShot(0, this, [this] { m_handler.afterForcedLogout(); });
        }
    }
    if (!m_requests.isEmpty() && !m_workTimer->isActive())
        m_workTimer->start(0);
}
