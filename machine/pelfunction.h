#pragma once
#include <QDateTime>
#include <QString>
#include <QtGlobal>

#include <functional>
#include <memory>

// The machine services of the shell: the workstation's address and clock. Callers hold the
// interface, so tests hand in a recording fake and never touch the real clock.
class PelFunction
{
public:
    virtual ~PelFunction() = default;

    // The workstation's IPv4 address as dotted text, the one other workstations reach it at:
    // the local address of the route that the machine takes towards the database server (see
    // setDatabaseHost), otherwise of its default route. Asking the routing table sends
    // nothing. A link-local (169.254/16) or loopback address only when there is no other: then
    // the first interface that is up and running with an address that is neither, then a
    // link-local one, then "127.0.0.1".
    virtual QString GetLocalIP() = 0;

    // The database server's host (a name or a numeric address) that GetLocalIP finds the route
    // towards; empty: the default route. Set by the start-up once the configuration is known.
    void setDatabaseHost(const QString &host) { m_databaseHost = host; }
    QString databaseHost() const { return m_databaseHost; }

    // Sets the workstation clock to the given local date and time, a day count since
    // 1899-12-30 00:00 whose fraction is the time of day. Does nothing, and reports nothing,
    // without the right to set the clock.
    virtual void SetPCTime(double dateTime) = 0;

    // Sets the system clock given the local time it must show; false with the reason when it
    // cannot.
    using ClockSetter = std::function<bool(const QDateTime &localTime, QString *error)>;

    // The machine's own services. Setting the clock is off unless the environment variable
    // ORSA_SET_CLOCK is "1": the shell often runs as root (the demo, the tests, containers),
    // where an unguarded SetPCTime would change the clock of the whole machine.
    static std::unique_ptr<PelFunction> createSystem();
    // The same, with the clock setter replaced (still guarded by ORSA_SET_CLOCK).
    static std::unique_ptr<PelFunction> createSystem(ClockSetter setter);

    // Whether ORSA_SET_CLOCK allows the machine's clock to be set.
    static bool clockSettingEnabled();

private:
    QString m_databaseHost;
};

// Day counts since 1899-12-30 00:00, local time, to whole seconds. Before that day the count is
// negative and the fraction still counts forward from the start of the day: -1.25 is
// 1899-12-29 06:00. An invalid date-time gives 0; a count that is not a finite number gives an
// invalid QDateTime.
double toPelDateTime(const QDateTime &dateTime);
QDateTime fromPelDateTime(double dateTime);

// A decimal integer with an optional sign and optional surrounding blanks; the empty text, and
// any text that is not such a number or does not fit in 64 bits, gives 0.
qint64 StringToInteger(const QString &text);

// The executable's file version, "2025.3.19.0" for this release.
QString GetVersionText();
