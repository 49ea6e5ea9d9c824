#include "session/authentication.h"

#include "db/sqlquery.h"
#include "db/statementcatalogue.h"
#include "db/tfrm_zd000.h"
#include "machine/pelfunction.h"
#include "peer/forcedlogoutclient.h"
#include "platform/messages.h"
#include "shared/logcategories.h"

#include <QVariant>

namespace {

const char *const NotRegistered = "등록되지 않은 사용자번호(ID) 입니다.";
const char *const PasswordReset =
    "처음 접속하셨거나, 관리자가 비밀번호를 초기화 했습니다.\r"
    "지금 비밀번호를 변경하고 다시 Login 하십시오.";
const char *const PasswordExpired = "비밀번호 변경 주기가 지났습니다.\r비밀번호를 변경하십시오.";
const char *const WrongPassword = "비밀번호(Password)를 잘못 입력하셨습니다.";
const char *const OtherWorkstation =
    "현재 사용자 번호로 다른 PC에서 접속 중이거나,\r"
    "기존 접속이 비정상적으로 종료 되었습니다.\r"
    "기존 접속을 차단하고 새로 Login 하시겠습니까?";
const char *const NotSaved = "자료를 저장하지 못했습니다.";
const char *const ClosedHere = "강제종료";
const char *const ClosedElsewhere = "타PC강제종료";

QString text(const char *utf8)
{
    return QString::fromUtf8(utf8);
}

// Numbers come back from the drivers as integers, as decimals or as text, depending on the
// column type and the engine; "7", 7 and 7.0 all mean 7 here, anything else 0.
qint64 integerValue(const QVariant &value)
{
    if (value.isNull())
        return 0;
    bool ok = false;
    const qint64 whole = value.toLongLong(&ok);
    if (ok)
        return whole;
    const double real = value.toDouble(&ok);
    if (ok)
        return static_cast<qint64>(real);
    return StringToInteger(value.toString());
}

// The connection is opened at the start of every operation and closed at its end, whatever way
// the operation ends.
class ConnectionScope
{
public:
    explicit ConnectionScope(Tfrm_ZD000 &db) : m_db(db) {}
    ~ConnectionScope() { m_db.DisconnectDB(); }
    ConnectionScope(const ConnectionScope &) = delete;
    ConnectionScope &operator=(const ConnectionScope &) = delete;

private:
    Tfrm_ZD000 &m_db;
};

} // namespace

Authentication::Authentication(Tfrm_ZD000 &db, Messages &messages, SharedValues &shared,
                               LogoutRequester &logoutRequester)
    : m_db(db), m_messages(messages), m_shared(shared), m_logoutRequester(logoutRequester)
{
}

QString Authentication::loginCaption()
{
    return QStringLiteral("Login");
}

AuthResult Authentication::Authenticate(bool DoLogin, LoginFields &fields)
{
    // A call that never reaches the database must not leave the previous employee's password
    // behind: the password change window trusts it as the account's current password.
    m_storedPassword.clear();
    m_found = false;
    m_empNo.clear();
    m_empName.clear();
    m_passwordAge = 0;

    if (!m_db.ConnectDB())
        return {};
    ConnectionScope connection(m_db);
    AuthResult result = run(DoLogin, fields);
    // Nothing may stay open past the call, also not after an unexpected error.
    if (m_db.inTransaction())
        m_db.rollback();
    return result;
}

