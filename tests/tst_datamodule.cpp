// The data module and its query object against the real PostgreSQL server.
#include "db/sqlquery.h"
#include "db/statementcatalogue.h"
#include "db/tfrm_zd000.h"
#include "fakemessages.h"
#include "testdatabase.h"

#include <QProcess>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QString s(const char *text)
{
    return QString::fromUtf8(text);
}

const QString connectFailureText = QString::fromUtf8("데이터베이스와 연결할 수 없습니다.\r\r에러내용:\r");
const QString title = QString::fromUtf8("오르사 통합시스템");

struct Binding
{
    QString name;
    QString value;
    int occurrence = -1;
};

}  // namespace

Q_DECLARE_METATYPE(Binding)
Q_DECLARE_METATYPE(SqlDialect)

class tst_DataModule : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void connectAndDisconnect();
    void connectFailure_data();
    void connectFailure();
    void stoppedServer();

    void failingWriteRollsBackEverything_data();
    void failingWriteRollsBackEverything();
    void commitStoresEverything();
    void disconnectRollsBack();
    void readCommittedWithDescriptor_data();
    void readCommittedWithDescriptor();
    void secondStartKeepsTheFirstTransaction();
    void noTransactionWithoutConnection();

    void runner_data();
    void runner();
    void failedSelectIsClosed();
    void rowsSentAheadNeverStale_data();
    void rowsSentAheadNeverStale();

private:
    std::unique_ptr<TestDatabase> m_db;
    FakeMessages m_messages;
    std::unique_ptr<Tfrm_ZD000> m_module;
};

void tst_DataModule::initTestCase()
{
    QString error;
    m_db = TestDatabase::open(&error);
    if (!m_db)
        QFAIL(qPrintable(error));
    m_messages.setApplicationTitle(title);
}

void tst_DataModule::init()
{
    QString error;
    QVERIFY2(m_db->reset(&error), qPrintable(error));
    m_messages.shown.clear();
    m_module = std::make_unique<Tfrm_ZD000>(m_messages);
    m_db->configure(*m_module);
}

void tst_DataModule::cleanup()
{
    m_module.reset();
}

void tst_DataModule::connectAndDisconnect()
{
    QVERIFY(!m_module->connected());
    QVERIFY(!m_module->busy());
    QVERIFY(m_module->ConnectDB());
    QVERIFY(m_module->connected());
    QVERIFY(m_module->busy());
    QVERIFY(m_module->ConnectDB());  // already open: nothing happens
    m_module->DisconnectDB();
    QVERIFY(!m_module->connected());
    m_module->DisconnectDB();
    QVERIFY(m_module->ConnectDB());
    QCOMPARE(m_messages.texts(), QStringList());
}

void tst_DataModule::connectFailure_data()
{
    QTest::addColumn<SqlDialect>("dialect");
    QTest::addColumn<QString>("database");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("reason");  // part of the driver's message

    const QString service = qEnvironmentVariable("ORSA_TEST_PGSERVICE");
    QTest::newRow("unknown service") << SqlDialect::PostgreSql << s("no_such_service")
                                     << s("orsa_demo") << s("orsa_demo") << s("no_such_service");
    QTest::newRow("wrong password") << SqlDialect::PostgreSql << service << s("orsa_demo")
                                    << s("wrong") << s("password authentication failed");
    QTest::newRow("unknown account") << SqlDialect::PostgreSql << service << s("nobody")
                                     << s("nobody") << s("nobody");
    // Here the Oracle driver is not installed: its own text must reach the user.
    QTest::newRow("oracle") << SqlDialect::Oracle << s("ORSA") << s("orsa_demo") << s("orsa_demo")
                            << (QSqlDatabase::isDriverAvailable(s("QOCI")) ? QString()
                                                                           : s("Driver not loaded"));
}

