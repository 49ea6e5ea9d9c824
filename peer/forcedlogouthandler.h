#pragma once
#include <QtGlobal>

// What the forced-logout server needs of the shell. Every call comes on the user-interface
// thread.
class ForcedLogoutHandler
{
public:
    virtual ~ForcedLogoutHandler() = default;
    // The login this shell holds now. It changes whenever a login begins or ends, so that a
    // request which had to wait is carried out only against the login it arrived for.
    virtual quint64 currentSession() const = 0;
    // A database operation of this shell is under way: the request waits until it has ended.
    virtual bool busy() const = 0;
    // Closes the child programs and records the logout; false when the logout could not be
    // recorded, and then no acknowledgement is sent.
    virtual bool forcedLogout() = 0;
    // After the acknowledgement has been written: the message, then the new login.
    virtual void afterForcedLogout() = 0;
};
