#pragma once
#include <QtGlobal>

// What the forced-logout server needs of the shell. Every call comes on the thread that made the
// server (the user-interface thread), except currentSession().
class ForcedLogoutHandler
{
public:
    virtual ~ForcedLogoutHandler() = default;
    // The login this shell holds now. It changes whenever a login begins or ends; a request
    // belongs to the login that was held when its requester was greeted, and is carried out
    // only against that one. Read by the listener's thread when it greets: it must be safe to
    // call from any thread.
    virtual quint64 currentSession() const = 0;
    // A database operation of this shell is under way: the request waits until it has ended.
    virtual bool busy() const = 0;
    // Whether the logout can be carried out now. False: the shell first ends the windows it has
    // open, and the request waits for them.
    virtual bool readyToEvict() { return true; }
    // The request that was waiting for readyToEvict() has been dropped unanswered.
    virtual void evictionWithdrawn() {}
    // Closes the child programs and records the logout; false when no login record has been
    // closed (nobody was logged in, the record was closed already, the database could not be
    // reached), and then no acknowledgement is sent, so that the requester closes the record
    // itself.
    virtual bool forcedLogout() = 0;
    // After the acknowledgement has been written: the message, then the new login.
    virtual void afterForcedLogout() = 0;
};
