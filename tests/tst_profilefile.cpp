#include "platform/appfiles.h"
#include "platform/cp949.h"
#include "platform/profilefile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

class tst_ProfileFile : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    void codecRoundTrip_data();
    void codecRoundTrip();
    void codecKnownBytes();
    void truncateToBytes_data();
    void truncateToBytes();

    void read_data();
    void read();
    void keysInFileOrder();
    void koreanInCodePage949();
    void missingFile();
    void unreadableFile();

    void writeKeepsOtherLines();
    void writeCreatesFileAndSection_data();
    void writeCreatesFileAndSection();
    void writeRoundTrip_data();
    void writeRoundTrip();
    void writeRefusesBadInput_data();
    void writeRefusesBadInput();
    void writeLeavesNoTemporaryFiles();
    void writeKeepsPermissions();
    void writeInPlace_data();
    void writeInPlace();

    void findAppFile_data();
    void findAppFile();

private:
    QString writeFile(const QString &name, const QByteArray &bytes);
    QByteArray readFile(const QString &path);
    QTemporaryDir m_dir;
};

void tst_ProfileFile::initTestCase()
{
    // Without the ICU converter every Korean text of the suite would be lost: that is a broken
    // build, not a reason to skip.
    QVERIFY2(Cp949::available(), "Qt's ICU converter \"windows-949\" is missing");
    QVERIFY(m_dir.isValid());
}

QString tst_ProfileFile::writeFile(const QString &name, const QByteArray &bytes)
{
    const QString path = m_dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return QString();
    file.write(bytes);
    return path;
}

QByteArray tst_ProfileFile::readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

void tst_ProfileFile::codecRoundTrip_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("bytes");

    QTest::newRow("ascii") << u"ORSA_A;120,64"_s << 13;
    QTest::newRow("basic hangul") << u"통합시스템"_s << 10;
    QTest::newRow("extended hangul") << u"똠방각하"_s << 8;
    QTest::newRow("mixed") << u"접속 : 2006-03-01 오후 3:07"_s << 27;
    QTest::newRow("hanja") << u"漢字"_s << 4;
    QTest::newRow("full-width space") << u"\u3000"_s << 2;
    QTest::newRow("empty") << QString() << 0;
}

void tst_ProfileFile::codecRoundTrip()
{
    QFETCH(QString, text);
    QFETCH(int, bytes);

    QCOMPARE(Cp949::byteLength(text), bytes);
    QVERIFY(Cp949::canEncode(text));
    QCOMPARE(Cp949::decode(Cp949::encode(text)), text);
}

void tst_ProfileFile::codecKnownBytes()
{
    // Bytes as Windows writes them: "가" is KS X 1001, "똠" lies in the extended range that
    // only the Unified Hangul Code has.
    QCOMPARE(Cp949::encode(u"가"_s), QByteArray("\xB0\xA1"));
    QCOMPARE(Cp949::encode(u"똠"_s), QByteArray("\x8C\x63"));
    QCOMPARE(Cp949::decode(QByteArray("\x8C\x63")), u"똠"_s);
    QVERIFY(!Cp949::canEncode(u"a\U0001F600"_s));
    QCOMPARE(Cp949::byteLength(u"a\U0001F600"_s), 2);
}

void tst_ProfileFile::truncateToBytes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("maxBytes");
    QTest::addColumn<QString>("expected");

    QTest::newRow("fits") << u"abc"_s << 10 << u"abc"_s;
    QTest::newRow("ascii cut") << u"1234567890123"_s << 10 << u"1234567890"_s;
    QTest::newRow("hangul exact") << u"가나다라마"_s << 10 << u"가나다라마"_s;
    QTest::newRow("hangul not split") << u"a가나다라마"_s << 10 << u"a가나다라"_s;
    QTest::newRow("extended hangul not split") << u"똠똠똠"_s << 5 << u"똠똠"_s;
    QTest::newRow("zero") << u"abc"_s << 0 << QString();
    QTest::newRow("surrogate pair kept whole") << u"a\U0001F600b"_s << 2 << u"a\U0001F600"_s;
}

