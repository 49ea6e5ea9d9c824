#pragma once
#include <QLoggingCategory>

// The operations log: what happened on this workstation, for the administrator who has to say
// afterwards who logged out whom, from where and when. One category per subsystem, so that
// QT_LOGGING_RULES can quiet any of them ("orsa.update.info=false"). A line never carries a
// password, nor the database account (which is its own password).
Q_DECLARE_LOGGING_CATEGORY(lcShell)    // "orsa.shell": start and end of the shell
Q_DECLARE_LOGGING_CATEGORY(lcSession)  // "orsa.session": logins and logout records
Q_DECLARE_LOGGING_CATEGORY(lcPeer)     // "orsa.peer": forced-logout requests on port 6010
Q_DECLARE_LOGGING_CATEGORY(lcDb)       // "orsa.db": refused and failed database operations
Q_DECLARE_LOGGING_CATEGORY(lcLaunch)   // "orsa.launch": program starts and update restarts
