#include "platform/profilefile.h"

#include "platform/cp949.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

const char Utf8Mark[] = "\xEF\xBB\xBF";

// The reader's notion of a blank: space and the ASCII control blanks. Wider Unicode spaces
// (the ideographic space of code page 949 among them) are text.
bool isBlank(QChar c)
{
    const char16_t u = c.unicode();
    return u == u' ' || u == u'\t' || u == u'\v' || u == u'\f';
}

QString trimBlanks(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text.at(begin)))
        ++begin;
    while (end > begin && isBlank(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

QString unquote(const QString &value)
{
    if (value.size() >= 2) {
        const QChar first = value.front();
        if ((first == u'"' || first == u'\'') && value.back() == first)
            return value.mid(1, value.size() - 2);
    }
    return value;
}

struct RawLine
{
    QByteArray text;
    QByteArray end;  // the line break that followed it: "\r\n", "\n", "\r" or nothing
};

bool hasUtf8Mark(const QByteArray &bytes)
{
    return bytes.startsWith(Utf8Mark);
}

QList<RawLine> splitLines(const QByteArray &bytes)
{
    QList<RawLine> lines;
    qsizetype start = 0;
    qsizetype i = 0;
    while (i < bytes.size()) {
        const char c = bytes.at(i);
        if (c == '\r' || c == '\n') {
            RawLine line{bytes.mid(start, i - start), {}};
            if (c == '\r' && i + 1 < bytes.size() && bytes.at(i + 1) == '\n') {
                line.end = QByteArrayLiteral("\r\n");
                i += 2;
            } else {
                line.end = QByteArray(1, c);
                ++i;
            }
            lines.append(line);
            start = i;
        } else {
            ++i;
        }
    }
    if (start < bytes.size())
        lines.append({bytes.mid(start), {}});
    return lines;
}

enum class LineKind { Ignored, Section, Entry };

struct ParsedLine
{
    LineKind kind = LineKind::Ignored;
    QString name;   // section name or key
    QString value;  // entry value, trimmed and unquoted
    bool hasValue = false;
};

ParsedLine parseLine(const QString &line)
{
    ParsedLine parsed;
    const QString text = trimBlanks(line);
    if (text.isEmpty() || text.startsWith(u';'))
        return parsed;
    if (text.startsWith(u'[')) {
        // The name runs to the last "]"; anything after it is ignored, as Windows does.
        const qsizetype close = text.lastIndexOf(u']');
        if (close > 0) {
            parsed.kind = LineKind::Section;
            parsed.name = trimBlanks(text.mid(1, close - 1));
        }
        return parsed;
    }
    const qsizetype equals = text.indexOf(u'=');
    parsed.kind = LineKind::Entry;
    if (equals < 0) {
        parsed.name = text;
        return parsed;
    }
    parsed.name = trimBlanks(text.left(equals));
    parsed.value = unquote(trimBlanks(text.mid(equals + 1)));
    parsed.hasValue = true;
    if (parsed.name.isEmpty())
        parsed.kind = LineKind::Ignored;
    return parsed;
}

bool sameName(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

bool hasLineBreak(const QString &text)
{
    return text.contains(u'\r') || text.contains(u'\n');
}

} // namespace

ProfileFile::ProfileFile(const QString &path)
    : m_path(path)
{
    QFile file(path);
    if (!file.exists())
        return;
    m_exists = true;
    if (!file.open(QIODevice::ReadOnly)) {
        m_readError = file.errorString();
        return;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        m_readError = file.errorString();
        return;
    }
    parse(bytes);
}

ProfileFile ProfileFile::fromBytes(const QByteArray &bytes)
{
    ProfileFile profile;
    profile.m_exists = true;
    profile.parse(bytes);
    return profile;
}

void ProfileFile::parse(const QByteArray &bytes)
{
    const bool utf8 = hasUtf8Mark(bytes);
    const QByteArray body = utf8 ? bytes.mid(3) : bytes;
    Section *current = nullptr;
    for (const RawLine &raw : splitLines(body)) {
        const QString text = utf8 ? QString::fromUtf8(raw.text) : Cp949::decode(raw.text);
        const ParsedLine line = parseLine(text);
        switch (line.kind) {
        case LineKind::Ignored:
            break;
        case LineKind::Section:
            m_sections.append({line.name, {}});
            current = &m_sections.last();
            break;
        case LineKind::Entry:
            if (current)
                current->entries.append({line.name, line.value, line.hasValue});
            break;
        }
    }
}

const ProfileFile::Section *ProfileFile::findSection(const QString &name) const
{
    for (const Section &section : m_sections) {
        if (sameName(section.name, name))
            return &section;
    }
    return nullptr;
}

const ProfileFile::Entry *ProfileFile::findEntry(const QString &section, const QString &key) const
{
    const Section *found = findSection(section);
    if (!found)
        return nullptr;
    for (const Entry &entry : found->entries) {
        if (sameName(entry.key, key))
            return &entry;
    }
    return nullptr;
}

QStringList ProfileFile::sections() const
{
    QStringList names;
    for (const Section &section : m_sections) {
        if (findSection(section.name) == &section)
            names.append(section.name);
    }
    return names;
}

QStringList ProfileFile::keys(const QString &section) const
{
    QStringList names;
    if (const Section *found = findSection(section)) {
        for (const Entry &entry : found->entries)
            names.append(entry.key);
    }
    return names;
}

bool ProfileFile::contains(const QString &section) const
{
    return findSection(section) != nullptr;
}

bool ProfileFile::contains(const QString &section, const QString &key) const
{
    return findEntry(section, key) != nullptr;
}

QString ProfileFile::value(const QString &section, const QString &key,
                           const QString &defaultValue) const
{
    const Entry *entry = findEntry(section, key);
    if (!entry || !entry->hasValue)
        return defaultValue;
    return entry->value;
}

bool ProfileFile::writeValue(const QString &path, const QString &section, const QString &key,
                             const QString &value, QString *error)
{
    return writeValues(path, section, {{key, value}}, error);
}

bool ProfileFile::writeValues(const QString &path, const QString &section,
                              const QList<QPair<QString, QString>> &values, QString *error)
{
    const auto fail = [&](const QString &reason) {
        if (error)
            *error = path + QStringLiteral(": ") + reason;
        return false;
    };

    const QString sectionName = trimBlanks(section);
    if (sectionName.isEmpty() || sectionName != section || hasLineBreak(section)
        || section.contains(u']'))
        return fail(QStringLiteral("the section name \"%1\" cannot be written").arg(section));
    for (const auto &[key, value] : values) {
        if (key.isEmpty() || trimBlanks(key) != key || hasLineBreak(key) || key.contains(u'=')
            || key.startsWith(u'[') || key.startsWith(u';'))
            return fail(QStringLiteral("the key \"%1\" cannot be written").arg(key));
        if (hasLineBreak(value))
            return fail(QStringLiteral("the value of %1 contains a line break").arg(key));
    }

    QByteArray old;
    QFile file(path);
    if (file.exists()) {
        if (!file.open(QIODevice::ReadOnly))
            return fail(file.errorString());
        old = file.readAll();
        if (file.error() != QFileDevice::NoError)
            return fail(file.errorString());
        file.close();
    }

    const bool utf8 = hasUtf8Mark(old);
    const auto encode = [utf8](const QString &text) {
        return utf8 ? text.toUtf8() : Cp949::encode(text);
    };
    if (!utf8) {
        if (!Cp949::canEncode(section))
            return fail(QStringLiteral("the section name \"%1\" has characters that code page "
                                       "949 cannot hold").arg(section));
        for (const auto &[key, value] : values) {
            if (!Cp949::canEncode(key) || !Cp949::canEncode(value))
                return fail(QStringLiteral("%1 has characters that code page 949 cannot hold")
                                .arg(key));
        }
    }

    QList<RawLine> lines = splitLines(utf8 ? old.mid(3) : old);
    QByteArray lineEnd = QByteArrayLiteral("\r\n");
    for (const RawLine &line : lines) {
        if (!line.end.isEmpty()) {
            lineEnd = line.end;
            break;
        }
    }
    const auto decode = [utf8](const QByteArray &bytes) {
        return utf8 ? QString::fromUtf8(bytes) : Cp949::decode(bytes);
    };
    const auto entryLine = [&](const QString &key, const QString &value) {
        QString written = value;
        if (trimBlanks(value) != value || unquote(value) != value)
            written = u'"' + value + u'"';
        return encode(key + u'=' + written);
    };
    const auto insertLine = [&](qsizetype at, const QByteArray &text) {
        if (at > 0 && lines[at - 1].end.isEmpty())
            lines[at - 1].end = lineEnd;
        lines.insert(at, {text, lineEnd});
    };

    // Where the first section of that name starts and ends (the line after its last line).
    qsizetype sectionLine = -1;
    qsizetype sectionEnd = lines.size();
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const ParsedLine parsed = parseLine(decode(lines[i].text));
        if (parsed.kind != LineKind::Section)
            continue;
        if (sectionLine >= 0) {
            sectionEnd = i;
            break;
        }
        if (sameName(parsed.name, section))
            sectionLine = i;
    }

    if (sectionLine < 0) {
        if (!lines.isEmpty() && !trimBlanks(decode(lines.last().text)).isEmpty())
            insertLine(lines.size(), QByteArray());
        insertLine(lines.size(), encode(u'[' + section + u']'));
        for (const auto &[key, value] : values)
            insertLine(lines.size(), entryLine(key, value));
    } else {
        for (const auto &[key, value] : values) {
            bool replaced = false;
            qsizetype lastContent = sectionLine;
            for (qsizetype i = sectionLine + 1; i < sectionEnd; ++i) {
                const ParsedLine parsed = parseLine(decode(lines[i].text));
                if (parsed.kind == LineKind::Ignored && trimBlanks(decode(lines[i].text)).isEmpty())
                    continue;
                lastContent = i;
                if (parsed.kind == LineKind::Entry && sameName(parsed.name, key)) {
                    lines[i].text = entryLine(parsed.name, value);
                    replaced = true;
                    break;
                }
            }
            if (!replaced) {
                insertLine(lastContent + 1, entryLine(key, value));
                ++sectionEnd;
            }
        }
    }

    QByteArray bytes = utf8 ? QByteArray(Utf8Mark) : QByteArray();
    for (const RawLine &line : lines)
        bytes += line.text + line.end;

    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        return fail(out.errorString());
    if (out.write(bytes) != bytes.size()) {
        const QString reason = out.errorString();
        out.cancelWriting();
        return fail(reason);
    }
    if (!out.commit())
        return fail(out.errorString());
    return true;
}
