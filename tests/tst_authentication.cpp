#include "db/pgdriver.h"
#include "db/sqldialect.h"
#include "db/tfrm_zd000.h"
#include "fakemessages.h"
#include "peer/forcedlogoutclient.h"
#include "session/authentication.h"
#include "shared/sharedvalues.h"
#include "testdatabase.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QMutex>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QWaitCondition>
#include <QtTest>

#include <functional>
#include <memory>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(MessageAnswer)

namespace {

const QString Here = u"127.0.0.2"_s;
const QString Elsewhere = u"127.0.0.9"_s;
const QString Title = u"오르사 통합시스템"_s;
const QString NotRegistered = u"등록되지 않은 사용자번호(ID) 입니다."_s;
const QString PasswordReset =
    u"처음 접속하셨거나, 관리자가 비밀번호를 초기화 했습니다.\r지금 비밀번호를 변경하고 다시 Login 하십시오."_s;
const QString PasswordExpired = u"비밀번호 변경 주기가 지났습니다.\r비밀번호를 변경하십시오."_s;
const QString WrongPassword = u"비밀번호(Password)를 잘못 입력하셨습니다."_s;
const QString OtherWorkstation =
    u"현재 사용자 번호로 다른 PC에서 접속 중이거나,\r기존 접속이 비정상적으로 종료 되었습니다.\r기존 접속을 차단하고 새로 Login 하시겠습니까?"_s;
const QString NotSavedPrefix = u"자료를 저장하지 못했습니다.\r\r에러내용 :\r"_s;
const QString CannotConnectPrefix = u"데이터베이스와 연결할 수 없습니다.\r\r에러내용:\r"_s;
// A LOGOUT_TIME that only the test writes: a value that is still there was not touched.
const QString Earlier = u"2020-01-02 08:30:00"_s;

class FakeLoginFields final : public LoginFields
{
public:
    FakeLoginFields(const QString &id, const QString &password) : id(id), pass(password) {}
    QString employeeNumber() const override { return id; }
    QString password() const override { return pass; }
    void clearFields() override
    {
        id.clear();
        pass.clear();
        ++clears;
    }
    void selectPassword() override { ++selections; }

    QString id;
    QString pass;
    int clears = 0;
    int selections = 0;
};

class FakeLogoutRequester final : public LogoutRequester
{
public:
    bool requestLogout(const QString &address) override
    {
        addresses.append(address);
        if (onRequest)
            onRequest(address);
        return acknowledge;
    }

    bool acknowledge = false;
    QStringList addresses;
    std::function<void(const QString &)> onRequest;
};

// The test's own access to the database, beside the code under test: arranging rows and
// reading them back.
class Sql
{
public:
    bool open()
    {
        m_db = TestDatabase::open(&m_error);
        return m_db != nullptr;
    }

    TestDatabase &fixture() { return *m_db; }
    bool reset() { return m_db->reset(&m_error); }

    // Null values go to the server as NULL.
    bool exec(const QString &sql, const QVariantList &values = {})
    {
        QStringList texts;
        for (const QVariant &value : values)
            texts.append(value.isNull() ? QString() : value.toString());
        return m_db->exec(sql, texts, &m_error);
    }

    QList<QVariantList> rows(const QString &sql, const QVariantList &values = {})
    {
        QStringList texts;
        for (const QVariant &value : values)
            texts.append(value.toString());
        QList<QVariantList> result = m_db->rows(sql, texts, &m_error);
        // A NULL of any column type compares as the one null value.
        for (QVariantList &row : result) {
            for (QVariant &value : row) {
                if (value.isNull())
                    value = QVariant();
            }
        }
        return result;
    }

    QVariant scalar(const QString &sql, const QVariantList &values = {})
    {
        const auto all = rows(sql, values);
        return all.isEmpty() || all.first().isEmpty() ? QVariant() : all.first().first();
    }

    // The server's clock as the shell's statements read it: cut to the second, not rounded.
    QDateTime serverNow()
    {
        return scalar(u"SELECT CAST(date_trunc('second', statement_timestamp()) AS timestamp(0))"_s)
            .toDateTime();
    }

    QString error() const { return m_error; }

private:
    std::unique_ptr<TestDatabase> m_db;
    QString m_error;
};

// One workstation's shell: its own connection, messages and session values.
struct Workstation
{
    Workstation(TestDatabase &fixture, const QString &ip)
    {
        messages.setApplicationTitle(Title);
        fixture.configure(db);
        shared.LocalIP = ip;
        shared.EmpNo = u"PREV"_s;
        shared.EmpName = u"이전 사용자"_s;
        for (const QString &id : {u"ORSA_A"_s, u"ORSA_B"_s, u"ORSA_C"_s, u"ORSA_D"_s}) {
            shared.ProjectIds.append({id, 5});
            shared.RoleChoices.append({{u"이전 선택"_s, 99}});
        }
    }

    // The session values as one comparable text.
    QString session() const
    {
        QStringList parts{shared.EmpNo, shared.EmpName};
        for (int i = 0; i < shared.ProjectIds.size(); ++i) {
            QStringList choices;
            for (const RoleChoice &c : shared.RoleChoices.value(i))
                choices.append(QString::number(c.code) + u' ' + c.name);
            choices.sort();
            parts.append(shared.ProjectIds.at(i).id + u'=' + QString::number(shared.ProjectIds.at(i).right)
                         + u'[' + choices.join(u',') + u']');
        }
        return parts.join(u'|');
    }

    FakeMessages messages;
    Tfrm_ZD000 db{messages};
    SharedValues shared;
    FakeLogoutRequester requester;
    Authentication auth{db, messages, shared, requester};
};

// The shell on the other end of a forced-logout request: greets, reads one line, answers.
class RawPeer : public QThread
{
public:
    explicit RawPeer(const QByteArray &answer) : m_answer(answer) {}

    quint16 start()
    {
        QMutexLocker lock(&m_mutex);
        QThread::start();
        while (m_port == 0 && !m_failed)
            m_ready.wait(&m_mutex);
        return m_port;
    }

