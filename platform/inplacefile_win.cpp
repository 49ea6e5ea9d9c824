#include "platform/inplacefile.h"

#include <QFile>
#include <QFileInfo>

// Windows has no open flag that refuses a link at the name, so the name is examined first:
// symbolic links and junctions are refused, and so is anything that is not a plain file.
InPlaceFile::Opened InPlaceFile::openExisting(QFile &file, const QString &path, QString *error)
{
    const QFileInfo info(path);
    if (info.isSymbolicLink() || info.isJunction()) {
        if (error)
            *error = QStringLiteral("a symbolic link, not a regular file");
        return Opened::Refused;
    }
    if (!info.exists())
        return Opened::Missing;
    if (!info.isFile()) {
        if (error)
            *error = QStringLiteral("not a regular file");
        return Opened::Refused;
    }
    file.setFileName(path);
    if (!file.open(QIODevice::ReadWrite | QIODevice::ExistingOnly | QIODevice::Unbuffered)) {
        if (error)
            *error = file.errorString();
        return Opened::Refused;
    }
    return Opened::Yes;
}

bool InPlaceFile::createNew(QFile &file, const QString &path, QString *error)
{
    file.setFileName(path);
    if (!file.open(QIODevice::ReadWrite | QIODevice::NewOnly | QIODevice::Unbuffered)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}
