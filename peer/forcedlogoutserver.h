#pragma once
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QtGlobal>
#include <memory>

class ForcedLogoutHandler;
class QHostAddress;
class QTcpServer;
class QTimer;

// The listening side of the forced-logout protocol. It lives on the user-interface thread and
// serves every connection with non-blocking sockets there, so a connection never blocks the
// windows, and every call of the handler happens on that thread between events. A request that
// arrives while a database operation of this shell is under way (the handler is busy) waits until
// that operation has ended and is then carried out, never inside it.
//
// A request belongs to the login that was held when its requester was greeted. If that login has
// ended or another has begun by the time the request can be served, nothing is done to the new
// one and the request is declined: the connection is closed without the acknowledgement, so the
// requester closes the old record itself if it is still open. A request whose requester has
// gone, or that could not be served while the requester still waits, is dropped without acting
// in the same way: an eviction now would throw out whoever logged in meanwhile.
class ForcedLogoutServer : public QObject
{
    Q_OBJECT
public:
    static constexpr quint16 DefaultPort = 6010;
    // A connection whose request has not arrived whole by then is closed without acting.
    static constexpr int DefaultRequestTimeoutMs = 10000;
    // More connections at once are closed as soon as they are accepted, unless they come from
    // an address that holds fewer connections than the busiest one (makeRoomFor).
    static constexpr int DefaultMaxConnections = 8;
    static constexpr int DefaultBusyRetryMs = 100;
    // The requesting shell waits 10 s for the acknowledgement; a request not taken up within
    // this time leaves too little of it for closing the programs and recording the logout.
    static constexpr int DefaultQueueLimitMs = 7000;

    explicit ForcedLogoutServer(ForcedLogoutHandler &handler, QObject *parent = nullptr);
    ~ForcedLogoutServer() override;

    // Listens on every address of the workstation. Port 0 takes any free port (serverPort()
    // tells which). false: the port cannot be opened, the reason in error.
    bool listen(quint16 port = DefaultPort, QString *error = nullptr);
    // Stops listening and drops every open connection and every request not yet carried out.
    void close();
    bool isListening() const;
    quint16 serverPort() const;

    void setRequestTimeout(int ms) { m_requestTimeoutMs = ms; }
    int requestTimeout() const { return m_requestTimeoutMs; }
    void setMaxConnections(int count) { m_maxConnections = count; }
    int maxConnections() const { return m_maxConnections; }
    void setBusyRetryInterval(int ms) { m_busyRetryMs = ms; }
    void setQueueLimit(int ms) { m_queueLimitMs = ms; }
    // Connections being served now, including ones whose request waits to be carried out.
    int connectionCount() const;

private:
    class Connection;
    friend class Connection;

    void acceptConnections();
    bool makeRoomFor(const QHostAddress &newcomer);
    void enqueue(Connection *connection);
    void forget(Connection *connection);
    void carryOutRequests();

    ForcedLogoutHandler &m_handler;
    std::unique_ptr<QTcpServer> m_server;
    std::unique_ptr<QTimer> m_workTimer;
    QList<QPointer<Connection>> m_connections;
    QList<QPointer<Connection>> m_requests;
    bool m_acting = false;
    // The first request waits until the handler has ended its open windows.
    bool m_waitingForHandler = false;
    int m_requestTimeoutMs = DefaultRequestTimeoutMs;
    int m_maxConnections = DefaultMaxConnections;
    int m_busyRetryMs = DefaultBusyRetryMs;
    int m_queueLimitMs = DefaultQueueLimitMs;
};
