#pragma once
#include <QString>

class QWidget;

// What Authenticate reads and changes on the login window.
class LoginFields
{
public:
    virtual ~LoginFields() = default;
    virtual QString employeeNumber() const = 0;  // edtID as typed
    virtual QString password() const = 0;        // edtPassword as typed
    virtual void clearFields() = 0;              // empties edtID and edtPassword
    virtual void selectPassword() = 0;           // selects the whole text of edtPassword
};

struct AuthResult
{
    int value = 0;  // 1 logged in, 0 not logged in, -1 the password must be changed first
    // Not empty: the attempt ended with an error that goes on to the caller; the login window
    // shows it once more as the general error report and stays open.
    QString error;
};

class Authenticator
{
public:
    virtual ~Authenticator() = default;
    virtual AuthResult Authenticate(bool DoLogin, LoginFields &fields) = 0;
    virtual QString StoredPassword() const = 0;
};

// Opens the password change window modally and frees it again.
class PasswordChanger
{
public:
    virtual ~PasswordChanger() = default;
    virtual void changePassword(QWidget *owner, const QString &TargetEmpNo,
                                const QString &CurrentPassword, bool MayClose) = 0;
};

class LogoutRecorder
{
public:
    virtual ~LogoutRecorder() = default;
    // 1 final, 2 provisional before another login, 3 confirm after it, 4 take back after a cancel
    virtual void RecordLogout(int kind) = 0;
};
