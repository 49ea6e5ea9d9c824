// Every statement of the catalogue on the real PostgreSQL schema with the demo data.
#include "db/sqlquery.h"
#include "db/statementcatalogue.h"
#include "db/tfrm_zd000.h"
#include "fakemessages.h"
#include "testdatabase.h"

#include <QSet>
#include <QtTest>

#include <algorithm>

namespace {

struct Binding
{
    QString name;
    QString value;
    int occurrence = -1;  // -1: every occurrence
};

QString s(const char *text)
{
    return QString::fromUtf8(text);
}

}  // namespace

Q_DECLARE_METATYPE(Binding)
Q_DECLARE_METATYPE(StatementId)

class tst_DbCatalogue : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void serverTime();
    void environmentName_data();
    void environmentName();
    void employee_data();
    void employee();
    void projectRights_data();
    void projectRights();
    void roleChoices_data();
    void roleChoices();
    void latestRecord_data();
    void latestRecord();
    void closeRecord_data();
    void closeRecord();
    void insertRecord();
    void insertRecordTwiceIsRefused();
    void stampDate();
    void composition_data();
    void composition();
    void passwordUpdate_data();
    void passwordUpdate();
    void logout_data();
    void logout();

private:
    QList<QStringList> select(StatementId id, const QList<Binding> &bindings);
    bool execute(StatementId id, const QList<Binding> &bindings, int *rows = nullptr,
                 QString *error = nullptr);
    void setUp(const QString &sql);

    std::unique_ptr<TestDatabase> m_db;
    FakeMessages m_messages;
    std::unique_ptr<Tfrm_ZD000> m_module;
    QSet<StatementId> m_used;
};

void tst_DbCatalogue::initTestCase()
{
    QString error;
    m_db = TestDatabase::open(&error);
    if (!m_db)
        QFAIL(qPrintable(error));
    m_module = std::make_unique<Tfrm_ZD000>(m_messages);
    m_db->configure(*m_module);
}

void tst_DbCatalogue::init()
{
    QString error;
    QVERIFY2(m_db->reset(&error), qPrintable(error));
    QVERIFY(m_module->ConnectDB());
}

void tst_DbCatalogue::cleanup()
{
    m_module->DisconnectDB();
    QCOMPARE(m_messages.texts(), QStringList());
}

void tst_DbCatalogue::cleanupTestCase()
{
    if (!m_db)
        return;
    QStringList missing;
    for (StatementId id : allStatements()) {
        if (!m_used.contains(id))
            missing.append(statementName(id));
    }
    QVERIFY2(missing.isEmpty(), qPrintable(missing.join(u' ')));
}

QList<QStringList> tst_DbCatalogue::select(StatementId id, const QList<Binding> &bindings)
{
    m_used.insert(id);
    SqlQuery &query = m_module->qryQuery();
    query.setStatement(id);
    for (const Binding &b : bindings) {
        if (b.occurrence < 0)
            query.bind(b.name, b.value);
        else
            query.bindOccurrence(b.name, b.occurrence, b.value);
    }
    QList<QStringList> rows;
    QString error;
    if (!query.open(&error)) {
        QTest::qFail(qPrintable(statementName(id) + QStringLiteral(": ") + error), __FILE__, __LINE__);
        return rows;
    }
    while (query.next()) {
        QStringList row;
        for (int column = 0; column < query.columnCount(); ++column) {
            const QVariant v = query.value(column);
            row.append(v.isNull() ? s("<null>") : v.toString());
        }
        rows.append(row);
    }
    query.close();
    return rows;
}

bool tst_DbCatalogue::execute(StatementId id, const QList<Binding> &bindings, int *rows,
                              QString *error)
{
    m_used.insert(id);
    SqlQuery &query = m_module->qryQuery();
    query.setStatement(id);
    for (const Binding &b : bindings) {
        if (b.occurrence < 0)
            query.bind(b.name, b.value);
        else
            query.bindOccurrence(b.name, b.occurrence, b.value);
    }
    return query.exec(error, rows);
}

