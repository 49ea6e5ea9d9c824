#include "platform/operationslog.h"

#include <syslog.h>

// syslog() writes to /dev/log: journald or a syslog daemon takes the line, and without either
// it is dropped, which is all "where one runs" asks. LOG_PID lets several workstations' lines
// on one log host, and several shells of one machine, be told apart.
void OperationsLog::toSystemLog(const QString &category, const QString &message, bool error)
{
    static const bool opened = [] {
        ::openlog("orsa", LOG_PID, LOG_USER);
        return true;
    }();
    Q_UNUSED(opened);
    const QByteArray line = QString(category + QStringLiteral(": ") + message).toUtf8();
    ::syslog(error ? LOG_WARNING : LOG_INFO, "%s", line.constData());
}