AuthResult Authentication::run(bool DoLogin, LoginFields &fields)
{
    QString error;
    const QString typedNumber = fields.employeeNumber();
    // The reads of a login travel together where the driver allows, one wait for all four. The
    // employee number found equals the one typed, so the later reads take these rows; rows of
    // a login that stops early are simply dropped.
    if (DoLogin) {
        SqlQuery &query = m_db.qryQuery();
        for (StatementId id : {StatementId::LoginEmployee, StatementId::LoginProjectRights,
                               StatementId::LoginRoleChoices, StatementId::LoginLatestRecord}) {
            query.setStatement(id);
            query.bind(QStringLiteral("P0"), typedNumber);
            query.sendAhead();
        }
    }
    if (!readEmployee(typedNumber, &error))
        return {0, error};

    if (!m_found) {
        // Not the typed text: a password typed into the wrong field would end up in the log.
        qCInfo(lcSession) << "login refused: employee number not registered";
        m_messages.show(text(NotRegistered), MessageIcon::Error, MessageButtons::Ok, loginCaption());
        fields.clearFields();
        return {};
    }
    if (m_storedPassword == typedNumber) {
        m_messages.show(text(PasswordReset), MessageIcon::Warning, MessageButtons::Ok,
                        loginCaption());
        return {-1, {}};
    }
    if (m_passwordAge <= 0) {
        m_messages.show(text(PasswordExpired), MessageIcon::Warning, MessageButtons::Ok,
                        loginCaption());
        return {-1, {}};
    }
    if (!DoLogin)
        return {};

    if (fields.password() != m_storedPassword) {
        qCInfo(lcSession).noquote() << "login refused: employee" << m_empNo << "wrong password";
        m_messages.show(text(WrongPassword), MessageIcon::Error, MessageButtons::Ok, loginCaption());
        fields.selectPassword();
        return {};
    }

    QList<int> rights;
    if (!readRights(&rights, &error))
        return {0, error};
    QList<QList<RoleChoice>> choices;
    if (!readRoleChoices(&choices, &error))
        return {0, error};

    qint64 previousSeq = 0;
    QString previousLoginIp;
    QString previousLogoutIp;
    QString multiLogin;
    if (!readLatestRecord(&previousSeq, &previousLoginIp, &previousLogoutIp, &multiLogin, &error))
        return {0, error};

    // Employees allowed several live logins are not recorded at all.
    if (multiLogin != QLatin1String("Y")) {
        bool stored = false;
        const AuthResult recorded = recordLogin(previousSeq, previousLoginIp, previousLogoutIp,
                                                &stored);
        if (!stored)
            return recorded;
    }

    m_shared.EmpNo = m_empNo;
    m_shared.EmpName = m_empName;
    for (int i = 0; i < m_shared.ProjectIds.size(); ++i)
        m_shared.ProjectIds[i].right = rights.value(i, -1);
    m_shared.RoleChoices = choices;
    return {1, {}};
}

bool Authentication::readEmployee(const QString &typedNumber, QString *error)
{
    SqlQuery &query = m_db.qryQuery();
    query.setStatement(StatementId::LoginEmployee);
    // As typed: a number with a blank in front is another number, and is not registered.
    query.bind(QStringLiteral("P0"), typedNumber);
    if (!query.open(error)) {
        query.close();
        return false;
    }
    if (query.next()) {
        m_storedPassword = query.text(0);
        m_found = !query.isNull(0);
        m_empNo = query.value(1).toString();
        m_empName = query.value(2).toString();
        m_passwordAge = integerValue(query.value(3));
    }
    query.close();
    return true;
}

bool Authentication::readRights(QList<int> *rights, QString *error)
{
    const QList<ProjectId> &projects = m_shared.ProjectIds;
    rights->fill(-1, projects.size());

    SqlQuery &query = m_db.qryQuery();
    query.setStatement(StatementId::LoginProjectRights);
    query.bind(QStringLiteral("P0"), m_empNo);
    if (!query.open(error)) {
        query.close();
        return false;
    }
    while (query.next()) {
        const QString projectId = query.value(0).toString();
        for (int i = 0; i < projects.size(); ++i) {
            if (projects.at(i).id == projectId) {
                (*rights)[i] = static_cast<int>(integerValue(query.value(1)));
                break;
            }
        }
    }
    query.close();
    return true;
}

bool Authentication::readRoleChoices(QList<QList<RoleChoice>> *choices, QString *error)
{
    const QList<ProjectId> &projects = m_shared.ProjectIds;
    choices->clear();
    choices->resize(projects.size());

    SqlQuery &query = m_db.qryQuery();
    query.setStatement(StatementId::LoginRoleChoices);
    query.bind(QStringLiteral("P0"), m_empNo);
    if (!query.open(error)) {
        query.close();
        return false;
    }
    while (query.next()) {
        const QString projectId = query.value(0).toString();
        for (int i = 0; i < projects.size(); ++i) {
            if (projects.at(i).id == projectId) {
                RoleChoice choice;
                choice.name = query.value(2).toString();
                choice.code = static_cast<int>(StringToInteger(query.value(1).toString()));
                (*choices)[i].append(choice);
                break;
            }
        }
    }
    query.close();
    return true;
}