void tst_DbCatalogue::setUp(const QString &sql)
{
    if (sql.isEmpty())
        return;
    QString error;
    QVERIFY2(m_db->exec(sql, &error), qPrintable(error));
}

void tst_DbCatalogue::serverTime()
{
    const QList<QStringList> rows = select(StatementId::ServerTime, {});
    QCOMPARE(rows.size(), 1);
    SqlQuery &query = m_module->qryQuery();
    query.setStatement(StatementId::ServerTime);
    QString error;
    QVERIFY2(query.open(&error), qPrintable(error));
    QVERIFY(query.next());
    const QDateTime time = query.value(0).toDateTime();
    query.close();
    QVERIFY(time.isValid());
    QCOMPARE(time.time().msec(), 0);
    const QDateTime server = m_db->serverNow();
    QVERIFY2(qAbs(time.secsTo(server)) <= 5, qPrintable(time.toString(Qt::ISODate)
                                                         + u' ' + server.toString(Qt::ISODate)));
}

void tst_DbCatalogue::environmentName_data()
{
    QTest::addColumn<QString>("account");
    QTest::addColumn<QStringList>("names");

    QTest::newRow("demo account") << s("orsa_demo") << QStringList{s("데모 환경")};
    QTest::newRow("test account in lower case") << s("ortest") << QStringList{s("테스트 환경")};
    QTest::newRow("test account in upper case") << s("ORTEST") << QStringList{s("테스트 환경")};
    QTest::newRow("unknown account") << s("nobody") << QStringList{};
}

void tst_DbCatalogue::environmentName()
{
    QFETCH(QString, account);
    QFETCH(QStringList, names);

    QStringList found;
    for (const QStringList &row : select(StatementId::EnvironmentName, {{s("P0"), account}}))
        found.append(row.value(0));
    QCOMPARE(found, names);
}

void tst_DbCatalogue::employee_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("empNo");
    QTest::addColumn<QStringList>("row");  // empty: no row

    const QString period = s("DELETE FROM ZX010MS WHERE HEAD = 'Z1002' AND DETAIL <> ' ';"
                             "INSERT INTO ZX010MS VALUES ('Z1002', '%1', NULL);");
    const QString changed = s("UPDATE ZA010MS SET U_DATE = %1 WHERE EMP_NO = '1001';");

    QTest::newRow("regular employee") << QString() << s("1001")
                                      << QStringList{s("orsa1001!"), s("1001"), s("김민준"), s("80")};
    QTest::newRow("new employee") << QString() << s("1002")
                                  << QStringList{s("1002"), s("1002"), s("이서연"), s("89")};
    QTest::newRow("expired demo employee")
        << QString() << s("1003") << QStringList{s("orsa1003!"), s("1003"), s("박지호"), s("-10")};
    QTest::newRow("not in use") << QString() << s("1005") << QStringList{};
    QTest::newRow("unknown number") << QString() << s("9999") << QStringList{};
    QTest::newRow("number with a trailing blank is not trimmed")
        << QString() << s("1001 ") << QStringList{};
    QTest::newRow("no password code") << s("UPDATE ZA010MS SET PASSWORD_CODE = NULL WHERE EMP_NO = '1001'")
                                      << s("1001")
                                      << QStringList{s("<null>"), s("1001"), s("김민준"), s("80")};
    QTest::newRow("period 90, changed 90 days ago")
        << changed.arg(s("LOCALTIMESTAMP(0) - INTERVAL '90 days'")) << s("1001")
        << QStringList{s("orsa1001!"), s("1001"), s("김민준"), s("0")};
    QTest::newRow("period 90, changed 89 days ago")
        << changed.arg(s("LOCALTIMESTAMP(0) - INTERVAL '89 days'")) << s("1001")
        << QStringList{s("orsa1001!"), s("1001"), s("김민준"), s("1")};
    // Both sides are cut to the day: late on the day 90 days ago is still expired today.
    QTest::newRow("period 90, late on the day 90 days ago")
        << changed.arg(s("date_trunc('day', LOCALTIMESTAMP(0)) - INTERVAL '90 days' + INTERVAL '23 hours 59 minutes'"))
        << s("1001") << QStringList{s("orsa1001!"), s("1001"), s("김민준"), s("0")};
    QTest::newRow("period 0 never expires")
        << period.arg(s("0")) + changed.arg(s("LOCALTIMESTAMP(0) - INTERVAL '5000 days'"))
        << s("1001") << QStringList{s("orsa1001!"), s("1001"), s("김민준"), s("1")};
    QTest::newRow("negative period never expires")
        << period.arg(s("-30")) + changed.arg(s("LOCALTIMESTAMP(0) - INTERVAL '5000 days'"))
        << s("1001") << QStringList{s("orsa1001!"), s("1001"), s("김민준"), s("1")};
    QTest::newRow("period of 30 days")
        << period.arg(s("30")) << s("1001")
        << QStringList{s("orsa1001!"), s("1001"), s("김민준"), s("20")};
    QTest::newRow("no period row: nobody is found")
        << s("DELETE FROM ZX010MS WHERE HEAD = 'Z1002'") << s("1001") << QStringList{};
    QTest::newRow("only the blank period row: nobody is found")
        << s("DELETE FROM ZX010MS WHERE HEAD = 'Z1002' AND DETAIL <> ' '") << s("1001")
        << QStringList{};
    QTest::newRow("korean password")
        << s("UPDATE ZA010MS SET PASSWORD_CODE = FN_ZA010MS_01('비밀번호!234', 'TeLa') WHERE EMP_NO = '1001'")
        << s("1001") << QStringList{s("비밀번호!234"), s("1001"), s("김민준"), s("80")};
}

