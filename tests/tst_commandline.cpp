#include "platform/programstarter.h"
#include "platform/windowsystem.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class tst_CommandLine : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void split_data();
    void split();
    void createProcess_data();
    void createProcess();
    void createProcessFails_data();
    void createProcessFails();
    void winExecOnlyAbsolutePath();
    void noWindowSystemOffscreen();
};

void tst_CommandLine::split_data()
{
    QTest::addColumn<QString>("commandLine");
    QTest::addColumn<QStringList>("arguments");

    const QString bs = QStringLiteral("\\");
    QTest::newRow("empty") << QString() << QStringList();
    QTest::newRow("program alone") << QStringLiteral("a.exe") << QStringList{QStringLiteral("a.exe")};
    QTest::newRow("blanks and tabs separate")
        << QStringLiteral("a.exe  b\tc \t d  ")
        << QStringList{QStringLiteral("a.exe"), QStringLiteral("b"), QStringLiteral("c"),
                       QStringLiteral("d")};
    QTest::newRow("updater start")
        << QStringLiteral("\"D:\\App\\PelUpdate.exe\" \"ORSA_B.exe\" PROD orsa_demo 1234 홍길동")
        << QStringList{QStringLiteral("D:\\App\\PelUpdate.exe"), QStringLiteral("ORSA_B.exe"),
                       QStringLiteral("PROD"), QStringLiteral("orsa_demo"), QStringLiteral("1234"),
                       QStringLiteral("홍길동")};
    QTest::newRow("name with a blank is two arguments")
        << QStringLiteral("\"u.exe\" \"p.exe\" DB acc 1 홍 길동")
        << QStringList{QStringLiteral("u.exe"), QStringLiteral("p.exe"), QStringLiteral("DB"),
                       QStringLiteral("acc"), QStringLiteral("1"), QStringLiteral("홍"),
                       QStringLiteral("길동")};
    QTest::newRow("empty values leave no argument")
        << QStringLiteral("\"u.exe\" \"p.exe\" DB acc  ")
        << QStringList{QStringLiteral("u.exe"), QStringLiteral("p.exe"), QStringLiteral("DB"),
                       QStringLiteral("acc")};
    QTest::newRow("quoted program with blanks and a trailing backslash")
        << QStringLiteral("\"C:\\Program Files\\\" x")
        << QStringList{QStringLiteral("C:\\Program Files\\"), QStringLiteral("x")};
    QTest::newRow("program ends at its closing quote")
        << QStringLiteral("\"a\"b c")
        << QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")};
    QTest::newRow("unquoted program keeps its quotes and backslashes")
        << QStringLiteral("a\\\"b c")
        << QStringList{QStringLiteral("a\\\"b"), QStringLiteral("c")};
    QTest::newRow("leading blank gives an empty program")
        << QStringLiteral(" x") << QStringList{QString(), QStringLiteral("x")};
    QTest::newRow("quotes group blanks")
        << QStringLiteral("p \"a b\" c\" \"d")
        << QStringList{QStringLiteral("p"), QStringLiteral("a b"), QStringLiteral("c d")};
    QTest::newRow("empty quoted argument")
        << QStringLiteral("p \"\" x")
        << QStringList{QStringLiteral("p"), QString(), QStringLiteral("x")};
    QTest::newRow("backslashes not before a quote are literal")
        << QStringLiteral("p a\\\\b c\\d\\")
        << QStringList{QStringLiteral("p"), QStringLiteral("a\\\\b"), QStringLiteral("c\\d\\")};
    QTest::newRow("one backslash escapes a quote")
        << QStringLiteral("p a\\\"b")
        << QStringList{QStringLiteral("p"), QStringLiteral("a\"b")};
    QTest::newRow("two backslashes before a quote give one and a grouping quote")
        << QStringLiteral("p \"a\\\\\" b")
        << QStringList{QStringLiteral("p"), QStringLiteral("a") + bs, QStringLiteral("b")};
    QTest::newRow("three backslashes before a quote give one and a quote")
        << QStringLiteral("p a\\\\\\\"b")
        << QStringList{QStringLiteral("p"), QStringLiteral("a\\\"b")};
    QTest::newRow("doubled quote inside quotes is a quote and ends the part")
        << QStringLiteral("p \"a\"\"b c\"")
        << QStringList{QStringLiteral("p"), QStringLiteral("a\"b"), QStringLiteral("c")};
    QTest::newRow("three quotes inside quotes")
        << QStringLiteral("p \"\"\"a b\"\"\"")
        << QStringList{QStringLiteral("p"), QStringLiteral("\"a"), QStringLiteral("b\"")};
    QTest::newRow("unclosed quote runs to the end")
        << QStringLiteral("p \"a b")
        << QStringList{QStringLiteral("p"), QStringLiteral("a b")};
}

void tst_CommandLine::split()
{
    QFETCH(QString, commandLine);
    QFETCH(QStringList, arguments);
    QCOMPARE(splitWindowsCommandLine(commandLine), arguments);
}

