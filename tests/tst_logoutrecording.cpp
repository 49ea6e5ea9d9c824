#include "db/sqldialect.h"
#include "db/tfrm_zd000.h"
#include "fakemessages.h"
#include "peer/forcedlogoutclient.h"
#include "session/authentication.h"
#include "session/logoutrecording.h"
#include "shared/sharedvalues.h"
#include "testdatabase.h"

#include <QDateTime>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

const QString Here = u"127.0.0.2"_s;
const QString Elsewhere = u"127.0.0.9"_s;
const QString Earlier = u"2020-01-02 08:30:00"_s;  // a LOGOUT_TIME only the test writes
const QString CannotConnectPrefix = u"데이터베이스와 연결할 수 없습니다.\r\r에러내용:\r"_s;

QDateTime earlier()
{
    return QDateTime::fromString(Earlier, u"yyyy-MM-dd HH:mm:ss"_s);
}

class FakeLoginFields final : public LoginFields
{
public:
    FakeLoginFields(const QString &id, const QString &password) : id(id), pass(password) {}
    QString employeeNumber() const override { return id; }
    QString password() const override { return pass; }
    void clearFields() override { id.clear(), pass.clear(); }
    void selectPassword() override {}
    QString id;
    QString pass;
};

class NoPeer final : public LogoutRequester
{
public:
    bool requestLogout(const QString &address) override
    {
        addresses.append(address);
        return false;
    }
    QStringList addresses;
};

// This workstation's shell: data module, session values, login and logout recording.
struct Shell
{
    explicit Shell(TestDatabase &fixture)
    {
        messages.setApplicationTitle(u"오르사 통합시스템"_s);
        fixture.configure(db);
        shared.LocalIP = Here;
        shared.ProjectIds = {{u"ORSA_A"_s, -1}};
        shared.RoleChoices = {{}};
    }

    bool login(const QString &empNo, const QString &password)
    {
        FakeLoginFields fields(empNo, password);
        return auth.Authenticate(true, fields).value == 1;
    }

    void unreachable() { db.setConnectionParameters(u"orsa_no_such_service"_s, u"orsa_demo"_s, u"orsa_demo"_s); }

    FakeMessages messages;
    Tfrm_ZD000 db{messages};
    SharedValues shared;
    NoPeer peer;
    Authentication auth{db, messages, shared, peer};
    LogoutRecording logout{db, shared};
};

} // namespace

class tst_LogoutRecording : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void kinds_data();
    void kinds();
    void sequences_data();
    void sequences();
    void nobodyLoggedIn_data();
    void nobodyLoggedIn();
    void unreachableAtProgramEnd_data();
    void unreachableAtProgramEnd();
    void refusedStatementRolledBackSilently();

private:
    bool exec(const QString &sql, const QVariantList &values = {});
    bool addRecord(const QString &empNo, int seq, const QString &loginIp, const QVariant &logoutIp);
    // "LOGOUT_IP@time" per record of the employee by SEQ: time "null", "earlier" or the value.
    QStringList states(const QString &empNo);
    QDateTime serverNow();

    std::unique_ptr<TestDatabase> m_db;
    QString m_error;
    bool m_triggerAdded = false;
};

void tst_LogoutRecording::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("ORSA_TEST_PGSERVICE"))
        QSKIP("no test database: run scripts/test, or eval \"$(scripts/dbcluster start DIR)\" first");
    m_db = TestDatabase::open(&m_error);
    QVERIFY2(m_db, qPrintable(m_error));
}

void tst_LogoutRecording::init()
{
    QVERIFY2(m_db->reset(&m_error), qPrintable(m_error));
    QVERIFY(exec(u"INSERT INTO ZA010MS (EMP_NO, EMP_NAME, PASSWORD_CODE, U_DATE)"
                 " VALUES ('7102', '시험 B', FN_ZA010MS_01('pass-7102', 'TeLa'), LOCALTIMESTAMP(0))"_s));
}

void tst_LogoutRecording::cleanup()
{
    if (m_triggerAdded) {
        exec(u"DROP TRIGGER IF EXISTS tst_refuse ON ZA010DT"_s);
        exec(u"DROP FUNCTION IF EXISTS tst_refuse()"_s);
        m_triggerAdded = false;
    }
}

bool tst_LogoutRecording::exec(const QString &sql, const QVariantList &values)
{
    // Null values go to the server as NULL.
    QStringList texts;
    for (const QVariant &value : values)
        texts.append(value.isNull() ? QString() : value.toString());
    return m_db->exec(sql, texts, &m_error);
}