    QByteArray received() const { return m_received; }

protected:
    void run() override
    {
        QTcpServer server;
        {
            QMutexLocker lock(&m_mutex);
            if (server.listen(QHostAddress(u"127.0.0.1"_s), 0))
                m_port = server.serverPort();
            else
                m_failed = true;
            m_ready.wakeAll();
        }
        if (m_failed || !server.waitForNewConnection(15000))
            return;
        std::unique_ptr<QTcpSocket> socket(server.nextPendingConnection());
        socket->write("^ORSA_MAIN^\r\n");
        socket->waitForBytesWritten(5000);
        while (!m_received.contains('\n') && socket->waitForReadyRead(10000))
            m_received += socket->readAll();
        socket->write(m_answer);
        socket->waitForBytesWritten(5000);
        socket->disconnectFromHost();
        if (socket->state() != QAbstractSocket::UnconnectedState)
            socket->waitForDisconnected(5000);
    }

private:
    QByteArray m_answer;
    QByteArray m_received;
    QMutex m_mutex;
    QWaitCondition m_ready;
    quint16 m_port = 0;
    bool m_failed = false;
};

} // namespace

class tst_Authentication : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void decisions_data();
    void decisions();
    void sessionValues_data();
    void sessionValues();
    void sequence_data();
    void sequence();
    void multiLogin();
    void previousRecord_data();
    void previousRecord();
    void recordEndedWhileAsking();
    void realForcedLogoutClient_data();
    void realForcedLogoutClient();
    void simultaneousLogins();
    void storedPasswordWhenUnreachable();
    void emptyPasswordCode();
    void serverStoppedMidLogin();
    void serverSilentMidLogin();
    void readErrorPassedOn();

private:
    bool addEmployee(const QString &empNo, const QVariant &password, const QString &useYn = u"Y"_s,
                     int changedDaysAgo = 10, const QString &multiLogin = u"N"_s);
    bool addRecord(const QString &empNo, int seq, const QString &loginIp, const QVariant &logoutIp);
    QList<QVariantList> records(const QString &empNo);
    QVariant backLoginDate(const QString &empNo);

    Sql m_sql;
    bool m_tableRenamed = false;
};

void tst_Authentication::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("ORSA_TEST_PGSERVICE"))
        QSKIP("no test database: run scripts/test, or eval \"$(scripts/dbcluster start DIR)\" first");
    QVERIFY2(m_sql.open(), qPrintable(m_sql.error()));
}

void tst_Authentication::init()
{
    QVERIFY2(m_sql.reset(), qPrintable(m_sql.error()));
}

void tst_Authentication::cleanup()
{
    if (m_tableRenamed) {
        m_sql.exec(u"ALTER TABLE ZA020MS_AWAY RENAME TO ZA020MS"_s);
        m_tableRenamed = false;
    }
}

bool tst_Authentication::addEmployee(const QString &empNo, const QVariant &password,
                                     const QString &useYn, int changedDaysAgo,
                                     const QString &multiLogin)
{
    const bool added = m_sql.exec(
        u"INSERT INTO ZA010MS (EMP_NO, EMP_NAME, PASSWORD_CODE, USE_YN, U_DATE, MULTI_LOGIN_YN,"
        " BACK_LOGIN_DATE)"
        " VALUES (?, ?, FN_ZA010MS_01(CAST(? AS text), 'TeLa'), ?,"
        "         LOCALTIMESTAMP(0) - CAST(? AS integer) * INTERVAL '1 day', ?, '19991231')"_s,
        {empNo, QString(u"시험 "_s + empNo), password, useYn, changedDaysAgo, multiLogin});
    // Project rights like the regular demo employee's.
    return added
        && m_sql.exec(u"INSERT INTO ZA130MS (EMP_NO, PROJECT_ID, PROJECT_LEVEL) VALUES (?, 'ORSA_A', '1')"_s,
                      {empNo});
}

bool tst_Authentication::addRecord(const QString &empNo, int seq, const QString &loginIp,
                                   const QVariant &logoutIp)
{
    return m_sql.exec(
        u"INSERT INTO ZA010DT (EMP_NO, SEQ, LOGIN_TIME, LOGIN_IP, LOGOUT_TIME, LOGOUT_IP)"
        " VALUES (?, ?, TIMESTAMP '2020-01-02 08:00:00', ?,"
        "         CASE WHEN CAST(? AS text) IS NULL THEN NULL ELSE TIMESTAMP '2020-01-02 08:30:00' END, ?)"_s,
        {empNo, seq, loginIp, logoutIp, logoutIp});
}

// EMP_NO, SEQ, LOGIN_TIME, LOGIN_IP, LOGOUT_TIME, LOGOUT_IP by SEQ.
QList<QVariantList> tst_Authentication::records(const QString &empNo)
{
    return m_sql.rows(u"SELECT EMP_NO, CAST(SEQ AS integer), LOGIN_TIME, LOGIN_IP, LOGOUT_TIME, LOGOUT_IP"
                      " FROM ZA010DT WHERE EMP_NO = ? ORDER BY SEQ"_s,
                      {empNo});
}

QVariant tst_Authentication::backLoginDate(const QString &empNo)
{
    return m_sql.scalar(u"SELECT BACK_LOGIN_DATE FROM ZA010MS WHERE EMP_NO = ?"_s, {empNo});
}

