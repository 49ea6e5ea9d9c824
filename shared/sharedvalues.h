#pragma once
#include <QList>
#include <QString>
#include <QStringList>

// One team-role choice offered for a project: the display name and the integer code the
// project's role file receives.
struct RoleChoice
{
    QString name;
    int code = 0;
};

// One item of ProjectIds: the PROJECT_ID (or the key itself for a key with an empty value)
// carrying the employee's right: -1 no right, 0 right without team role, 1 to 3 the team-role type.
struct ProjectId
{
    QString id;
    int right = -1;
};

// The program-wide values of the session. The main window's creation fills the first ones and
// the project lists; a successful login writes the employee and the rights.
struct SharedValues
{
    QString AppDir;        // the executable's directory, always ending in the native separator
    QString DbAccount;     // the single command-line parameter: account name and password
    QString DatabaseName;  // DATABASE of Main.ini
    QString LocalIP;       // the workstation's IPv4 address, taken once at start-up
    QString EmpNo;
    QString EmpName;
    QList<ProjectId> ProjectIds;
    QStringList ProjectKeys;
    QList<QList<RoleChoice>> RoleChoices;

    void clear() { *this = SharedValues(); }
};

// The one instance of the run.
SharedValues &sharedValues();
