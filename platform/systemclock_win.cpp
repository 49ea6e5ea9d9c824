#include "platform/systemclock.h"

#include <QDateTime>

#include <windows.h>

namespace {

// SetLocalTime needs the system-time privilege, which an account that holds it still has to
// switch on in its token first.
void enableSystemTimePrivilege()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return;
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (LookupPrivilegeValueW(nullptr, SE_SYSTEMTIME_NAME, &privileges.Privileges[0].Luid))
        AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    CloseHandle(token);
}

} // namespace

bool SystemClock::setLocalTime(const QDateTime &localTime, QString *error)
{
    if (!localTime.isValid()) {
        if (error)
            *error = QStringLiteral("invalid date and time");
        return false;
    }
    const QDateTime local = localTime.toLocalTime();
    const QDate date = local.date();
    const QTime time = local.time();
    SYSTEMTIME st{};
    st.wYear = WORD(date.year());
    st.wMonth = WORD(date.month());
    st.wDayOfWeek = WORD(date.dayOfWeek() % 7);
    st.wDay = WORD(date.day());
    st.wHour = WORD(time.hour());
    st.wMinute = WORD(time.minute());
    st.wSecond = WORD(time.second());
    st.wMilliseconds = WORD(time.msec());
    enableSystemTimePrivilege();
    if (!SetLocalTime(&st)) {
        if (error)
            *error = QStringLiteral("SetLocalTime failed with error %1").arg(GetLastError());
        return false;
    }
    return true;
}
