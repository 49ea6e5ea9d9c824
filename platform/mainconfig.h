#pragma once
#include "platform/peerallowlist.h"

#include <QList>
#include <QRect>
#include <QString>

#include <optional>

// The value rules of Main.ini, the shell's configuration beside the executable, and readers
// for its sections. Main.ini is only ever read.

// An integer the way the configuration reads one: optional blanks before it, an optional
// sign, then decimal digits, or hexadecimal digits after "$" or "0x". Nothing may follow the
// digits, not even a blank. Values outside the 32-bit range do not convert.
std::optional<int> convertInteger(const QString &text);

// An integer key: the default when the text does not convert (absent, empty, letters).
int parseInteger(const QString &text, int defaultValue);

// A rectangle "left,top,width,height", taken apart from the left at the commas, each part
// converted as by convertInteger (so "10, 20,30,40" converts and "10 ,20,30,40" does not).
// Empty text is no rectangle: nullopt with *ok true. Text that does not convert (a part that is
// not a number, fewer than four parts, a fifth number, or a right or bottom edge, left + width
// or top + height, outside -2147483647..2147483647): nullopt with *ok false.
std::optional<QRect> parseRectangle(const QString &text, bool *ok = nullptr);

// A value of section PROJECTS, "PROJECT_ID;left,top". The id is the text before the first ";"
// (empty when there is none). Left is the text before the first comma of the rest, top the
// four characters after that comma, each without surrounding blanks, as a decimal number with
// an optional sign; characters after those four are ignored, so "12345" reads as 1234.
struct ProjectEntry
{
    QString projectId;
    int left = 0;
    int top = 0;

    bool operator==(const ProjectEntry &other) const
    {
        return projectId == other.projectId && left == other.left && top == other.top;
    }
};
// nullopt when left or top does not convert.
std::optional<ProjectEntry> parseProjectEntry(const QString &text);

// Whether the edge leftOrTop + size, and the last pixel before it, are 32-bit numbers, so that
// no window arithmetic on the rectangle overflows.
bool edgesFit(int leftOrTop, int size);

// A value that could not be used, with everything a user needs to find and mend it.
struct ConfigError
{
    QString file;
    QString section;
    QString key;
    QString text;      // the bad text as the reader gives it
    QString expected;  // what the value should be, in words
    QString reason;    // why the file could not be read; then section, key and text are empty

    QString message() const;
};

enum class DatabaseDriver { Oracle, PostgreSql };

// One key of section PROJECTS, in file order.
struct ProjectSlot
{
    QString key;                        // the display name
    QString value;                      // the value as read
    std::optional<ProjectEntry> entry;  // absent for an empty value: the slot has no button

    // The slot's item in the list of project ids: the PROJECT_ID, or the key itself for a key
    // with an empty value.
    QString projectId() const { return entry ? entry->projectId : key; }
};

struct MainConfig
{
    QString title;
    QString database;
    DatabaseDriver driver = DatabaseDriver::Oracle;
    int projectCount = 3;
    int imageHeight = 0;
    int imageWidth = 0;
    QString updateExe = QStringLiteral("PelUpdate.exe");
    std::optional<QRect> minimize;  // absent: no click area
    std::optional<QRect> close;
    QList<ProjectSlot> projects;
    // [PEER] ALLOW: who may ask this shell to log out; empty, everybody.
    PeerAllowList peerAllow;
};

struct LoginConfig
{
    // Absent: the control is not created.
    std::optional<QRect> close;
    std::optional<QRect> id;
    std::optional<QRect> password;
    std::optional<QRect> login;
    std::optional<QRect> passChange;
};

// Reads sections MAIN, PROJECTS and PEER. A missing file, section or key gives the defaults. False,
// with the error, for the first value that does not convert (a rectangle, a project position,
// a project button whose right or bottom edge with IMAGE_WIDTH or IMAGE_HEIGHT is outside the
// 32-bit range, an unknown DRIVER, an ALLOW entry that is no IPv4 network) or a file that exists but cannot be read; out is then left
// as it was.
bool readMainConfig(const QString &iniPath, MainConfig &out, ConfigError *error);

// Reads section LOGIN; same rules.
bool readLoginConfig(const QString &iniPath, LoginConfig &out, ConfigError *error);