bool Authentication::readLatestRecord(qint64 *seq, QString *loginIp, QString *logoutIp,
                                      QString *multiLogin, QString *error)
{
    SqlQuery &query = m_db.qryQuery();
    query.setStatement(StatementId::LoginLatestRecord);
    query.bind(QStringLiteral("P0"), m_empNo);
    if (!query.open(error)) {
        query.close();
        return false;
    }
    // Columns: EMP_NO, SEQ, LOGIN_TIME, LOGIN_IP, LOGOUT_TIME, LOGOUT_IP, MULTI_LOGIN_YN. No row
    // (no earlier login) leaves every value empty.
    if (query.next()) {
        *seq = integerValue(query.value(1));
        *loginIp = query.value(3).toString();
        *logoutIp = query.value(5).toString();
        *multiLogin = query.value(6).toString();
    }
    query.close();
    return true;
}

bool Authentication::recordStillOpen(qint64 seq, bool *open, QString *error)
{
    qint64 latestSeq = 0;
    QString loginIp;
    QString logoutIp;
    QString multiLogin;
    if (!readLatestRecord(&latestSeq, &loginIp, &logoutIp, &multiLogin, error))
        return false;
    *open = latestSeq == seq && logoutIp.isEmpty();
    return true;
}

AuthResult Authentication::recordLogin(qint64 previousSeq, const QString &previousLoginIp,
                                       const QString &previousLogoutIp, bool *stored)
{
    *stored = false;
    QString error;
    const auto failed = [&]() -> AuthResult {
        m_db.qryQuery().close();
        m_db.rollback();
        if (error.isEmpty())
            error = QStringLiteral("The login could not be recorded.");
        m_messages.show(databaseFailureMessage(text(NotSaved), error), MessageIcon::Error);
        return {0, error};
    };
    const auto closePrevious = [&](const char *state) {
        SqlQuery &query = m_db.qryQuery();
        query.setStatement(StatementId::LoginCloseRecord);
        query.bind(QStringLiteral("P0"), m_empNo);
        query.bind(QStringLiteral("P1"), QString::number(previousSeq));
        query.bind(QStringLiteral("P2"), text(state));
        return query.exec(&error);
    };

    if (!m_db.inTransaction() && !m_db.startTransaction(2, &error))
        return failed();

    // A record whose LOGOUT_IP begins with "*" was ended provisionally by this shell's own
    // "log in as another user" and counts as closed.
    if (previousSeq != 0 && previousLogoutIp.isEmpty()) {
        if (previousLoginIp == m_shared.LocalIP) {
            // The earlier run on this workstation ended without recording its logout.
            if (!closePrevious(ClosedHere))
                return failed();
        } else {
            const MessageAnswer answer =
                m_messages.show(text(OtherWorkstation), MessageIcon::Question, MessageButtons::YesNo);
            if (answer != MessageAnswer::Yes) {
                m_db.rollback();
                return {};
            }
            // The question may have stood a while: a record ended meanwhile at the other
            // workstation (its employee logged in as somebody else, say) needs no request, and a
            // request now would end the login that began there since.
            bool stillOpen = false;
            if (!recordStillOpen(previousSeq, &stillOpen, &error))
                return failed();
            // An acknowledging shell has closed the record itself before it answered; a shell
            // that declined leaves it to this one, which touches it only while it is still open.
            bool acknowledged = false;
            if (stillOpen) {
                acknowledged = m_logoutRequester.requestLogout(previousLoginIp);
                qCInfo(lcPeer).noquote() << "asked" << previousLoginIp << "to end the login of employee"
                                         << m_empNo << "record" << previousSeq << "-"
                                         << (acknowledged ? "acknowledged" : "no acknowledgement, closed here");
            }
            if (stillOpen && !acknowledged && !closePrevious(ClosedElsewhere))
                return failed();
        }
    }

    SqlQuery &query = m_db.qryQuery();
    query.setStatement(StatementId::LoginInsertRecord);
    query.bind(QStringLiteral("P0"), m_empNo);
    query.bind(QStringLiteral("P1"), QString::number(previousSeq + 1));
    query.bind(QStringLiteral("P2"), m_shared.LocalIP);
    if (!query.exec(&error))
        return failed();

    query.setStatement(StatementId::LoginStampDate);
    query.bind(QStringLiteral("P0"), m_empNo);
    if (!query.exec(&error))
        return failed();

    if (!m_db.commit(&error))
        return failed();
    qCInfo(lcSession).noquote() << "login: employee" << m_empNo << "record" << previousSeq + 1
                                << "workstation" << m_shared.LocalIP;
    *stored = true;
    return {1, {}};
}
