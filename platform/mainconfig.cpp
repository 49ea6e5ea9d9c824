#include "platform/mainconfig.h"

#include "platform/profilefile.h"

#include <QDir>

#include <limits>

namespace {

const QString MainSection = QStringLiteral("MAIN");
const QString ProjectsSection = QStringLiteral("PROJECTS");
const QString LoginSection = QStringLiteral("LOGIN");
const QString PeerSection = QStringLiteral("PEER");

// Digits in the given base with an optional sign before them; nothing else.
std::optional<int> convertDigits(QStringView digits, int base, bool negative)
{
    if (digits.isEmpty())
        return std::nullopt;
    qint64 value = 0;
    for (QChar c : digits) {
        const char16_t u = c.unicode();
        int digit;
        if (u >= u'0' && u <= u'9')
            digit = u - u'0';
        else if (base == 16 && u >= u'a' && u <= u'f')
            digit = u - u'a' + 10;
        else if (base == 16 && u >= u'A' && u <= u'F')
            digit = u - u'A' + 10;
        else
            return std::nullopt;
        value = value * base + digit;
        if (value > qint64(std::numeric_limits<int>::max()) + 1)
            return std::nullopt;
    }
    if (negative)
        value = -value;
    if (value > std::numeric_limits<int>::max() || value < std::numeric_limits<int>::min())
        return std::nullopt;
    return int(value);
}

// The surrounding characters up to the space, as the runtime's Trim removes them.
QString trimControls(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin).unicode() <= u' ')
        ++begin;
    while (end > begin && text.at(end - 1).unicode() <= u' ')
        --end;
    return text.mid(begin, end - begin);
}

std::optional<int> convertDecimal(const QString &text)
{
    QStringView digits(text);
    bool negative = false;
    if (!digits.isEmpty() && (digits.front() == u'+' || digits.front() == u'-')) {
        negative = digits.front() == u'-';
        digits = digits.mid(1);
    }
    return convertDigits(digits, 10, negative);
}

const QString RectangleExpected = QStringLiteral(
    "왼쪽,위,너비,높이를 쉼표로 구분한 네 정수여야 하고, 왼쪽+너비와 위+높이가 "
    "-2147483647에서 2147483647 사이여야 합니다 (예: 571,6,18,18).");
const QString ProjectExpected = QStringLiteral(
    "프로젝트ID;왼쪽,위 형식이어야 합니다 (예: ORSA_A;120,64).");
const QString ProjectRangeExpected = QStringLiteral(
    "왼쪽+IMAGE_WIDTH와 위+IMAGE_HEIGHT가 -2147483647에서 2147483647 사이여야 합니다.");
const QString DriverExpected = QStringLiteral("ORACLE 또는 POSTGRESQL이어야 합니다.");
const QString AllowExpected = QStringLiteral(
    "쉼표로 구분한 IPv4 네트워크(예: 10.1.0.0/16) 또는 주소(예: 10.2.3.4)여야 합니다. "
    "잘못된 항목: \"%1\"");

ConfigError makeError(const QString &file, const QString &section, const QString &key,
                      const QString &text, const QString &expected)
{
    ConfigError error;
    error.file = file;
    error.section = section;
    error.key = key;
    error.text = text;
    error.expected = expected;
    return error;
}

bool openProfile(const QString &iniPath, ProfileFile &profile, ConfigError *error)
{
    profile = ProfileFile(iniPath);
    if (!profile.readError().isEmpty()) {
        if (error) {
            *error = ConfigError();
            error->file = iniPath;
            error->reason = profile.readError();
        }
        return false;
    }
    return true;
}

bool readRectangle(const ProfileFile &profile, const QString &section, const QString &key,
                   std::optional<QRect> &out, ConfigError *error)
{
    const QString text = profile.value(section, key);
    bool ok = false;
    out = parseRectangle(text, &ok);
    if (!ok && error)
        *error = makeError(profile.path(), section, key, text, RectangleExpected);
    return ok;
}

} // namespace

bool edgesFit(int leftOrTop, int size)
{
    // Every right or bottom edge the windows work out (left + width, and the last pixel
    // column left + width - 1) must stay a 32-bit number.
    const qint64 edge = qint64(leftOrTop) + size;
    return edge > qint64(std::numeric_limits<int>::min()) && edge <= std::numeric_limits<int>::max();
}

