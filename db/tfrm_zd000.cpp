#include "db/tfrm_zd000.h"

#include "db/pgdriver.h"
#include "db/sqlquery.h"
#include "platform/messages.h"
#include "shared/logcategories.h"

#include <QAtomicInt>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <exception>

namespace {

QAtomicInt connectionSerial;

// A value of a libpq connection string: quoted when it holds blanks, quotes or backslashes.
QString connectionValue(const QString &value)
{
    const bool plain = !value.isEmpty()
        && std::none_of(value.begin(), value.end(), [](QChar c) {
               return c.isSpace() || c == u'\'' || c == u'\\';
           });
    if (plain)
        return value;
    QString quoted = value;
    quoted.replace(u'\\', QStringLiteral("\\\\"));
    quoted.replace(u'\'', QStringLiteral("\\'"));
    return u'\'' + quoted + u'\'';
}

}  // namespace

Tfrm_ZD000::Tfrm_ZD000(Messages &messages, QObject *parent)
    : QObject(parent),
      m_messages(messages),
      m_connectionName(QStringLiteral("orsa.dbsDB.%1").arg(connectionSerial.fetchAndAddRelaxed(1))),
      m_query(std::make_unique<SqlQuery>(*this))
{
}

Tfrm_ZD000::~Tfrm_ZD000()
{
    DisconnectDB();
    dropConnection();
}

void Tfrm_ZD000::setDialect(SqlDialect dialect)
{
    if (dialect == m_dialect)
        return;
    DisconnectDB();
    dropConnection();
    m_dialect = dialect;
}

void Tfrm_ZD000::setConnectionParameters(const QString &database, const QString &user,
                                         const QString &password)
{
    m_database = database;
    m_user = user;
    m_password = password;
}

bool Tfrm_ZD000::ConnectDB()
{
    if (connected())
        return true;

    QString error;
    if (m_connecting) {
        // Asked again from an event served while the first attempt waits for the server.
        m_messages.show(QStringLiteral("데이터베이스와 연결할 수 없습니다.\r\r에러내용:\r")
                            + QStringLiteral("The connection is still being made."),
                        MessageIcon::Error);
        return false;
    }
    try {
        if (!m_connectionAdded) {
            // PostgreSQL goes through the shell's own driver, which needs one round trip per
            // statement where Qt's needs three; Oracle keeps Qt's driver.
            if (m_dialect == SqlDialect::PostgreSql)
                QSqlDatabase::addDatabase(new PgDriver, m_connectionName);
            else
                QSqlDatabase::addDatabase(sqlDriverName(m_dialect), m_connectionName);
            m_connectionAdded = true;
        }
        QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
        if (m_dialect == SqlDialect::PostgreSql) {
            // The libpq service names host, port and database, as a net service name does
            // for Oracle.
            db.setDatabaseName(QString());
            db.setConnectOptions(QStringLiteral("service=") + connectionValue(m_database));
        } else {
            db.setDatabaseName(m_database);
            db.setConnectOptions(QString());
        }
        db.setUserName(m_user);
        db.setPassword(m_password);
        m_connecting = true;
        const bool opened = db.open();
        m_connecting = false;
        if (opened)
            return true;
        error = sqlErrorText(db.lastError());
    } catch (const std::exception &e) {
        m_connecting = false;
        error = QString::fromLocal8Bit(e.what());
    } catch (...) {
        m_connecting = false;
        error = QStringLiteral("Unknown error");
    }
    // The account is its own password: the server's words may name it, the log does not.
    QString logged = error;
    if (!m_password.isEmpty())
        logged.replace(m_password, QStringLiteral("***"));
    qCWarning(lcDb).noquote() << "cannot connect to" << m_database << "-" << logged;
    m_messages.show(QStringLiteral("데이터베이스와 연결할 수 없습니다.\r\r에러내용:\r") + error,
                    MessageIcon::Error);
    return false;
}

void Tfrm_ZD000::DisconnectDB()
{
    m_query->close();
    if (!connected())
        return;
    // An operation that did not commit never stores anything.
    rollback();
    QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
    db.close();
}

bool Tfrm_ZD000::connected() const
{
    if (!m_connectionAdded)
        return false;
    return QSqlDatabase::database(m_connectionName, false).isOpen();
}

SqlQuery &Tfrm_ZD000::qryQuery()
{
    return *m_query;
}

bool Tfrm_ZD000::startTransaction(int descriptor, QString *error)
{
    if (inTransaction())
        return true;
    auto fail = [error](const QString &text) {
        if (error)
            *error = text;
        return false;
    };
    if (descriptor <= 0)
        return fail(QStringLiteral("A transaction needs a descriptor number above 0."));
    if (!connected())
        return fail(QStringLiteral("The database connection is not open."));

    QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
    if (!db.transaction())
        return fail(sqlErrorText(db.lastError()));
    // Read committed is Oracle's only isolation besides serializable and its default; a
    // PostgreSQL server may have been told otherwise, so it is set there explicitly. The
    // shell's own driver starts every transaction with it already.
    if (m_dialect == SqlDialect::PostgreSql && !pipeline()) {
        QSqlQuery isolation(db);
        if (!isolation.exec(QStringLiteral("SET TRANSACTION ISOLATION LEVEL READ COMMITTED"))) {
            const QString text = sqlErrorText(isolation.lastError());
            isolation.finish();
            db.rollback();
            return fail(text);
        }
    }
    m_transactionDescriptor = descriptor;
    return true;
}

bool Tfrm_ZD000::commit(QString *error)
{
    // A transaction that a failed statement has rolled back must not look committed.
    if (!inTransaction()) {
        if (error)
            *error = QStringLiteral("No transaction is active.");
        return false;
    }
    m_query->close();
    QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
    if (db.commit()) {
        m_transactionDescriptor = 0;
        return true;
    }
    if (error)
        *error = sqlErrorText(db.lastError());
    rollback();
    return false;
}

void Tfrm_ZD000::rollback()
{
    if (!inTransaction())
        return;
    m_transactionDescriptor = 0;
    // The rollback goes first: PostgreSQL refuses to release a prepared statement inside a
    // transaction that a failed statement has spoilt.
    if (connected()) {
        QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
        db.rollback();
    }
    m_query->close();
}

StatementPipeline *Tfrm_ZD000::pipeline() const
{
    if (!connected())
        return nullptr;
    return dynamic_cast<StatementPipeline *>(database().driver());
}

QSqlDatabase Tfrm_ZD000::database() const
{
    if (!m_connectionAdded)
        return QSqlDatabase();
    return QSqlDatabase::database(m_connectionName, false);
}

void Tfrm_ZD000::dropConnection()
{
    m_query->close();
    m_transactionDescriptor = 0;
    if (!m_connectionAdded)
        return;
    m_connectionAdded = false;
    QSqlDatabase::removeDatabase(m_connectionName);
}
