#include "fakemessages.h"
#include "platform/cp949.h"
#include "platform/imagelibrarywriter.h"
#include "platform/mainconfig.h"
#include "platform/windowsystem.h"
#include "session/tfrm_ah010.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLineEdit>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <xcb/xcb.h>

#include <cstdlib>

namespace {

// Where the X server has the window. Under a window manager the toolkit learns of a move only
// when the manager reports it: a drag that the manager carries out is reported at the release.
QPoint serverPosition(const QWidget &window)
{
    auto *x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t *c = x11->connection();
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    xcb_translate_coordinates_reply_t *reply = xcb_translate_coordinates_reply(
        c, xcb_translate_coordinates(c, static_cast<xcb_window_t>(window.winId()), root, 0, 0),
        nullptr);
    const QPoint position = reply ? QPoint(reply->dst_x, reply->dst_y) : QPoint(-1, -1);
    std::free(reply);
    return position;
}

class CountingAuthenticator final : public Authenticator
{
public:
    AuthResult Authenticate(bool, LoginFields &) override
    {
        ++calls;
        return {};
    }
    QString StoredPassword() const override { return {}; }
    int calls = 0;
};

class NoPasswordChange final : public PasswordChanger
{
public:
    void changePassword(QWidget *, const QString &, const QString &, bool) override {}
};

} // namespace

// The real pointer on a real X server: xdotool moves and presses it as a user would.
class tst_LoginWindowX11 : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void windowClass();
    void press_data();
    void press();

private:
    bool xdotool(const QStringList &arguments);

    QTemporaryDir m_dir;
};

bool tst_LoginWindowX11::xdotool(const QStringList &arguments)
{
    return QProcess::execute(QStringLiteral("xdotool"), arguments) == 0;
}

void tst_LoginWindowX11::initTestCase()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("needs an X server: run the README's test command");
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        QSKIP("xdotool is missing: scripts/setup installs it");
    QImage login(360, 200, QImage::Format_RGB32);
    login.fill(qRgb(200, 210, 230));
    QVERIFY(writeImageLibrary(m_dir.filePath(QStringLiteral("MainImg.dll")), {{QStringLiteral("LOGIN"), login}}));
    QFile ini(m_dir.filePath(QStringLiteral("Main.ini")));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write(Cp949::encode(QStringLiteral("[LOGIN]\r\nCLOSE=332,10,18,18\r\nID=112,71,146,18\r\n"
                                           "PASSWORD=112,109,146,18\r\nLOGIN=272,68,68,62\r\n"
                                           "PASSCHANGE=230,160,110,24\r\n")));
    ini.close();
    LoginConfig config;
    QVERIFY(readLoginConfig(ini.fileName(), config, nullptr));
    QCOMPARE(config.login, std::optional<QRect>(QRect(272, 68, 68, 62)));
}

void tst_LoginWindowX11::windowClass()
{
    CountingAuthenticator auth;
    NoPasswordChange changer;
    FakeMessages messages;
    const auto windows = WindowSystem::createSystem();
    Tfrm_AH010 window(nullptr, auth, changer, messages, m_dir.path() + QLatin1Char('/'), windows.get());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // Other programs of the suite find the login window by its class and caption.
    const auto lookup = WindowSystem::createSystem();
    QTRY_VERIFY(lookup->findWindow(QStringLiteral("Tfrm_AH010"), QStringLiteral("Login")) != 0);
    QCOMPARE(lookup->findWindow(QStringLiteral("Tfrm_AH010"), QStringLiteral("Login")),
             WindowId(window.winId()));
}

void tst_LoginWindowX11::press_data()
{
    QTest::addColumn<QPoint>("at");        // window coordinates of the press
    QTest::addColumn<bool>("moves");
    QTest::addColumn<int>("logins");
    QTest::addColumn<bool>("focusOnId");  // else the focus stays in the password field

    QTest::newRow("left edge of the login area") << QPoint(272, 90) << true << 0 << false;
    QTest::newRow("top edge of the id field") << QPoint(150, 71) << true << 0 << false;
    QTest::newRow("picture") << QPoint(20, 180) << true << 0 << false;
    // The refused login sends the focus to the id field.
    QTest::newRow("inside the login area") << QPoint(273, 90) << false << 1 << true;
    QTest::newRow("inside the id field") << QPoint(150, 72) << false << 0 << true;
}

void tst_LoginWindowX11::press()
{
    QFETCH(QPoint, at);
    QFETCH(bool, moves);
    QFETCH(int, logins);
    QFETCH(bool, focusOnId);

    CountingAuthenticator auth;
    NoPasswordChange changer;
    FakeMessages messages;
    // Named as the shell names it, which also keeps the window's place known under a window
    // manager.
    const auto windows = WindowSystem::createSystem();
    Tfrm_AH010 window(nullptr, auth, changer, messages, m_dir.path() + QLatin1Char('/'), windows.get());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // A window manager places the window in its own time.
    QTRY_COMPARE(window.pos(), serverPosition(window));
    window.edtID()->setText(QStringLiteral("A001"));
    window.edtPassword()->setText(QStringLiteral("secret"));
    window.edtPassword()->setFocus();
    const QPoint start = window.pos();

    const QPoint pointer = window.mapToGlobal(at);
    const QPoint offset(40, 30);
    QVERIFY(xdotool({QStringLiteral("mousemove"), QString::number(pointer.x()), QString::number(pointer.y())}));
    QTest::qWait(50);
    QVERIFY(xdotool({QStringLiteral("mousedown"), QStringLiteral("1")}));
    QTest::qWait(50);
    if (moves) {
        // A window manager that carries out the drag takes it over a moment after the press;
        // the pointer goes on moving until the window follows, as a hand would.
        const QPoint to = pointer + offset;
        QElapsedTimer dragging;
        dragging.start();
        while (serverPosition(window) != start + offset && dragging.elapsed() < 5000) {
            QVERIFY(xdotool({QStringLiteral("mousemove"), QString::number(to.x() + 1), QString::number(to.y())}));
            QVERIFY(xdotool({QStringLiteral("mousemove"), QString::number(to.x()), QString::number(to.y())}));
            QTest::qWait(50);
        }
        QCOMPARE(serverPosition(window), start + offset);
    }
    QVERIFY(xdotool({QStringLiteral("mouseup"), QStringLiteral("1")}));
    QTRY_COMPARE(auth.calls, logins);
    QTest::qWait(100);
    QCOMPARE(auth.calls, logins);
    QTRY_COMPARE(window.pos(), moves ? start + offset : start);
    QCOMPARE(window.focusWidget(), focusOnId ? window.edtID() : window.edtPassword());
}

QTEST_MAIN(tst_LoginWindowX11)
#include "tst_loginwindow_x11.moc"
