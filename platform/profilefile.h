#pragma once
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

// A profile (INI) file of the suite, read the way the Windows profile-file reader
// (GetPrivateProfileString) reads it, so that files written on Windows mean the same here:
//
// - a line "[name]" opens a section; "key=value" gives a value; a line whose first non-blank
//   character is ";" is a comment; blank lines are ignored; lines before the first section
//   belong to no section;
// - section and key names are compared without regard to case;
// - when a section name occurs twice only the first section counts, and when a key occurs
//   twice in a section the first one's value counts (both are listed by keys());
// - keys and values lose their surrounding blanks and tabs, and a value loses one surrounding
//   pair of double or single quotes; there are no comments after a value;
// - a line inside a section without "=" is listed as a key that has no value: reading it
//   gives the default;
// - the text is code page 949; a file that starts with a byte-order mark is read as the
//   Windows reader reads it: UTF-8, or UTF-16 in little- or big-endian order; line breaks may
//   be CR LF, LF or CR;
// - a missing or unreadable file reads as a file without sections.
//
// The file is read once, when the object is made; later changes to the file are not seen.
class ProfileFile
{
public:
    ProfileFile() = default;
    explicit ProfileFile(const QString &path);

    static ProfileFile fromBytes(const QByteArray &bytes);

    QString path() const { return m_path; }
    bool exists() const { return m_exists; }
    // Why an existing file could not be read (it then reads as empty); empty otherwise.
    QString readError() const { return m_readError; }

    QStringList sections() const;
    // The keys of the section in file order, duplicates included.
    QStringList keys(const QString &section) const;
    bool contains(const QString &section) const;
    bool contains(const QString &section, const QString &key) const;
    QString value(const QString &section, const QString &key,
                  const QString &defaultValue = QString()) const;

    // Sets the keys of one section in the file at path, creating the file or the section when
    // missing. Every other line keeps its bytes; an existing key keeps its place and spelling,
    // a new key goes after the section's last line. A value that would not read back the same
    // (surrounding blanks or quotes) is written in double quotes. The text is written in the
    // file's encoding (code page 949 unless the file starts with a byte-order mark), in place,
    // as the Windows profile writer writes: the file keeps its inode, owner, mode and hard
    // links, and only the file itself need be writable, not its directory. Only a regular file
    // is written: a symbolic link at the name is not followed, and a link, device or pipe there
    // is refused (such a directory may be writable by others). A write that fails
    // leaves the old text in the file. False, with the reason, for a name that the format
    // cannot hold, a value with a line break, text that code page 949 cannot represent, or a
    // file error.
    static bool writeValues(const QString &path, const QString &section,
                            const QList<QPair<QString, QString>> &values, QString *error);
    static bool writeValue(const QString &path, const QString &section, const QString &key,
                           const QString &value, QString *error);

private:
    struct Entry
    {
        QString key;
        QString value;
        bool hasValue = false;
    };
    struct Section
    {
        QString name;
        QList<Entry> entries;
    };

    void parse(const QByteArray &bytes);
    const Section *findSection(const QString &name) const;
    const Entry *findEntry(const QString &section, const QString &key) const;

    QString m_path;
    bool m_exists = false;
    QString m_readError;
    QList<Section> m_sections;
};
