#include "app/netservicenames.h"

#include <QDir>
#include <QFile>
#include <QString>

// The Oracle client on Linux reads its names file from $TNS_ADMIN; without it there is no fixed
// place to copy to, and nothing is done.
void copyNetServiceNames()
{
    const QString adminDir = qEnvironmentVariable("TNS_ADMIN");
    const QString source = QStringLiteral("./tnsnames.ora");
    if (adminDir.isEmpty() || !QFile::exists(source))
        return;
    const QString target = QDir(adminDir).filePath(QStringLiteral("tnsnames.ora"));
    // Copied beside the target first, so a failed copy never leaves the client without a file.
    const QString temporary = target + QStringLiteral(".orsa-new");
    QFile::remove(temporary);
    if (!QFile::copy(source, temporary))
        return;
    QFile::remove(target);
    if (!QFile::rename(temporary, target))
        QFile::remove(temporary);
}
