#pragma once
#include <QList>
#include <QString>
#include <QtGlobal>

#include <optional>

class QHostAddress;

// The workstations that may ask this shell to log out ([PEER] ALLOW of Main.ini): IPv4 networks
// in CIDR form and single addresses, "10.1.0.0/16, 192.168.3.0/24, 10.2.3.4". An empty list
// allows every address. The list also says which addresses count as one group when the
// listener's connections are shared out, so that many addresses of one network cannot crowd
// out a request from another.
class PeerAllowList
{
public:
    // The list written in text; nullopt for an entry that is not a dotted IPv4 address with an
    // optional prefix length 0..32 and no address bits beyond that prefix. The offending entry
    // is left in badEntry.
    static std::optional<PeerAllowList> parse(const QString &text, QString *badEntry = nullptr);

    bool isEmpty() const { return m_networks.isEmpty(); }
    bool contains(const QHostAddress &address) const;
    // The group the address counts in: the first listed network that holds it, or its /24 within
    // a larger listed network or without a list (the usual size of one floor's network), so
    // that one floor flooding the port does not shut out the rest of a large company network.
    QString groupOf(const QHostAddress &address) const;

private:
    struct Network
    {
        quint32 address;
        quint32 mask;
        int prefix;
    };
    const Network *networkOf(quint32 address) const;

    QList<Network> m_networks;
};
