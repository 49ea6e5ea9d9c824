#include "machine/pelfunction.h"

#include "platform/systemclock.h"

#include <QDate>
#include <QHostAddress>
#include <QHostInfo>
#include <QNetworkInterface>
#include <QNetworkProxy>
#include <QUdpSocket>
#include <QTime>

#include <cmath>
#include <limits>

namespace {

const QDate PelEpoch(1899, 12, 30);
constexpr qint64 SecondsPerDay = 86400;

// A documentation address (TEST-NET-1) that no network routes specially: the route the
// machine takes towards it is its default route.
const char DefaultRouteProbe[] = "192.0.2.1";

bool linkLocal(const QHostAddress &address)
{
    return address.isInSubnet(QHostAddress(QStringLiteral("169.254.0.0")), 16);
}

// An address another workstation can reach: IPv4, not loopback, not link-local.
bool reachable(const QHostAddress &address)
{
    return address.protocol() == QAbstractSocket::IPv4Protocol && !address.isLoopback()
        && !linkLocal(address) && address != QHostAddress(QHostAddress::AnyIPv4);
}

// The IPv4 addresses of the database server's host; a name is looked up (the connection looks
// it up as well).
QList<QHostAddress> serverAddresses(const QString &host)
{
    QList<QHostAddress> addresses;
    if (host.isEmpty())
        return addresses;
    QHostAddress numeric;
    if (numeric.setAddress(host)) {
        addresses.append(numeric);
        return addresses;
    }
    const QHostInfo info = QHostInfo::fromName(host);
    const auto found = info.addresses();
    for (const QHostAddress &address : found) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol)
            addresses.append(address);
    }
    return addresses;
}

// The local address the machine would send from towards target. Connecting a UDP socket only
// asks the routing table: nothing is sent. Null when there is no route.
QHostAddress sourceAddressTowards(const QHostAddress &target)
{
    if (target.protocol() != QAbstractSocket::IPv4Protocol)
        return QHostAddress();
    QUdpSocket socket;
    // The routing table of this machine is asked, never a proxy.
    socket.setProxy(QNetworkProxy::NoProxy);
    socket.connectToHost(target, 9);
    if (!socket.waitForConnected(1000))
        return QHostAddress();
    return socket.localAddress();
}

// Without any route: the first interface that is up and running with an address another
// workstation could reach, else the first link-local one, else the loopback.
QString interfaceAddress()
{
    QString fallback;
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &interface : interfaces) {
        const auto flags = interface.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp) || !flags.testFlag(QNetworkInterface::IsRunning)
            || flags.testFlag(QNetworkInterface::IsLoopBack))
            continue;
        const auto entries = interface.addressEntries();
        for (const QNetworkAddressEntry &entry : entries) {
            const QHostAddress address = entry.ip();
            if (reachable(address))
                return address.toString();
            if (fallback.isEmpty() && address.protocol() == QAbstractSocket::IPv4Protocol
                && linkLocal(address))
                fallback = address.toString();
        }
    }
    return fallback.isEmpty() ? QStringLiteral("127.0.0.1") : fallback;
}

class SystemPelFunction final : public PelFunction
{
public:
    explicit SystemPelFunction(ClockSetter setter)
        : m_setter(std::move(setter))
    {
    }

    QString GetLocalIP() override
    {
        // The route towards the database server: the network the other workstations share
        // with this one, whatever bridges, tunnels or virtual interfaces the machine has.
        for (const QHostAddress &server : serverAddresses(databaseHost())) {
            const QHostAddress local = sourceAddressTowards(server);
            if (reachable(local))
                return local.toString();
        }
        const QHostAddress local = sourceAddressTowards(QHostAddress(QLatin1String(DefaultRouteProbe)));
        if (reachable(local))
            return local.toString();
        return interfaceAddress();
    }

    void SetPCTime(double dateTime) override
    {
        const QDateTime when = fromPelDateTime(dateTime);
        if (!when.isValid() || !clockSettingEnabled() || !m_setter)
            return;
        // Without the right to set the clock the workstation keeps its own time; the shell
        // carries on, as it always has.
        QString ignored;
        m_setter(when, &ignored);
    }

private:
    ClockSetter m_setter;
};

} // namespace

std::unique_ptr<PelFunction> PelFunction::createSystem()
{
    return createSystem(&SystemClock::setLocalTime);
}

std::unique_ptr<PelFunction> PelFunction::createSystem(ClockSetter setter)
{
    return std::make_unique<SystemPelFunction>(std::move(setter));
}

bool PelFunction::clockSettingEnabled()
{
    return qEnvironmentVariable("ORSA_SET_CLOCK") == QLatin1String("1");
}

double toPelDateTime(const QDateTime &dateTime)
{
    if (!dateTime.isValid())
        return 0;
    const QDateTime local = dateTime.toLocalTime();
    const double days = double(PelEpoch.daysTo(local.date()));
    const double fraction = double(local.time().msecsSinceStartOfDay() / 1000) / SecondsPerDay;
    return days < 0 ? days - fraction : days + fraction;
}

QDateTime fromPelDateTime(double dateTime)
{
    // QDate reaches far beyond this, but a day count of this size is no date of the suite.
    if (!std::isfinite(dateTime) || std::fabs(dateTime) > 1e9)
        return QDateTime();
    const double whole = std::trunc(dateTime);
    qint64 days = qint64(whole);
    qint64 seconds = qint64(std::llround(std::fabs(dateTime - whole) * SecondsPerDay));
    if (seconds >= SecondsPerDay) {
        seconds -= SecondsPerDay;
        ++days;
    }
    return QDateTime(PelEpoch.addDays(days), QTime(0, 0).addSecs(int(seconds)), Qt::LocalTime);
}

qint64 StringToInteger(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    const auto blank = [](QChar c) { return c == u' ' || c == u'\t'; };
    while (begin < end && blank(text.at(begin)))
        ++begin;
    while (end > begin && blank(text.at(end - 1)))
        --end;
    bool negative = false;
    if (begin < end && (text.at(begin) == u'+' || text.at(begin) == u'-')) {
        negative = text.at(begin) == u'-';
        ++begin;
    }
    if (begin == end)
        return 0;
    // Collected as a negative number, so that the smallest 64-bit value fits too.
    qint64 value = 0;
    constexpr qint64 Min = std::numeric_limits<qint64>::min();
    for (qsizetype i = begin; i < end; ++i) {
        const char16_t c = text.at(i).unicode();
        if (c < u'0' || c > u'9')
            return 0;
        const int digit = c - u'0';
        if (value < (Min + digit) / 10)
            return 0;
        value = value * 10 - digit;
    }
    if (!negative) {
        if (value == Min)
            return 0;
        value = -value;
    }
    return value;
}
