#include "shared/logcategories.h"

Q_LOGGING_CATEGORY(lcShell, "orsa.shell")
Q_LOGGING_CATEGORY(lcSession, "orsa.session")
Q_LOGGING_CATEGORY(lcPeer, "orsa.peer")
Q_LOGGING_CATEGORY(lcDb, "orsa.db")
Q_LOGGING_CATEGORY(lcLaunch, "orsa.launch")
