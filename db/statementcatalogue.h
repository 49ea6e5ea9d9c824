#pragma once
#include "db/sqldialect.h"

#include <QList>
#include <QString>

// Every statement the shell sends to the database. Each exists once per dialect; callers name
// the statement and the data module's dialect picks the text. Parameters are :P0, :P1, :P2,
// always bound as text. Columns are read by position (0 = first).
enum class StatementId {
    // start-up: the server's clock for the workstation. Row: the server's date and time.
    ServerTime,
    // start-up: the environment name for the status row. P0 = database account.
    // Row: DETAIL_NAME of code group Z9999 for the account in upper case.
    EnvironmentName,

    // login: the employee and password check. P0 = employee number as typed.
    // Row: decoded password, EMP_NO, EMP_NAME, password-age value (days left; 1 when passwords
    // do not expire). No row for an unknown employee, one not in use, or without Z1002 period.
    LoginEmployee,
    // login: the projects the employee may use. P0 = employee number.
    // Rows: PROJECT_ID, TEAM_ROLE.
    LoginProjectRights,
    // login: the team-role choices per project. P0 = employee number.
    // Rows: PROJECT_ID, CODE, NAME.
    LoginRoleChoices,
    // login: the employee's latest login record and the multi-login flag. P0 = employee number.
    // Row: EMP_NO, SEQ, LOGIN_TIME, LOGIN_IP, LOGOUT_TIME, LOGOUT_IP, MULTI_LOGIN_YN; no row when
    // the employee has no record.
    LoginLatestRecord,
    // login: the closing of a record left open, as "강제종료" (same workstation) or
    // "타PC강제종료" (the other workstation did not acknowledge).
    // P0 = employee number, P1 = SEQ, P2 = the LOGOUT_IP text.
    LoginCloseRecord,
    // login: the new login record. P0 = employee number, P1 = SEQ, P2 = workstation IP.
    LoginInsertRecord,
    // login: the date stamp BACK_LOGIN_DATE. P0 = employee number.
    LoginStampDate,

    // password change: the composition count. P1 = new password.
    // Row: total length, digits, characters of "!@#$%^&*()_+~", all other characters.
    PasswordComposition,
    // password change: the password update. P0 = new password, P1 = employee number (also the
    // one recorded as having changed it), P2 = workstation IP.
    PasswordUpdate,

    // logout kind 1: closes the employee's live records of this workstation.
    // P0 = employee number, P1 = workstation IP (every occurrence).
    LogoutClose,
    // logout kind 2: provisional close. P0 = employee number; P1 occurrence 0 (the LOGOUT_IP
    // written) = "*" + workstation IP, occurrence 1 (the LOGIN_IP matched) = workstation IP.
    LogoutProvisional,
    // logout kind 3: confirms a provisional close, "*IP" becomes "IP".
    // P0 = employee number, P1 = workstation IP.
    LogoutConfirm,
    // logout kind 4: takes a provisional close back; the record is live again.
    // P0 = employee number, P1 = workstation IP.
    LogoutTakeBack,
};

// Every statement, in declaration order.
QList<StatementId> allStatements();
// A short name for messages and test rows ("LoginEmployee").
QString statementName(StatementId id);
// Oracle texts separate their lines with carriage returns.
QString statementText(StatementId id, SqlDialect dialect);
