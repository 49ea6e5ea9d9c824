#include "platform/mainconfig.h"
#include "platform/cp949.h"

#include <QDir>
#include <QHostAddress>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(std::optional<int>)

class tst_MainConfig : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    void integer_data();
    void integer();
    void rectangle_data();
    void rectangle();
    void projectEntry_data();
    void projectEntry();
    void peerAllow_data();
    void peerAllow();

    void onlyDatabase();
    void fullFile();
    void projectSlots();
    void driver_data();
    void driver();
    void badValues_data();
    void badValues();
    void missingFile();
    void unreadableFile();
    void login();
    void loginBadValue();

private:
    QString writeIni(const QString &text);
    QTemporaryDir m_dir;
    int m_files = 0;
};

void tst_MainConfig::initTestCase()
{
    QVERIFY2(Cp949::available(), "Qt's ICU converter \"windows-949\" is missing");
    QVERIFY(m_dir.isValid());
}

// Each file in a directory of its own, named as the shell names it.
QString tst_MainConfig::writeIni(const QString &text)
{
    const QString dir = m_dir.filePath(QString::number(++m_files));
    QDir().mkpath(dir);
    const QString path = dir + u"/Main.ini"_s;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QString();
    file.write(Cp949::encode(text));
    return path;
}

void tst_MainConfig::integer_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<std::optional<int>>("converted");

    QTest::newRow("decimal") << u"12"_s << std::optional<int>(12);
    QTest::newRow("plus") << u"+7"_s << std::optional<int>(7);
    QTest::newRow("minus") << u"-7"_s << std::optional<int>(-7);
    QTest::newRow("dollar hex") << u"$1F"_s << std::optional<int>(31);
    QTest::newRow("0x hex") << u"0x1f"_s << std::optional<int>(31);
    QTest::newRow("0X hex") << u"0X10"_s << std::optional<int>(16);
    QTest::newRow("negative hex") << u"-$10"_s << std::optional<int>(-16);
    QTest::newRow("leading blank") << u"  5"_s << std::optional<int>(5);
    QTest::newRow("largest") << u"2147483647"_s << std::optional<int>(2147483647);
    QTest::newRow("smallest") << u"-2147483648"_s << std::optional<int>(-2147483647 - 1);
    QTest::newRow("too large") << u"2147483648"_s << std::optional<int>();
    QTest::newRow("hex too large") << u"$FFFFFFFF"_s << std::optional<int>();
    QTest::newRow("trailing blank") << u"5 "_s << std::optional<int>();
    QTest::newRow("blank after sign") << u"- 5"_s << std::optional<int>();
    QTest::newRow("letters") << u"abc"_s << std::optional<int>();
    QTest::newRow("digits then letters") << u"12a"_s << std::optional<int>();
    QTest::newRow("empty") << QString() << std::optional<int>();
    QTest::newRow("blanks only") << u"   "_s << std::optional<int>();
    QTest::newRow("sign only") << u"-"_s << std::optional<int>();
    QTest::newRow("dollar only") << u"$"_s << std::optional<int>();
    QTest::newRow("hex digit without prefix") << u"1F"_s << std::optional<int>();
    QTest::newRow("full-width digits") << u"１２"_s << std::optional<int>();
    QTest::newRow("decimal point") << u"1.5"_s << std::optional<int>();
}

void tst_MainConfig::integer()
{
    QFETCH(QString, text);
    QFETCH(std::optional<int>, converted);

    QCOMPARE(convertInteger(text), converted);
    QCOMPARE(parseInteger(text, 3), converted.value_or(3));
}

