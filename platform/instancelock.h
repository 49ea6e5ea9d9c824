#pragma once
#include <QString>
#include <memory>

// The one-shell-per-logon lock. Whoever holds the lock of a name is the running shell; a second
// start finds it taken and hands over to the running one. The lock belongs to the process: when
// the process ends, however it ends, the lock is free again, so a crash leaves nothing stale.
class InstanceLock
{
public:
    virtual ~InstanceLock() = default;

    // True when this process now holds the lock of the name (also when it held it already).
    // False when another process holds it, and also when the lock cannot be taken at all (the
    // reason then in error): both mean that this process must not become the shell.
    virtual bool acquire(const QString &name, QString *error = nullptr) = 0;
    // Why the last acquire failed: Held, another shell holds the lock; Unusable, the lock cannot
    // be taken at all (a directory for it that is not this user's own, say), so whether a shell
    // runs is unknown and a hand-over would hide the fault.
    enum class Failure { None, Held, Unusable };
    Failure failure() const { return m_failure; }
    virtual void release() = 0;
    virtual bool held() const = 0;

    static std::unique_ptr<InstanceLock> createSystem();

protected:
    Failure m_failure = Failure::None;
};
