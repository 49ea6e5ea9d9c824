#pragma once
#include "session/sessioninterfaces.h"
#include "shared/sharedvalues.h"

#include <QList>
#include <QString>

class LogoutRequester;
class Messages;
class Tfrm_ZD000;

// Decides a login: checks the employee number and password against the database, loads the
// employee's project rights and team-role choices, keeps one live login per employee (asking
// the other workstation's shell to log out when needed) and writes the login record.
//
// Everything runs on the user-interface thread through the data module's one connection, which
// stays open for the whole call: the data module reports busy() meanwhile, so a forced-logout
// request that arrives during the question about the other workstation waits for the end of the
// call instead of running inside its transaction.
class Authentication : public Authenticator
{
public:
    Authentication(Tfrm_ZD000 &db, Messages &messages, SharedValues &shared,
                   LogoutRequester &logoutRequester);

    // DoLogin false only looks the employee up (before a voluntary password change) and stops
    // after the password-age test. The session values are written only when the result is 1.
    AuthResult Authenticate(bool DoLogin, LoginFields &fields) override;

    // The decoded stored password of the employee number last looked up. Emptied at the start
    // of every call, so a call that cannot reach the database never leaves the password of the
    // previous employee for the password change window.
    QString StoredPassword() const override { return m_storedPassword; }

    // The caption of the login checks' messages.
    static QString loginCaption();

private:
    AuthResult run(bool DoLogin, LoginFields &fields);
    bool readEmployee(const QString &typedNumber, QString *error);
    bool readRights(QList<int> *rights, QString *error);
    bool readRoleChoices(QList<QList<RoleChoice>> *choices, QString *error);
    bool readLatestRecord(qint64 *seq, QString *loginIp, QString *logoutIp, QString *multiLogin,
                          QString *error);
    // Reads again whether the login record seq is still the employee's latest and still open.
    bool recordStillOpen(qint64 seq, bool *open, QString *error);
    // stored: the new record has been committed; otherwise the result to give back (declined,
    // or failed with its error).
    AuthResult recordLogin(qint64 previousSeq, const QString &previousLoginIp,
                           const QString &previousLogoutIp, bool *stored);

    Tfrm_ZD000 &m_db;
    Messages &m_messages;
    SharedValues &m_shared;
    LogoutRequester &m_logoutRequester;

    QString m_storedPassword;
    // The row of the employee query.
    bool m_found = false;
    QString m_empNo;
    QString m_empName;
    qint64 m_passwordAge = 0;
};
