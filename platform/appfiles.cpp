#include "platform/appfiles.h"

#include <QDir>
#include <QFileInfo>

namespace {

// The entry of dir whose name equals part without regard to case; the exact spelling wins,
// and among several others the first in code-point order, so the choice does not depend on
// the order of the directory listing.
QString matchEntry(const QString &dir, const QString &part)
{
    const QString exact = QDir(dir).filePath(part);
    if (QFileInfo::exists(exact))
        return exact;
    QStringList candidates;
    const QStringList entries = QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System
                                                    | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        if (entry.compare(part, Qt::CaseInsensitive) == 0)
            candidates.append(entry);
    }
    if (candidates.isEmpty())
        return QString();
    candidates.sort(Qt::CaseSensitive);
    return QDir(dir).filePath(candidates.first());
}

} // namespace

QString findAppFile(const QString &dir, const QString &name)
{
    QString relative = name;
    relative.replace(u'\\', u'/');
    const QString base = dir.isEmpty() ? QStringLiteral(".") : QString(dir).replace(u'\\', u'/');
    const QString exact = QDir(base).filePath(relative);
    if (QFileInfo::exists(exact) || QDir::isAbsolutePath(relative))
        return exact;

    QString current = base;
    const QStringList parts = relative.split(u'/', Qt::SkipEmptyParts);
    for (const QString &part : parts) {
        if (part == u'.' || part == QStringLiteral(".."))  {
            current = QDir(current).filePath(part);
            continue;
        }
        const QString found = matchEntry(current, part);
        if (found.isEmpty())
            return exact;
        current = found;
    }
    return parts.isEmpty() ? exact : current;
}