void tst_DataModule::connectFailure()
{
    QFETCH(SqlDialect, dialect);
    QFETCH(QString, database);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(QString, reason);

    m_module->setDialect(dialect);
    m_module->setConnectionParameters(database, user, password);
    QVERIFY(!m_module->ConnectDB());
    QVERIFY(!m_module->connected());
    QCOMPARE(m_messages.shown.size(), 1);
    const FakeMessages::Shown shown = m_messages.shown.first();
    QVERIFY2(shown.text.startsWith(connectFailureText), qPrintable(shown.text));
    const QString driverText = shown.text.mid(connectFailureText.size());
    QVERIFY(!driverText.trimmed().isEmpty());
    QVERIFY2(driverText.contains(reason), qPrintable(driverText));
    QCOMPARE(shown.icon, MessageIcon::Error);
    QCOMPARE(shown.buttons, MessageButtons::Ok);
    QCOMPARE(shown.caption, title);

    // The program goes on: the next operation with the right parameters works.
    m_db->configure(*m_module);
    QVERIFY(m_module->ConnectDB());
    m_module->qryQuery().setStatement(StatementId::ServerTime);
    QString error;
    QVERIFY2(m_module->qryQuery().open(&error), qPrintable(error));
    QVERIFY(m_module->qryQuery().next());
    QCOMPARE(m_messages.shown.size(), 1);
}