void tst_ProfileFile::truncateToBytes()
{
    QFETCH(QString, text);
    QFETCH(int, maxBytes);
    QFETCH(QString, expected);

    const QString truncated = Cp949::truncateToBytes(text, maxBytes);
    QCOMPARE(truncated, expected);
    QVERIFY(Cp949::byteLength(truncated) <= maxBytes);
}

void tst_ProfileFile::read_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");  // "<default>" when the default comes back

    const QByteArray plain = "[MAIN]\r\nTITLE=Orsa\r\nDATABASE = ORSA \r\n";
    QTest::newRow("plain") << plain << u"MAIN"_s << u"TITLE"_s << u"Orsa"_s;
    QTest::newRow("blanks around key and value") << plain << u"MAIN"_s << u"DATABASE"_s << u"ORSA"_s;
    QTest::newRow("section case") << plain << u"main"_s << u"TITLE"_s << u"Orsa"_s;
    QTest::newRow("key case") << plain << u"MAIN"_s << u"title"_s << u"Orsa"_s;
    QTest::newRow("absent key") << plain << u"MAIN"_s << u"CLOSE"_s << u"<default>"_s;
    QTest::newRow("absent section") << plain << u"LOGIN"_s << u"TITLE"_s << u"<default>"_s;
    QTest::newRow("double quotes") << QByteArray("[A]\nK=\" x \"\n") << u"A"_s << u"K"_s << u" x "_s;
    QTest::newRow("single quotes") << QByteArray("[A]\nK='x'\n") << u"A"_s << u"K"_s << u"x"_s;
    QTest::newRow("unmatched quotes kept") << QByteArray("[A]\nK=\"x'\n") << u"A"_s << u"K"_s << u"\"x'"_s;
    QTest::newRow("one quote kept") << QByteArray("[A]\nK=\"\n") << u"A"_s << u"K"_s << u"\""_s;
    QTest::newRow("only one pair removed") << QByteArray("[A]\nK=\"\"x\"\"\n") << u"A"_s << u"K"_s << u"\"x\""_s;
    QTest::newRow("empty value is not the default") << QByteArray("[A]\nK=\n") << u"A"_s << u"K"_s << QString();
    QTest::newRow("line without equals") << QByteArray("[A]\nK\n") << u"A"_s << u"K"_s << u"<default>"_s;
    QTest::newRow("duplicate key: first") << QByteArray("[A]\nK=1\nk=2\n") << u"A"_s << u"K"_s << u"1"_s;
    QTest::newRow("duplicate section: first") << QByteArray("[A]\nK=1\n[a]\nK=2\nL=3\n") << u"A"_s << u"L"_s << u"<default>"_s;
    QTest::newRow("comment line") << QByteArray("[A]\n;K=1\n  ; K=2\nK=3\n") << u"A"_s << u"K"_s << u"3"_s;
    QTest::newRow("no comment after a value") << QByteArray("[A]\nK=1 ; one\n") << u"A"_s << u"K"_s << u"1 ; one"_s;
    QTest::newRow("equals in value") << QByteArray("[A]\nK=a=b\n") << u"A"_s << u"K"_s << u"a=b"_s;
    QTest::newRow("before any section") << QByteArray("K=1\n[A]\n") << u"A"_s << u"K"_s << u"<default>"_s;
    QTest::newRow("LF line breaks") << QByteArray("[A]\nK=1\nL=2") << u"A"_s << u"L"_s << u"2"_s;
    QTest::newRow("CR line breaks") << QByteArray("[A]\rK=1\rL=2\r") << u"A"_s << u"L"_s << u"2"_s;
    QTest::newRow("indented section") << QByteArray("  [ A ]  \nK=1\n") << u"A"_s << u"K"_s << u"1"_s;
    QTest::newRow("tabs trimmed") << QByteArray("[A]\n\tK\t=\t1\t\n") << u"A"_s << u"K"_s << u"1"_s;
    QTest::newRow("ideographic space is text")
        << QByteArray("[A]\nK=\xA1\xA1x\xA1\xA1\n") << u"A"_s << u"K"_s << u"\u3000x\u3000"_s;
    QTest::newRow("utf-8 mark") << QByteArray("\xEF\xBB\xBF[A]\nK=\xEA\xB0\x80\n") << u"A"_s << u"K"_s << u"가"_s;
    // Notepad's "Unicode" and "Unicode big endian".
    QTest::newRow("utf-16 little-endian mark")
        << QByteArray("\xFF\xFE[\0A\0]\0\r\0\n\0K\0=\0\0\xAC\r\0\n\0", 22) << u"A"_s << u"K"_s << u"가"_s;
    QTest::newRow("utf-16 big-endian mark")
        << QByteArray("\xFE\xFF\0[\0A\0]\0\n\0K\0=\xAC\0", 16) << u"A"_s << u"K"_s << u"가"_s;
}

