#include "instancelock.h"

#include <QByteArray>

#include <windows.h>

namespace {

// A named mutex in the logon's own namespace of kernel objects (no "Global\" prefix), so each
// logon of a shared machine runs its own shell. Windows frees it when the process ends.
class WindowsInstanceLock final : public InstanceLock
{
public:
    ~WindowsInstanceLock() override { release(); }

    bool acquire(const QString &name, QString *error) override
    {
        if (m_handle)
            return true;
        const QByteArray local = name.toLocal8Bit();
        HANDLE handle = ::CreateMutexA(nullptr, TRUE, local.constData());
        // Read at once: any later call may overwrite it.
        const DWORD lastError = ::GetLastError();
        if (!handle) {
            // The suite's own rule: a mutex that cannot be created is taken for a running
            // shell (typically an object of that name that this logon may not open).
            m_failure = Failure::Held;
            if (error)
                *error = QStringLiteral("CreateMutexA failed with error ") + QString::number(lastError);
            return false;
        }
        if (lastError != 0) {
            ::CloseHandle(handle);
            m_failure = Failure::Held;
            if (error)
                *error = QStringLiteral("held by another process");
            return false;
        }
        m_handle = handle;
        m_failure = Failure::None;
        return true;
    }

    void release() override
    {
        if (m_handle) {
            ::ReleaseMutex(m_handle);
            ::CloseHandle(m_handle);
            m_handle = nullptr;
        }
    }

    bool held() const override { return m_handle != nullptr; }

private:
    HANDLE m_handle = nullptr;
};

} // namespace

std::unique_ptr<InstanceLock> InstanceLock::createSystem()
{
    return std::make_unique<WindowsInstanceLock>();
}