void tst_Authentication::decisions_data()
{
    QTest::addColumn<QVariant>("storedPassword");  // null: no password code
    QTest::addColumn<QString>("useYn");
    QTest::addColumn<int>("changedDaysAgo");
    QTest::addColumn<QString>("period");  // the Z1002 row; empty: only the blank row
    QTest::addColumn<QString>("typedId");
    QTest::addColumn<QString>("typedPassword");
    QTest::addColumn<bool>("doLogin");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("icon");
    QTest::addColumn<bool>("cleared");
    QTest::addColumn<bool>("selected");

    const QVariant pw(u"Secret#77"_s);
    const int error = int(MessageIcon::Error);
    const int warning = int(MessageIcon::Warning);
    const QString n = u"7001"_s;
    // clang-format off
    QTest::newRow("right password")             << pw << u"Y"_s << 10 << u"90"_s << n << u"Secret#77"_s << true << 1 << QString() << 0 << false << false;
    QTest::newRow("unregistered number")        << pw << u"Y"_s << 10 << u"90"_s << u"7999"_s << u"Secret#77"_s << true << 0 << NotRegistered << error << true << false;
    QTest::newRow("number with leading blank")  << pw << u"Y"_s << 10 << u"90"_s << (u' ' + n) << u"Secret#77"_s << true << 0 << NotRegistered << error << true << false;
    QTest::newRow("number with trailing blank") << pw << u"Y"_s << 10 << u"90"_s << (n + u' ') << u"Secret#77"_s << true << 0 << NotRegistered << error << true << false;
    QTest::newRow("account not in use")         << pw << u"N"_s << 10 << u"90"_s << n << u"Secret#77"_s << true << 0 << NotRegistered << error << true << false;
    QTest::newRow("no password code")           << QVariant() << u"Y"_s << 10 << u"90"_s << n << u"Secret#77"_s << true << 0 << NotRegistered << error << true << false;
    QTest::newRow("empty password: no code")    << QVariant(u""_s) << u"Y"_s << 10 << u"90"_s << n << u"Secret#77"_s << true << 0 << NotRegistered << error << true << false;
    QTest::newRow("no password period row")     << pw << u"Y"_s << 10 << QString() << n << u"Secret#77"_s << true << 0 << NotRegistered << error << true << false;
    QTest::newRow("reset, number typed")        << QVariant(n) << u"Y"_s << 10 << u"90"_s << n << n << true << -1 << PasswordReset << warning << false << false;
    QTest::newRow("reset, anything typed")      << QVariant(n) << u"Y"_s << 10 << u"90"_s << n << u"whatever"_s << true << -1 << PasswordReset << warning << false << false;
    QTest::newRow("reset and expired")          << QVariant(n) << u"Y"_s << 400 << u"90"_s << n << n << true << -1 << PasswordReset << warning << false << false;
    QTest::newRow("reset, look-up only")        << QVariant(n) << u"Y"_s << 10 << u"90"_s << n << QString() << false << -1 << PasswordReset << warning << false << false;
    QTest::newRow("expired at 90 days")         << pw << u"Y"_s << 90 << u"90"_s << n << u"Secret#77"_s << true << -1 << PasswordExpired << warning << false << false;
    QTest::newRow("expired, password unchecked")<< pw << u"Y"_s << 120 << u"90"_s << n << u"wrong"_s << true << -1 << PasswordExpired << warning << false << false;
    QTest::newRow("expired, look-up only")      << pw << u"Y"_s << 90 << u"90"_s << n << QString() << false << -1 << PasswordExpired << warning << false << false;
    QTest::newRow("valid at 89 days")           << pw << u"Y"_s << 89 << u"90"_s << n << u"Secret#77"_s << true << 1 << QString() << 0 << false << false;
    QTest::newRow("period 0 never expires")     << pw << u"Y"_s << 5000 << u"0"_s << n << u"Secret#77"_s << true << 1 << QString() << 0 << false << false;
    QTest::newRow("negative period")            << pw << u"Y"_s << 5000 << u"-30"_s << n << u"Secret#77"_s << true << 1 << QString() << 0 << false << false;
    QTest::newRow("wrong password")             << pw << u"Y"_s << 10 << u"90"_s << n << u"Secret#78"_s << true << 0 << WrongPassword << error << false << true;
    QTest::newRow("password in other case")     << pw << u"Y"_s << 10 << u"90"_s << n << u"SECRET#77"_s << true << 0 << WrongPassword << error << false << true;
    QTest::newRow("password with blank added")  << pw << u"Y"_s << 10 << u"90"_s << n << u"Secret#77 "_s << true << 0 << WrongPassword << error << false << true;
    QTest::newRow("look-up only, right one")    << pw << u"Y"_s << 10 << u"90"_s << n << u"Secret#77"_s << false << 0 << QString() << 0 << false << false;
    QTest::newRow("look-up only, wrong one")    << pw << u"Y"_s << 10 << u"90"_s << n << u"nope"_s << false << 0 << QString() << 0 << false << false;
    // Text that looks like SQL is a value like any other: bound, never part of a statement.
    QTest::newRow("number with SQL, always true") << pw << u"Y"_s << 10 << u"90"_s << u"7001' OR '1'='1"_s << u"Secret#77"_s << true << 0 << NotRegistered << error << true << false;
    QTest::newRow("number with SQL, statement")   << pw << u"Y"_s << 10 << u"90"_s << u"1'; DELETE FROM ZA010DT; --"_s << u"Secret#77"_s << true << 0 << NotRegistered << error << true << false;
    QTest::newRow("password with SQL")            << pw << u"Y"_s << 10 << u"90"_s << n << u"' OR '1'='1' --"_s << true << 0 << WrongPassword << error << false << true;
    // clang-format on
}