bool tst_LogoutRecording::addRecord(const QString &empNo, int seq, const QString &loginIp,
                                    const QVariant &logoutIp)
{
    return exec(u"INSERT INTO ZA010DT (EMP_NO, SEQ, LOGIN_TIME, LOGIN_IP, LOGOUT_TIME, LOGOUT_IP)"
                " VALUES (?, ?, TIMESTAMP '2020-01-02 08:00:00', ?,"
                "         CASE WHEN CAST(? AS text) IS NULL THEN NULL ELSE TIMESTAMP '2020-01-02 08:30:00' END, ?)"_s,
                {empNo, seq, loginIp, logoutIp, logoutIp});
}

QStringList tst_LogoutRecording::states(const QString &empNo)
{
    QStringList list;
    for (const TestDatabase::LoginRecord &record : m_db->loginRecords(empNo)) {
        QString when;
        if (!record.logoutTime.isValid())
            when = u"null"_s;
        else if (record.logoutTime == earlier())
            when = u"earlier"_s;
        else
            when = record.logoutTime.toString(u"yyyy-MM-dd HH:mm:ss"_s);
        list.append((record.logoutIpNull ? u"NULL"_s : record.logoutIp) + u'@' + when);
    }
    return list;
}

QDateTime tst_LogoutRecording::serverNow()
{
    // Cut to the second as the shell's statements do, not rounded.
    return m_db->value(u"SELECT CAST(date_trunc('second', statement_timestamp()) AS timestamp(0))"_s)
        .toDateTime();
}

void tst_LogoutRecording::kinds_data()
{
    QTest::addColumn<QList<int>>("kinds");
    QTest::addColumn<QStringList>("expected");  // "now" stands for the time of the recording

    // The records of employee 7101 before: 1 and 2 live here, 3 live elsewhere, 4 ended here,
    // 5 ended provisionally here, 6 ended provisionally elsewhere.
    // clang-format off
    QTest::newRow("kind 1 closes every live record here")
        << QList<int>{1}
        << QStringList{u"127.0.0.2@now"_s, u"127.0.0.2@now"_s, u"NULL@null"_s, u"127.0.0.2@earlier"_s, u"*127.0.0.2@earlier"_s, u"*127.0.0.9@earlier"_s};
    QTest::newRow("kind 2 ends them provisionally")
        << QList<int>{2}
        << QStringList{u"*127.0.0.2@now"_s, u"*127.0.0.2@now"_s, u"NULL@null"_s, u"127.0.0.2@earlier"_s, u"*127.0.0.2@earlier"_s, u"*127.0.0.9@earlier"_s};
    QTest::newRow("kind 3 confirms, time kept")
        << QList<int>{2, 3}
        << QStringList{u"127.0.0.2@now"_s, u"127.0.0.2@now"_s, u"NULL@null"_s, u"127.0.0.2@earlier"_s, u"127.0.0.2@earlier"_s, u"*127.0.0.9@earlier"_s};
    QTest::newRow("kind 4 takes back")
        << QList<int>{2, 4}
        << QStringList{u"NULL@null"_s, u"NULL@null"_s, u"NULL@null"_s, u"127.0.0.2@earlier"_s, u"NULL@null"_s, u"*127.0.0.9@earlier"_s};
    QTest::newRow("unknown kinds change nothing")
        << QList<int>{0, 5, -1}
        << QStringList{u"NULL@null"_s, u"NULL@null"_s, u"NULL@null"_s, u"127.0.0.2@earlier"_s, u"*127.0.0.2@earlier"_s, u"*127.0.0.9@earlier"_s};
    // clang-format on
}

