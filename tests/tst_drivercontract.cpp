// The shell's PostgreSQL driver used the ordinary Qt way gives what Qt's own driver (QPSQL)
// gives: the same cases run on both, side by side, against the test database. Where the shell's
// driver is meant to differ, the row says so and why.
#include "db/pgdriver.h"
#include "testdatabase.h"

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

enum class Case {
    PositionalPlaceholders,
    NamedPlaceholders,
    BinaryValueRoundTrip,
    ByteaEscapeOutput,
    ExactBigNumbers,
    UsableAfterFailedCommit,
    UsableAfterFailedDeferredWrite,
    LostConnectionInTransaction,
    CopyRefused,
};

// What a query did, as one comparable text: its rows, or that it failed.
QString outcome(QSqlQuery &query, bool ok)
{
    if (!ok)
        return u"error"_s;
    QStringList rows;
    while (query.next()) {
        QStringList values;
        for (int i = 0; i < query.record().count(); ++i) {
            const QVariant value = query.value(i);
            if (value.isNull())
                values.append(u"NULL"_s);
            else if (value.typeId() == QMetaType::QByteArray)
                values.append(u"0x"_s + QString::fromLatin1(value.toByteArray().toHex()));
            else
                values.append(QString::fromLatin1(value.metaType().name()) + u':' + value.toString());
        }
        rows.append(values.join(u','));
    }
    return rows.join(u';');
}

QString run(QSqlDatabase db, Case which)
{
    QSqlQuery query(db);
    switch (which) {
    case Case::PositionalPlaceholders:
        query.prepare(u"SELECT CAST(? AS integer) + 1, CAST(? AS text) || '?'"_s);
        query.addBindValue(41);
        query.addBindValue(u"한글"_s);
        return outcome(query, query.exec());
    case Case::NamedPlaceholders:
        query.prepare(u"SELECT CAST(:first AS text) || CAST(:second AS text) || CAST(:first AS text),"
                      " CAST('12:30' AS text)"_s);
        query.bindValue(u":second"_s, u"b"_s);
        query.bindValue(u":first"_s, u"a"_s);
        return outcome(query, query.exec());
    case Case::BinaryValueRoundTrip: {
        // A zero byte and bytes that are no UTF-8.
        query.prepare(u"SELECT CAST(? AS bytea), length(CAST(? AS bytea))"_s);
        const QByteArray bytes("a\0\xff\xfe" "b", 5);
        query.addBindValue(bytes);
        query.addBindValue(bytes);
        return outcome(query, query.exec());
    }
    case Case::ByteaEscapeOutput:
        if (!query.exec(u"SET bytea_output = escape"_s))
            return u"SET failed"_s;
        return outcome(query, query.exec(u"SELECT decode('00ff5c41', 'hex')"_s));
    case Case::ExactBigNumbers:
        query.setNumericalPrecisionPolicy(QSql::LowPrecisionInt64);
        return outcome(query, query.exec(u"SELECT CAST(9007199254740993 AS numeric),"
                                         " CAST(9007199254740993 AS bigint)"_s));
    case Case::UsableAfterFailedCommit: {
        if (!query.exec(u"CREATE TEMPORARY TABLE contract_once"
                        " (id integer UNIQUE DEFERRABLE INITIALLY DEFERRED)"_s))
            return u"CREATE failed"_s;
        if (!db.transaction())
            return u"BEGIN failed"_s;
        query.exec(u"INSERT INTO contract_once VALUES (1)"_s);
        query.exec(u"INSERT INTO contract_once VALUES (1)"_s);
        const QString commit = db.commit() ? u"committed"_s : u"commit failed"_s;
        return commit + u" / "_s + outcome(query, query.exec(u"SELECT count(*) FROM contract_once"_s));
    }
    case Case::UsableAfterFailedDeferredWrite: {
        // The shell's driver lets this write travel with the commit.
        if (!db.transaction())
            return u"BEGIN failed"_s;
        if (auto *pipeline = dynamic_cast<StatementPipeline *>(db.driver()))
            pipeline->deferNextStatement();
        query.exec(u"INSERT INTO contract_no_such_table VALUES (1)"_s);
        const QString commit = db.commit() ? u"committed"_s : u"commit failed"_s;
        return commit + u" / "_s + outcome(query, query.exec(u"SELECT 1"_s));
    }
    case Case::LostConnectionInTransaction: {
        if (!db.transaction())
            return u"BEGIN failed"_s;
        const bool ok = query.exec(u"SELECT pg_terminate_backend(pg_backend_pid())"_s);
        const QString text = query.lastError().databaseText();
        // The server's own words, whichever step notices first that the connection is gone.
        const bool told = text.contains(u"terminat"_s) || text.contains(u"closed the connection"_s);
        return ok ? u"no error"_s : told ? u"error names the lost connection"_s : u"error: "_s + text;
    }
    case Case::CopyRefused:
        return outcome(query, query.exec(u"COPY (SELECT 1) TO STDOUT"_s));
    }
    return u"unknown case"_s;
}

} // namespace

