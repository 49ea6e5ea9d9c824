#include "platform/peerallowlist.h"

#include <QHostAddress>
#include <QRegularExpression>
#include <QStringList>

namespace {

quint32 maskOf(int prefix)
{
    return prefix == 0 ? 0u : ~quint32(0) << (32 - prefix);
}

// Plain dotted quads only: the shorthand forms an address parser also takes ("10.1" for
// 10.0.0.1) would read a typing error as some other network.
std::optional<quint32> parseAddress(const QString &text)
{
    static const QRegularExpression dotted(QStringLiteral("^(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})$"));
    const QRegularExpressionMatch match = dotted.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    quint32 address = 0;
    for (int i = 1; i <= 4; ++i) {
        const int part = match.captured(i).toInt();
        if (part > 255)
            return std::nullopt;
        address = (address << 8) | quint32(part);
    }
    return address;
}

// An IPv4 address, also when it comes as an IPv4-mapped IPv6 address.
std::optional<quint32> ipv4Of(const QHostAddress &address)
{
    bool ok = false;
    const quint32 value = address.toIPv4Address(&ok);
    return ok ? std::optional<quint32>(value) : std::nullopt;
}

} // namespace

std::optional<PeerAllowList> PeerAllowList::parse(const QString &text, QString *badEntry)
{
    PeerAllowList list;
    if (text.trimmed().isEmpty())
        return list;
    const QStringList entries = text.split(u',');
    for (const QString &written : entries) {
        const QString entry = written.trimmed();
        const qsizetype slash = entry.indexOf(u'/');
        const std::optional<quint32> address = parseAddress(slash < 0 ? entry : entry.left(slash));
        int prefix = 32;
        bool ok = address.has_value();
        if (ok && slash >= 0) {
            const QString length = entry.mid(slash + 1);
            static const QRegularExpression digits(QStringLiteral("^\\d{1,2}$"));
            prefix = length.toInt();
            ok = digits.match(length).hasMatch() && prefix <= 32;
        }
        // "10.1.2.0/16" is refused, not widened: it is more likely a typing error in one of
        // the two numbers than a wish to allow the whole of 10.1.0.0/16.
        if (ok && (*address & ~maskOf(prefix)) != 0)
            ok = false;
        if (!ok) {
            if (badEntry)
                *badEntry = entry;
            return std::nullopt;
        }
        list.m_networks.append({*address, maskOf(prefix), prefix});
    }
    return list;
}

const PeerAllowList::Network *PeerAllowList::networkOf(quint32 address) const
{
    for (const Network &network : m_networks) {
        if ((address & network.mask) == network.address)
            return &network;
    }
    return nullptr;
}

bool PeerAllowList::contains(const QHostAddress &address) const
{
    if (m_networks.isEmpty())
        return true;
    const std::optional<quint32> ipv4 = ipv4Of(address);
    return ipv4 && networkOf(*ipv4);
}

QString PeerAllowList::groupOf(const QHostAddress &address) const
{
    const std::optional<quint32> ipv4 = ipv4Of(address);
    if (!ipv4)
        return address.toString();
    const Network *network = networkOf(*ipv4);
    const int prefix = network ? qMax(network->prefix, 24) : 24;
    return QHostAddress(*ipv4 & maskOf(prefix)).toString() + u'/' + QString::number(prefix);
}
