#pragma once
#include <QString>
#include <QtGlobal>

// Asks the shell on another workstation to log its employee out.
class LogoutRequester
{
public:
    virtual ~LogoutRequester() = default;
    // true only when the other shell acknowledged the logout.
    virtual bool requestLogout(const QString &address) = 0;
};

// The client side of the forced-logout line protocol. The request runs on the calling thread
// and waits, bounded in time, for the greeting and the acknowledgement: a workstation that is
// switched off or a shell that does not answer gives a failed request, never an endless wait.
class ForcedLogoutClient : public LogoutRequester
{
public:
    static constexpr quint16 DefaultPort = 6010;
    static constexpr int DefaultConnectTimeoutMs = 5000;
    static constexpr int DefaultReadTimeoutMs = 10000;

    ForcedLogoutClient() = default;

    bool requestLogout(const QString &address) override;

    void setPort(quint16 port) { m_port = port; }
    quint16 port() const { return m_port; }
    void setConnectTimeout(int ms) { m_connectTimeoutMs = ms; }
    void setReadTimeout(int ms) { m_readTimeoutMs = ms; }
    // Why the last request failed (empty after a success).
    QString lastError() const { return m_lastError; }

private:
    quint16 m_port = DefaultPort;
    int m_connectTimeoutMs = DefaultConnectTimeoutMs;
    int m_readTimeoutMs = DefaultReadTimeoutMs;
    QString m_lastError;
};
