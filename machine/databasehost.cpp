#include "machine/databasehost.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStringList>

namespace {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

// The first of a comma-separated list of hosts, when it is a network host: libpq takes a
// value that starts with "/" (or "@", an abstract socket) as a Unix-socket directory.
QString networkHost(const QString &value)
{
    const QString first = value.section(QLatin1Char(','), 0, 0).trimmed();
    if (first.startsWith(QLatin1Char('/')) || first.startsWith(QLatin1Char('@')))
        return QString();
    return first;
}

} // namespace

QString serviceFileHost(const QByteArray &text, const QString &service, bool *found)
{
    if (found)
        *found = false;
    bool inService = false;
    QString host;
    QString hostAddress;
    const QList<QByteArray> lines = text.split('\n');
    for (const QByteArray &raw : lines) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            if (inService)
                break;
            // libpq compares service names exactly, letter case included.
            inService = line.endsWith(QLatin1Char(']')) && line.mid(1, line.size() - 2) == service;
            if (inService && found)
                *found = true;
            continue;
        }
        if (!inService)
            continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals < 0)
            continue;
        const QString key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        if (key == QLatin1String("host"))
            host = value;
        else if (key == QLatin1String("hostaddr"))
            hostAddress = value;
    }
    if (!hostAddress.isEmpty())
        return hostAddress.section(QLatin1Char(','), 0, 0).trimmed();
    return networkHost(host);
}

QString postgresServiceHost(const QString &service)
{
    QStringList files;
    const QString userFile = qEnvironmentVariable("PGSERVICEFILE");
    files.append(userFile.isEmpty() ? QDir::home().filePath(QStringLiteral(".pg_service.conf"))
                                    : userFile);
    const QString systemDir = qEnvironmentVariable("PGSYSCONFDIR");
    files.append(QDir(systemDir.isEmpty() ? QStringLiteral("/etc/postgresql-common") : systemDir)
                     .filePath(QStringLiteral("pg_service.conf")));
    for (const QString &file : std::as_const(files)) {
        bool found = false;
        const QString host = serviceFileHost(readFile(file), service, &found);
        if (!found)
            continue;
        if (!host.isEmpty())
            return host;
        break;
    }
    // What the service leaves open comes from the environment, as libpq takes it.
    const QString hostAddress = qEnvironmentVariable("PGHOSTADDR");
    if (!hostAddress.isEmpty())
        return hostAddress.section(QLatin1Char(','), 0, 0).trimmed();
    return networkHost(qEnvironmentVariable("PGHOST"));
}

QString netServiceNamesHost(const QString &text, const QString &name)
{
    // Comments run from "#" to the end of the line.
    QString clean;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        clean += line.section(QLatin1Char('#'), 0, 0);
        clean += QLatin1Char('\n');
    }

    static const QRegularExpression hostPattern(
        QStringLiteral("\\(\\s*HOST\\s*=\\s*([^()\\s]+)\\s*\\)"),
        QRegularExpression::CaseInsensitiveOption);
    // Entries at depth 0: "alias[, alias...] = (DESCRIPTION = ...)".
    qsizetype i = 0;
    const qsizetype size = clean.size();
    while (i < size) {
        const qsizetype equals = clean.indexOf(QLatin1Char('='), i);
        if (equals < 0)
            break;
        const QString aliases = clean.mid(i, equals - i);
        qsizetype open = equals + 1;
        while (open < size && clean.at(open).isSpace())
            ++open;
        if (open >= size || clean.at(open) != QLatin1Char('(')) {
            // A line such as "IFILE = other.ora": no entry.
            const qsizetype lineEnd = clean.indexOf(QLatin1Char('\n'), equals);
            if (lineEnd < 0)
                break;
            i = lineEnd + 1;
            continue;
        }
        int depth = 0;
        qsizetype end = open;
        for (; end < size; ++end) {
            if (clean.at(end) == QLatin1Char('('))
                ++depth;
            else if (clean.at(end) == QLatin1Char(')') && --depth == 0)
                break;
        }
        const QString description = clean.mid(open, end - open + 1);
        const QStringList names = aliases.split(QLatin1Char(','));
        for (const QString &alias : names) {
            const QString trimmed = alias.trimmed();
            // An alias may carry the names domain ("ORSA.WORLD") that the client adds itself.
            if (trimmed.compare(name, Qt::CaseInsensitive) == 0
                || trimmed.startsWith(name + QLatin1Char('.'), Qt::CaseInsensitive)) {
                const QRegularExpressionMatch match = hostPattern.match(description);
                return match.hasMatch() ? match.captured(1) : QString();
            }
        }
        i = end + 1;
    }
    return QString();
}

QString oracleNetServiceHost(const QString &name)
{
    QString directory = qEnvironmentVariable("TNS_ADMIN");
    if (directory.isEmpty() && !qEnvironmentVariableIsEmpty("ORACLE_HOME"))
        directory = QDir(qEnvironmentVariable("ORACLE_HOME")).filePath(QStringLiteral("network/admin"));
    if (!directory.isEmpty()) {
        const QByteArray text = readFile(QDir(directory).filePath(QStringLiteral("tnsnames.ora")));
        const QString host = netServiceNamesHost(QString::fromLocal8Bit(text), name);
        if (!host.isEmpty())
            return host;
    }
    // Easy connect: [//]host[:port][/service].
    if (!name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char(':')))
        return QString();
    QString rest = name.trimmed();
    if (rest.startsWith(QLatin1String("//")))
        rest = rest.mid(2);
    if (rest.startsWith(QLatin1Char('['))) {
        const qsizetype close = rest.indexOf(QLatin1Char(']'));
        return close > 0 ? rest.mid(1, close - 1) : QString();
    }
    static const QRegularExpression separator(QStringLiteral("[:/]"));
    return rest.section(separator, 0, 0);
}
