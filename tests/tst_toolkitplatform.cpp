// The toolkit platform the shell asks for: an X11 client wherever an X server is reachable, so
// that the suite's programs find its windows by class, unless the user names a platform.

#include "platform/windowsystem.h"

#include <QProcessEnvironment>
#include <QtTest>

class tst_ToolkitPlatform : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void requiredPlatform_data();
    void requiredPlatform();
};

void tst_ToolkitPlatform::requiredPlatform_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("environment");  // NAME=value
    QTest::addColumn<QByteArray>("platform");

    const QStringList shell{QStringLiteral("orsa"), QStringLiteral("orsa_demo")};
    const QStringList wayland{QStringLiteral("DISPLAY=:1"), QStringLiteral("WAYLAND_DISPLAY=wayland-0"),
                              QStringLiteral("XDG_SESSION_TYPE=wayland")};
    QTest::newRow("X11 desktop") << shell << QStringList{QStringLiteral("DISPLAY=:0")}
                                 << QByteArray("xcb");
    QTest::newRow("Wayland desktop with XWayland") << shell << wayland << QByteArray("xcb");
    QTest::newRow("platform named in the environment")
        << shell << (wayland + QStringList{QStringLiteral("QT_QPA_PLATFORM=wayland")}) << QByteArray();
    QTest::newRow("empty platform variable") << shell
                                             << (wayland + QStringList{QStringLiteral("QT_QPA_PLATFORM=")})
                                             << QByteArray("xcb");
    QTest::newRow("platform named on the command line")
        << QStringList{QStringLiteral("orsa"), QStringLiteral("-platform"), QStringLiteral("wayland"),
                       QStringLiteral("orsa_demo")}
        << wayland << QByteArray();
    QTest::newRow("platform named with two dashes")
        << QStringList{QStringLiteral("orsa"), QStringLiteral("orsa_demo"), QStringLiteral("--platform"),
                       QStringLiteral("offscreen")}
        << wayland << QByteArray();
    QTest::newRow("Wayland without XWayland")
        << shell << QStringList{QStringLiteral("WAYLAND_DISPLAY=wayland-0")} << QByteArray();
    QTest::newRow("no display at all") << shell << QStringList() << QByteArray();
}

void tst_ToolkitPlatform::requiredPlatform()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, environment);
    QFETCH(QByteArray, platform);

    QProcessEnvironment variables;
    for (const QString &entry : environment)
        variables.insert(entry.section(QLatin1Char('='), 0, 0), entry.section(QLatin1Char('='), 1));
    QCOMPARE(WindowSystem::requiredPlatform(arguments, variables), platform);
}

QTEST_GUILESS_MAIN(tst_ToolkitPlatform)
#include "tst_toolkitplatform.moc"
