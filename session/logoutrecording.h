#pragma once
#include "session/sessioninterfaces.h"

#include <QString>

class Tfrm_ZD000;
struct SharedValues;

// Writes the end of a login into the login records of this workstation.
//
// Kind 1 ends the session's login for good (program end, forced logout from another
// workstation); kind 2 ends it provisionally when the login window is opened for another login
// ("*" before the workstation address); kind 3 confirms that end after the new login
// succeeded and kind 4 takes it back after a cancel. Kinds 3 and 4 work on the employee number
// that kind 2 used, since a successful login has replaced EmpNo by then.
//
// A failing statement is rolled back without a message: the caller goes on as if the logout
// had been recorded.
class LogoutRecording : public LogoutRecorder
{
public:
    LogoutRecording(Tfrm_ZD000 &db, SharedValues &shared);

    void RecordLogout(int kind) override;

    // The same; false only when the database could not be reached (the connection's own
    // message has been shown then) or no transaction could be started, with the reason in
    // error. A statement that fails still counts as done. The forced-logout handler must not
    // acknowledge after a false.
    bool recordLogout(int kind, QString *error = nullptr);

    // Why the last call could not reach the database; empty after a call that did, or that had
    // nothing to record.
    QString lastError() const { return m_lastError; }

    // How many login records the last call closed (or, for kinds 2 to 4, changed).
    int lastRowsChanged() const { return m_rowsChanged; }

    // The employee number kind 2 used and kinds 3 and 4 will use; empty when none is pending.
    QString provisionalEmpNo() const { return m_provisionalEmpNo; }

private:
    Tfrm_ZD000 &m_db;
    SharedValues &m_shared;
    QString m_provisionalEmpNo;
    QString m_lastError;
    int m_rowsChanged = 0;
};
