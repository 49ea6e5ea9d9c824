#pragma once
#include <QString>

class QDateTime;

namespace SystemClock {

// Sets the machine's clock so that it shows the given local date and time. Needs the right to
// change the system time (root or CAP_SYS_TIME on Linux, the system-time privilege on Windows);
// false, with the reason, without it or for an invalid time.
bool setLocalTime(const QDateTime &localTime, QString *error);

} // namespace SystemClock