void tst_ProfileFile::read()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, expected);

    const ProfileFile profile(writeFile(u"read.ini"_s, content));
    QVERIFY(profile.exists());
    QCOMPARE(profile.value(section, key, u"<default>"_s), expected);
}

void tst_ProfileFile::keysInFileOrder()
{
    const ProfileFile profile(writeFile(u"keys.ini"_s,
                                        "[PROJECTS]\r\nB=1\r\nA=2\r\n\r\n; not a key\r\nb=3\r\nC\r\n"
                                        "[OTHER]\r\nD=4\r\n"));
    QCOMPARE(profile.keys(u"projects"_s), (QStringList{u"B"_s, u"A"_s, u"b"_s, u"C"_s}));
    QCOMPARE(profile.value(u"PROJECTS"_s, u"b"_s), u"1"_s);
    QVERIFY(profile.contains(u"PROJECTS"_s, u"c"_s));
    QCOMPARE(profile.value(u"PROJECTS"_s, u"C"_s, u"<default>"_s), u"<default>"_s);
    QVERIFY(!profile.contains(u"PROJECTS"_s, u"D"_s));
    QCOMPARE(profile.keys(u"NONE"_s), QStringList());
    QCOMPARE(profile.sections(), (QStringList{u"PROJECTS"_s, u"OTHER"_s}));
}

void tst_ProfileFile::koreanInCodePage949()
{
    const QByteArray bytes = Cp949::encode(u"[프로젝트]\r\n객실관리=ORSA_A;120,64\r\n똠방=\"각하\"\r\n"_s);
    const ProfileFile profile(writeFile(u"korean.ini"_s, bytes));
    QCOMPARE(profile.keys(u"프로젝트"_s), (QStringList{u"객실관리"_s, u"똠방"_s}));
    QCOMPARE(profile.value(u"프로젝트"_s, u"객실관리"_s), u"ORSA_A;120,64"_s);
    QCOMPARE(profile.value(u"프로젝트"_s, u"똠방"_s), u"각하"_s);
}

void tst_ProfileFile::missingFile()
{
    const ProfileFile profile(m_dir.filePath(u"absent.ini"_s));
    QVERIFY(!profile.exists());
    QVERIFY(profile.readError().isEmpty());
    QCOMPARE(profile.value(u"MAIN"_s, u"UPDATE_EXE"_s, u"PelUpdate.exe"_s), u"PelUpdate.exe"_s);
    QVERIFY(profile.keys(u"PROJECTS"_s).isEmpty());
    QVERIFY(!profile.contains(u"MAIN"_s));
}

void tst_ProfileFile::unreadableFile()
{
    // A directory where the file should be: it exists but cannot be read as a file.
    QVERIFY(QDir(m_dir.path()).mkpath(u"adir.ini"_s));
    const ProfileFile profile(m_dir.filePath(u"adir.ini"_s));
    QVERIFY(profile.exists());
    QVERIFY(!profile.readError().isEmpty());
    QVERIFY(profile.sections().isEmpty());
}

void tst_ProfileFile::writeKeepsOtherLines()
{
    const QByteArray before = Cp949::encode(
        u"; 권한 설정\r\n"
        "[Other]\r\n"
        "Name = 그대로  \r\n"
        "\r\n"
        "[role]\r\n"
        "Type=1\r\n"
        "  ; 코드 설명\r\n"
        "Code=7\r\n"
        "Extra='keep'\r\n"
        "\r\n"
        "[Last]\r\n"
        "X=1"_s);
    const QString path = writeFile(u"keep.ini"_s, before);
    QString error;
    QVERIFY2(ProfileFile::writeValues(path, u"Role"_s,
                                      {{u"Type"_s, u"2"_s}, {u"code"_s, u"0"_s}, {u"Name"_s, u"[전체]"_s}},
                                      &error),
             qPrintable(error));

    const QByteArray expected = Cp949::encode(
        u"; 권한 설정\r\n"
        "[Other]\r\n"
        "Name = 그대로  \r\n"
        "\r\n"
        "[role]\r\n"
        "Type=2\r\n"
        "  ; 코드 설명\r\n"
        "Code=0\r\n"
        "Extra='keep'\r\n"
        "Name=[전체]\r\n"
        "\r\n"
        "[Last]\r\n"
        "X=1"_s);
    QCOMPARE(readFile(path), expected);
}

