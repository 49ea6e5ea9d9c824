#include "instancelock.h"

#include <QByteArray>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemError(const char *what, const QByteArray &path)
{
    return QString::fromLocal8Bit(what) + QStringLiteral(" ") + QFile::decodeName(path)
           + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
}

// A directory only this user can enter: the per-session runtime directory when there is one,
// else a private directory under /tmp. A /tmp entry of that name that is not ours, not a real
// directory, or open to others is refused rather than used, since another user could then
// hold or remove our lock.
bool lockDirectory(QByteArray *dir, QString *error)
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    struct stat st;
    if (!runtime.isEmpty() && ::stat(runtime.constData(), &st) == 0 && S_ISDIR(st.st_mode)
        && st.st_uid == ::getuid()) {
        *dir = runtime;
        return true;
    }
    const QByteArray fallback = "/tmp/orsa-" + QByteArray::number(::getuid());
    if (::mkdir(fallback.constData(), 0700) != 0 && errno != EEXIST) {
        *error = systemError("cannot create", fallback);
        return false;
    }
    if (::lstat(fallback.constData(), &st) != 0) {
        *error = systemError("cannot examine", fallback);
        return false;
    }
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::getuid() || (st.st_mode & 077) != 0) {
        *error = QStringLiteral("refusing to use ") + QFile::decodeName(fallback)
                 + QStringLiteral(": not a private directory of this user");
        return false;
    }
    *dir = fallback;
    return true;
}

class UnixInstanceLock final : public InstanceLock
{
public:
    ~UnixInstanceLock() override { release(); }

    bool acquire(const QString &name, QString *error) override
    {
        QString ignored;
        QString &reason = error ? *error : ignored;
        if (m_fd >= 0)
            return true;
        m_failure = Failure::Unusable;
        if (name.isEmpty() || name.contains(u'/') || name == u'.' || name == QStringLiteral("..")) {
            reason = QStringLiteral("invalid lock name: ") + name;
            return false;
        }
        QByteArray dir;
        if (!lockDirectory(&dir, &reason))
            return false;
        const QByteArray path = dir + '/' + QFile::encodeName(name) + ".lock";
        // Close-on-exec: a program the shell starts must not inherit the lock and keep it
        // after the shell has gone.
        const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) {
            reason = systemError("cannot open", path);
            return false;
        }
        int rc;
        do {
            rc = ::flock(fd, LOCK_EX | LOCK_NB);
        } while (rc != 0 && errno == EINTR);
        if (rc != 0) {
            if (errno == EWOULDBLOCK)
                m_failure = Failure::Held;
            reason = errno == EWOULDBLOCK ? QStringLiteral("held by another process")
                                          : systemError("cannot lock", path);
            ::close(fd);
            return false;
        }
        m_fd = fd;
        m_failure = Failure::None;
        return true;
    }

    void release() override
    {
        // The file stays: removing it would let a third process lock a new file of the same
        // name while a second one still waits on the old one.
        if (m_fd >= 0) {
            ::flock(m_fd, LOCK_UN);
            ::close(m_fd);
            m_fd = -1;
        }
    }

    bool held() const override { return m_fd >= 0; }

private:
    int m_fd = -1;
};

} // namespace

std::unique_ptr<InstanceLock> InstanceLock::createSystem()
{
    return std::make_unique<UnixInstanceLock>();
}