void tst_Authentication::decisions()
{
    QFETCH(QVariant, storedPassword);
    QFETCH(QString, useYn);
    QFETCH(int, changedDaysAgo);
    QFETCH(QString, period);
    QFETCH(QString, typedId);
    QFETCH(QString, typedPassword);
    QFETCH(bool, doLogin);
    QFETCH(int, result);
    QFETCH(QString, message);
    QFETCH(int, icon);
    QFETCH(bool, cleared);
    QFETCH(bool, selected);

    QVERIFY2(addEmployee(u"7001"_s, storedPassword, useYn, changedDaysAgo), qPrintable(m_sql.error()));
    QVERIFY2(m_sql.exec(u"DELETE FROM ZX010MS WHERE HEAD = 'Z1002' AND DETAIL <> ' '"_s), qPrintable(m_sql.error()));
    if (!period.isEmpty())
        QVERIFY2(m_sql.exec(u"INSERT INTO ZX010MS (HEAD, DETAIL, DETAIL_NAME) VALUES ('Z1002', ?, 'period')"_s, {period}),
                 qPrintable(m_sql.error()));

    Workstation ws(m_sql.fixture(), Here);
    const QString before = ws.session();
    FakeLoginFields fields(typedId, typedPassword);
    const AuthResult outcome = ws.auth.Authenticate(doLogin, fields);

    QCOMPARE(outcome.value, result);
    QCOMPARE(outcome.error, QString());
    if (message.isEmpty()) {
        QCOMPARE(ws.messages.texts(), QStringList());
    } else {
        QCOMPARE(ws.messages.texts(), QStringList{message});
        QCOMPARE(int(ws.messages.shown.first().icon), icon);
        QCOMPARE(ws.messages.shown.first().buttons, MessageButtons::Ok);
        QCOMPARE(ws.messages.shown.first().caption, u"Login"_s);
    }
    QCOMPARE(fields.clears, cleared ? 1 : 0);
    QCOMPARE(fields.id.isEmpty(), cleared || typedId.isEmpty());
    QCOMPARE(fields.selections, selected ? 1 : 0);
    QVERIFY(ws.requester.addresses.isEmpty());

    // The decoded password of a registered account, whatever the outcome; nothing otherwise.
    const bool registered = message != NotRegistered;
    QCOMPARE(ws.auth.StoredPassword(), registered ? storedPassword.toString() : QString());

    const auto rows = records(u"7001"_s);
    if (result == 1) {
        QVERIFY(ws.session().startsWith(u"7001|시험 7001|"_s));
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows.first().at(3).toString(), Here);
        QVERIFY(backLoginDate(u"7001"_s).toString() != u"19991231"_s);
    } else {
        QCOMPARE(ws.session(), before);
        QCOMPARE(rows.size(), 0);
        QCOMPARE(backLoginDate(u"7001"_s).toString(), u"19991231"_s);
    }
    QCOMPARE(records(u"1001"_s).size(), 2);  // the demo records of others stay as they are
    QVERIFY(!ws.db.connected());
}

void tst_Authentication::sessionValues_data()
{
    QTest::addColumn<QString>("empNo");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QStringList>("projectIds");
    QTest::addColumn<QString>("session");

    const QStringList mainIni{u"ORSA_A"_s, u"ORSA_B"_s, u"예약"_s, u"ORSA_C"_s, u"ORSA_D"_s};
    // Level grants, an added program (회계 only that way), a withdrawn one that leaves the
    // project, choices of all three role types, a 사업장 code without a name left out.
    QTest::newRow("regular employee")
        << u"1001"_s << u"orsa1001!"_s << mainIni
        << u"1001|김민준|ORSA_A=0[]|ORSA_B=1[10 리조트 본관,20 골프클럽]|예약=-1[]"
           "|ORSA_C=2[110 식음료1팀,120 식음료2팀]|ORSA_D=3[1001 한식당 수라,1002 양식당 라벨]"_s;
    // The only program of 객실관리 withdrawn although granted twice: no right; the choices are
    // read all the same.
    QTest::newRow("withdrawn project")
        << u"1004"_s << u"orsa1004!"_s << mainIni
        << u"1004|최유나|ORSA_A=0[]|ORSA_B=-1[20 골프클럽]|예약=-1[]|ORSA_C=-1[]|ORSA_D=-1[]"_s;
    QTest::newRow("other order, projects left out")
        << u"1001"_s << u"orsa1001!"_s << QStringList{u"ORSA_C"_s, u"ORSA_A"_s}
        << u"1001|김민준|ORSA_C=2[110 식음료1팀,120 식음료2팀]|ORSA_A=0[]"_s;
    QTest::newRow("same project twice: the first entry")
        << u"1001"_s << u"orsa1001!"_s << QStringList{u"ORSA_B"_s, u"ORSA_B"_s}
        << u"1001|김민준|ORSA_B=1[10 리조트 본관,20 골프클럽]|ORSA_B=-1[]"_s;
}

void tst_Authentication::sessionValues()
{
    QFETCH(QString, empNo);
    QFETCH(QString, password);
    QFETCH(QStringList, projectIds);
    QFETCH(QString, session);

    Workstation ws(m_sql.fixture(), Here);
    ws.shared.ProjectIds.clear();
    ws.shared.RoleChoices.clear();
    for (const QString &id : projectIds) {
        ws.shared.ProjectIds.append({id, 7});
        ws.shared.RoleChoices.append({{u"이전 선택"_s, 99}});
    }
    FakeLoginFields fields(empNo, password);
    QCOMPARE(ws.auth.Authenticate(true, fields).value, 1);
    QCOMPARE(ws.session(), session);
    QCOMPARE(ws.shared.RoleChoices.size(), projectIds.size());
}

void tst_Authentication::sequence_data()
{
    QTest::addColumn<QList<int>>("earlier");
    QTest::addColumn<int>("seq");

    QTest::newRow("first login") << QList<int>{} << 1;
    QTest::newRow("after 1 to 7") << QList<int>{1, 2, 3, 4, 5, 6, 7} << 8;
    QTest::newRow("after 9 and 10: numeric order") << QList<int>{9, 10} << 11;
    QTest::newRow("the highest, not the count") << QList<int>{1, 2, 40} << 41;
}

void tst_Authentication::sequence()
{
    QFETCH(QList<int>, earlier);
    QFETCH(int, seq);

    QVERIFY(addEmployee(u"7002"_s, u"pass-7002"_s));
    for (int s : earlier)
        QVERIFY2(addRecord(u"7002"_s, s, Here, Here), qPrintable(m_sql.error()));

    Workstation ws(m_sql.fixture(), Here);
    FakeLoginFields fields(u"7002"_s, u"pass-7002"_s);
    const QDateTime before = m_sql.serverNow();
    QCOMPARE(ws.auth.Authenticate(true, fields).value, 1);
    const QDateTime after = m_sql.serverNow();

    QCOMPARE(ws.messages.texts(), QStringList());
    const auto rows = records(u"7002"_s);
    QCOMPARE(rows.size(), earlier.size() + 1);
    const QVariantList &added = rows.last();
    QCOMPARE(added.at(1).toInt(), seq);
    QVERIFY(added.at(2).toDateTime() >= before && added.at(2).toDateTime() <= after);
    QCOMPARE(added.at(3).toString(), Here);
    QVERIFY(added.at(4).isNull());
    QVERIFY(added.at(5).isNull());
    // The earlier records stay as they were.
    for (int i = 0; i < earlier.size(); ++i) {
        QCOMPARE(rows.at(i).at(5).toString(), Here);
        QCOMPARE(rows.at(i).at(4).toDateTime(), QDateTime::fromString(Earlier, u"yyyy-MM-dd HH:mm:ss"_s));
    }
    QCOMPARE(backLoginDate(u"7002"_s).toString(), after.toString(u"yyyyMMdd"_s));
}