void tst_LogoutRecording::kinds()
{
    QFETCH(QList<int>, kinds);
    QFETCH(QStringList, expected);

    const QString a = u"7101"_s;
    QVERIFY(exec(u"INSERT INTO ZA010MS (EMP_NO, EMP_NAME) VALUES ('7101', '시험 A')"_s));
    QVERIFY2(addRecord(a, 1, Here, QVariant()), qPrintable(m_error));
    QVERIFY(addRecord(a, 2, Here, QVariant()));
    QVERIFY(addRecord(a, 3, Elsewhere, QVariant()));
    QVERIFY(addRecord(a, 4, Here, Here));
    QVERIFY(addRecord(a, 5, Here, QString(u'*' + Here)));
    QVERIFY(addRecord(a, 6, Elsewhere, QString(u'*' + Elsewhere)));
    // Another employee's live record here is never touched.
    QVERIFY(addRecord(u"7102"_s, 1, Here, QVariant()));

    Shell shell(*m_db);
    shell.shared.EmpNo = a;
    const QDateTime before = serverNow();
    for (int kind : kinds) {
        shell.logout.RecordLogout(kind);
        QCOMPARE(shell.logout.lastError(), QString());
        // After kind 2 a new login has replaced the session's employee: kinds 3 and 4 must
        // still work on the one kind 2 used.
        if (kind == 2)
            shell.shared.EmpNo = u"7102"_s;
    }
    const QDateTime after = serverNow();

    QStringList actual = states(a);
    for (QString &state : actual) {
        const QString time = state.section(u'@', 1);
        const QDateTime at = QDateTime::fromString(time, u"yyyy-MM-dd HH:mm:ss"_s);
        if (at.isValid() && at >= before && at <= after)
            state = state.section(u'@', 0, 0) + u"@now"_s;
    }
    QCOMPARE(actual, expected);
    QCOMPARE(states(u"7102"_s), QStringList{u"NULL@null"_s});
    QCOMPARE(shell.messages.texts(), QStringList());
    QVERIFY(!shell.db.connected());
}

void tst_LogoutRecording::sequences_data()
{
    QTest::addColumn<QString>("next");      // who logs in after the window opened; empty: cancel
    QTest::addColumn<QStringList>("stateA");  // 1001's records after the sequence
    QTest::addColumn<QStringList>("stateB");
    QTest::addColumn<QString>("empNo");     // the session's employee at the end

    // 1001 has two earlier records that ended normally ("127.0.0.1" at other times).
    const QString old1 = u"127.0.0.1@"_s;
    QTest::newRow("A, window, B")
        << u"7102"_s << QStringList{u"127.0.0.2@opened"_s} << QStringList{u"NULL@null"_s} << u"7102"_s;
    QTest::newRow("A, window, cancel")
        << QString() << QStringList{u"NULL@null"_s} << QStringList() << u"1001"_s;
    QTest::newRow("A, window, A again")
        << u"1001"_s << QStringList{u"127.0.0.2@opened"_s, u"NULL@null"_s} << QStringList() << u"1001"_s;
}

void tst_LogoutRecording::sequences()
{
    QFETCH(QString, next);
    QFETCH(QStringList, stateA);
    QFETCH(QStringList, stateB);
    QFETCH(QString, empNo);

    Shell shell(*m_db);
    QVERIFY(shell.login(u"1001"_s, u"orsa1001!"_s));
    QCOMPARE(states(u"1001"_s).mid(2), QStringList{u"NULL@null"_s});

    // The login window opens: provisional end, at the server's time.
    const QDateTime before = serverNow();
    shell.logout.RecordLogout(2);
    const QDateTime after = serverNow();
    const QString provisional = states(u"1001"_s).value(2);
    QCOMPARE(provisional.section(u'@', 0, 0), u"*127.0.0.2"_s);
    const QDateTime opened = QDateTime::fromString(provisional.section(u'@', 1), u"yyyy-MM-dd HH:mm:ss"_s);
    QVERIFY2(opened >= before && opened <= after, qPrintable(provisional));
    // So that a confirmation that wrote the time anew would show.
    QVERIFY(exec(u"UPDATE ZA010DT SET LOGOUT_TIME = TIMESTAMP '2020-01-02 08:30:00' WHERE EMP_NO = '1001' AND SEQ = 3"_s));

    if (next.isEmpty()) {
        shell.logout.RecordLogout(4);
    } else {
        const QString password = next == u"1001" ? u"orsa1001!"_s : u"pass-7102"_s;
        QVERIFY(shell.login(next, password));
        // The provisional end counts as closed: no question, no "강제종료".
        QCOMPARE(shell.messages.texts(), QStringList());
        QVERIFY(shell.peer.addresses.isEmpty());
        shell.logout.RecordLogout(3);
    }

    QStringList a = states(u"1001"_s);
    // The two earlier records of the demo data stay as they were.
    QCOMPARE(a.size(), 2 + stateA.size());
    QVERIFY(a.at(0).startsWith(u"127.0.0.1@"_s) && a.at(1).startsWith(u"127.0.0.1@"_s));
    a = a.mid(2);
    a.replaceInStrings(u"@earlier"_s, u"@opened"_s);
    QCOMPARE(a, stateA);
    QCOMPARE(states(u"7102"_s), stateB);
    QCOMPARE(shell.shared.EmpNo, empNo);
    QCOMPARE(shell.logout.provisionalEmpNo(), QString());
    QCOMPARE(shell.messages.texts(), QStringList());
}

