#include "platform/operationslog.h"

#include <windows.h>

// The Windows application event log, source "orsa". Without a registered message file the
// event viewer prefixes each line with a note that the description was not found; the line
// itself follows in full, which is all an administrator needs.
void OperationsLog::toSystemLog(const QString &category, const QString &message, bool error)
{
    static const HANDLE source = ::RegisterEventSourceW(nullptr, L"orsa");
    if (!source)
        return;
    const std::wstring line = QString(category + QStringLiteral(": ") + message).toStdWString();
    const wchar_t *strings[] = {line.c_str()};
    ::ReportEventW(source, error ? EVENTLOG_WARNING_TYPE : EVENTLOG_INFORMATION_TYPE, 0, 0,
                   nullptr, 1, 0, strings, nullptr);
}