void tst_Authentication::multiLogin()
{
    // 1004 may be logged in anywhere: live records here and elsewhere are left alone.
    QVERIFY(addRecord(u"1004"_s, 1, Elsewhere, QVariant()));
    QVERIFY(addRecord(u"1004"_s, 2, Here, QVariant()));
    const auto before = records(u"1004"_s);

    Workstation ws(m_sql.fixture(), Here);
    FakeLoginFields fields(u"1004"_s, u"orsa1004!"_s);
    QCOMPARE(ws.auth.Authenticate(true, fields).value, 1);

    QCOMPARE(ws.messages.texts(), QStringList());
    QVERIFY(ws.requester.addresses.isEmpty());
    QCOMPARE(records(u"1004"_s), before);
    QVERIFY(backLoginDate(u"1004"_s).isNull());
    QCOMPARE(ws.shared.EmpNo, u"1004"_s);
    QCOMPARE(ws.shared.EmpName, u"최유나"_s);
}

void tst_Authentication::previousRecord_data()
{
    QTest::addColumn<QString>("loginIp");
    QTest::addColumn<QVariant>("logoutIp");  // null: still live
    QTest::addColumn<MessageAnswer>("answer");
    QTest::addColumn<bool>("acknowledge");
    QTest::addColumn<bool>("peerCloses");  // the acknowledging shell records its own logout
    QTest::addColumn<bool>("asked");
    QTest::addColumn<int>("result");
    QTest::addColumn<QVariant>("oldLogoutIp");
    QTest::addColumn<QString>("oldLogoutTime");  // "null", "earlier" or "now"

    const QVariant live;
    const auto yes = MessageAnswer::Yes;
    const auto no = MessageAnswer::No;
    // clang-format off
    QTest::newRow("live here: closed without a question") << Here << live << yes << false << false << false << 1 << QVariant(u"강제종료"_s) << u"now"_s;
    QTest::newRow("provisional here counts as closed")    << Here << QVariant(u'*' + Here) << yes << false << false << false << 1 << QVariant(u'*' + Here) << u"earlier"_s;
    QTest::newRow("provisional elsewhere counts as closed") << Elsewhere << QVariant(u'*' + Elsewhere) << yes << false << false << false << 1 << QVariant(u'*' + Elsewhere) << u"earlier"_s;
    QTest::newRow("ended normally elsewhere")            << Elsewhere << QVariant(Elsewhere) << yes << false << false << false << 1 << QVariant(Elsewhere) << u"earlier"_s;
    QTest::newRow("ended by a login elsewhere")           << Elsewhere << QVariant(u"타PC강제종료"_s) << yes << false << false << false << 1 << QVariant(u"타PC강제종료"_s) << u"earlier"_s;
    QTest::newRow("live elsewhere, yes, acknowledged")    << Elsewhere << live << yes << true << true << true << 1 << QVariant(Elsewhere) << u"now"_s;
    QTest::newRow("live elsewhere, yes, acknowledged, nothing here") << Elsewhere << live << yes << true << false << true << 1 << live << u"null"_s;
    QTest::newRow("live elsewhere, yes, not acknowledged") << Elsewhere << live << yes << false << false << true << 1 << QVariant(u"타PC강제종료"_s) << u"now"_s;
    // The other shell recorded its final logout and declined (it was closing): the normal end stays.
    QTest::newRow("live elsewhere, yes, closed there but declined") << Elsewhere << live << yes << false << true << true << 1 << QVariant(Elsewhere) << u"now"_s;
    QTest::newRow("live elsewhere, no")                   << Elsewhere << live << no << false << false << true << 0 << live << u"null"_s;
    // clang-format on
}

