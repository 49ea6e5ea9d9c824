#pragma once
#include <QString>
#include <QStringList>
#include <memory>

// Splits a command line into its arguments the way a Windows program's C runtime does
// (CommandLineToArgvW): blanks and tabs separate arguments, double quotes group, 2n
// backslashes before a quote give n backslashes and a grouping quote, 2n+1 give n and a
// literal quote, other backslashes are literal, and "" inside a quoted part is a literal quote.
// The first argument (the program) follows the simpler rule of the program name: everything
// up to the next blank, or between a pair of quotes, taken literally.
QStringList splitWindowsCommandLine(const QString &commandLine);

// Starts the programs of the suite from Windows-style command lines.
class ProgramStarter
{
public:
    virtual ~ProgramStarter() = default;

    // Starts the program named by the command line's first argument with the other arguments,
    // and returns once it has started. False, with the reason, when it could not be started.
    virtual bool createProcess(const QString &commandLine, QString *error = nullptr) = 0;
    // Starts the program and forgets it; a failure is not reported.
    virtual void winExec(const QString &commandLine) = 0;

    static std::unique_ptr<ProgramStarter> createSystem();
};