void tst_ProfileFile::writeCreatesFileAndSection_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("after");

    QTest::newRow("no file") << QByteArray() << QByteArray("[Role]\r\nType=3\r\n");
    QTest::newRow("other section, LF")
        << QByteArray("[A]\nK=1\n") << QByteArray("[A]\nK=1\n\n[Role]\nType=3\n");
    QTest::newRow("no final line break")
        << QByteArray("[A]\r\nK=1") << QByteArray("[A]\r\nK=1\r\n\r\n[Role]\r\nType=3\r\n");
    QTest::newRow("section last, no final line break")
        << QByteArray("[Role]\r\nCode=1") << QByteArray("[Role]\r\nCode=1\r\nType=3\r\n");
    QTest::newRow("empty section before another")
        << QByteArray("[Role]\r\n\r\n[B]\r\n") << QByteArray("[Role]\r\nType=3\r\n\r\n[B]\r\n");
    QTest::newRow("utf-16 file stays utf-16")
        << QByteArray("\xFF\xFE[\0R\0o\0l\0e\0]\0\n\0", 16)
        << QByteArray("\xFF\xFE[\0R\0o\0l\0e\0]\0\n\0T\0y\0p\0e\0=\0003\0\n\0", 30);
    QTest::newRow("utf-8 file stays utf-8")
        << QByteArray("\xEF\xBB\xBF[Role]\nName=\xEA\xB0\x80\n")
        << QByteArray("\xEF\xBB\xBF[Role]\nName=\xEA\xB0\x80\nType=3\n");
}

void tst_ProfileFile::writeCreatesFileAndSection()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);

    const QString path = m_dir.filePath(u"create.ini"_s);
    QFile::remove(path);
    if (!before.isEmpty())
        writeFile(u"create.ini"_s, before);
    QString error;
    QVERIFY2(ProfileFile::writeValue(path, u"Role"_s, u"Type"_s, u"3"_s, &error), qPrintable(error));
    QCOMPARE(readFile(path), after);
}

void tst_ProfileFile::writeRoundTrip_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QByteArray>("line");

    QTest::newRow("korean") << u"영업장 똠"_s << Cp949::encode(u"Name=영업장 똠"_s);
    QTest::newRow("empty") << QString() << QByteArray("Name=");
    QTest::newRow("surrounding blanks") << u" a "_s << QByteArray("Name=\" a \"");
    QTest::newRow("surrounding quotes") << u"'a'"_s << QByteArray("Name=\"'a'\"");
    QTest::newRow("inner quote") << u"a\"b"_s << QByteArray("Name=a\"b");
    QTest::newRow("semicolon") << u";x"_s << QByteArray("Name=;x");
}

void tst_ProfileFile::writeRoundTrip()
{
    QFETCH(QString, value);
    QFETCH(QByteArray, line);

    const QString path = writeFile(u"roundtrip.ini"_s, "[Role]\r\nName=old\r\n");
    QString error;
    QVERIFY2(ProfileFile::writeValue(path, u"Role"_s, u"Name"_s, value, &error), qPrintable(error));
    QCOMPARE(readFile(path), QByteArray("[Role]\r\n" + line + "\r\n"));
    QCOMPARE(ProfileFile(path).value(u"Role"_s, u"Name"_s, u"<default>"_s), value);
}