void tst_MainConfig::rectangle_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<bool>("present");
    QTest::addColumn<QRect>("rect");

    QTest::newRow("plain") << u"571,6,18,18"_s << true << true << QRect(571, 6, 18, 18);
    QTest::newRow("blank before number") << u"10, 20,30,40"_s << true << true << QRect(10, 20, 30, 40);
    QTest::newRow("blanks before every number") << u" 1, 2, 3, 4"_s << true << true << QRect(1, 2, 3, 4);
    QTest::newRow("blank after number") << u"10 ,20,30,40"_s << false << false << QRect();
    QTest::newRow("blank after last number") << u"1,2,3,4 "_s << false << false << QRect();
    QTest::newRow("hexadecimal") << u"$10,0x20,1,1"_s << true << true << QRect(16, 32, 1, 1);
    QTest::newRow("negative") << u"-5,-6,7,8"_s << true << true << QRect(-5, -6, 7, 8);
    QTest::newRow("fifth number") << u"1,2,3,4,5"_s << false << false << QRect();
    QTest::newRow("trailing comma") << u"1,2,3,4,"_s << false << false << QRect();
    QTest::newRow("three numbers") << u"1,2,3"_s << false << false << QRect();
    QTest::newRow("one number") << u"1"_s << false << false << QRect();
    QTest::newRow("empty part") << u"1,,3,4"_s << false << false << QRect();
    QTest::newRow("letters") << u"a,b,c,d"_s << false << false << QRect();
    QTest::newRow("empty: no rectangle") << QString() << true << false << QRect();
    QTest::newRow("right edge at the largest number")
        << u"2147483646,0,1,1"_s << true << true << QRect(2147483646, 0, 1, 1);
    QTest::newRow("right edge beyond 32 bits") << u"2147483647,0,1,1"_s << false << false << QRect();
    QTest::newRow("bottom edge beyond 32 bits") << u"0,$7FFFFFF0,1,$10"_s << false << false << QRect();
    QTest::newRow("left edge below 32 bits") << u"-2147483648,0,-1,1"_s << false << false << QRect();
}

void tst_MainConfig::rectangle()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(bool, present);
    QFETCH(QRect, rect);

    bool converted = !ok;
    const auto parsed = parseRectangle(text, &converted);
    QCOMPARE(converted, ok);
    QCOMPARE(parsed.has_value(), present);
    if (present)
        QCOMPARE(*parsed, rect);
}

void tst_MainConfig::projectEntry_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("converts");
    QTest::addColumn<QString>("projectId");
    QTest::addColumn<int>("left");
    QTest::addColumn<int>("top");

    QTest::newRow("plain") << u"ORSA_A;120,64"_s << true << u"ORSA_A"_s << 120 << 64;
    QTest::newRow("blanks around both numbers") << u"ORSA_A; 120 , 64 "_s << true << u"ORSA_A"_s << 120 << 64;
    QTest::newRow("five-digit top") << u"ORSA_A;10,12345"_s << true << u"ORSA_A"_s << 10 << 1234;
    QTest::newRow("blank then 1000") << u"ORSA_A;10, 1000"_s << true << u"ORSA_A"_s << 10 << 100;
    QTest::newRow("four-digit top") << u"ORSA_A;10,1000"_s << true << u"ORSA_A"_s << 10 << 1000;
    QTest::newRow("tab around left") << u"ORSA_A;\t7\t,8"_s << true << u"ORSA_A"_s << 7 << 8;
    QTest::newRow("negative") << u"X;-5,-6"_s << true << u"X"_s << -5 << -6;
    QTest::newRow("no semicolon") << u"120,64"_s << true << QString() << 120 << 64;
    QTest::newRow("id kept as written") << u" orsa_b ;1,2"_s << true << u" orsa_b "_s << 1 << 2;
    QTest::newRow("second semicolon is in left") << u"A;B;1,2"_s << false << QString() << 0 << 0;
    QTest::newRow("third number") << u"ORSA_A;120,64,7"_s << false << QString() << 0 << 0;
    QTest::newRow("no comma") << u"ORSA_A;120"_s << false << QString() << 0 << 0;
    QTest::newRow("no top") << u"ORSA_A;120,"_s << false << QString() << 0 << 0;
    QTest::newRow("hexadecimal is not decimal") << u"ORSA_A;$10,5"_s << false << QString() << 0 << 0;
    QTest::newRow("letters") << u"ORSA_A;a,b"_s << false << QString() << 0 << 0;
    QTest::newRow("no semicolon, id text") << u"ORSA_A,120,64"_s << false << QString() << 0 << 0;
}

void tst_MainConfig::projectEntry()
{
    QFETCH(QString, text);
    QFETCH(bool, converts);
    QFETCH(QString, projectId);
    QFETCH(int, left);
    QFETCH(int, top);

    const auto entry = parseProjectEntry(text);
    QCOMPARE(entry.has_value(), converts);
    if (converts)
        QCOMPARE(*entry, (ProjectEntry{projectId, left, top}));
}