void tst_DbCatalogue::employee()
{
    QFETCH(QString, setup);
    QFETCH(QString, empNo);
    QFETCH(QStringList, row);

    setUp(setup);
    const QList<QStringList> rows = select(StatementId::LoginEmployee, {{s("P0"), empNo}});
    if (row.isEmpty()) {
        QCOMPARE(rows.size(), 0);
        return;
    }
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.first(), row);
}

void tst_DbCatalogue::projectRights_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("empNo");
    QTest::addColumn<QStringList>("rights");  // "PROJECT=TEAM_ROLE", sorted

    QTest::newRow("every team-role type")
        << QString() << s("1001")
        << QStringList{s("ORSA_A=0"), s("ORSA_B=1"), s("ORSA_C=2"), s("ORSA_D=3")};
    QTest::newRow("withdrawn beats level and added grant")
        << QString() << s("1004") << QStringList{s("ORSA_A=0")};
    QTest::newRow("levels only") << QString() << s("1003")
                                 << QStringList{s("ORSA_A=0"), s("ORSA_C=2")};
    QTest::newRow("every program of a project withdrawn")
        << s("INSERT INTO ZA150MS VALUES ('1001', 'ORSA_A', 'A001', 'N'), ('1001', 'ORSA_A', 'A002', 'N')")
        << s("1001") << QStringList{s("ORSA_B=1"), s("ORSA_C=2"), s("ORSA_D=3")};
    QTest::newRow("one program of two withdrawn keeps the project")
        << s("INSERT INTO ZA150MS VALUES ('1001', 'ORSA_A', 'A001', 'N')") << s("1001")
        << QStringList{s("ORSA_A=0"), s("ORSA_B=1"), s("ORSA_C=2"), s("ORSA_D=3")};
    QTest::newRow("withdrawal of another employee does not count")
        << s("INSERT INTO ZA150MS VALUES ('1003', 'ORSA_C', 'C001', 'N'), ('1003', 'ORSA_C', 'C002', 'N')")
        << s("1001") << QStringList{s("ORSA_A=0"), s("ORSA_B=1"), s("ORSA_C=2"), s("ORSA_D=3")};
    QTest::newRow("unknown employee") << QString() << s("9999") << QStringList{};
}