// Leading blanks are skipped, as the runtime's integer conversion (Val, behind StrToInt and
// StrToIntDef) skips them: a rectangle "10, 20,30,40" relies on it. A blank after the digits is
// left over and makes the conversion fail.
std::optional<int> convertInteger(const QString &text)
{
    QStringView rest(text);
    while (!rest.isEmpty() && rest.front() == u' ')
        rest = rest.mid(1);
    bool negative = false;
    if (!rest.isEmpty() && (rest.front() == u'+' || rest.front() == u'-')) {
        negative = rest.front() == u'-';
        rest = rest.mid(1);
    }
    if (rest.startsWith(u'$'))
        return convertDigits(rest.mid(1), 16, negative);
    if (rest.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        return convertDigits(rest.mid(2), 16, negative);
    return convertDigits(rest, 10, negative);
}

int parseInteger(const QString &text, int defaultValue)
{
    return convertInteger(text).value_or(defaultValue);
}

std::optional<QRect> parseRectangle(const QString &text, bool *ok)
{
    if (ok)
        *ok = text.isEmpty();
    if (text.isEmpty())
        return std::nullopt;
    int numbers[4];
    QString rest = text;
    for (int i = 0; i < 4; ++i) {
        QString part;
        if (i < 3) {
            const qsizetype comma = rest.indexOf(u',');
            if (comma < 0)
                return std::nullopt;
            part = rest.left(comma);
            rest = rest.mid(comma + 1);
        } else {
            part = rest;
        }
        const std::optional<int> number = convertInteger(part);
        if (!number)
            return std::nullopt;
        numbers[i] = *number;
    }
    if (!edgesFit(numbers[0], numbers[2]) || !edgesFit(numbers[1], numbers[3]))
        return std::nullopt;
    if (ok)
        *ok = true;
    return QRect(numbers[0], numbers[1], numbers[2], numbers[3]);
}

std::optional<ProjectEntry> parseProjectEntry(const QString &text)
{
    ProjectEntry entry;
    QString rest = text;
    const qsizetype semicolon = text.indexOf(u';');
    if (semicolon >= 0) {
        entry.projectId = text.left(semicolon);
        rest = text.mid(semicolon + 1);
    }
    const qsizetype comma = rest.indexOf(u',');
    // Without a comma the left edge is the empty text, which does not convert.
    const std::optional<int> left = convertDecimal(trimControls(rest.left(comma < 0 ? 0 : comma)));
    if (!left || comma < 0)
        return std::nullopt;
    const std::optional<int> top = convertDecimal(trimControls(rest.mid(comma + 1, 4)));
    if (!top)
        return std::nullopt;
    entry.left = *left;
    entry.top = *top;
    return entry;
}

QString ConfigError::message() const
{
    const QString name = QDir::toNativeSeparators(file);
    if (!reason.isEmpty())
        return QStringLiteral("설정 파일 %1을(를) 읽을 수 없습니다: %2").arg(name, reason);
    return QStringLiteral("설정 파일 %1의 [%2] %3 값 \"%4\"이(가) 올바르지 않습니다. %5")
        .arg(name, section, key, text, expected);
}

bool readMainConfig(const QString &iniPath, MainConfig &out, ConfigError *error)
{
    ProfileFile profile;
    if (!openProfile(iniPath, profile, error))
        return false;

    MainConfig config;
    config.title = profile.value(MainSection, QStringLiteral("TITLE"));
    config.database = profile.value(MainSection, QStringLiteral("DATABASE"));

    const QString driver = profile.value(MainSection, QStringLiteral("DRIVER"));
    if (driver.isEmpty() || driver.compare(QLatin1String("ORACLE"), Qt::CaseInsensitive) == 0) {
        config.driver = DatabaseDriver::Oracle;
    } else if (driver.compare(QLatin1String("POSTGRESQL"), Qt::CaseInsensitive) == 0) {
        config.driver = DatabaseDriver::PostgreSql;
    } else {
        if (error)
            *error = makeError(iniPath, MainSection, QStringLiteral("DRIVER"), driver, DriverExpected);
        return false;
    }

    const QString allow = profile.value(PeerSection, QStringLiteral("ALLOW"));
    QString badEntry;
    const std::optional<PeerAllowList> allowList = PeerAllowList::parse(allow, &badEntry);
    if (!allowList) {
        if (error)
            *error = makeError(iniPath, PeerSection, QStringLiteral("ALLOW"), allow,
                               AllowExpected.arg(badEntry));
        return false;
    }
    config.peerAllow = *allowList;

    config.projectCount = parseInteger(profile.value(MainSection, QStringLiteral("PROJECT_COUNT")), 3);
    config.imageHeight = parseInteger(profile.value(MainSection, QStringLiteral("IMAGE_HEIGHT")), 0);
    config.imageWidth = parseInteger(profile.value(MainSection, QStringLiteral("IMAGE_WIDTH")), 0);
    config.updateExe = profile.value(MainSection, QStringLiteral("UPDATE_EXE"),
                                     QStringLiteral("PelUpdate.exe"));
    if (!readRectangle(profile, MainSection, QStringLiteral("MINIMIZE"), config.minimize, error)
        || !readRectangle(profile, MainSection, QStringLiteral("CLOSE"), config.close, error))
        return false;

    const QStringList keys = profile.keys(ProjectsSection);
    for (const QString &key : keys) {
        ProjectSlot slot;
        slot.key = key;
        slot.value = profile.value(ProjectsSection, key);
        if (!slot.value.isEmpty()) {
            slot.entry = parseProjectEntry(slot.value);
            if (!slot.entry) {
                if (error)
                    *error = makeError(iniPath, ProjectsSection, key, slot.value, ProjectExpected);
                return false;
            }
            // The button is the rectangle left, top, IMAGE_WIDTH, IMAGE_HEIGHT.
            if (!edgesFit(slot.entry->left, config.imageWidth)
                || !edgesFit(slot.entry->top, config.imageHeight)) {
                if (error)
                    *error = makeError(iniPath, ProjectsSection, key, slot.value, ProjectRangeExpected);
                return false;
            }
        }
        config.projects.append(slot);
    }
    out = config;
    return true;
}

bool readLoginConfig(const QString &iniPath, LoginConfig &out, ConfigError *error)
{
    ProfileFile profile;
    if (!openProfile(iniPath, profile, error))
        return false;
    LoginConfig config;
    if (!readRectangle(profile, LoginSection, QStringLiteral("CLOSE"), config.close, error)
        || !readRectangle(profile, LoginSection, QStringLiteral("ID"), config.id, error)
        || !readRectangle(profile, LoginSection, QStringLiteral("PASSWORD"), config.password, error)
        || !readRectangle(profile, LoginSection, QStringLiteral("LOGIN"), config.login, error)
        || !readRectangle(profile, LoginSection, QStringLiteral("PASSCHANGE"), config.passChange,
                          error))
        return false;
    out = config;
    return true;
}