Q_DECLARE_METATYPE(Case)

class tst_DriverContract : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void sameResults_data();
    void sameResults();

private:
    std::unique_ptr<TestDatabase> m_fixture;
};

void tst_DriverContract::initTestCase()
{
    QString error;
    m_fixture = TestDatabase::open(&error);
    if (!m_fixture)
        QFAIL(qPrintable(error));
}

void tst_DriverContract::sameResults_data()
{
    QTest::addColumn<Case>("which");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("ours");  // empty: as QPSQL
    QTest::addColumn<bool>("onQpsql");  // false: QPSQL cannot run the case at all

    QTest::newRow("? placeholders") << Case::PositionalPlaceholders << u"int:42,QString:한글?"_s
                                    << QString() << true;
    QTest::newRow(":name placeholders") << Case::NamedPlaceholders << u"QString:aba,QString:12:30"_s
                                        << QString() << true;
    QTest::newRow("QByteArray as binary") << Case::BinaryValueRoundTrip << u"0x6100fffe62,int:5"_s
                                          << QString() << true;
    QTest::newRow("bytea_output escape") << Case::ByteaEscapeOutput << u"0x00ff5c41"_s << QString()
                                         << true;
    // QPSQL reads a numeric through a double under the low-precision policies, where the shell's
    // driver reads a whole number exactly; and QPSQL gives a bigint that is not negative as
    // unsigned, where the shell's driver keeps the column's signed type.
    QTest::newRow("numbers above 2^53") << Case::ExactBigNumbers
                                        << u"qlonglong:9007199254740992,qulonglong:9007199254740993"_s
                                        << u"qlonglong:9007199254740993,qlonglong:9007199254740993"_s
                                        << true;
    QTest::newRow("usable after a failed commit") << Case::UsableAfterFailedCommit
                                                  << u"commit failed / qulonglong:0"_s
                                                  << u"commit failed / qlonglong:0"_s << true;
    QTest::newRow("usable after a failed write in a transaction")
        << Case::UsableAfterFailedDeferredWrite << u"commit failed / int:1"_s << QString() << true;
    QTest::newRow("lost connection in a transaction") << Case::LostConnectionInTransaction
                                                      << u"error names the lost connection"_s
                                                      << QString() << true;
    // QPSQL never comes back from a COPY (it waits for rows that never end); the shell's
    // driver refuses it.
    QTest::newRow("COPY refused") << Case::CopyRefused << QString() << u"error"_s << false;
}

void tst_DriverContract::sameResults()
{
    QFETCH(Case, which);
    QFETCH(QString, expected);
    QFETCH(QString, ours);
    QFETCH(bool, onQpsql);

    const QString service = m_fixture->serviceName();
    const QString account = TestDatabase::demoAccount();
    for (const bool own : {false, true}) {
        if (!own && !onQpsql)
            continue;
        const QString name = own ? u"contract.orsa"_s : u"contract.qpsql"_s;
        auto remove = qScopeGuard([&name] { QSqlDatabase::removeDatabase(name); });
        {
            QSqlDatabase db = own ? QSqlDatabase::addDatabase(new PgDriver, name)
                                  : QSqlDatabase::addDatabase(u"QPSQL"_s, name);
            db.setConnectOptions(u"service="_s + service);
            db.setUserName(account);
            db.setPassword(account);
            QVERIFY2(db.open(), qPrintable(db.lastError().text()));
            const QString result = run(db, which);
            const QString wanted = own && !ours.isEmpty() ? ours : expected;
            QVERIFY2(result == wanted, qPrintable(u"%1: %2, expected %3"_s.arg(name, result, wanted)));
            db.close();
        }
    }
}

QTEST_GUILESS_MAIN(tst_DriverContract)
#include "tst_drivercontract.moc"
