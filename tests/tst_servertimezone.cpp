// Every time the shell records or hands on comes from the database server's clock, as Oracle's
// SYSDATE does: in the zone the server is configured with (here the database's own setting),
// not the zone of its log files, also on a workstation whose PGTZ and PGOPTIONS name another
// time zone: the start-up clock, LOGIN_TIME, BACK_LOGIN_DATE, the password age, LOGOUT_TIME
// and U_DATE.
#include "db/initdatabase.h"
#include "db/sqlquery.h"
#include "db/tfrm_zd000.h"
#include "fakemessages.h"
#include "fakepelfunction.h"
#include "machine/pelfunction.h"
#include "peer/forcedlogoutclient.h"
#include "session/authentication.h"
#include "session/logoutrecording.h"
#include "shared/sharedvalues.h"
#include "testdatabase.h"

#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

const QString Here = u"127.0.0.2"_s;

class Fields final : public LoginFields
{
public:
    QString employeeNumber() const override { return u"1001"_s; }
    QString password() const override { return u"orsa1001!"_s; }
    void clearFields() override {}
    void selectPassword() override {}
};

class NoPeer final : public LogoutRequester
{
public:
    bool requestLogout(const QString &) override { return false; }
};

} // namespace

class tst_ServerTimeZone : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void recordedTimesAreTheServers();

private:
    // Within a few seconds of the server's clock; a session in the other zone is hours off.
    void compareToServerNow(const QDateTime &value, const char *what);

    std::unique_ptr<TestDatabase> m_db;
    QString m_database;
    QString m_serverZone;  // the database's clock zone
    QByteArray m_zone;     // the workstation's PGTZ
};

void tst_ServerTimeZone::initTestCase()
{
    QString error;
    m_db = TestDatabase::open(&error);
    if (!m_db)
        QFAIL(qPrintable(error));
    QVERIFY2(m_db->reset(&error), qPrintable(error));

    // The database's clock zone is one in which today is another day than in the zone of the
    // server's log files, and the workstation's is another again: 26 hours lie between these
    // two zones, so whatever the hour, one of them differs from the log zone by a date and
    // both from each other. The dates (BACK_LOGIN_DATE, the password age) then tell the zones
    // apart as well as the times.
    const QString logZone = m_db->value(u"SELECT current_setting('log_timezone')"_s).toString();
    const QStringList zones = {u"Etc/GMT+12"_s, u"Etc/GMT-14"_s};
    for (const QString &zone : zones) {
        const QVariant otherDay = m_db->value(
            u"SELECT CAST(now() AT TIME ZONE CAST(? AS text) AS date)"
            " <> CAST(now() AT TIME ZONE CAST(? AS text) AS date)"_s, {zone, logZone});
        if (otherDay.toBool()) {
            m_serverZone = zone;
            m_zone = (zones.first() == zone ? zones.last() : zones.first()).toLatin1();
            break;
        }
    }
    QVERIFY(!m_serverZone.isEmpty());
    m_database = m_db->value(u"SELECT current_database()"_s).toString();
    QVERIFY2(m_db->exec(u"ALTER DATABASE \"%1\" SET timezone = '%2'"_s.arg(m_database, m_serverZone),
                        &error),
             qPrintable(error));
    // The fixture's own session in the database's zone, for the server's wall time.
    m_db = TestDatabase::open(&error);
    QVERIFY2(m_db, qPrintable(error));
    QCOMPARE(m_db->value(u"SELECT current_setting('TimeZone')"_s).toString(), m_serverZone);

    qputenv("PGTZ", m_zone);
    qputenv("PGOPTIONS", "-c TimeZone=" + m_zone);

    // The workstation's setting reaches a session that does not keep it out.
    auto plain = TestDatabase::open(&error);
    QVERIFY2(plain, qPrintable(error));
    QCOMPARE(plain->value(u"SELECT current_setting('TimeZone')"_s).toString(),
             QString::fromLatin1(m_zone));
}

