#pragma once
#include "db/statementpipeline.h"

#include <QList>
#include <QSqlDriver>
#include <QString>

#include <memory>

// The shell's PostgreSQL driver, on libpq. It costs one round trip per statement that must be
// answered, sends nothing of its own but the one statement that makes the session speak as the
// shell expects, and lets statements travel together where the shell does not need to wait
// (StatementPipeline): the reads of a login in one go, a transaction with its commit.
//
// - Values are always bound (text parameters of the extended query protocol), never spliced
//   into the statement.
// - Settings the server takes at connection start go into the start-up message (client
//   encoding, application name). The session's time zone and date style cannot: a
//   workstation's PGTZ and PGDATESTYLE would override them there. So the first thing sent on
//   a new connection sets them, without waiting for the answer: the time zone is the server's
//   own (its log_timezone, which only the server's configuration sets), so that every time the
//   shell records or reads is the server's clock, as Oracle's SYSDATE is.
// - A transaction starts only with the first statement that goes to the server; a transaction
//   that sent nothing costs nothing to roll back.
//
// Hand a new instance to QSqlDatabase::addDatabase(QSqlDriver *, name), which owns it. Use it
// from one thread.
class PgDriver : public QSqlDriver, public StatementPipeline
{
    Q_OBJECT
public:
    explicit PgDriver(QObject *parent = nullptr);
    ~PgDriver() override;

    bool hasFeature(DriverFeature feature) const override;
    // connOpts: libpq connection parameters "key=value", separated by blanks or ";" (for
    // example "service=orsa"); db, user, password, host and port are added when given.
    bool open(const QString &db, const QString &user, const QString &password,
              const QString &host, int port, const QString &connOpts) override;
    void close() override;
    QSqlResult *createResult() const override;
    QVariant handle() const override;

    bool beginTransaction() override;
    bool commitTransaction() override;
    bool rollbackTransaction() override;

    void sendAhead(const QString &text, const QStringList &values) override;
    void deferNextStatement() override;

    // How often this connection has waited for the server since it opened (each wait is one
    // round trip), and how many statements it has sent.
    int waits() const;
    int statementsSent() const;

private:
    friend class PgResult;
    class Session;
    std::unique_ptr<Session> m_session;
};