void tst_DbCatalogue::projectRights()
{
    QFETCH(QString, setup);
    QFETCH(QString, empNo);
    QFETCH(QStringList, rights);

    setUp(setup);
    QStringList found;
    for (const QStringList &row : select(StatementId::LoginProjectRights, {{s("P0"), empNo}}))
        found.append(row.value(0) + u'=' + row.value(1));
    found.sort();
    QCOMPARE(found, rights);
}

void tst_DbCatalogue::roleChoices_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("empNo");
    QTest::addColumn<QStringList>("choices");  // "PROJECT:CODE:NAME", sorted

    QTest::newRow("one project per team-role type")
        << QString() << s("1001")
        << QStringList{s("ORSA_B:10:리조트 본관"), s("ORSA_B:20:골프클럽"),
                       s("ORSA_C:110:식음료1팀"), s("ORSA_C:120:식음료2팀"),
                       s("ORSA_D:1001:한식당 수라"), s("ORSA_D:1002:양식당 라벨")};
    QTest::newRow("type 0 project turned into type 1")
        << s("UPDATE ZA020MS SET TEAM_ROLE = '1' WHERE PROJECT_ID = 'ORSA_A'") << s("1001")
        << QStringList{s("ORSA_A:10:리조트 본관"), s("ORSA_B:10:리조트 본관"), s("ORSA_B:20:골프클럽"),
                       s("ORSA_C:110:식음료1팀"), s("ORSA_C:120:식음료2팀"),
                       s("ORSA_D:1001:한식당 수라"), s("ORSA_D:1002:양식당 라벨")};
    QTest::newRow("type 3 project turned into type 2")
        << s("UPDATE ZA020MS SET TEAM_ROLE = '2' WHERE PROJECT_ID = 'ORSA_D';"
             "UPDATE ZA120MS SET TEAM_CODE = '130' WHERE PROJECT_ID = 'ORSA_D' AND UPJANG_CODE = '1001'")
        << s("1001")
        << QStringList{s("ORSA_B:10:리조트 본관"), s("ORSA_B:20:골프클럽"),
                       s("ORSA_C:110:식음료1팀"), s("ORSA_C:120:식음료2팀"), s("ORSA_D:130:객실팀")};
    QTest::newRow("another employee") << QString() << s("1003")
                                      << QStringList{s("ORSA_C:130:객실팀")};
    QTest::newRow("no role codes") << QString() << s("1002") << QStringList{};
}

void tst_DbCatalogue::roleChoices()
{
    QFETCH(QString, setup);
    QFETCH(QString, empNo);
    QFETCH(QStringList, choices);

    setUp(setup);
    QStringList found;
    for (const QStringList &row : select(StatementId::LoginRoleChoices, {{s("P0"), empNo}})) {
        QCOMPARE(row.size(), 3);
        found.append(row.join(u':'));
    }
    found.sort();
    QCOMPARE(found, choices);
}

void tst_DbCatalogue::latestRecord_data()
{
    QTest::addColumn<QString>("empNo");
    QTest::addColumn<QList<int>>("insertOrder");
    QTest::addColumn<QString>("seq");         // empty: no row
    QTest::addColumn<QString>("multiLogin");

    QTest::newRow("records 1 to 7 in mixed order") << s("1003") << QList<int>{3, 7, 1, 5, 2, 6, 4}
                                                   << s("7") << s("N");
    QTest::newRow("10 is later than 9") << s("1003") << QList<int>{9, 10, 2, 1} << s("10") << s("N");
    QTest::newRow("one record") << s("1003") << QList<int>{1} << s("1") << s("N");
    QTest::newRow("no record") << s("1003") << QList<int>{} << QString() << QString();
    QTest::newRow("multi-login employee") << s("1004") << QList<int>{1, 2} << s("2") << s("Y");
    QTest::newRow("demo records") << s("1001") << QList<int>{} << s("2") << s("N");
}