void tst_LogoutRecording::nobodyLoggedIn_data()
{
    QTest::addColumn<QString>("empNo");
    QTest::addColumn<QList<int>>("kinds");

    QTest::newRow("kind 1 before the first login") << QString() << QList<int>{1};
    QTest::newRow("kind 2 before the first login") << QString() << QList<int>{2};
    QTest::newRow("kind 3 without kind 2") << u"1001"_s << QList<int>{3};
    QTest::newRow("kind 4 without kind 2") << u"1001"_s << QList<int>{4};
    QTest::newRow("first login confirmed") << QString() << QList<int>{2, -3};
    QTest::newRow("first login cancelled") << QString() << QList<int>{2, 4};
}

void tst_LogoutRecording::nobodyLoggedIn()
{
    QFETCH(QString, empNo);
    QFETCH(QList<int>, kinds);

    // The database cannot be reached: a connection attempt would show its message.
    Shell shell(*m_db);
    shell.unreachable();
    shell.shared.EmpNo = empNo;
    for (int kind : kinds) {
        // -3: kind 3 after a login that succeeded, which set the session's employee.
        if (kind == -3) {
            shell.shared.EmpNo = u"1001"_s;
            kind = 3;
        }
        QString error;
        QVERIFY(shell.logout.recordLogout(kind, &error));
        QCOMPARE(error, QString());
    }
    QCOMPARE(shell.messages.texts(), QStringList());
    QVERIFY(!shell.db.connected());
    QCOMPARE(shell.logout.lastError(), QString());
}

void tst_LogoutRecording::unreachableAtProgramEnd_data()
{
    QTest::addColumn<bool>("terminationPending");
    QTest::newRow("normal end") << false;
    QTest::newRow("termination pending") << true;
}

void tst_LogoutRecording::unreachableAtProgramEnd()
{
    QFETCH(bool, terminationPending);

    Shell shell(*m_db);
    QVERIFY(shell.login(u"1001"_s, u"orsa1001!"_s));
    shell.unreachable();
    if (terminationPending)
        shell.messages.requestTermination();

    // The final recording returns to the caller, which goes on ending the program.
    shell.logout.RecordLogout(1);
    QVERIFY(!shell.logout.lastError().isEmpty());
    QString error;
    QVERIFY(!shell.logout.recordLogout(1, &error));
    QVERIFY(!error.isEmpty());

    const QList<FakeMessages::Shown> &seen = terminationPending ? shell.messages.suppressed : shell.messages.shown;
    QCOMPARE(seen.size(), 2);
    QVERIFY(seen.first().text.startsWith(CannotConnectPrefix));
    if (terminationPending)
        QVERIFY(shell.messages.shown.isEmpty());
    QVERIFY(!shell.db.connected());
    // The live record stays live for the next login to deal with.
    QCOMPARE(states(u"1001"_s).value(2), u"NULL@null"_s);
}

void tst_LogoutRecording::refusedStatementRolledBackSilently()
{
    // The database refuses the change of one of the two live records: neither changes, no
    // message, and the caller goes on as if the logout had been recorded.
    QVERIFY(addRecord(u"1001"_s, 3, Here, QVariant()));
    QVERIFY(addRecord(u"1001"_s, 4, Here, QVariant()));
    QVERIFY2(exec(u"CREATE FUNCTION tst_refuse() RETURNS trigger LANGUAGE plpgsql AS $$"
                  " BEGIN IF OLD.SEQ = 4 THEN RAISE EXCEPTION 'refused by the test'; END IF; RETURN NEW; END $$"_s),
             qPrintable(m_error));
    m_triggerAdded = true;
    QVERIFY2(exec(u"CREATE TRIGGER tst_refuse BEFORE UPDATE ON ZA010DT FOR EACH ROW EXECUTE FUNCTION tst_refuse()"_s),
             qPrintable(m_error));

    Shell shell(*m_db);
    shell.shared.EmpNo = u"1001"_s;
    QString error;
    QVERIFY(shell.logout.recordLogout(1, &error));
    QCOMPARE(error, QString());
    QCOMPARE(shell.messages.texts(), QStringList());
    QVERIFY(!shell.db.connected());
    QVERIFY(!shell.db.inTransaction());
    QCOMPARE(states(u"1001"_s).mid(2), (QStringList{u"NULL@null"_s, u"NULL@null"_s}));

    // The next recording works again on the same connection object.
    cleanup();
    shell.logout.RecordLogout(1);
    QCOMPARE(states(u"1001"_s).mid(2).join(u' ').count(u"127.0.0.2@"_s), 2);
}

QTEST_MAIN(tst_LogoutRecording)
#include "tst_logoutrecording.moc"
