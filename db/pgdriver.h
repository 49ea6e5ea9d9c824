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
//   encoding, application name). The session's time zone is the server's configured one
//   (postgresql.conf, ALTER DATABASE/ROLE ... SET timezone), so that every time the shell
//   records or reads is the server's clock, as Oracle's SYSDATE is: the workstation's PGTZ,
//   PGOPTIONS and PGDATESTYLE are kept out of the start-up message. The first thing sent on a
//   new connection, without waiting for its answer, sets the date style the values are read
//   in and the bound of a lock wait.
// - No wait lasts without end: connecting ends after ConnectSeconds, the answer to a batch of
//   statements after AnswerSeconds, a wait for a row lock with the server's error after
//   LockWaitSeconds. A connection whose answer did not come is given up (the server rolls back
//   what it had begun); the next open connects afresh. While it waits, the program's events
//   are served except the user's input, and a second call into the driver is refused.
// - Prepared queries take Qt's placeholders ("?", ":name") as well as "$1"; a QByteArray value
//   goes as binary data (bytea). COPY is refused with an error.
// - A transaction starts only with the first statement that goes to the server; a transaction
//   that sent nothing costs nothing to roll back.
//
// Hand a new instance to QSqlDatabase::addDatabase(QSqlDriver *, name), which owns it. Use it
// from one thread.
class PgDriver : public QSqlDriver, public StatementPipeline
{
    Q_OBJECT
public:
    static constexpr int ConnectSeconds = 10;
    static constexpr int AnswerSeconds = 10;
    static constexpr int LockWaitSeconds = 5;

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
    int transactionRowsAffected() const override;

    // How often this connection has waited for the server since it opened (each wait is one
    // round trip), and how many statements it has sent.
    int waits() const;
    int statementsSent() const;

private:
    friend class PgResult;
    class Session;
    std::unique_ptr<Session> m_session;
};