void tst_Authentication::previousRecord()
{
    QFETCH(QString, loginIp);
    QFETCH(QVariant, logoutIp);
    QFETCH(MessageAnswer, answer);
    QFETCH(bool, acknowledge);
    QFETCH(bool, peerCloses);
    QFETCH(bool, asked);
    QFETCH(int, result);
    QFETCH(QVariant, oldLogoutIp);
    QFETCH(QString, oldLogoutTime);

    const QString emp = u"1001"_s;  // demo records 1 and 2 ended normally
    QVERIFY2(addRecord(emp, 3, loginIp, logoutIp), qPrintable(m_sql.error()));
    const QVariant dateBefore = backLoginDate(emp);

    Workstation ws(m_sql.fixture(), Here);
    const QString sessionBefore = ws.session();
    ws.messages.answers = {answer};
    bool busyWhileAsking = false;
    ws.messages.onShow = [&](const FakeMessages::Shown &) {
        busyWhileAsking = ws.db.busy() && ws.db.transactionDescriptor() == 2;
    };
    ws.requester.acknowledge = acknowledge;
    bool peerClosed = false;
    if (peerCloses) {
        // The other shell's own logout of its live records, on its own connection, while this
        // login waits with its transaction open: it must not be blocked.
        ws.requester.onRequest = [&](const QString &address) {
            peerClosed = m_sql.exec(
                u"UPDATE ZA010DT SET LOGOUT_TIME = CAST(date_trunc('second', statement_timestamp()) AS timestamp(0)),"
                " LOGOUT_IP = ? WHERE EMP_NO = ? AND LOGIN_IP = ? AND LOGOUT_IP IS NULL"_s,
                {address, emp, address});
        };
    }

    FakeLoginFields fields(emp, u"orsa1001!"_s);
    const QDateTime before = m_sql.serverNow();
    const AuthResult outcome = ws.auth.Authenticate(true, fields);
    const QDateTime after = m_sql.serverNow();

    QCOMPARE(outcome.value, result);
    QCOMPARE(outcome.error, QString());
    if (asked) {
        QCOMPARE(ws.messages.texts(), QStringList{OtherWorkstation});
        QCOMPARE(ws.messages.shown.first().icon, MessageIcon::Question);
        QCOMPARE(ws.messages.shown.first().buttons, MessageButtons::YesNo);
        QCOMPARE(ws.messages.shown.first().caption, Title);
        QVERIFY2(busyWhileAsking, "the question must come inside the login's transaction");
    } else {
        QCOMPARE(ws.messages.texts(), QStringList());
    }
    const bool requested = asked && answer == MessageAnswer::Yes;
    QCOMPARE(ws.requester.addresses, requested ? QStringList{loginIp} : QStringList());
    QCOMPARE(peerClosed, peerCloses);

    const auto rows = records(emp);
    const QVariantList &old = rows.at(2);
    QCOMPARE(old.at(5), oldLogoutIp);
    const QDateTime oldTime = old.at(4).toDateTime();
    if (oldLogoutTime == u"null")
        QVERIFY(old.at(4).isNull());
    else if (oldLogoutTime == u"earlier")
        QCOMPARE(oldTime, QDateTime::fromString(Earlier, u"yyyy-MM-dd HH:mm:ss"_s));
    else
        QVERIFY2(oldTime >= before && oldTime <= after, qPrintable(oldTime.toString(Qt::ISODate)));

    if (result == 1) {
        QCOMPARE(rows.size(), 4);
        QCOMPARE(rows.at(3).at(1).toInt(), 4);
        QCOMPARE(rows.at(3).at(3).toString(), Here);
        QVERIFY(rows.at(3).at(5).isNull());
        QCOMPARE(ws.shared.EmpNo, emp);
        QCOMPARE(backLoginDate(emp).toString(), after.toString(u"yyyyMMdd"_s));
    } else {
        // Declined: nothing written and the session that was there goes on.
        QCOMPARE(rows.size(), 3);
        QCOMPARE(backLoginDate(emp), dateBefore);
        QCOMPARE(ws.session(), sessionBefore);
    }
    QVERIFY(!ws.db.busy());
    QVERIFY(!ws.db.inTransaction());
}

void tst_Authentication::recordEndedWhileAsking()
{
    // While the question stands, the employee at the other workstation logs in as somebody
    // else there: the record ends, and a request now would throw out that other employee.
    const QString emp = u"1001"_s;
    QVERIFY2(addRecord(emp, 3, Elsewhere, QVariant()), qPrintable(m_sql.error()));
    Workstation ws(m_sql.fixture(), Here);
    ws.messages.answers = {MessageAnswer::Yes};
    bool ended = false;
    ws.messages.onShow = [&](const FakeMessages::Shown &) {
        ended = m_sql.exec(u"UPDATE ZA010DT SET LOGOUT_TIME = TIMESTAMP '2020-01-02 09:00:00',"
                           " LOGOUT_IP = ? WHERE EMP_NO = ? AND SEQ = 3"_s,
                           {Elsewhere, emp});
    };
    ws.requester.acknowledge = true;

    FakeLoginFields fields(emp, u"orsa1001!"_s);
    const AuthResult outcome = ws.auth.Authenticate(true, fields);
    QVERIFY(ended);
    QCOMPARE(outcome.value, 1);
    QCOMPARE(ws.requester.addresses, QStringList());
    const auto rows = records(emp);
    QCOMPARE(rows.size(), 4);
    QCOMPARE(rows.at(2).at(5).toString(), Elsewhere);
    QCOMPARE(rows.at(2).at(4).toDateTime(), QDateTime(QDate(2020, 1, 2), QTime(9, 0)));
    QVERIFY(rows.at(3).at(5).isNull());
}

void tst_Authentication::realForcedLogoutClient_data()
{
    QTest::addColumn<QByteArray>("answer");  // empty: nobody listens
    QTest::addColumn<bool>("acknowledged");

    QTest::newRow("acknowledged") << QByteArray("^ORSA_MAIN^REQ_OK\r\n") << true;
    QTest::newRow("acknowledged in lower case, LF only") << QByteArray("^orsa_main^req_ok\n") << true;
    QTest::newRow("wrong answer") << QByteArray("^ORSA_MAIN^REQ_NO\r\n") << false;
    QTest::newRow("closed without an answer") << QByteArray() << false;
    QTest::newRow("nobody listening") << QByteArray("-") << false;
}

void tst_Authentication::realForcedLogoutClient()
{
    QFETCH(QByteArray, answer);
    QFETCH(bool, acknowledged);

    const QString peerAddress = u"127.0.0.1"_s;
    QVERIFY(addRecord(u"1001"_s, 3, peerAddress, QVariant()));

    FakeMessages messages;
    messages.setApplicationTitle(Title);
    Tfrm_ZD000 db(messages);
    m_sql.fixture().configure(db);
    SharedValues shared;
    shared.LocalIP = Here;
    ForcedLogoutClient client;
    client.setConnectTimeout(3000);
    client.setReadTimeout(5000);

    std::unique_ptr<RawPeer> peer;
    if (answer == "-") {
        // A port that was free a moment ago and has nobody behind it now.
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress(peerAddress), 0));
        client.setPort(probe.serverPort());
        probe.close();
    } else {
        peer = std::make_unique<RawPeer>(answer);
        const quint16 port = peer->start();
        QVERIFY(port != 0);
        client.setPort(port);
    }

    Authentication auth(db, messages, shared, client);
    FakeLoginFields fields(u"1001"_s, u"orsa1001!"_s);
    QCOMPARE(auth.Authenticate(true, fields).value, 1);
    if (peer) {
        QVERIFY(peer->wait(20000));
        QCOMPARE(peer->received(), QByteArray("^ORSA_MAIN^LOGIN\r\n"));
    }

    QCOMPARE(messages.texts(), QStringList{OtherWorkstation});
    const auto rows = records(u"1001"_s);
    QCOMPARE(rows.size(), 4);
    // An acknowledging shell closes its record itself; otherwise it is closed here.
    QCOMPARE(rows.at(2).at(5), acknowledged ? QVariant() : QVariant(u"타PC강제종료"_s));
    QCOMPARE(rows.at(3).at(3).toString(), Here);
}

