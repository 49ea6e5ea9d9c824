#include "programstarter.h"

#include "appfiles.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>

namespace {

// The program as the command line names it. The suite comes from Windows, where file names
// are not case-sensitive, so a path that does not exist as written is looked up without
// regard to case in its directory; backslashes separate directories as they do there.
QString resolveProgram(const QString &written)
{
    if (written.isEmpty() || QFileInfo::exists(written))
        return written;
    QString path = written;
    path.replace(u'\\', u'/');
    if (QFileInfo::exists(path))
        return path;
    const QFileInfo info(path);
    if (!info.path().isEmpty() && info.fileName().isEmpty())
        return path;
    const QString found = findAppFile(info.path(), info.fileName());
    return QFileInfo::exists(found) ? found : path;
}

class UnixProgramStarter final : public ProgramStarter
{
public:
    bool createProcess(const QString &commandLine, QString *error) override
    {
        QStringList args = splitWindowsCommandLine(commandLine);
        if (args.isEmpty() || args.first().isEmpty()) {
            if (error)
                *error = QStringLiteral("no program named in the command line");
            return false;
        }
        const QString program = resolveProgram(args.takeFirst());
        QProcess process;
        process.setProgram(program);
        process.setArguments(args);
        // Started means ready here: there is no input-idle state to wait for.
        if (!process.startDetached()) {
            if (error)
                *error = program + QStringLiteral(": ") + process.errorString();
            return false;
        }
        return true;
    }

    // The remote-control program is named by a Windows path ("C:\\...\\winvnc.exe"), which
    // here would be a path relative to whatever the working directory is: a file planted there
    // would run as the user who said Yes. Only a program named by an absolute path is started;
    // anything else starts nothing and, like any failure here, is not reported.
    void winExec(const QString &commandLine) override
    {
        const QStringList args = splitWindowsCommandLine(commandLine);
        if (args.isEmpty() || !QDir::isAbsolutePath(QString(args.first()).replace(u'\\', u'/')))
            return;
        createProcess(commandLine, nullptr);
    }
};

} // namespace

std::unique_ptr<ProgramStarter> ProgramStarter::createSystem()
{
    return std::make_unique<UnixProgramStarter>();
}