void tst_ProfileFile::writeRefusesBadInput_data()
{
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");

    QTest::newRow("line break in value") << u"Role"_s << u"Name"_s << u"a\r\n[MAIN]\r\nX=1"_s;
    QTest::newRow("equals in key") << u"Role"_s << u"a=b"_s << u"1"_s;
    QTest::newRow("empty key") << u"Role"_s << QString() << u"1"_s;
    QTest::newRow("comment key") << u"Role"_s << u";x"_s << u"1"_s;
    QTest::newRow("bracket in section") << u"Ro]le"_s << u"Name"_s << u"1"_s;
    QTest::newRow("empty section") << QString() << u"Name"_s << u"1"_s;
    QTest::newRow("not code page 949") << u"Role"_s << u"Name"_s << u"\U0001F600"_s;
}

void tst_ProfileFile::writeRefusesBadInput()
{
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, value);

    const QByteArray before("[Role]\r\nName=old\r\n");
    const QString path = writeFile(u"refuse.ini"_s, before);
    QString error;
    QVERIFY(!ProfileFile::writeValue(path, section, key, value, &error));
    QVERIFY(error.contains(path));
    QCOMPARE(readFile(path), before);
}

void tst_ProfileFile::writeLeavesNoTemporaryFiles()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(u"Role.ini"_s);
    QString error;
    for (int i = 0; i < 3; ++i)
        QVERIFY2(ProfileFile::writeValue(path, u"Role"_s, u"Code"_s, QString::number(i), &error),
                 qPrintable(error));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{u"Role.ini"_s});

    // A directory that does not exist: an error naming the file, nothing created.
    const QString missing = dir.filePath(u"no/such/Role.ini"_s);
    QVERIFY(!ProfileFile::writeValue(missing, u"Role"_s, u"Code"_s, u"1"_s, &error));
    QVERIFY(error.contains(missing));
}

void tst_ProfileFile::writeKeepsPermissions()
{
    const QString path = writeFile(u"perm.ini"_s, "[Role]\r\nCode=1\r\n");
    const auto permissions = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser
        | QFileDevice::WriteUser;
    QVERIFY(QFile::setPermissions(path, permissions));
    QString error;
    QVERIFY2(ProfileFile::writeValue(path, u"Role"_s, u"Code"_s, u"2"_s, &error), qPrintable(error));
    QCOMPARE(QFile::permissions(path), permissions);
}

void tst_ProfileFile::writeInPlace_data()
{
    QTest::addColumn<bool>("unprivileged");  // written by "nobody" when the test runs as root
    QTest::addColumn<bool>("sizeLimited");   // the file may not grow beyond its old size
    QTest::addColumn<bool>("written");

    QTest::newRow("read-only directory, writable file") << true << false << true;
    QTest::newRow("write that fails keeps the old text") << false << true << false;
}

