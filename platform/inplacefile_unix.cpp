#include "platform/inplacefile.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Takes over an open descriptor when it refers to a regular file. Opening did not block (a
// pipe would wait for a writer) and gave no controlling terminal; the file is checked on the
// descriptor itself, so it is the file that was opened, whatever the name refers to by now.
bool adopt(QFile &file, int fd, const QString &path, QString *error)
{
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        const int saved = errno;
        ::close(fd);
        if (error)
            *error = systemError(saved);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        if (error)
            *error = QStringLiteral("not a regular file");
        return false;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    file.setFileName(path);
    if (!file.open(fd, QIODevice::ReadWrite | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

constexpr int OpenFlags = O_RDWR | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC;

} // namespace

InPlaceFile::Opened InPlaceFile::openExisting(QFile &file, const QString &path, QString *error)
{
    const int fd = ::open(QFile::encodeName(path).constData(), OpenFlags);
    if (fd < 0) {
        if (errno == ENOENT)
            return Opened::Missing;
        if (error)
            *error = errno == ELOOP ? QStringLiteral("a symbolic link, not a regular file")
                                    : systemError(errno);
        return Opened::Refused;
    }
    return adopt(file, fd, path, error) ? Opened::Yes : Opened::Refused;
}

bool InPlaceFile::createNew(QFile &file, const QString &path, QString *error)
{
    // O_EXCL does not follow a link at the name either: a link planted meanwhile fails here.
    const int fd = ::open(QFile::encodeName(path).constData(), OpenFlags | O_CREAT | O_EXCL, 0666);
    if (fd < 0) {
        if (error)
            *error = systemError(errno);
        return false;
    }
    return adopt(file, fd, path, error);
}