void tst_DbCatalogue::latestRecord()
{
    QFETCH(QString, empNo);
    QFETCH(QList<int>, insertOrder);
    QFETCH(QString, seq);
    QFETCH(QString, multiLogin);

    for (int n : insertOrder) {
        QString error;
        QVERIFY2(m_db->insertLoginRecord(empNo, n, s("127.0.0.%1").arg(n), s("127.0.0.%1").arg(n),
                                         100000 - n * 100, -1, &error),
                 qPrintable(error));
    }
    // The latest one is live, so that LOGOUT_IP's position is checked with a NULL too.
    if (!insertOrder.isEmpty()) {
        setUp(s("UPDATE ZA010DT SET LOGOUT_IP = NULL, LOGOUT_TIME = NULL WHERE EMP_NO = '%1' AND SEQ = %2")
                  .arg(empNo, seq));
    }
    const QList<QStringList> rows = select(StatementId::LoginLatestRecord, {{s("P0"), empNo}});
    if (seq.isEmpty()) {
        QCOMPARE(rows.size(), 0);
        return;
    }
    QCOMPARE(rows.size(), 1);
    const QStringList row = rows.first();
    QCOMPARE(row.size(), 7);
    QCOMPARE(row.at(0), empNo);
    QCOMPARE(row.at(1), seq);
    QVERIFY(row.at(2) != s("<null>"));
    if (!insertOrder.isEmpty()) {
        QCOMPARE(row.at(3), s("127.0.0.") + seq);
        QCOMPARE(row.at(4), s("<null>"));
        QCOMPARE(row.at(5), s("<null>"));
    } else {
        QCOMPARE(row.at(3), s("127.0.0.1"));
        QCOMPARE(row.at(5), s("127.0.0.1"));
    }
    QCOMPARE(row.at(6), multiLogin);
}

void tst_DbCatalogue::closeRecord_data()
{
    QTest::addColumn<QString>("logoutIp");
    QTest::addColumn<QString>("closedBefore");   // how the record ended before the statement
    QTest::newRow("same workstation") << s("강제종료") << QString();
    QTest::newRow("other workstation did not answer") << s("타PC강제종료") << QString();
    // The other shell was closing and recorded its final logout while declining the request:
    // the normal end stays.
    QTest::newRow("closed normally meanwhile") << s("타PC강제종료") << s("127.0.0.1");
}

void tst_DbCatalogue::closeRecord()
{
    QFETCH(QString, logoutIp);
    QFETCH(QString, closedBefore);

    QVERIFY(m_db->insertLoginRecord(s("1001"), 3, s("127.0.0.1"), closedBefore, 7200,
                                    closedBefore.isEmpty() ? -1 : 600));
    QVERIFY(m_db->insertLoginRecord(s("1001"), 4, s("127.0.0.1"), QString(), 3600));
    int rows = -1;
    QString error;
    QVERIFY2(execute(StatementId::LoginCloseRecord,
                     {{s("P0"), s("1001")}, {s("P1"), s("3")}, {s("P2"), logoutIp}}, &rows, &error),
             qPrintable(error));
    QCOMPARE(rows, closedBefore.isEmpty() ? 1 : 0);

    const auto records = m_db->loginRecords(s("1001"));
    QCOMPARE(records.size(), 4);
    if (closedBefore.isEmpty()) {
        QCOMPARE(records.at(2).logoutIp, logoutIp);
        QVERIFY(qAbs(records.at(2).logoutTime.secsTo(m_db->serverNow())) <= 5);
    } else {
        QCOMPARE(records.at(2).logoutIp, closedBefore);
        QVERIFY(qAbs(records.at(2).logoutTime.secsTo(m_db->serverNow()) - 600) <= 5);
    }
    QVERIFY(records.at(3).logoutIpNull);
    QVERIFY(!records.at(3).logoutTime.isValid());
    QCOMPARE(records.at(1).logoutIp, s("127.0.0.1"));
}