void tst_Authentication::simultaneousLogins()
{
    // 1001's latest record is live on a third workstation. Two workstations log 1001 in at
    // the same moment: the first finishes while the second is still asking its question, so
    // both computed SEQ 4.
    QVERIFY(addRecord(u"1001"_s, 3, Elsewhere, QVariant()));

    Workstation first(m_sql.fixture(), u"127.0.0.3"_s);
    first.requester.acknowledge = true;
    Workstation second(m_sql.fixture(), Here);
    second.requester.acknowledge = false;  // so it closes the old record before it inserts
    const QString secondBefore = second.session();
    int firstResult = 0;
    second.messages.onShow = [&](const FakeMessages::Shown &shown) {
        if (shown.text != OtherWorkstation)
            return;
        FakeLoginFields fields(u"1001"_s, u"orsa1001!"_s);
        firstResult = first.auth.Authenticate(true, fields).value;
    };

    FakeLoginFields fields(u"1001"_s, u"orsa1001!"_s);
    const AuthResult outcome = second.auth.Authenticate(true, fields);

    QCOMPARE(firstResult, 1);
    QCOMPARE(outcome.value, 0);
    QVERIFY(!outcome.error.isEmpty());
    QCOMPARE(second.messages.shown.size(), 2);
    const FakeMessages::Shown &failure = second.messages.shown.at(1);
    QCOMPARE(failure.text, NotSavedPrefix + outcome.error);
    QCOMPARE(failure.icon, MessageIcon::Error);
    QCOMPARE(failure.caption, Title);

    // Nothing of the second login remains: the old record is still live, SEQ 4 is the first
    // workstation's, and the second keeps its previous session.
    const auto rows = records(u"1001"_s);
    QCOMPARE(rows.size(), 4);
    QVERIFY(rows.at(2).at(5).isNull());
    QVERIFY(rows.at(2).at(4).isNull());
    QCOMPARE(rows.at(3).at(3).toString(), u"127.0.0.3"_s);
    QCOMPARE(second.session(), secondBefore);
    QCOMPARE(first.shared.EmpNo, u"1001"_s);
    QVERIFY(!second.db.connected());
    QVERIFY(!second.db.inTransaction());
}

// The empty text is NULL, as on Oracle: an account whose code is empty has no password and is
// not registered, rather than failing in the decoding function.
void tst_Authentication::emptyPasswordCode()
{
    QVERIFY2(addEmployee(u"7001"_s, u"Secret#77"_s), qPrintable(m_sql.error()));
    QVERIFY2(m_sql.exec(u"UPDATE ZA010MS SET PASSWORD_CODE = '' WHERE EMP_NO = '7001'"_s),
             qPrintable(m_sql.error()));

    Workstation ws(m_sql.fixture(), Here);
    FakeLoginFields fields(u"7001"_s, u"Secret#77"_s);
    const AuthResult outcome = ws.auth.Authenticate(true, fields);
    QCOMPARE(outcome.value, 0);
    QCOMPARE(outcome.error, QString());
    QCOMPARE(ws.messages.texts(), QStringList{NotRegistered});
    QCOMPARE(records(u"7001"_s).size(), 0);
}

// The database server goes away while the login waits for the other workstation, and comes
// back: nothing of the failed login is stored, the user is told, and the next login works.
void tst_Authentication::serverStoppedMidLogin()
{
    QTemporaryDir dir(u"/tmp/orsa-midlogin-XXXXXX"_s);
    QVERIFY(dir.isValid());
    const QString script = QStringLiteral(ORSA_SOURCE_DIR "/scripts/dbcluster");
    const auto cluster = [&](const QString &command) {
        return QProcess::execute(script, {command, dir.path()});
    };
    QProcess started;
    started.start(script, {u"start"_s, dir.path()});
    QVERIFY(started.waitForFinished(60000));
    QVERIFY2(started.exitCode() == 0, started.readAllStandardError().constData());
    QByteArray serviceFile;
    for (const QByteArray &line : started.readAllStandardOutput().split('\n')) {
        if (line.startsWith("export PGSERVICEFILE="))
            serviceFile = line.mid(int(qstrlen("export PGSERVICEFILE=")));
    }
    QVERIFY(!serviceFile.isEmpty());
    const QByteArray sharedServiceFile = qgetenv("PGSERVICEFILE");
    qputenv("PGSERVICEFILE", serviceFile);
    auto restore = qScopeGuard([&] {
        qputenv("PGSERVICEFILE", sharedServiceFile);
        cluster(u"stop"_s);
    });

    QString error;
    auto own = TestDatabase::open(&error);
    QVERIFY2(own, qPrintable(error));
    // 1001's latest record is live on another workstation: the login asks that one to log out.
    QVERIFY2(own->insertLoginRecord(u"1001"_s, 3, Elsewhere, QString(), 600, -1, &error),
             qPrintable(error));
    own.reset();

    Workstation ws(m_sql.fixture(), Here);
    ws.requester.onRequest = [&](const QString &) { cluster(u"stop"_s); };
    FakeLoginFields fields(u"1001"_s, u"orsa1001!"_s);
    const AuthResult failed = ws.auth.Authenticate(true, fields);
    QCOMPARE(failed.value, 0);
    QVERIFY(!failed.error.isEmpty());
    QCOMPARE(ws.messages.texts().size(), 2);  // the question, then the failure
    QVERIFY2(ws.messages.texts().last().startsWith(NotSavedPrefix), qPrintable(ws.messages.texts().last()));
    QVERIFY(!ws.db.connected());
    QCOMPARE(ws.shared.EmpNo, u"PREV"_s);

    QCOMPARE(cluster(u"start"_s), 0);
    own = TestDatabase::open(&error);
    QVERIFY2(own, qPrintable(error));
    auto records = own->loginRecords(u"1001"_s);
    QCOMPARE(records.size(), 3);
    QVERIFY(records.last().logoutIpNull);

    // The shell goes on: the next login works, and closes the record the other one left.
    ws.messages.shown.clear();
    ws.requester.onRequest = nullptr;
    const AuthResult next = ws.auth.Authenticate(true, fields);
    QCOMPARE(next.value, 1);
    records = own->loginRecords(u"1001"_s);
    QCOMPARE(records.size(), 4);
    QCOMPARE(records.at(2).logoutIp, u"타PC강제종료"_s);
    QCOMPARE(records.last().loginIp, Here);
    QVERIFY(records.last().logoutIpNull);
}

