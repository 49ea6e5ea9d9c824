#include "session/logoutrecording.h"

#include "db/sqlquery.h"
#include "db/statementcatalogue.h"
#include "db/statementpipeline.h"
#include "db/tfrm_zd000.h"
#include "shared/sharedvalues.h"
#include "shared/logcategories.h"

LogoutRecording::LogoutRecording(Tfrm_ZD000 &db, SharedValues &shared) : m_db(db), m_shared(shared)
{
}

void LogoutRecording::RecordLogout(int kind)
{
    recordLogout(kind);
}

bool LogoutRecording::recordLogout(int kind, QString *error)
{
    m_lastError.clear();
    m_rowsChanged = 0;
    if (kind < 1 || kind > 4)
        return true;

    QString empNo;
    if (kind == 1 || kind == 2) {
        empNo = m_shared.EmpNo;
        if (kind == 2)
            m_provisionalEmpNo = empNo;
    } else {
        empNo = m_provisionalEmpNo;
        m_provisionalEmpNo.clear();
    }
    // Nobody is logged in (before the first login, or a start-up that is being ended): there is
    // no record to change, and no reason to reach for a database that may not even be named.
    if (empNo.isEmpty())
        return true;

    if (!m_db.ConnectDB()) {
        // ConnectDB has shown why. Whoever asked for the recording learns that it could not be
        // done; the program itself goes on.
        m_lastError = QStringLiteral("the logout could not be recorded: no database connection");
        m_db.DisconnectDB();
        if (error)
            *error = m_lastError;
        return false;
    }

    const QString &ip = m_shared.LocalIP;
    QString statementError;
    if (!m_db.inTransaction() && !m_db.startTransaction(1, &statementError)) {
        m_lastError = statementError;
        m_db.DisconnectDB();
        if (error)
            *error = m_lastError;
        return false;
    }
    bool done = false;
    {
        SqlQuery &query = m_db.qryQuery();
        switch (kind) {
        case 1:
            query.setStatement(StatementId::LogoutClose);
            break;
        case 2:
            query.setStatement(StatementId::LogoutProvisional);
            break;
        case 3:
            query.setStatement(StatementId::LogoutConfirm);
            break;
        default:
            query.setStatement(StatementId::LogoutTakeBack);
            break;
        }
        query.bind(QStringLiteral("P0"), empNo);
        if (kind == 2) {
            // The first P1 is the new LOGOUT_IP, the second the LOGIN_IP compared with.
            query.bindOccurrence(QStringLiteral("P1"), 0, QStringLiteral("*") + ip);
            query.bindOccurrence(QStringLiteral("P1"), 1, ip);
        } else {
            query.bind(QStringLiteral("P1"), ip);
        }
        // Where the driver can send the update with the commit, its count of rows is read after
        // the commit, so that recording a logout waits for the server once.
        const StatementPipeline *pipeline = m_db.pipeline();
        int rows = 0;
        done = query.exec(&statementError, pipeline ? nullptr : &rows)
            && m_db.commit(&statementError);
        if (done)
            m_rowsChanged = pipeline ? pipeline->transactionRowsAffected() : rows;
        query.close();
    }
    if (done)
        qCInfo(lcSession).noquote() << "logout record: employee" << empNo << "kind" << kind
                                    << "workstation" << ip;
    else
        qCWarning(lcDb).noquote() << "logout record of employee" << empNo << "kind" << kind
                                  << "failed:" << statementError;
    // A refused update leaves the login state as it was; nobody is told, and the caller goes on
    // as if the logout had been recorded.
    if (!done && m_db.inTransaction())
        m_db.rollback();
    m_db.DisconnectDB();
    return true;
}
