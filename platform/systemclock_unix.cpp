#include "platform/systemclock.h"

#include <QDateTime>

#include <cerrno>
#include <cstring>
#include <ctime>

bool SystemClock::setLocalTime(const QDateTime &localTime, QString *error)
{
    if (!localTime.isValid()) {
        if (error)
            *error = QStringLiteral("invalid date and time");
        return false;
    }
    timespec when{};
    const qint64 msecs = localTime.toMSecsSinceEpoch();
    when.tv_sec = time_t(msecs / 1000);
    when.tv_nsec = long(msecs % 1000) * 1000000L;
    if (when.tv_nsec < 0) {
        when.tv_sec -= 1;
        when.tv_nsec += 1000000000L;
    }
    if (clock_settime(CLOCK_REALTIME, &when) != 0) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    return true;
}
