// The start-up work with the database: connection, workstation clock, test-account warning and
// environment name, against the real server with a recording clock.
#include "db/initdatabase.h"
#include "db/tfrm_zd000.h"
#include "fakemessages.h"
#include "fakepelfunction.h"
#include "testdatabase.h"

#include <QtTest>

namespace {

QString s(const char *text)
{
    return QString::fromUtf8(text);
}

const QString title = QString::fromUtf8("오르사 통합시스템");
const QString testWarning = QString::fromUtf8(
    "테스트 환경에 접속되었습니다.\r앞으로 작업하는 내용은 실제로 반영되지 않습니다.\r"
    "환경 설정이 정확한지 전산팀에 문의하십시오.");

}  // namespace

class tst_InitDatabase : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void accounts_data();
    void accounts();
    void noEnvironmentRow();
    void emptyDatabaseName();
    void connectionFails();
    void failingLookupEndsTheStart();

private:
    std::unique_ptr<TestDatabase> m_db;
    FakeMessages m_messages;
    FakePelFunction m_machine;
    std::unique_ptr<Tfrm_ZD000> m_module;
};

void tst_InitDatabase::initTestCase()
{
    QString error;
    m_db = TestDatabase::open(&error);
    if (!m_db)
        QFAIL(qPrintable(error));
}

void tst_InitDatabase::init()
{
    QString error;
    QVERIFY2(m_db->reset(&error), qPrintable(error));
    m_messages.shown.clear();
    m_messages.suppressed.clear();
    m_messages.onShow = nullptr;
    m_messages.resetTermination();
    m_messages.setApplicationTitle(title);
    m_machine.clockSettings.clear();
    m_module = std::make_unique<Tfrm_ZD000>(m_messages);
    m_module->setDialect(SqlDialect::PostgreSql);
}

void tst_InitDatabase::cleanup()
{
    // Whatever happened, the connection is closed again.
    QVERIFY(!m_module->connected());
    m_module.reset();
}

void tst_InitDatabase::accounts_data()
{
    QTest::addColumn<QString>("account");
    QTest::addColumn<bool>("warned");
    QTest::addColumn<QString>("environment");

    QTest::newRow("demo account") << s("orsa_demo") << false << s("데모 환경");
    QTest::newRow("test account") << s("ortest") << true << s("테스트 환경");
    QTest::newRow("test account in upper case") << s("ORTEST") << true << s("테스트 환경");
}

void tst_InitDatabase::accounts()
{
    QFETCH(QString, account);
    QFETCH(bool, warned);
    QFETCH(QString, environment);

    int clockSettingsAtWarning = -1;
    m_messages.onShow = [&](const FakeMessages::Shown &) {
        clockSettingsAtWarning = int(m_machine.clockSettings.size());
    };
    QString name = s("old");
    QVERIFY(InitDatabase(*m_module, m_machine, m_messages, m_db->serviceName(), account, &name));
    QVERIFY(!m_messages.terminationPending());
    QCOMPARE(name, environment);

    // The workstation clock was set once, to the server's time.
    QCOMPARE(m_machine.clockSettings.size(), 1);
    const QDateTime set = fromPelDateTime(m_machine.clockSettings.first());
    const QDateTime server = m_db->serverNow();
    QVERIFY2(qAbs(set.secsTo(server)) <= 5,
             qPrintable(set.toString(Qt::ISODate) + u' ' + server.toString(Qt::ISODate)));

    if (!warned) {
        QCOMPARE(m_messages.texts(), QStringList());
        return;
    }
    QCOMPARE(m_messages.shown.size(), 1);
    QCOMPARE(m_messages.shown.first().text, testWarning);
    QCOMPARE(m_messages.shown.first().icon, MessageIcon::Warning);
    QCOMPARE(m_messages.shown.first().caption, title);
    QCOMPARE(clockSettingsAtWarning, 1);  // the clock is set before the warning
}

void tst_InitDatabase::noEnvironmentRow()
{
    QVERIFY(m_db->exec(s("DELETE FROM ZX010MS WHERE HEAD = 'Z9999' AND DETAIL = 'ORSA_DEMO'")));
    QString name = s("old");
    QVERIFY(InitDatabase(*m_module, m_machine, m_messages, m_db->serviceName(),
                         TestDatabase::demoAccount(), &name));
    QCOMPARE(name, QString());
    QCOMPARE(m_machine.clockSettings.size(), 1);
    QCOMPARE(m_messages.texts(), QStringList());
    QVERIFY(!m_messages.terminationPending());
}

void tst_InitDatabase::emptyDatabaseName()
{
    // Oracle, whose driver is missing here: an attempt to connect would show its message.
    m_module->setDialect(SqlDialect::Oracle);
    QString name;
    QVERIFY(!InitDatabase(*m_module, m_machine, m_messages, QString(), s("ortest"), &name));
    QCOMPARE(m_messages.texts(),
             QStringList{s("접속할 데이터베이스 지정이 되어있지 않습니다.\rMain.ini 파일 환경 설정을 확인하십시오.")});
    QCOMPARE(m_messages.shown.first().icon, MessageIcon::Error);
    QCOMPARE(m_messages.shown.first().caption, title);
    QVERIFY(m_messages.terminationPending());
    QVERIFY(m_machine.clockSettings.isEmpty());
    QVERIFY(m_module->databaseName().isEmpty());
}

void tst_InitDatabase::connectionFails()
{
    QString name = s("old");
    QVERIFY(!InitDatabase(*m_module, m_machine, m_messages, s("no_such_service"),
                          TestDatabase::demoAccount(), &name));
    QCOMPARE(m_messages.shown.size(), 1);
    QVERIFY(m_messages.shown.first().text.startsWith(s("데이터베이스와 연결할 수 없습니다.\r\r에러내용:\r")));
    QVERIFY(m_messages.terminationPending());
    QVERIFY(m_machine.clockSettings.isEmpty());
    QCOMPARE(name, QString());
}

void tst_InitDatabase::failingLookupEndsTheStart()
{
    QVERIFY(m_db->exec(s("ALTER TABLE ZX010MS RENAME TO ZX010MS_AWAY")));
    auto restore = qScopeGuard([this] { m_db->exec(s("ALTER TABLE ZX010MS_AWAY RENAME TO ZX010MS")); });

    QString name = s("old");
    QVERIFY(!InitDatabase(*m_module, m_machine, m_messages, m_db->serviceName(),
                          TestDatabase::demoAccount(), &name));
    QCOMPARE(m_machine.clockSettings.size(), 1);  // that step came first and worked
    QCOMPARE(m_messages.shown.size(), 1);
    const QString text = m_messages.shown.first().text;
    QVERIFY2(text.startsWith(s("데이터베이스 환경 이름을 읽지 못했습니다.\r\r에러내용 :\r")), qPrintable(text));
    QVERIFY2(text.contains(s("zx010ms")), qPrintable(text));
    QCOMPARE(m_messages.shown.first().icon, MessageIcon::Error);
    QVERIFY(m_messages.terminationPending());
    QCOMPARE(name, QString());
}

QTEST_GUILESS_MAIN(tst_InitDatabase)
#include "tst_initdatabase.moc"
