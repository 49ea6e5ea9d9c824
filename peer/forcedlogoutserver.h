#pragma once
#include "platform/peerallowlist.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QtGlobal>

#include <atomic>
#include <memory>

class ForcedLogoutHandler;
class QThread;
class QTimer;

// The listening side of the forced-logout protocol.
//
// The connections are served on a thread of their own (the listener): it greets, reads the
// request within its time limits and answers, whatever the user-interface thread is doing, so
// the shell is never blind while that thread waits (for the updater to close, for its own
// login's request to another workstation). The work a request asks for (closing the programs,
// recording the logout) is handed to the user-interface thread and carried out there between
// events; a request that arrives while a database operation of this shell is under way (the
// handler is busy) waits until that operation has ended, never inside it.
//
// A request belongs to the login that was held when its requester was greeted. If that login has
// ended or another has begun by the time the request can be served, nothing is done to the new
// one and the request is declined: the connection is closed without the acknowledgement, so the
// requester closes the old record itself if it is still open. A request whose requester has
// gone, or that the user-interface thread has not taken up while the requester still waits (the
// queue limit), is declined by the listener in the same way and never carried out afterwards: an
// eviction then would throw out whoever logged in meanwhile.
class ForcedLogoutServer : public QObject
{
    Q_OBJECT
public:
    static constexpr quint16 DefaultPort = 6010;
    // A connection whose request has not arrived whole by then is closed without acting.
    static constexpr int DefaultRequestTimeoutMs = 10000;
    // More connections at once are closed as soon as they are accepted, unless they come from
    // a network that holds fewer connections than the busiest one (makeRoomFor).
    static constexpr int DefaultMaxConnections = 8;
    static constexpr int DefaultBusyRetryMs = 100;
    // The requesting shell waits 10 s for the acknowledgement; a request not taken up within
    // this time leaves too little of it for closing the programs and recording the logout.
    static constexpr int DefaultQueueLimitMs = 7000;

    // Handler calls happen on the thread that creates the server, except currentSession(),
    // which the listener reads when it greets.
    explicit ForcedLogoutServer(ForcedLogoutHandler &handler, QObject *parent = nullptr);
    ~ForcedLogoutServer() override;

    // Listens on every IPv4 address of the workstation (peers reach it at LOGIN_IP, always an
    // IPv4 address; a dual-stack socket would slip past an IPv4-only firewall). Port 0 takes any
    // free port (serverPort() tells which). false: the port cannot be opened, the reason in error.
    bool listen(quint16 port = DefaultPort, QString *error = nullptr);
    // Stops listening and drops every open connection and every request not yet carried out.
    void close();
    bool isListening() const;
    quint16 serverPort() const;

    void setRequestTimeout(int ms) { m_settings->requestTimeoutMs = ms; }
    int requestTimeout() const { return m_settings->requestTimeoutMs; }
    void setMaxConnections(int count) { m_settings->maxConnections = count; }
    int maxConnections() const { return m_settings->maxConnections; }
    void setBusyRetryInterval(int ms) { m_busyRetryMs = ms; }
    void setQueueLimit(int ms) { m_settings->queueLimitMs = ms; }
    // Connections from outside the list are closed at once, without the greeting, so that the
    // requester closes the login record itself. The list also groups addresses for makeRoomFor.
    void setAllowList(const PeerAllowList &allowList);
    // Connections being served now, including ones whose request waits to be carried out.
    int connectionCount() const;

    // What the listener and this side share; internal.
    struct Settings
    {
        std::atomic<int> requestTimeoutMs{DefaultRequestTimeoutMs};
        std::atomic<int> maxConnections{DefaultMaxConnections};
        std::atomic<int> queueLimitMs{DefaultQueueLimitMs};
        std::atomic<int> connections{0};
        std::atomic<bool> listening{false};
        std::atomic<quint16> port{0};
    };
    // A request read by the listener, waiting to be carried out here.
    struct Request
    {
        enum Stage { Queued, Taken, Dropped };
        quint64 connection = 0;   // the listener's number of the connection
        quint64 session = 0;      // the login held when the requester was greeted
        QString peer;             // the requester's address, for the operations log
        std::atomic<int> stage{Queued};
    };

private:
    class Listener;

    void enqueue(const std::shared_ptr<Request> &request);
    void carryOutRequests();
    void answer(const std::shared_ptr<Request> &request, bool acknowledge);

    ForcedLogoutHandler &m_handler;
    std::shared_ptr<Settings> m_settings;
    std::unique_ptr<QThread> m_thread;
    Listener *m_listener = nullptr;   // lives on m_thread
    QTimer *m_workTimer = nullptr;
    QList<std::shared_ptr<Request>> m_requests;
    bool m_acting = false;
    // The first request waits until the handler has ended its open windows.
    bool m_waitingForHandler = false;
    int m_busyRetryMs = DefaultBusyRetryMs;
};