// A server of its own that can be stopped: while connected, and before connecting.
void tst_DataModule::stoppedServer()
{
    QTemporaryDir dir(QStringLiteral("/tmp/orsa-stopped-XXXXXX"));
    QVERIFY(dir.isValid());
    const QString script = QStringLiteral(ORSA_SOURCE_DIR "/scripts/dbcluster");
    QProcess start;
    start.start(script, {s("start"), dir.path()});
    QVERIFY(start.waitForFinished(60000));
    QVERIFY2(start.exitCode() == 0, start.readAllStandardError().constData());
    QString serviceFile;
    for (const QByteArray &line : start.readAllStandardOutput().split('\n')) {
        if (line.startsWith("export PGSERVICEFILE="))
            serviceFile = QString::fromUtf8(line.mid(int(qstrlen("export PGSERVICEFILE="))));
    }
    QVERIFY(!serviceFile.isEmpty());
    auto stop = [&] {
        QProcess::execute(script, {s("stop"), dir.path()});
    };

    const QByteArray mainServiceFile = qgetenv("PGSERVICEFILE");
    qputenv("PGSERVICEFILE", serviceFile.toUtf8());
    auto restore = qScopeGuard([&] {
        qputenv("PGSERVICEFILE", mainServiceFile);
        stop();
    });

    QVERIFY(m_module->ConnectDB());
    QString error;
    QVERIFY2(m_module->startTransaction(2, &error), qPrintable(error));
    stop();
    // The operation under way fails and leaves no transaction behind.
    SqlQuery &query = m_module->qryQuery();
    query.setStatement(StatementId::LoginStampDate);
    query.bind(s("P0"), s("1001"));
    QVERIFY(!query.exec(&error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!m_module->inTransaction());
    m_module->DisconnectDB();
    QVERIFY(m_messages.shown.isEmpty());

    QVERIFY(!m_module->ConnectDB());
    QCOMPARE(m_messages.shown.size(), 1);
    QVERIFY2(m_messages.shown.first().text.startsWith(connectFailureText),
             qPrintable(m_messages.shown.first().text));
    QVERIFY(m_messages.shown.first().text.size() > connectFailureText.size());
    QCOMPARE(m_messages.shown.first().icon, MessageIcon::Error);

    // The program goes on with the server that runs.
    qputenv("PGSERVICEFILE", mainServiceFile);
    QVERIFY(m_module->ConnectDB());
    QCOMPARE(m_messages.shown.size(), 1);
}

void tst_DataModule::failingWriteRollsBackEverything_data()
{
    QTest::addColumn<QString>("insertSeq");

    // The insert collides with record 2, which the first statement has just closed.
    QTest::newRow("second statement fails") << s("2");
    // The insert works; the third statement is refused by the server.
    QTest::newRow("last statement fails") << s("3");
}

void tst_DataModule::failingWriteRollsBackEverything()
{
    QFETCH(QString, insertSeq);

    // Record 2 is the open one the operation closes.
    QString error;
    QVERIFY2(m_db->exec(s("UPDATE ZA010DT SET LOGOUT_TIME = NULL, LOGOUT_IP = NULL "
                          "WHERE EMP_NO = '1001' AND SEQ = 2"),
                        &error),
             qPrintable(error));
    QVERIFY(m_module->ConnectDB());
    QVERIFY2(m_module->startTransaction(2, &error), qPrintable(error));
    SqlQuery &query = m_module->qryQuery();

    query.setStatement(StatementId::LoginCloseRecord);
    query.bind(s("P0"), s("1001"));
    query.bind(s("P1"), s("2"));
    query.bind(s("P2"), s("강제종료"));
    int rows = 0;
    QVERIFY2(query.exec(&error, &rows), qPrintable(error));
    QCOMPARE(rows, 1);

    bool failed = false;
    query.setStatement(StatementId::LoginInsertRecord);
    query.bind(s("P0"), s("1001"));
    query.bind(s("P1"), insertSeq);
    query.bind(s("P2"), s("127.0.0.1"));
    if (!query.exec(&error)) {
        failed = true;
    } else {
        query.setText(s("UPDATE ZA010MS SET BACK_LOGIN_DATE = '20250101' "
                        "WHERE EMP_NO = :P0 AND 1 / CAST(:P1 AS integer) = 1"));
        query.bind(s("P0"), s("1001"));
        query.bind(s("P1"), s("0"));
        failed = !query.exec(&error);
    }
    // A write whose row count nobody reads may travel with the commit, which then fails.
    if (!failed)
        failed = !m_module->commit(&error);
    QVERIFY(failed);
    QVERIFY(!error.isEmpty());
    QVERIFY(!m_module->inTransaction());
    QVERIFY(!m_module->commit(&error));

    // Nothing of the operation is stored, also not its first, successful statement.
    m_module->DisconnectDB();
    const auto records = m_db->loginRecords(s("1001"));
    QCOMPARE(records.size(), 2);
    QVERIFY(records.at(1).logoutIpNull);
    QCOMPARE(m_messages.texts(), QStringList());
}

void tst_DataModule::commitStoresEverything()
{
    QVERIFY(m_module->ConnectDB());
    QString error;
    QVERIFY2(m_module->startTransaction(2, &error), qPrintable(error));
    SqlQuery &query = m_module->qryQuery();
    query.setStatement(StatementId::LoginInsertRecord);
    query.bind(s("P0"), s("1001"));
    query.bind(s("P1"), s("3"));
    query.bind(s("P2"), s("127.0.0.1"));
    QVERIFY2(query.exec(&error), qPrintable(error));
    query.setStatement(StatementId::LoginStampDate);
    query.bind(s("P0"), s("1001"));
    QVERIFY2(query.exec(&error), qPrintable(error));

    // Read committed: another session sees nothing before the commit.
    QCOMPARE(m_db->loginRecords(s("1001")).size(), 2);
    QVERIFY2(m_module->commit(&error), qPrintable(error));
    QVERIFY(!m_module->inTransaction());
    QCOMPARE(m_db->loginRecords(s("1001")).size(), 3);
    QCOMPARE(m_db->value(s("SELECT BACK_LOGIN_DATE FROM ZA010MS WHERE EMP_NO = '1001'")).toString(),
             m_db->serverNow().toString(s("yyyyMMdd")));
    m_module->DisconnectDB();
}

void tst_DataModule::disconnectRollsBack()
{
    QVERIFY(m_module->ConnectDB());
    QString error;
    QVERIFY2(m_module->startTransaction(1, &error), qPrintable(error));
    SqlQuery &query = m_module->qryQuery();
    query.setStatement(StatementId::LogoutTakeBack);
    query.bind(s("P0"), s("1001"));
    query.bind(s("P1"), s("127.0.0.1"));
    QVERIFY2(query.exec(&error), qPrintable(error));
    query.setStatement(StatementId::LoginInsertRecord);
    query.bind(s("P0"), s("1001"));
    query.bind(s("P1"), s("3"));
    query.bind(s("P2"), s("127.0.0.1"));
    QVERIFY2(query.exec(&error), qPrintable(error));
    m_module->DisconnectDB();
    QVERIFY(!m_module->inTransaction());
    QCOMPARE(m_db->loginRecords(s("1001")).size(), 2);
}

void tst_DataModule::readCommittedWithDescriptor_data()
{
    QTest::addColumn<int>("descriptor");
    QTest::newRow("logout recording") << 1;
    QTest::newRow("login recording") << 2;
    QTest::newRow("password change") << 3;
}

void tst_DataModule::readCommittedWithDescriptor()
{
    QFETCH(int, descriptor);

    QVERIFY(m_module->ConnectDB());
    SqlQuery &query = m_module->qryQuery();
    QString error;
    // Even when the session would start stricter transactions by default.
    query.setText(s("SET default_transaction_isolation = 'serializable'"));
    QVERIFY2(query.exec(&error), qPrintable(error));
    QVERIFY2(m_module->startTransaction(descriptor, &error), qPrintable(error));
    QVERIFY(m_module->inTransaction());
    QCOMPARE(m_module->transactionDescriptor(), descriptor);
    query.setText(s("SHOW transaction_isolation"));
    QVERIFY2(query.open(&error), qPrintable(error));
    QVERIFY(query.next());
    QCOMPARE(query.text(0), s("read committed"));
    query.close();
    QVERIFY2(m_module->commit(&error), qPrintable(error));
    QCOMPARE(m_module->transactionDescriptor(), 0);
}

void tst_DataModule::secondStartKeepsTheFirstTransaction()
{
    QVERIFY(m_module->ConnectDB());
    QString error;
    QVERIFY(m_module->startTransaction(1, &error));
    QVERIFY(m_module->startTransaction(3, &error));
    QCOMPARE(m_module->transactionDescriptor(), 1);
    m_module->rollback();
    QVERIFY(!m_module->inTransaction());
    QVERIFY(!m_module->startTransaction(0, &error));
}

void tst_DataModule::noTransactionWithoutConnection()
{
    QString error;
    QVERIFY(!m_module->startTransaction(1, &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!m_module->inTransaction());
    SqlQuery &query = m_module->qryQuery();
    query.setStatement(StatementId::ServerTime);
    QVERIFY(!query.open(&error));
    QVERIFY(!query.isOpen());
}

void tst_DataModule::runner_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QList<Binding>>("bindings");
    QTest::addColumn<QString>("result");  // the first column of the only row; or the error part
    QTest::addColumn<bool>("succeeds");

    const QString three = s("SELECT CAST(:P0 AS text) || '/' || CAST(:P0 AS text) || '/' || CAST(:p1 AS text)");
    QTest::newRow("one value for every occurrence")
        << three << QList<Binding>{{s("P0"), s("a")}, {s("P1"), s("b")}} << s("a/a/b") << true;
    QTest::newRow("one occurrence bound apart")
        << three << QList<Binding>{{s("P0"), s("a")}, {s("P1"), s("b")}, {s("P0"), s("x"), 1}}
        << s("a/x/b") << true;
    QTest::newRow("occurrences bound apart without a common value")
        << three << QList<Binding>{{s("P0"), s("a"), 0}, {s("P0"), s("x"), 1}, {s("P1"), s("b")}}
        << s("a/x/b") << true;
    QTest::newRow("occurrence without a value")
        << three << QList<Binding>{{s("P0"), s("a"), 0}, {s("P1"), s("b")}} << s(":P0") << false;
    QTest::newRow("name without a value") << three << QList<Binding>{{s("P0"), s("a")}} << s(":P1")
                                          << false;
    QTest::newRow("name inside a literal") << s("SELECT ':P0' || CAST(:P0 AS text)")
                                           << QList<Binding>{{s("P0"), s("v")}} << s(":P0v") << true;
    QTest::newRow("name inside a comment")
        << s("SELECT /* :P9 */ CAST(:P0 AS text) -- :P8\r") << QList<Binding>{{s("P0"), s("v")}}
        << s("v") << true;
    QTest::newRow("cast after a parameter") << s("SELECT CAST(:P0 AS text)::int + 1")
                                            << QList<Binding>{{s("P0"), s("41")}} << s("42") << true;
    QTest::newRow("quotes in a value stay in the value")
        << s("SELECT CAST(:P0 AS text)")
        << QList<Binding>{{s("P0"), s("O'Brien'); DROP TABLE ZA010DT; --")}}
        << s("O'Brien'); DROP TABLE ZA010DT; --") << true;
    QTest::newRow("empty value is the empty text, not NULL")
        << s("SELECT CASE WHEN CAST(:P0 AS text) IS NULL THEN 'null' ELSE 'empty' END")
        << QList<Binding>{{s("P0"), QString()}} << s("empty") << true;
    QTest::newRow("korean value") << s("SELECT length(CAST(:P0 AS text))")
                                  << QList<Binding>{{s("P0"), s("타PC강제종료")}} << s("7") << true;
    QTest::newRow("server error") << s("SELECT * FROM NO_SUCH_TABLE") << QList<Binding>{}
                                  << s("no_such_table") << false;
}

void tst_DataModule::runner()
{
    QFETCH(QString, sql);
    QFETCH(QList<Binding>, bindings);
    QFETCH(QString, result);
    QFETCH(bool, succeeds);

    QVERIFY(m_module->ConnectDB());
    SqlQuery &query = m_module->qryQuery();
    query.setText(sql);
    for (const Binding &b : bindings) {
        if (b.occurrence < 0)
            query.bind(b.name, b.value);
        else
            query.bindOccurrence(b.name, b.occurrence, b.value);
    }
    QString error;
    const bool opened = query.open(&error);
    QCOMPARE(opened, succeeds);
    if (!succeeds) {
        QVERIFY2(error.contains(result), qPrintable(error));
        QVERIFY(!query.isOpen());
        return;
    }
    QVERIFY(query.next());
    QCOMPARE(query.text(0), result);
    QVERIFY(!query.next());
    query.close();
    QVERIFY(!query.isOpen());
    // The table is still there whatever the values held.
    QCOMPARE(m_db->loginRecords(s("1001")).size(), 2);
}

void tst_DataModule::failedSelectIsClosed()
{
    QVERIFY(m_module->ConnectDB());
    SqlQuery &query = m_module->qryQuery();
    QString error;
    query.setStatement(StatementId::ServerTime);
    QVERIFY(query.open(&error));
    QVERIFY(query.isOpen());
    query.setText(s("SELECT 1 / 0"));
    QVERIFY(!query.isOpen());  // a new statement closes the old one
    QVERIFY(!query.open(&error));
    QVERIFY(!query.isOpen());
    QVERIFY(!query.next());
    QVERIFY(!query.value(0).isValid());
    // The connection is still usable.
    query.setStatement(StatementId::ServerTime);
    QVERIFY2(query.open(&error), qPrintable(error));
    QVERIFY(query.next());
}

void tst_DataModule::rowsSentAheadNeverStale_data()
{
    QTest::addColumn<bool>("writeBetween");
    QTest::addColumn<QString>("expected");

    QTest::newRow("taken as sent") << false << s("127.0.0.1");
    // A statement run in between may have changed what the read would find.
    QTest::newRow("a write in between") << true << s("*127.0.0.1");
}

void tst_DataModule::rowsSentAheadNeverStale()
{
    QFETCH(bool, writeBetween);
    QFETCH(QString, expected);

    QVERIFY(m_module->ConnectDB());
    SqlQuery &query = m_module->qryQuery();
    QString error;
    query.setStatement(StatementId::LoginLatestRecord);
    query.bind(s("P0"), s("1001"));
    query.sendAhead();
    query.setStatement(StatementId::LoginEmployee);
    query.bind(s("P0"), s("1001"));
    query.sendAhead();
    // Both reads are answered here, in one go.
    QVERIFY2(query.open(&error), qPrintable(error));
    QVERIFY(query.next());
    if (writeBetween) {
        query.setText(s("UPDATE ZA010DT SET LOGOUT_IP = '*' || LOGOUT_IP WHERE EMP_NO = :P0"));
        query.bind(s("P0"), s("1001"));
        QVERIFY2(query.exec(&error), qPrintable(error));
    }
    query.setStatement(StatementId::LoginLatestRecord);
    query.bind(s("P0"), s("1001"));
    QVERIFY2(query.open(&error), qPrintable(error));
    QVERIFY(query.next());
    QCOMPARE(query.text(5), expected);
    query.close();
    m_module->DisconnectDB();
}

QTEST_GUILESS_MAIN(tst_DataModule)
#include "tst_datamodule.moc"
