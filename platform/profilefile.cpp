#include "platform/profilefile.h"

#include "platform/cp949.h"
#include "platform/inplacefile.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QStringEncoder>

namespace {

const char Utf8Mark[] = "\xEF\xBB\xBF";
const char Utf16LEMark[] = "\xFF\xFE";
const char Utf16BEMark[] = "\xFE\xFF";

// How the text of a file is stored, told by its byte-order mark as the Windows profile functions
// tell it: UTF-8, UTF-16 in either byte order, and without a mark the code page.
enum class FileEncoding { Cp949, Utf8, Utf16LE, Utf16BE };

// The text of a file without its mark, in one 8-bit form: code page 949 for a file without a
// mark, UTF-8 for every other. UTF-16 text is converted, so lines are split on bytes alike.
struct FileText
{
    FileEncoding encoding = FileEncoding::Cp949;
    QByteArray body;

    bool utf8() const { return encoding != FileEncoding::Cp949; }
};

FileText fileText(const QByteArray &bytes)
{
    FileText text;
    if (bytes.startsWith(Utf8Mark)) {
        text.encoding = FileEncoding::Utf8;
        text.body = bytes.mid(3);
    } else if (bytes.startsWith(Utf16LEMark) || bytes.startsWith(Utf16BEMark)) {
        text.encoding = bytes.startsWith(Utf16LEMark) ? FileEncoding::Utf16LE : FileEncoding::Utf16BE;
        // The mark is taken off here; a second one would be text.
        QStringDecoder decoder(text.encoding == FileEncoding::Utf16LE ? QStringDecoder::Utf16LE
                                                                      : QStringDecoder::Utf16BE,
                               QStringDecoder::Flag::ConvertInitialBom);
        const QString decoded = decoder.decode(QByteArrayView(bytes).sliced(2));
        text.body = decoded.toUtf8();
    } else {
        text.body = bytes;
    }
    return text;
}

// The bytes of a file for text made by fileText(), in its encoding again, mark included.
QByteArray fileBytes(FileEncoding encoding, const QByteArray &body)
{
    switch (encoding) {
    case FileEncoding::Cp949:
        return body;
    case FileEncoding::Utf8:
        return QByteArray(Utf8Mark) + body;
    case FileEncoding::Utf16LE:
    case FileEncoding::Utf16BE: {
        const bool little = encoding == FileEncoding::Utf16LE;
        QStringEncoder encoder(little ? QStringEncoder::Utf16LE : QStringEncoder::Utf16BE);
        const QByteArray encoded = encoder.encode(QString::fromUtf8(body));
        return QByteArray(little ? Utf16LEMark : Utf16BEMark) + encoded;
    }
    }
    return body;
}

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

// Replaces the whole content of an open file in place, as the Windows profile writer does: the
// file keeps its inode, owner, mode and hard links, and its directory need not be writable
// (program directories often are not). Room for a longer text is taken first, at the end, so
// a full disk or a size limit fails before any old byte is overwritten; a write that fails
// later puts the old text back.
bool overwrite(QFile &file, const QByteArray &old, const QByteArray &bytes, QString *reason)
{
    const qint64 oldSize = old.size();
    const qint64 newSize = bytes.size();
    const auto writeAt = [&file](qint64 at, const char *data, qint64 size) {
        return file.seek(at) && file.write(data, size) == size;
    };
    if (newSize > oldSize && !writeAt(oldSize, bytes.constData() + oldSize, newSize - oldSize)) {
        *reason = file.errorString();
        file.resize(oldSize);
        return false;
    }
    if (!writeAt(0, bytes.constData(), qMin(oldSize, newSize))
        || (newSize < oldSize && !file.resize(newSize))) {
        *reason = file.errorString();
        writeAt(0, old.constData(), oldSize);
        file.resize(oldSize);
        return false;
    }
    return true;
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
    const FileText file = fileText(bytes);
    const bool utf8 = file.utf8();
    Section *current = nullptr;
    for (const RawLine &raw : splitLines(file.body)) {
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

    // An existing file is opened for writing at once: one that cannot be written is reported
    // before anything else is done, and the text read is the text that gets replaced.
    QByteArray old;
    QFile file;
    QString openError;
    const InPlaceFile::Opened opened = InPlaceFile::openExisting(file, path, &openError);
    if (opened == InPlaceFile::Opened::Refused)
        return fail(openError);
    const bool existed = opened == InPlaceFile::Opened::Yes;
    if (existed) {
        old = file.readAll();
        if (file.error() != QFileDevice::NoError)
            return fail(file.errorString());
    }

    const FileText oldText = fileText(old);
    const bool utf8 = oldText.utf8();
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

    QList<RawLine> lines = splitLines(oldText.body);
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

    QByteArray body;
    for (const RawLine &line : lines)
        body += line.text + line.end;
    const QByteArray bytes = fileBytes(oldText.encoding, body);

    if (!existed && !InPlaceFile::createNew(file, path, &openError))
        return fail(openError);
    QString reason;
    if (!overwrite(file, old, bytes, &reason))
        return fail(reason);
    return true;
}