void tst_DbCatalogue::insertRecord()
{
    QString error;
    QVERIFY2(execute(StatementId::LoginInsertRecord,
                     {{s("P0"), s("1001")}, {s("P1"), s("3")}, {s("P2"), s("127.0.0.9")}}, nullptr,
                     &error),
             qPrintable(error));
    const auto records = m_db->loginRecords(s("1001"));
    QCOMPARE(records.size(), 3);
    const auto &r = records.last();
    QCOMPARE(r.seq, 3);
    QCOMPARE(r.loginIp, s("127.0.0.9"));
    QVERIFY(qAbs(r.loginTime.secsTo(m_db->serverNow())) <= 5);
    QVERIFY(!r.logoutTime.isValid());
    QVERIFY(r.logoutIpNull);
}

// Two logins that computed the same number: the key refuses the second.
void tst_DbCatalogue::insertRecordTwiceIsRefused()
{
    QString error;
    QVERIFY(!execute(StatementId::LoginInsertRecord,
                     {{s("P0"), s("1001")}, {s("P1"), s("2")}, {s("P2"), s("127.0.0.9")}}, nullptr,
                     &error));
    QVERIFY2(error.contains(s("pk_za010dt")), qPrintable(error));
    QCOMPARE(m_db->loginRecords(s("1001")).size(), 2);
}

void tst_DbCatalogue::stampDate()
{
    int rows = -1;
    QString error;
    QVERIFY2(execute(StatementId::LoginStampDate, {{s("P0"), s("1002")}}, &rows, &error),
             qPrintable(error));
    QCOMPARE(rows, 1);
    QCOMPARE(m_db->value(s("SELECT BACK_LOGIN_DATE FROM ZA010MS WHERE EMP_NO = '1002'")).toString(),
             m_db->serverNow().toString(s("yyyyMMdd")));
    QVERIFY(m_db->value(s("SELECT BACK_LOGIN_DATE FROM ZA010MS WHERE EMP_NO = '1003'")).isNull());
}

void tst_DbCatalogue::composition_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<QList<int>>("counts");  // total, digits, special, other

    QTest::newRow("letters then digits") << s("abcd1234") << QList<int>{8, 4, 0, 4};
    QTest::newRow("letter between digits") << s("1a2!3456") << QList<int>{8, 6, 1, 1};
    QTest::newRow("digit at the end") << s("Pass!word9") << QList<int>{10, 1, 1, 8};
    QTest::newRow("digits without 0") << s("12345678") << QList<int>{8, 8, 0, 0};
    QTest::newRow("one digit repeated") << s("99999999") << QList<int>{8, 8, 0, 0};
    QTest::newRow("zeros") << s("0000") << QList<int>{4, 4, 0, 0};
    QTest::newRow("letters only") << s("abcdefghij") << QList<int>{10, 0, 0, 10};
    QTest::newRow("every special character") << s("!@#$%^&*()_+~") << QList<int>{13, 0, 13, 0};
    QTest::newRow("korean with digits and special") << s("비밀번호123!") << QList<int>{8, 3, 1, 4};
    QTest::newRow("korean only") << s("가나다라마바사아") << QList<int>{8, 0, 0, 8};
    QTest::newRow("blank counts as other") << s("a b1!") << QList<int>{5, 1, 1, 3};
    QTest::newRow("X is an ordinary letter") << s("X9!x") << QList<int>{4, 1, 1, 2};
    QTest::newRow("quotes are just characters") << s("x' or '1'='1") << QList<int>{12, 2, 0, 10};
    QTest::newRow("other punctuation is no special character")
        << s("a-b=c.d,1") << QList<int>{9, 1, 0, 8};
}

