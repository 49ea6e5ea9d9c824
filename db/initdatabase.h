#pragma once
#include <QString>

class Messages;
class PelFunction;
class Tfrm_ZD000;

// The start-up work with the database: connect as the account (its name is its password), set
// the workstation clock to the server's, warn when the test account is in use, and find the
// name of the environment for the status row. The connection is closed again in every case.
// False when the program must end: a message has been shown and termination requested.
bool InitDatabase(Tfrm_ZD000 &db, PelFunction &machine, Messages &messages,
                  const QString &databaseName, const QString &account, QString *environmentName);