void tst_MainConfig::peerAllow_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("converts");
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("allowed");

    QTest::newRow("empty allows all") << u""_s << true << u"192.0.2.7"_s << true;
    QTest::newRow("inside a /16") << u"10.1.0.0/16, 192.168.3.0/24"_s << true << u"10.1.255.9"_s << true;
    QTest::newRow("just outside a /16") << u"10.1.0.0/16"_s << true << u"10.2.0.1"_s << false;
    QTest::newRow("single address") << u"10.2.3.4"_s << true << u"10.2.3.4"_s << true;
    QTest::newRow("neighbour of a single address") << u"10.2.3.4"_s << true << u"10.2.3.5"_s << false;
    QTest::newRow("mapped IPv4 address") << u"10.2.3.4"_s << true << u"::ffff:10.2.3.4"_s << true;
    QTest::newRow("everything") << u"0.0.0.0/0"_s << true << u"203.0.113.1"_s << true;
    QTest::newRow("host bits beyond the prefix") << u"10.1.2.0/16"_s << false << QString() << false;
    QTest::newRow("prefix 33") << u"10.1.0.0/33"_s << false << QString() << false;
    QTest::newRow("part above 255") << u"10.256.0.1"_s << false << QString() << false;
    QTest::newRow("empty entry") << u"10.1.0.0/16,"_s << false << QString() << false;
    QTest::newRow("name") << u"front-desk"_s << false << QString() << false;
}

void tst_MainConfig::peerAllow()
{
    QFETCH(QString, text);
    QFETCH(bool, converts);
    QFETCH(QString, address);
    QFETCH(bool, allowed);

    const std::optional<PeerAllowList> list = PeerAllowList::parse(text);
    QCOMPARE(list.has_value(), converts);
    if (converts)
        QCOMPARE(list->contains(QHostAddress(address)), allowed);
}

void tst_MainConfig::onlyDatabase()
{
    MainConfig config;
    ConfigError error;
    QVERIFY2(readMainConfig(writeIni(u"[MAIN]\r\nDATABASE=ORSA\r\n"_s), config, &error),
             qPrintable(error.message()));
    QCOMPARE(config.database, u"ORSA"_s);
    QCOMPARE(config.title, QString());
    QCOMPARE(config.driver, DatabaseDriver::Oracle);
    QCOMPARE(config.projectCount, 3);
    QCOMPARE(config.imageHeight, 0);
    QCOMPARE(config.imageWidth, 0);
    QCOMPARE(config.updateExe, u"PelUpdate.exe"_s);
    QVERIFY(!config.minimize);
    QVERIFY(!config.close);
    QVERIFY(config.projects.isEmpty());
}

void tst_MainConfig::fullFile()
{
    const QString path = writeIni(
        u"[main]\r\n"
        "title = 통합시스템\r\n"
        "Database=ORSA_DEV\r\n"
        "DRIVER=postgresql\r\n"
        "PROJECT_COUNT=$A\r\n"
        "IMAGE_HEIGHT=48\r\n"
        "IMAGE_WIDTH= 64\r\n"
        "UPDATE_EXE=\"Pel Update.exe\"\r\n"
        "MINIMIZE=552,6,18,18\r\n"
        "CLOSE=571, 6, 18, 18\r\n"
        "[PROJECTS]\r\n"
        "객실관리=ORSA_A;120,64\r\n"_s);
    MainConfig config;
    ConfigError error;
    QVERIFY2(readMainConfig(path, config, &error), qPrintable(error.message()));
    QCOMPARE(config.title, u"통합시스템"_s);
    QCOMPARE(config.database, u"ORSA_DEV"_s);
    QCOMPARE(config.driver, DatabaseDriver::PostgreSql);
    QCOMPARE(config.projectCount, 10);
    QCOMPARE(config.imageHeight, 48);
    QCOMPARE(config.imageWidth, 64);
    QCOMPARE(config.updateExe, u"Pel Update.exe"_s);
    QCOMPARE(config.minimize, std::optional<QRect>(QRect(552, 6, 18, 18)));
    QCOMPARE(config.close, std::optional<QRect>(QRect(571, 6, 18, 18)));
    QCOMPARE(config.projects.size(), 1);
    QCOMPARE(config.projects[0].key, u"객실관리"_s);
}

