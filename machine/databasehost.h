#pragma once
#include <QByteArray>
#include <QString>

// Where the database server lies, as far as this workstation's own configuration tells: the
// host that the connection goes to, a name or a numeric address. Empty when the connection
// goes through a local socket or the configuration names no host. The workstation's address
// for the other shells is the one of the route towards it (PelFunction::setDatabaseHost).

// PostgreSQL: the host of the libpq service, from $PGSERVICEFILE (or ~/.pg_service.conf), then
// from the system's pg_service.conf ($PGSYSCONFDIR, else Debian's /etc/postgresql-common), and
// when the service names none, from $PGHOSTADDR or $PGHOST. hostaddr wins over host; of a list
// of hosts the first counts; a directory (a Unix socket) is no host.
QString postgresServiceHost(const QString &service);
// The host of one service in the text of a service file; empty when the service is not there
// or names no network host. found tells whether the service is there at all.
QString serviceFileHost(const QByteArray &text, const QString &service, bool *found = nullptr);

// Oracle: the first HOST of the net service name's description in tnsnames.ora ($TNS_ADMIN,
// else $ORACLE_HOME/network/admin), or the host of an easy-connect name ("host:port/service",
// "//host/service").
QString oracleNetServiceHost(const QString &name);
// The same, from the text of a tnsnames.ora.
QString netServiceNamesHost(const QString &text, const QString &name);
