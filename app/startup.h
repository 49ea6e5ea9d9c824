#pragma once
#include <QtGlobal>

class QApplication;

// The program from start to end: one shell per logon (a second start brings the running shell
// forward and ends at once with exit code 0), then the splash, the data module, the main window
// (whose creation does the start-up work), the hidden update notice, the message loop, and the
// shutdown in the reverse order. The result is the program's exit code.
int runShell(QApplication &app);

// The port of the forced-logout protocol, for the listener and for the requests this shell
// sends: the environment variable ORSA_PEER_PORT when it holds a port number (1 to 65535),
// otherwise 6010. Tests run several shells side by side with it.
quint16 peerPortFromEnvironment();
