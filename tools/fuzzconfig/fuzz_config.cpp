// libFuzzer target for the configuration reader: the input is taken as a profile file (Main.ini,
// PelUpdate.ini, a role file) and read with the profile-file rules; every value goes through
// the Main.ini value rules; Main.ini's sections are read as the shell reads them; and one value
// is written into the file the way the team-role window writes its role file. A crash, a
// sanitizer report or a broken rule (std::abort) is a bug:
// - every listed section and key is found again by name;
// - an integer that converts converts again, from its own decimal text, to the same number;
// - a rectangle converts only from four comma-separated numbers, each as an integer converts;
// - a value that writeValues accepts reads back unchanged, and every other key keeps its value.

#include "platform/mainconfig.h"
#include "platform/profilefile.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

void checkValueRules(const QString &text)
{
    if (const std::optional<int> number = convertInteger(text))
        check(convertInteger(QString::number(*number)) == number);

    bool ok = false;
    const std::optional<QRect> rect = parseRectangle(text, &ok);
    if (rect) {
        check(ok);
        const QStringList parts = text.split(u',');
        check(parts.size() == 4);
        check(convertInteger(parts.at(0)) == rect->left() && convertInteger(parts.at(1)) == rect->top()
              && convertInteger(parts.at(2)) == rect->width()
              && convertInteger(parts.at(3)) == rect->height());
    } else if (ok) {
        check(text.isEmpty());
    }
    parseInteger(text, 7);
    parseProjectEntry(text);
}

// The value the first listing of a key reads, for every key of the file.
QList<QPair<QString, QString>> allValues(const ProfileFile &file, QStringList *keysOut)
{
    QList<QPair<QString, QString>> values;
    for (const QString &section : file.sections()) {
        for (const QString &key : file.keys(section)) {
            keysOut->append(section.toLower() + u'\n' + key.toLower());
            values.append({section.toLower() + u'\n' + key.toLower(),
                           file.value(section, key, QStringLiteral("\x01"))});
        }
    }
    return values;
}

const QString &workDir()
{
    // Under /dev/shm where there is one: the file is written for every input.
    static QTemporaryDir dir(QDir(QStringLiteral("/dev/shm")).exists()
                                 ? QStringLiteral("/dev/shm/orsa-fuzzconfig-XXXXXX")
                                 : QDir::tempPath() + QStringLiteral("/orsa-fuzzconfig-XXXXXX"));
    static const QString path = dir.path();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const ProfileFile profile = ProfileFile::fromBytes(bytes);
    QString firstValue;
    for (const QString &section : profile.sections()) {
        check(profile.contains(section));
        for (const QString &key : profile.keys(section)) {
            if (key.isEmpty())
                continue;
            check(profile.contains(section, key));
            const QString value = profile.value(section, key);
            if (firstValue.isEmpty())
                firstValue = value;
            checkValueRules(value);
        }
    }

    const QString path = workDir() + QStringLiteral("/Main.ini");
    {
        QFile file(path);
        check(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        check(file.write(bytes) == bytes.size());
    }
    MainConfig main;
    LoginConfig login;
    ConfigError error;
    if (!readMainConfig(path, main, &error))
        check(!error.message().isEmpty());
    if (!readLoginConfig(path, login, &error))
        check(!error.message().isEmpty());

    // The role file's write: one key of one section, the rest of the file untouched.
    const QString section = profile.sections().value(0, QStringLiteral("Role"));
    const QString key = QStringLiteral("Code");
    QStringList keysBefore;
    const auto before = allValues(ProfileFile(path), &keysBefore);
    QString writeError;
    if (ProfileFile::writeValues(path, section, {{key, firstValue}}, &writeError)) {
        const ProfileFile after(path);
        check(after.value(section, key) == firstValue);
        QStringList keysAfter;
        const auto afterValues = allValues(after, &keysAfter);
        const QString written = section.toLower() + u'\n' + key.toLower();
        for (const auto &[name, value] : before) {
            if (name == written)
                continue;
            bool found = false;
            for (const auto &[otherName, otherValue] : afterValues) {
                if (otherName == name) {
                    check(otherValue == value);
                    found = true;
                    break;
                }
            }
            check(found);
        }
    } else {
        check(!writeError.isEmpty());
    }
    return 0;
}
