#include "testdatabase.h"

#include "db/sqldialect.h"
#include "db/tfrm_zd000.h"

#include <QAtomicInt>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

namespace {

QAtomicInt fixtureSerial;

QString schemaFile(const QString &name)
{
    return QStringLiteral(ORSA_SOURCE_DIR "/db/schema/") + name;
}

}  // namespace

std::unique_ptr<TestDatabase> TestDatabase::open(QString *error)
{
    const QString service = qEnvironmentVariable("ORSA_TEST_PGSERVICE");
    if (service.isEmpty() || qEnvironmentVariable("PGSERVICEFILE").isEmpty()) {
        if (error) {
            *error = QStringLiteral("ORSA_TEST_PGSERVICE and PGSERVICEFILE are not set: run the "
                                    "tests with scripts/test, or start a cluster first with "
                                    "eval \"$(scripts/dbcluster start /tmp/pg-orsa)\"");
        }
        return nullptr;
    }
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL"))) {
        if (error)
            *error = QStringLiteral("Qt's PostgreSQL driver QPSQL is not installed (libqt6sql6-psql)");
        return nullptr;
    }

    std::unique_ptr<TestDatabase> db(new TestDatabase);
    db->m_service = service;
    db->m_connectionName = QStringLiteral("orsa.testdatabase.%1").arg(fixtureSerial.fetchAndAddRelaxed(1));
    QSqlDatabase connection = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), db->m_connectionName);
    connection.setConnectOptions(QStringLiteral("service=") + service);
    connection.setUserName(demoAccount());
    connection.setPassword(demoAccount());
    if (!connection.open()) {
        if (error) {
            *error = QStringLiteral("cannot reach the test database (service %1): %2")
                         .arg(service, sqlErrorText(connection.lastError()));
        }
        return nullptr;
    }
    // A test that left a lock behind must fail, not hang the run.
    QSqlQuery(connection).exec(QStringLiteral("SET lock_timeout = '10s'"));
    return db;
}

TestDatabase::~TestDatabase()
{
    {
        QSqlDatabase connection = QSqlDatabase::database(m_connectionName, false);
        connection.close();
    }
    QSqlDatabase::removeDatabase(m_connectionName);
}

void TestDatabase::configure(Tfrm_ZD000 &module, const QString &account) const
{
    module.setDialect(SqlDialect::PostgreSql);
    module.setConnectionParameters(m_service, account, account);
}

bool TestDatabase::reset(QString *error)
{
    QFile file(schemaFile(QStringLiteral("postgresql-data.sql")));
    if (!file.open(QIODevice::ReadOnly)) {
        m_lastError = file.fileName() + QStringLiteral(": ") + file.errorString();
        if (error)
            *error = m_lastError;
        return false;
    }
    return exec(QString::fromUtf8(file.readAll()), error);
}

bool TestDatabase::exec(const QString &sql, QString *error)
{
    return exec(sql, {}, error);
}

bool TestDatabase::exec(const QString &sql, const QStringList &values, QString *error)
{
    QSqlQuery query(QSqlDatabase::database(m_connectionName, false));
    bool ok;
    if (values.isEmpty()) {
        ok = query.exec(sql);  // unprepared: a whole script may run at once
    } else {
        ok = query.prepare(sql);
        for (const QString &v : values)
            query.addBindValue(v);
        ok = ok && query.exec();
    }
    if (!ok) {
        m_lastError = sqlErrorText(query.lastError()) + QStringLiteral(" [") + sql.left(200) + u']';
        if (error)
            *error = m_lastError;
    }
    return ok;
}

QList<QVariantList> TestDatabase::rows(const QString &sql, const QStringList &values, QString *error)
{
    QSqlQuery query(QSqlDatabase::database(m_connectionName, false));
    bool ok = query.prepare(sql);
    for (const QString &v : values)
        query.addBindValue(v);
    ok = ok && query.exec();
    QList<QVariantList> result;
    if (!ok) {
        m_lastError = sqlErrorText(query.lastError()) + QStringLiteral(" [") + sql.left(200) + u']';
        if (error)
            *error = m_lastError;
        return result;
    }
    while (query.next()) {
        QVariantList row;
        for (int i = 0; i < query.record().count(); ++i)
            row.append(query.value(i));
        result.append(row);
    }
    return result;
}

QVariant TestDatabase::value(const QString &sql, const QStringList &values, QString *error)
{
    const QList<QVariantList> r = rows(sql, values, error);
    return r.isEmpty() || r.first().isEmpty() ? QVariant() : r.first().first();
}

QDateTime TestDatabase::serverNow()
{
    return value(QStringLiteral("SELECT LOCALTIMESTAMP(0)")).toDateTime();
}

QList<TestDatabase::LoginRecord> TestDatabase::loginRecords(const QString &empNo)
{
    QList<LoginRecord> records;
    const auto result = rows(QStringLiteral("SELECT EMP_NO, SEQ, LOGIN_TIME, LOGIN_IP, LOGOUT_TIME, "
                                            "LOGOUT_IP FROM ZA010DT WHERE EMP_NO = ? ORDER BY SEQ"),
                             {empNo});
    for (const QVariantList &row : result) {
        LoginRecord r;
        r.empNo = row.at(0).toString();
        r.seq = row.at(1).toLongLong();
        r.loginTime = row.at(2).toDateTime();
        r.loginIp = row.at(3).toString();
        r.logoutTime = row.at(4).isNull() ? QDateTime() : row.at(4).toDateTime();
        r.logoutIpNull = row.at(5).isNull();
        r.logoutIp = row.at(5).toString();
        records.append(r);
    }
    return records;
}

bool TestDatabase::insertLoginRecord(const QString &empNo, qint64 seq, const QString &loginIp,
                                     const QString &logoutIp, int loginSecondsAgo,
                                     int logoutSecondsAgo, QString *error)
{
    const QString logoutTime = logoutSecondsAgo >= 0
        ? QStringLiteral("LOCALTIMESTAMP(0) - %1 * INTERVAL '1 second'").arg(logoutSecondsAgo)
        : (logoutIp.isNull() ? QStringLiteral("NULL")
                             : QStringLiteral("LOCALTIMESTAMP(0) - %1 * INTERVAL '1 second'")
                                   .arg(qMax(0, loginSecondsAgo - 60)));
    const QString sql = QStringLiteral("INSERT INTO ZA010DT (EMP_NO, SEQ, LOGIN_TIME, LOGIN_IP, "
                                       "LOGOUT_TIME, LOGOUT_IP) VALUES (?, CAST(? AS numeric), "
                                       "LOCALTIMESTAMP(0) - %1 * INTERVAL '1 second', ?, %2, %3)")
                            .arg(loginSecondsAgo)
                            .arg(logoutTime, logoutIp.isNull() ? QStringLiteral("NULL")
                                                               : QStringLiteral("?"));
    QStringList values{empNo, QString::number(seq), loginIp};
    if (!logoutIp.isNull())
        values.append(logoutIp);
    return exec(sql, values, error);
}
