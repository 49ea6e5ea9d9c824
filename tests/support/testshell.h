#pragma once
#include "platform/windowsystem.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

class QProcess;

// What the tests that run real shells share: the desktop's own tools (xdotool, xwininfo, xprop,
// ip), a shell's installation, its windows found from outside, and typing into them.
namespace TestShell {

// Runs a program to its end, at most 10 s. true when it exited with 0; its standard output goes
// to output, and why it failed to error.
bool run(const QString &program, const QStringList &arguments, QByteArray *output = nullptr,
         QString *error = nullptr);

// A TCP port on every address that was free a moment ago: the forced-logout port of a shell.
quint16 freePort();

// A shell installed in a directory of its own, as on a workstation: the shell of this build, the
// demo pictures, and a Main.ini for the database service with the given [PROJECTS] lines
// ("key=value", CR LF after each) and the demo's main and login window layout.
bool install(const QString &dir, const QString &service, const QString &projects, QString *error);

// Starts the shell installed in dir as the desktop entry does (account orsa_demo), with the
// logon's runtime directory (the single-instance lock), the forced-logout port, and the
// workstation's clock left alone; its output goes to the test's.
void start(QProcess &process, const QString &dir, const QString &runtimeDir, quint16 port);

// The viewable top-level windows of the process with the class; an empty class gives the ones
// of no class of ours (message boxes).
QList<WindowId> windowsOf(WindowSystem &windows, const QProcess &process, const QString &className);
// The first such window within the time, 0 when none came.
WindowId waitForWindow(WindowSystem &windows, const QProcess &process, const QString &className,
                       int timeoutMs = 20000);

// Focuses the window, since without a window manager keyboard input goes nowhere until a window
// has the focus, then types: "<Name>" presses the key Name, anything else is typed as text.
bool typeInto(WindowId window, const QStringList &keys);
// The employee number, Return, the password, Return.
bool logIn(WindowId loginWindow, const QString &empNo, const QString &password);

} // namespace TestShell