void tst_DbCatalogue::composition()
{
    QFETCH(QString, password);
    QFETCH(QList<int>, counts);

    const QList<QStringList> rows = select(StatementId::PasswordComposition, {{s("P1"), password}});
    QCOMPARE(rows.size(), 1);
    QList<int> found;
    for (const QString &v : rows.first())
        found.append(v.toInt());
    QCOMPARE(found, counts);
}

void tst_DbCatalogue::passwordUpdate_data()
{
    QTest::addColumn<QString>("password");
    QTest::newRow("ascii") << s("newPass!1");
    QTest::newRow("korean") << s("비밀번호!234");
    QTest::newRow("quote") << s("it's!9pass");
}

void tst_DbCatalogue::passwordUpdate()
{
    QFETCH(QString, password);

    const QVariant otherBefore = m_db->value(s("SELECT PASSWORD_CODE FROM ZA010MS WHERE EMP_NO = '1001'"));
    int rows = -1;
    QString error;
    QVERIFY2(execute(StatementId::PasswordUpdate,
                     {{s("P0"), password}, {s("P1"), s("1002")}, {s("P2"), s("127.0.0.5")}}, &rows,
                     &error),
             qPrintable(error));
    QCOMPARE(rows, 1);

    const auto row = m_db->rows(s("SELECT FN_ZA010MS_02(PASSWORD_CODE, 'TeLa'), U_EMP_NO, U_IP, U_DATE "
                                  "FROM ZA010MS WHERE EMP_NO = '1002'"));
    QCOMPARE(row.size(), 1);
    QCOMPARE(row.first().at(0).toString(), password);
    QCOMPARE(row.first().at(1).toString(), s("1002"));
    QCOMPARE(row.first().at(2).toString(), s("127.0.0.5"));
    QVERIFY(qAbs(row.first().at(3).toDateTime().secsTo(m_db->serverNow())) <= 5);
    QCOMPARE(m_db->value(s("SELECT PASSWORD_CODE FROM ZA010MS WHERE EMP_NO = '1001'")), otherBefore);

    // The login then finds the new password, and the password age starts again.
    const auto login = select(StatementId::LoginEmployee, {{s("P0"), s("1002")}});
    QCOMPARE(login.size(), 1);
    QCOMPARE(login.first().at(0), password);
    QCOMPARE(login.first().at(3), s("90"));
}

void tst_DbCatalogue::logout_data()
{
    QTest::addColumn<StatementId>("id");
    QTest::addColumn<QList<Binding>>("bindings");
    QTest::addColumn<int>("changed");
    // Per record of 1001 (SEQ 3 to 8) and of 1003 (SEQ 1): LOGOUT_IP and the state of
    // LOGOUT_TIME ("null", "now" = set by the statement, "kept").
    QTest::addColumn<QStringList>("expected");

    const QString a = s("127.0.0.1");
    const QString b = s("127.0.0.2");
    const QStringList before{s("3:<null>:null"), s("4:<null>:null"), s("5:<null>:null"),
                             s("6:127.0.0.1:kept"), s("7:*127.0.0.1:kept"), s("8:*127.0.0.2:kept"),
                             s("1003/1:<null>:null")};

    QTest::newRow("kind 1 closes every live record of this workstation")
        << StatementId::LogoutClose << QList<Binding>{{s("P0"), s("1001")}, {s("P1"), a}} << 2
        << QStringList{s("3:127.0.0.1:now"), s("4:127.0.0.1:now"), before.at(2), before.at(3),
                       before.at(4), before.at(5), before.at(6)};
    QTest::newRow("kind 2 writes the star but matches the plain address")
        << StatementId::LogoutProvisional
        << QList<Binding>{{s("P0"), s("1001")}, {s("P1"), s("*") + a, 0}, {s("P1"), a, 1}} << 2
        << QStringList{s("3:*127.0.0.1:now"), s("4:*127.0.0.1:now"), before.at(2), before.at(3),
                       before.at(4), before.at(5), before.at(6)};
    QTest::newRow("kind 2 with one value for both occurrences matches nothing")
        << StatementId::LogoutProvisional
        << QList<Binding>{{s("P0"), s("1001")}, {s("P1"), s("*") + a}} << 0 << before;
    QTest::newRow("kind 3 removes the star and keeps the time")
        << StatementId::LogoutConfirm << QList<Binding>{{s("P0"), s("1001")}, {s("P1"), a}} << 1
        << QStringList{before.at(0), before.at(1), before.at(2), before.at(3),
                       s("7:127.0.0.1:kept"), before.at(5), before.at(6)};
    QTest::newRow("kind 4 makes the record live again")
        << StatementId::LogoutTakeBack << QList<Binding>{{s("P0"), s("1001")}, {s("P1"), a}} << 1
        << QStringList{before.at(0), before.at(1), before.at(2), before.at(3),
                       s("7:<null>:null"), before.at(5), before.at(6)};
    QTest::newRow("kind 1 for another workstation")
        << StatementId::LogoutClose << QList<Binding>{{s("P0"), s("1001")}, {s("P1"), b}} << 1
        << QStringList{before.at(0), before.at(1), s("5:127.0.0.2:now"), before.at(3),
                       before.at(4), before.at(5), before.at(6)};
    QTest::newRow("empty employee number changes nothing")
        << StatementId::LogoutConfirm << QList<Binding>{{s("P0"), QString()}, {s("P1"), a}} << 0
        << before;
}