// The database server stops answering in the middle of a login without closing the
// connection (its backend stopped, as a suspended machine or a cut cable leaves it): the login
// ends with its message within the driver's bound, the program's events are served all the
// while, nothing of the login is stored, and once the server answers again the next login works.
void tst_Authentication::serverSilentMidLogin()
{
    TestDatabase &fixture = m_sql.fixture();
    const int recordsBefore = int(records(u"1001"_s).size());
    Workstation ws(fixture, Here);

    // Runs whenever the login waits for the server: stops the login's backend as soon as its
    // session is set up, then counts how often the program's timers still get their turn.
    QString stopped;
    int ticksWhileStopped = 0;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        if (!stopped.isEmpty()) {
            ++ticksWhileStopped;
            return;
        }
        const QVariant pid = fixture.value(
            u"SELECT pid FROM pg_stat_activity WHERE application_name = 'orsa'"
            " AND state IS NOT NULL AND pid <> pg_backend_pid()"_s);
        if (!pid.isNull() && QProcess::execute(u"kill"_s, {u"-STOP"_s, pid.toString()}) == 0) {
            stopped = pid.toString();
            watcher.setInterval(100);
        }
    });
    watcher.start(0);
    auto resume = qScopeGuard([&] {
        if (!stopped.isEmpty())
            QProcess::execute(u"kill"_s, {u"-CONT"_s, stopped});
    });

    QElapsedTimer clock;
    clock.start();
    FakeLoginFields fields(u"1001"_s, u"orsa1001!"_s);
    const AuthResult failed = ws.auth.Authenticate(true, fields);
    const qint64 waited = clock.elapsed();
    watcher.stop();
    QVERIFY(!stopped.isEmpty());
    QCOMPARE(failed.value, 0);
    // A read that fails is passed on to the caller, a write that fails is told at once.
    const QString told = failed.error.isEmpty() ? ws.messages.texts().value(0) : failed.error;
    QCOMPARE(ws.messages.texts().size(), failed.error.isEmpty() ? 1 : 0);
    QVERIFY2(told.contains(u"did not answer within %1 seconds"_s.arg(PgDriver::AnswerSeconds)),
             qPrintable(told));
    QVERIFY2(waited < (PgDriver::AnswerSeconds + 5) * 1000, qPrintable(QString::number(waited)));
    QVERIFY2(ticksWhileStopped >= 10, qPrintable(QString::number(ticksWhileStopped)));
    QVERIFY(!ws.db.busy());

    // The server answers again: it finds the connection given up and ends the backend, with
    // its transaction.
    QProcess::execute(u"kill"_s, {u"-CONT"_s, stopped});
    QTRY_VERIFY_WITH_TIMEOUT(fixture.value(u"SELECT count(*) FROM pg_stat_activity WHERE pid = ?"_s,
                                           {stopped}).toInt() == 0, 10000);
    stopped.clear();
    QCOMPARE(records(u"1001"_s).size(), recordsBefore);

    ws.messages.shown.clear();
    const AuthResult next = ws.auth.Authenticate(true, fields);
    QCOMPARE(next.value, 1);
    QCOMPARE(ws.messages.texts(), QStringList());
    QCOMPARE(records(u"1001"_s).size(), recordsBefore + 1);
}

void tst_Authentication::storedPasswordWhenUnreachable()
{
    Workstation ws(m_sql.fixture(), Here);
    FakeLoginFields lookUp(u"1001"_s, QString());
    QCOMPARE(ws.auth.Authenticate(false, lookUp).value, 0);
    QCOMPARE(ws.auth.StoredPassword(), u"orsa1001!"_s);

    // The database cannot be reached for the next employee: the previous password must not be
    // handed on as the current password of the next one.
    ws.db.setConnectionParameters(u"orsa_no_such_service"_s, u"orsa_demo"_s, u"orsa_demo"_s);
    FakeLoginFields next(u"1002"_s, u"x"_s);
    const AuthResult outcome = ws.auth.Authenticate(true, next);
    QCOMPARE(outcome.value, 0);
    QCOMPARE(outcome.error, QString());
    QCOMPARE(ws.auth.StoredPassword(), QString());
    QCOMPARE(ws.messages.shown.size(), 1);
    QVERIFY(ws.messages.shown.first().text.startsWith(CannotConnectPrefix));
    QCOMPARE(next.clears, 0);
    QCOMPARE(next.id, u"1002"_s);
}

void tst_Authentication::readErrorPassedOn()
{
    // A table the rights query reads is missing: the error goes to the caller, without the
    // message of a failed save, and nothing is written.
    QVERIFY2(m_sql.exec(u"ALTER TABLE ZA020MS RENAME TO ZA020MS_AWAY"_s), qPrintable(m_sql.error()));
    m_tableRenamed = true;

    Workstation ws(m_sql.fixture(), Here);
    const QString before = ws.session();
    FakeLoginFields fields(u"1001"_s, u"orsa1001!"_s);
    const AuthResult outcome = ws.auth.Authenticate(true, fields);

    QCOMPARE(outcome.value, 0);
    QVERIFY(outcome.error.contains(u"za020ms"_s, Qt::CaseInsensitive));
    QCOMPARE(ws.messages.texts(), QStringList());
    QCOMPARE(ws.session(), before);
    QCOMPARE(records(u"1001"_s).size(), 2);
    QVERIFY(!ws.db.connected());
}

QTEST_MAIN(tst_Authentication)
#include "tst_authentication.moc"