void tst_CommandLine::createProcess_data()
{
    QTest::addColumn<QString>("installedName");  // the updater's file name on disk
    QTest::addColumn<QString>("writtenName");    // as the command line writes it
    QTest::addColumn<QString>("rest");
    QTest::addColumn<QStringList>("arguments");  // what the program receives after its name

    QTest::newRow("exact name")
        << QStringLiteral("PelUpdate.exe") << QStringLiteral("PelUpdate.exe")
        << QStringLiteral("\"ORSA_B.exe\" PROD orsa_demo 1234 홍길동")
        << QStringList{QStringLiteral("ORSA_B.exe"), QStringLiteral("PROD"),
                       QStringLiteral("orsa_demo"), QStringLiteral("1234"), QStringLiteral("홍길동")};
    QTest::newRow("name in another case")
        << QStringLiteral("PELUPDATE.EXE") << QStringLiteral("PelUpdate.exe")
        << QStringLiteral("\"ORSA_A.exe\" PROD orsa_demo 1234 홍 길동")
        << QStringList{QStringLiteral("ORSA_A.exe"), QStringLiteral("PROD"),
                       QStringLiteral("orsa_demo"), QStringLiteral("1234"), QStringLiteral("홍"),
                       QStringLiteral("길동")};
}

void tst_CommandLine::createProcess()
{
    QFETCH(QString, installedName);
    QFETCH(QString, writtenName);
    QFETCH(QString, rest);
    QFETCH(QStringList, arguments);

    const QString updater = QStringLiteral(ORSA_BINARY_DIR "/tools/fakeupdater/fakeupdater");
    QVERIFY2(QFile::exists(updater), "tools/fakeupdater was not built");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString installed = dir.filePath(installedName);
    QVERIFY(QFile::copy(updater, installed));
    QFile::setPermissions(installed, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString log = dir.filePath(QStringLiteral("args.txt"));
    qputenv("ORSA_FAKEUPDATER_LOG", QFile::encodeName(log));

    // The directory written with a backslash before the name, as the shell builds it.
    const QString commandLine = QStringLiteral("\"") + dir.path() + QStringLiteral("\\")
                                + writtenName + QStringLiteral("\" ") + rest;
    auto starter = ProgramStarter::createSystem();
    QString error;
    QVERIFY2(starter->createProcess(commandLine, &error), qPrintable(error));

    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(log), 10000);
    QFile file(log);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n');
    QCOMPARE(lines.takeLast(), QString());  // every line ends with a line feed
    QCOMPARE(lines.takeFirst(), installed);
    QCOMPARE(lines, arguments);
}

void tst_CommandLine::createProcessFails_data()
{
    QTest::addColumn<QString>("commandLine");
    QTest::newRow("missing program") << QStringLiteral("\"/nonexistent/dir/PelUpdate.exe\" a b");
    QTest::newRow("Windows path") << QStringLiteral("C:\\통합시스템\\winvnc.exe");
    QTest::newRow("empty command line") << QString();
    QTest::newRow("empty program name") << QStringLiteral("\"\" a");
}

void tst_CommandLine::createProcessFails()
{
    QFETCH(QString, commandLine);
    auto starter = ProgramStarter::createSystem();
    QString error;
    QVERIFY(!starter->createProcess(commandLine, &error));
    QVERIFY(!error.isEmpty());
    starter->winExec(commandLine);  // reports nothing, and must not fail either
}

// The remote-control program's Windows path is relative on Linux: a program planted under the
// working directory by that name must not run, while one named by an absolute path does.
void tst_CommandLine::winExecOnlyAbsolutePath()
{
    const QString updater = QStringLiteral(ORSA_BINARY_DIR "/tools/fakeupdater/fakeupdater");
    QVERIFY2(QFile::exists(updater), "tools/fakeupdater was not built");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("C:/통합시스템")));
    const QString planted = dir.filePath(QStringLiteral("C:/통합시스템/winvnc.exe"));
    QVERIFY(QFile::copy(updater, planted));
    QFile::setPermissions(planted, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    auto starter = ProgramStarter::createSystem();

    const QString relativeLog = dir.filePath(QStringLiteral("relative.txt"));
    qputenv("ORSA_FAKEUPDATER_LOG", QFile::encodeName(relativeLog));
    starter->winExec(QStringLiteral("C:\\통합시스템\\winvnc.exe"));
    const QString absoluteLog = dir.filePath(QStringLiteral("absolute.txt"));
    qputenv("ORSA_FAKEUPDATER_LOG", QFile::encodeName(absoluteLog));
    starter->winExec(QStringLiteral("\"") + planted + QStringLiteral("\""));
    QDir::setCurrent(previous);

    // The absolute start was asked for second: once it has run, the relative one would have too.
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(absoluteLog), 10000);
    QVERIFY(!QFile::exists(relativeLog));
}

void tst_CommandLine::noWindowSystemOffscreen()
{
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("offscreen"));
    auto system = WindowSystem::createSystem();
    QVERIFY(system->topLevelWindows().isEmpty());
    QCOMPARE(system->findWindow(QStringLiteral("Tfrm_0Main")), WindowId(0));
    QVERIFY(!system->sendRestoreMessage(42));
}

QTEST_MAIN(tst_CommandLine)
#include "tst_commandline.moc"
