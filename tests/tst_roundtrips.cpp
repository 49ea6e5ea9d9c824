// How often each database operation of a working day waits for the PostgreSQL server once its
// connection is open: every wait is a round trip over the link between a resort's site and the
// head office. Reads that do not depend on one another travel together, and a transaction's
// writes travel with its commit.
#include "db/initdatabase.h"
#include "db/pgdriver.h"
#include "db/tfrm_zd000.h"
#include "fakemessages.h"
#include "fakepelfunction.h"
#include "peer/forcedlogoutclient.h"
#include "session/authentication.h"
#include "session/logoutrecording.h"
#include "shared/sharedvalues.h"
#include "testdatabase.h"

#include <QSqlDatabase>
#include <QtTest>

#include <functional>

using namespace Qt::StringLiterals;

namespace {

const QString Here = u"127.0.0.2"_s;

class Fields final : public LoginFields
{
public:
    explicit Fields(const QString &password) : m_password(password) {}
    QString employeeNumber() const override { return u"1001"_s; }
    QString password() const override { return m_password; }
    void clearFields() override {}
    void selectPassword() override {}

private:
    QString m_password;
};

class NoPeer final : public LogoutRequester
{
public:
    bool requestLogout(const QString &) override { return false; }
};

} // namespace

class tst_RoundTrips : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void waits_data();
    void waits();

private:
    std::unique_ptr<TestDatabase> m_db;
};

void tst_RoundTrips::initTestCase()
{
    QString error;
    m_db = TestDatabase::open(&error);
    if (!m_db)
        QFAIL(qPrintable(error));
}

void tst_RoundTrips::waits_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("waits");
    QTest::addColumn<int>("statements");

    // The statement that sets up the session goes with the first wait of every connection.
    QTest::newRow("start-up: clock and environment") << u"start-up"_s << 1 << 3;
    // Four reads, then BEGIN, the new record, the date stamp and COMMIT.
    QTest::newRow("full login") << u"login"_s << 2 << 9;
    QTest::newRow("wrong password") << u"wrong password"_s << 1 << 5;
    QTest::newRow("logout record") << u"logout"_s << 1 << 4;
}

void tst_RoundTrips::waits()
{
    QFETCH(QString, operation);
    QFETCH(int, waits);
    QFETCH(int, statements);

    QString error;
    QVERIFY2(m_db->reset(&error), qPrintable(error));
    FakeMessages messages;
    FakePelFunction machine(Here);
    Tfrm_ZD000 module(messages);
    m_db->configure(module);
    SharedValues shared;
    shared.LocalIP = Here;
    NoPeer peer;
    Authentication auth(module, messages, shared, peer);
    LogoutRecording logout(module, shared);

    // The driver exists from the first connection on; it counts for its whole life.
    QVERIFY(module.ConnectDB());
    auto *driver = dynamic_cast<PgDriver *>(module.database().driver());
    QVERIFY(driver);
    module.DisconnectDB();
    if (operation == u"logout") {
        Fields fields(u"orsa1001!"_s);
        QCOMPARE(auth.Authenticate(true, fields).value, 1);
    }
    const int waitsBefore = driver->waits();
    const int sentBefore = driver->statementsSent();

    if (operation == u"start-up") {
        QString environment;
        QVERIFY(InitDatabase(module, machine, messages, m_db->serviceName(),
                             TestDatabase::demoAccount(), &environment));
        QVERIFY(!environment.isEmpty());
    } else if (operation == u"login") {
        Fields fields(u"orsa1001!"_s);
        QCOMPARE(auth.Authenticate(true, fields).value, 1);
    } else if (operation == u"wrong password") {
        Fields fields(u"orsa1001?"_s);
        QCOMPARE(auth.Authenticate(true, fields).value, 0);
    } else {
        QVERIFY(logout.recordLogout(1, &error));
        QVERIFY(!m_db->loginRecords(u"1001"_s).last().logoutIpNull);
    }
    QCOMPARE(driver->waits() - waitsBefore, waits);
    QCOMPARE(driver->statementsSent() - sentBefore, statements);
}

QTEST_GUILESS_MAIN(tst_RoundTrips)
#include "tst_roundtrips.moc"