void tst_ServerTimeZone::cleanupTestCase()
{
    qunsetenv("PGTZ");
    qunsetenv("PGOPTIONS");
    if (m_db && !m_database.isEmpty())
        m_db->exec(u"ALTER DATABASE \"%1\" RESET timezone"_s.arg(m_database));
}

void tst_ServerTimeZone::compareToServerNow(const QDateTime &value, const char *what)
{
    const QDateTime now = m_db->serverNow();
    QVERIFY2(value.isValid() && qAbs(value.secsTo(now)) <= 5,
             qPrintable(u"%1: %2, server %3"_s.arg(QLatin1String(what),
                                                  value.toString(Qt::ISODate),
                                                  now.toString(Qt::ISODate))));
}

void tst_ServerTimeZone::recordedTimesAreTheServers()
{
    FakeMessages messages;
    FakePelFunction machine(Here);
    Tfrm_ZD000 module(messages);
    m_db->configure(module);

    // The workstation clock is set from the server's.
    QString environment;
    QVERIFY(InitDatabase(module, machine, messages, m_db->serviceName(),
                         TestDatabase::demoAccount(), &environment));
    QCOMPARE(machine.clockSettings.size(), 1);
    compareToServerNow(fromPelDateTime(machine.clockSettings.first()), "clock");

    // The password age counts days of the server's calendar.
    const int expectedAge = m_db->value(
        u"SELECT CAST(A.U_DATE + CAST(B.DETAIL AS numeric) * INTERVAL '1 day' AS date) - CURRENT_DATE"
        " FROM ZA010MS A, ZX010MS B WHERE A.EMP_NO = '1001' AND B.HEAD = 'Z1002' AND B.DETAIL <> ' '"_s)
                                .toInt();
    QVERIFY(module.ConnectDB());
    SqlQuery &query = module.qryQuery();
    QString error;
    query.setStatement(StatementId::LoginEmployee);
    query.bind(u"P0"_s, u"1001"_s);
    QVERIFY2(query.open(&error), qPrintable(error));
    QVERIFY(query.next());
    QCOMPARE(query.value(3).toInt(), expectedAge);
    module.DisconnectDB();

    // LOGIN_TIME and BACK_LOGIN_DATE of a login.
    SharedValues shared;
    shared.LocalIP = Here;
    Fields fields;
    NoPeer peer;
    Authentication auth(module, messages, shared, peer);
    const AuthResult result = auth.Authenticate(true, fields);
    QCOMPARE(result.value, 1);
    QCOMPARE(messages.texts(), QStringList());
    const auto records = m_db->loginRecords(u"1001"_s);
    QVERIFY(!records.isEmpty());
    compareToServerNow(records.last().loginTime, "LOGIN_TIME");
    QCOMPARE(m_db->value(u"SELECT BACK_LOGIN_DATE FROM ZA010MS WHERE EMP_NO = '1001'"_s).toString(),
             m_db->serverNow().toString(u"yyyyMMdd"_s));

    // LOGOUT_TIME of the logout.
    LogoutRecording logout(module, shared);
    QVERIFY(logout.recordLogout(1, &error));
    compareToServerNow(m_db->loginRecords(u"1001"_s).last().logoutTime, "LOGOUT_TIME");

    // U_DATE of a password change.
    QVERIFY(module.ConnectDB());
    QVERIFY2(module.startTransaction(3, &error), qPrintable(error));
    query.setStatement(StatementId::PasswordUpdate);
    query.bind(u"P0"_s, u"orsa1001?new"_s);
    query.bind(u"P1"_s, u"1001"_s);
    query.bind(u"P2"_s, Here);
    QVERIFY2(query.exec(&error), qPrintable(error));
    QVERIFY2(module.commit(&error), qPrintable(error));
    module.DisconnectDB();
    compareToServerNow(m_db->value(u"SELECT U_DATE FROM ZA010MS WHERE EMP_NO = '1001'"_s).toDateTime(),
                       "U_DATE");
    // The programs the shell starts still get the workstation's environment.
    QCOMPARE(qgetenv("PGTZ"), m_zone);
}

QTEST_GUILESS_MAIN(tst_ServerTimeZone)
#include "tst_servertimezone.moc"