void tst_MainConfig::projectSlots()
{
    const QString path = writeIni(
        u"[MAIN]\r\nPROJECT_COUNT=abc\r\n"
        "[PROJECTS]\r\n"
        "객실관리 = ORSA_A; 120 , 64 \r\n"
        "비어있음=\r\n"
        "영업=ORSA_B;10,12345\r\n"
        "객실관리=ORSA_C;1,1\r\n"
        "번호없음=5, 1000\r\n"_s);
    MainConfig config;
    ConfigError error;
    QVERIFY2(readMainConfig(path, config, &error), qPrintable(error.message()));
    QCOMPARE(config.projectCount, 3);

    QStringList keys;
    for (const ProjectSlot &slot : std::as_const(config.projects))
        keys.append(slot.key);
    QCOMPARE(keys, (QStringList{u"객실관리"_s, u"비어있음"_s, u"영업"_s, u"객실관리"_s, u"번호없음"_s}));

    const ProjectEntry first{u"ORSA_A"_s, 120, 64};
    QCOMPARE(config.projects[0].entry, std::optional<ProjectEntry>(first));
    QVERIFY(config.projects[1].value.isEmpty());
    QVERIFY(!config.projects[1].entry);
    QCOMPARE(config.projects[1].projectId(), u"비어있음"_s);
    QCOMPARE(config.projects[2].projectId(), u"ORSA_B"_s);
    QCOMPARE(config.projects[2].entry, std::optional<ProjectEntry>(ProjectEntry{u"ORSA_B"_s, 10, 1234}));
    // The second key of the same name reads the first one's value.
    QCOMPARE(config.projects[3].entry, std::optional<ProjectEntry>(first));
    QCOMPARE(config.projects[4].entry, std::optional<ProjectEntry>(ProjectEntry{QString(), 5, 100}));
}

void tst_MainConfig::driver_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<DatabaseDriver>("driver");

    QTest::newRow("absent") << QString() << true << DatabaseDriver::Oracle;
    QTest::newRow("empty") << u"DRIVER=\r\n"_s << true << DatabaseDriver::Oracle;
    QTest::newRow("oracle") << u"DRIVER=Oracle\r\n"_s << true << DatabaseDriver::Oracle;
    QTest::newRow("postgresql") << u"driver = POSTGRESQL\r\n"_s << true << DatabaseDriver::PostgreSql;
    QTest::newRow("unknown") << u"DRIVER=mysql\r\n"_s << false << DatabaseDriver::Oracle;
}

void tst_MainConfig::driver()
{
    QFETCH(QString, line);
    QFETCH(bool, ok);
    QFETCH(DatabaseDriver, driver);

    MainConfig config;
    ConfigError error;
    QCOMPARE(readMainConfig(writeIni(u"[MAIN]\r\nDATABASE=X\r\n"_s + line), config, &error), ok);
    if (ok) {
        QCOMPARE(config.driver, driver);
    } else {
        QCOMPARE(error.key, u"DRIVER"_s);
        QVERIFY(error.message().contains(u"mysql"_s));
    }
}