// The role file of an installation in a read-only program directory, written by an ordinary
// user in a child process: it is written in place, so the directory's permissions do not
// matter, and the file keeps its inode, owner, mode and other hard links.
void tst_ProfileFile::writeInPlace()
{
    QFETCH(bool, unprivileged);
    QFETCH(bool, sizeLimited);
    QFETCH(bool, written);

    QTemporaryDir top;
    QVERIFY(top.isValid());
    QVERIFY(QFile::setPermissions(top.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                  | QFileDevice::ExeOwner | QFileDevice::ReadOther
                                                  | QFileDevice::ExeOther | QFileDevice::ReadGroup
                                                  | QFileDevice::ExeGroup));
    const QString dir = top.filePath(u"opt"_s);
    QVERIFY(QDir().mkdir(dir));
    const QString path = dir + u"/ORSA_B.ini"_s;
    const QString link = dir + u"/ORSA_B-link.ini"_s;
    const QByteArray before = Cp949::encode(u"[Print]\r\nPrinter=영업장\r\n[Role]\r\nType=1\r\nCode=30\r\n"_s);
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(before), before.size());
    }
    QVERIFY(::chmod(QFile::encodeName(path).constData(), 0666) == 0);
    QVERIFY(::link(QFile::encodeName(path).constData(), QFile::encodeName(link).constData()) == 0);
    QVERIFY(::chmod(QFile::encodeName(dir).constData(), 0555) == 0);
    struct stat old {};
    QVERIFY(::stat(QFile::encodeName(path).constData(), &old) == 0);

    int fds[2];
    QVERIFY(::pipe(fds) == 0);
    const pid_t child = ::fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        ::close(fds[0]);
        QByteArray answer;
        const uid_t nobody = 65534;
        if (unprivileged && ::geteuid() == 0
            && (::setgroups(0, nullptr) != 0 || ::setgid(nobody) != 0 || ::setuid(nobody) != 0)) {
            answer = "!cannot become nobody";
        } else if (unprivileged && QFile(dir + u"/probe"_s).open(QIODevice::WriteOnly)) {
            answer = "!the directory is writable";
        } else {
            if (sizeLimited) {
                std::signal(SIGXFSZ, SIG_IGN);
                const rlimit limit{rlim_t(old.st_size), rlim_t(old.st_size)};
                ::setrlimit(RLIMIT_FSIZE, &limit);
            }
            QString error;
            const bool ok = ProfileFile::writeValues(
                path, u"Role"_s, {{u"Code"_s, u"0"_s}, {u"Name"_s, u"[전체] 영업장 모두"_s}}, &error);
            answer = ok ? QByteArray("ok") : error.toUtf8();
        }
        (void)!::write(fds[1], answer.constData(), size_t(answer.size()));
        ::_exit(0);
    }
    ::close(fds[1]);
    QByteArray answer;
    char buffer[512];
    ssize_t n;
    while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0)
        answer.append(buffer, n);
    ::close(fds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    ::chmod(QFile::encodeName(dir).constData(), 0755);

    QVERIFY2(!answer.startsWith('!'), answer.constData());
    QCOMPARE(answer == "ok", written);
    if (!written)
        QVERIFY2(answer.contains(path.toUtf8()), answer.constData());
    struct stat now {};
    QVERIFY(::stat(QFile::encodeName(path).constData(), &now) == 0);
    QCOMPARE(now.st_ino, old.st_ino);
    QCOMPARE(now.st_uid, old.st_uid);
    QCOMPARE(now.st_gid, old.st_gid);
    QCOMPARE(now.st_mode, old.st_mode);
    QCOMPARE(now.st_nlink, nlink_t(2));
    const QByteArray after = written
        ? Cp949::encode(u"[Print]\r\nPrinter=영업장\r\n[Role]\r\nType=1\r\nCode=0\r\nName=[전체] 영업장 모두\r\n"_s)
        : before;
    QCOMPARE(readFile(path), after);
    QCOMPARE(readFile(link), after);
    QCOMPARE(QDir(dir).entryList(QDir::Files | QDir::Hidden),
             (QStringList{u"ORSA_B-link.ini"_s, u"ORSA_B.ini"_s}));
}

void tst_ProfileFile::findAppFile_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected");  // relative to the test directory

    QTest::newRow("exact") << u"PelUpdate.exe"_s << u"PelUpdate.exe"_s;
    QTest::newRow("other case") << u"PELUPDATE.EXE"_s << u"PelUpdate.exe"_s;
    QTest::newRow("exact spelling wins") << u"main.ini"_s << u"main.ini"_s;
    QTest::newRow("several others: first in order") << u"MAIN.INI"_s << u"MAIN.ini"_s;
    QTest::newRow("korean") << u"통합.INI"_s << u"통합.ini"_s;
    QTest::newRow("backslash directory") << u"BIN\\orsa_a.EXE"_s << u"bin/ORSA_A.exe"_s;
    QTest::newRow("missing: exact path") << u"Nothing.exe"_s << u"Nothing.exe"_s;
    QTest::newRow("missing inside: exact path") << u"bin\\none.exe"_s << u"bin/none.exe"_s;
}

void tst_ProfileFile::findAppFile()
{
    QFETCH(QString, name);
    QFETCH(QString, expected);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkpath(u"bin"_s));
    for (const QString &file : {u"PelUpdate.exe"_s, u"main.ini"_s, u"Main.ini"_s, u"MAIN.ini"_s,
                                u"통합.ini"_s, u"bin/ORSA_A.exe"_s}) {
        QFile f(dir.filePath(file));
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    const QString found = ::findAppFile(dir.path() + u'/', name);
    QCOMPARE(QDir::cleanPath(found), QDir::cleanPath(dir.filePath(expected)));
}

QTEST_GUILESS_MAIN(tst_ProfileFile)
#include "tst_profilefile.moc"
