#include "programstarter.h"

#include <QByteArray>

#include <windows.h>

namespace {

class WindowsProgramStarter final : public ProgramStarter
{
public:
    bool createProcess(const QString &commandLine, QString *error) override
    {
        // CreateProcessA may write into the command line, so it gets a copy of its own.
        QByteArray line = commandLine.toLocal8Bit();
        STARTUPINFOA startup;
        ZeroMemory(&startup, sizeof(startup));
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_FORCEONFEEDBACK;
        startup.wShowWindow = SW_SHOW;
        PROCESS_INFORMATION info;
        ZeroMemory(&info, sizeof(info));
        if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS,
                              nullptr, nullptr, &startup, &info)) {
            if (error)
                *error = QStringLiteral("CreateProcessA failed with error ")
                         + QString::number(::GetLastError());
            return false;
        }
        ::WaitForInputIdle(info.hProcess, INFINITE);
        ::CloseHandle(info.hThread);
        ::CloseHandle(info.hProcess);
        return true;
    }

    void winExec(const QString &commandLine) override
    {
        ::WinExec(commandLine.toLocal8Bit().constData(), SW_SHOW);
    }
};

} // namespace

std::unique_ptr<ProgramStarter> ProgramStarter::createSystem()
{
    return std::make_unique<WindowsProgramStarter>();
}
