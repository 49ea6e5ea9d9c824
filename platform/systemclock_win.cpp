#include "platform/systemclock.h"

#include <QDateTime>

#include <windows.h>

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
    if (!SetLocalTime(&st)) {
        if (error)
            *error = QStringLiteral("SetLocalTime failed with error %1").arg(GetLastError());
        return false;
    }
    return true;
}