void tst_DbCatalogue::logout()
{
    QFETCH(StatementId, id);
    QFETCH(QList<Binding>, bindings);
    QFETCH(int, changed);
    QFETCH(QStringList, expected);

    const QString a = s("127.0.0.1");
    const QString b = s("127.0.0.2");
    QVERIFY(m_db->insertLoginRecord(s("1001"), 3, a, QString(), 9000));
    QVERIFY(m_db->insertLoginRecord(s("1001"), 4, a, QString(), 8000));
    QVERIFY(m_db->insertLoginRecord(s("1001"), 5, b, QString(), 7000));
    QVERIFY(m_db->insertLoginRecord(s("1001"), 6, a, a, 6000, 5900));
    QVERIFY(m_db->insertLoginRecord(s("1001"), 7, a, s("*") + a, 5000, 4900));
    QVERIFY(m_db->insertLoginRecord(s("1001"), 8, b, s("*") + b, 4000, 3900));
    QVERIFY(m_db->insertLoginRecord(s("1003"), 1, a, QString(), 3000));
    const auto timesBefore = m_db->loginRecords(s("1001"));

    int rows = -1;
    QString error;
    QVERIFY2(execute(id, bindings, &rows, &error), qPrintable(error));
    QCOMPARE(rows, changed);

    const QDateTime now = m_db->serverNow();
    QStringList found;
    auto describe = [&](const TestDatabase::LoginRecord &r, const QString &prefix,
                        const QDateTime &logoutTimeBefore) {
        QString time = s("kept");
        if (!r.logoutTime.isValid())
            time = s("null");
        else if (r.logoutTime != logoutTimeBefore && qAbs(r.logoutTime.secsTo(now)) <= 5)
            time = s("now");
        else if (r.logoutTime != logoutTimeBefore)
            time = s("changed");
        found.append(prefix + QString::number(r.seq) + u':'
                     + (r.logoutIpNull ? s("<null>") : r.logoutIp) + u':' + time);
    };
    for (const auto &r : m_db->loginRecords(s("1001"))) {
        if (r.seq < 3)
            continue;
        QDateTime previous;
        for (const auto &p : timesBefore) {
            if (p.seq == r.seq)
                previous = p.logoutTime;
        }
        describe(r, QString(), previous);
    }
    for (const auto &r : m_db->loginRecords(s("1003")))
        describe(r, s("1003/"), QDateTime());
    QCOMPARE(found, expected);
}

QTEST_GUILESS_MAIN(tst_DbCatalogue)
#include "tst_dbcatalogue.moc"