void tst_MainConfig::badValues_data()
{
    QTest::addColumn<QString>("content");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("text");

    QTest::newRow("minimize blank after number")
        << u"[MAIN]\r\nMINIMIZE=10 ,20,30,40\r\n"_s << u"MAIN"_s << u"MINIMIZE"_s << u"10 ,20,30,40"_s;
    QTest::newRow("close fifth number")
        << u"[MAIN]\r\nCLOSE=1,2,3,4,5\r\n"_s << u"MAIN"_s << u"CLOSE"_s << u"1,2,3,4,5"_s;
    QTest::newRow("project third number")
        << u"[PROJECTS]\r\n객실=ORSA_A;64,7,1\r\n"_s << u"PROJECTS"_s << u"객실"_s << u"ORSA_A;64,7,1"_s;
    QTest::newRow("project without position")
        << u"[PROJECTS]\r\nA=ORSA_A\r\n"_s << u"PROJECTS"_s << u"A"_s << u"ORSA_A"_s;
    QTest::newRow("minimize size beyond 32 bits")
        << u"[MAIN]\r\nMINIMIZE=100,6,2147483600,18\r\n"_s << u"MAIN"_s << u"MINIMIZE"_s
        << u"100,6,2147483600,18"_s;
    QTest::newRow("peer allow with a shortened address")
        << u"[PEER]\r\nALLOW=10.1.0.0/16, 10.2\r\n"_s << u"PEER"_s << u"ALLOW"_s << u"10.1.0.0/16, 10.2"_s;
    QTest::newRow("project button edge beyond 32 bits")
        << u"[MAIN]\r\nIMAGE_WIDTH=96\r\n[PROJECTS]\r\n객실=ORSA_A;2147483600,6\r\n"_s << u"PROJECTS"_s
        << u"객실"_s << u"ORSA_A;2147483600,6"_s;
}

void tst_MainConfig::badValues()
{
    QFETCH(QString, content);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, text);

    const QString path = writeIni(content);
    MainConfig config;
    config.title = u"untouched"_s;
    ConfigError error;
    QVERIFY(!readMainConfig(path, config, &error));
    QCOMPARE(config.title, u"untouched"_s);
    QCOMPARE(error.file, path);
    QCOMPARE(error.section, section);
    QCOMPARE(error.key, key);
    QCOMPARE(error.text, text);
    const QString message = error.message();
    const QStringList parts{QDir::toNativeSeparators(path), u'[' + section + u']', key,
                            u'"' + text + u'"'};
    for (const QString &part : parts)
        QVERIFY2(message.contains(part), qPrintable(message + u" lacks "_s + part));
}

void tst_MainConfig::missingFile()
{
    MainConfig config;
    ConfigError error;
    QVERIFY(readMainConfig(m_dir.filePath(u"none/Main.ini"_s), config, &error));
    QVERIFY(config.database.isEmpty());
    QCOMPARE(config.projectCount, 3);
    LoginConfig login;
    QVERIFY(readLoginConfig(m_dir.filePath(u"none/Main.ini"_s), login, &error));
    QVERIFY(!login.id && !login.password && !login.close && !login.login && !login.passChange);
}

void tst_MainConfig::unreadableFile()
{
    const QString path = m_dir.filePath(u"dir/Main.ini"_s);
    QVERIFY(QDir().mkpath(path));
    MainConfig config;
    ConfigError error;
    QVERIFY(!readMainConfig(path, config, &error));
    QCOMPARE(error.file, path);
    QVERIFY(!error.reason.isEmpty());
    QVERIFY(error.message().contains(QDir::toNativeSeparators(path)));
}

void tst_MainConfig::login()
{
    const QString path = writeIni(
        u"[MAIN]\r\nCLOSE=1,1,1,1\r\n"
        "[Login]\r\n"
        "CLOSE=170,4,18,18\r\n"
        "ID=60, 30,100,16\r\n"
        "PASSWORD=60,50,100,16\r\n"
        "LOGIN=\r\n"_s);
    LoginConfig login;
    ConfigError error;
    QVERIFY2(readLoginConfig(path, login, &error), qPrintable(error.message()));
    QCOMPARE(login.close, std::optional<QRect>(QRect(170, 4, 18, 18)));
    QCOMPARE(login.id, std::optional<QRect>(QRect(60, 30, 100, 16)));
    QCOMPARE(login.password, std::optional<QRect>(QRect(60, 50, 100, 16)));
    QVERIFY(!login.login);
    QVERIFY(!login.passChange);
}

void tst_MainConfig::loginBadValue()
{
    const QString path = writeIni(u"[LOGIN]\r\nPASSCHANGE=1,2,3\r\n"_s);
    LoginConfig login;
    ConfigError error;
    QVERIFY(!readLoginConfig(path, login, &error));
    QCOMPARE(error.section, u"LOGIN"_s);
    QCOMPARE(error.key, u"PASSCHANGE"_s);
    QCOMPARE(error.text, u"1,2,3"_s);
}

QTEST_GUILESS_MAIN(tst_MainConfig)
#include "tst_mainconfig.moc"
