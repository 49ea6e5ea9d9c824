#pragma once
#include "db/sqldialect.h"

#include <QObject>
#include <QString>

#include <memory>

class Messages;
class QSqlDatabase;
class SqlQuery;
class StatementPipeline;

// The data module: the shell's one database connection (dbsDB) and its one query object
// (qryQuery). The connection is never held open between user actions; every operation opens it
// with ConnectDB and closes it again with DisconnectDB.
class Tfrm_ZD000 : public QObject
{
    Q_OBJECT
public:
    explicit Tfrm_ZD000(Messages &messages, QObject *parent = nullptr);
    ~Tfrm_ZD000() override;

    // Changing the dialect closes the connection.
    void setDialect(SqlDialect dialect);
    SqlDialect dialect() const { return m_dialect; }

    // database: the Oracle net service name, or the libpq service name for PostgreSQL.
    void setConnectionParameters(const QString &database, const QString &user,
                                 const QString &password);
    QString databaseName() const { return m_database; }

    // Opens the connection when it is closed. On failure shows "데이터베이스와 연결할 수
    // 없습니다." with the driver's message (error icon, application title) and answers false;
    // also when the driver is not installed. Nothing escapes it.
    bool ConnectDB();
    // Closes the connection when it is open; an unfinished transaction is rolled back.
    void DisconnectDB();
    bool connected() const;

    SqlQuery &qryQuery();

    // Starts a read-committed transaction unless one is active (then true at once). The
    // descriptor names the operation: 1 logout recording, 2 login recording, 3 password change.
    bool startTransaction(int descriptor, QString *error);
    bool inTransaction() const { return m_transactionDescriptor != 0; }
    int transactionDescriptor() const { return m_transactionDescriptor; }
    // A commit that fails rolls back and answers false with the message; so does a commit
    // without an active transaction (a failed statement has already rolled it back).
    bool commit(QString *error);
    void rollback();  // nothing when no transaction is active

    // An operation is under way: the connection is open. A forced logout waits until it ends.
    // Also while the connection is being made: the driver serves events while it waits.
    bool busy() const { return m_connecting || connected(); }

    Messages &messages() { return m_messages; }

    // The connection, for the query object; invalid until the first ConnectDB.
    QSqlDatabase database() const;
    // The open connection's driver where it can send statements without waiting for each
    // answer (PostgreSQL); null otherwise.
    StatementPipeline *pipeline() const;

private:
    void dropConnection();

    Messages &m_messages;
    SqlDialect m_dialect = SqlDialect::Oracle;
    QString m_database;
    QString m_user;
    QString m_password;
    QString m_connectionName;
    bool m_connectionAdded = false;
    bool m_connecting = false;
    int m_transactionDescriptor = 0;
    std::unique_ptr<SqlQuery> m_query;
};
