#include "forcedlogoutclient.h"

#include "forcedlogoutprotocol.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QTcpSocket>

namespace {

// Waits for one whole line, at most timeoutMs for it. false: the time ran out, the peer closed
// the connection before a full line arrived, or the line was too long.
bool readLine(QTcpSocket &socket, ForcedLogoutProtocol::LineReader &reader, int timeoutMs,
              QByteArray *line, QString *error)
{
    using ForcedLogoutProtocol::LineReader;
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        reader.append(socket.readAll());
        switch (reader.takeLine(line)) {
        case LineReader::Result::Line:
            return true;
        case LineReader::Result::TooLong:
            *error = QStringLiteral("line longer than %1 bytes").arg(ForcedLogoutProtocol::MaxLineBytes);
            return false;
        case LineReader::Result::NeedMore:
            break;
        }
        if (socket.state() != QAbstractSocket::ConnectedState && socket.bytesAvailable() == 0) {
            *error = QStringLiteral("connection closed before a full line arrived");
            return false;
        }
        const qint64 remaining = deadline.remainingTime();
        if (remaining <= 0) {
            *error = QStringLiteral("no answer within %1 ms").arg(timeoutMs);
            return false;
        }
        if (!socket.waitForReadyRead(static_cast<int>(remaining)) && socket.bytesAvailable() == 0) {
            if (socket.error() == QAbstractSocket::SocketTimeoutError || deadline.hasExpired())
                *error = QStringLiteral("no answer within %1 ms").arg(timeoutMs);
            else
                *error = QStringLiteral("connection closed before a full line arrived: ")
                         + socket.errorString();
            return false;
        }
    }
}

} // namespace

bool ForcedLogoutClient::requestLogout(const QString &address)
{
    namespace P = ForcedLogoutProtocol;
    m_lastError.clear();

    // Only an address: a host name would need a name look-up, which no bound covers.
    QHostAddress host;
    if (!host.setAddress(address.trimmed())) {
        m_lastError = QStringLiteral("not an IP address: \"%1\"").arg(address);
        return false;
    }

    QTcpSocket socket;
    socket.connectToHost(host, m_port);
    if (!socket.waitForConnected(m_connectTimeoutMs)) {
        m_lastError = QStringLiteral("cannot connect to %1 port %2: %3")
                          .arg(host.toString())
                          .arg(m_port)
                          .arg(socket.errorString());
        socket.abort();
        return false;
    }

    P::LineReader reader;
    QByteArray line;
    QString error;
    bool acknowledged = false;
    if (!readLine(socket, reader, m_readTimeoutMs, &line, &error)) {
        m_lastError = QStringLiteral("greeting: ") + error;
    } else if (!P::matches(line, P::greeting())) {
        m_lastError = QStringLiteral("not a shell of this system: wrong greeting");
    } else {
        socket.write(P::encodeLine(P::request()));
        if (!socket.waitForBytesWritten(m_readTimeoutMs) && socket.bytesToWrite() > 0) {
            m_lastError = QStringLiteral("request not sent: ") + socket.errorString();
        } else if (!readLine(socket, reader, m_readTimeoutMs, &line, &error)) {
            m_lastError = QStringLiteral("answer: ") + error;
        } else if (!P::matches(line, P::acknowledgement())) {
            m_lastError = QStringLiteral("wrong answer");
        } else {
            acknowledged = true;
        }
    }
    socket.abort();
    return acknowledged;
}
