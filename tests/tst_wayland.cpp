// The shell on a Wayland desktop: a real compositor (weston, headless) with XWayland and the
// toolkit's Wayland plugin installed, started the way a Wayland session starts programs
// (WAYLAND_DISPLAY, XDG_SESSION_TYPE=wayland, and DISPLAY naming XWayland). The shell runs as an
// X11 client there, so the suite's programs find its windows by class through XWayland, and a
// second start finds the running shell and asks for it to be brought forward.
//
// weston's window manager for XWayland does not act on activation requests (its policy, as
// Wayland's: no program raises another's window), so what is checked is the request on the root,
// as a pager sees it; the desktops of the staff (GNOME's and KDE's) carry it out.

#include "platform/windowsystem.h"
#include "support/testshell.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLibraryInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// An employee whose account allows several live logins.
const QString EmpNo = QStringLiteral("1004");
const QString Password = QStringLiteral("orsa1004!");

xcb_atom_t atom(xcb_connection_t *c, const char *name)
{
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t value = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return value;
}

} // namespace

class tst_Wayland : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void cleanupTestCase();
    void secondStart();

private:
    QProcessEnvironment session() const;
    QProcess *startShell();
    bool run(const QString &program, const QStringList &arguments, QByteArray *output = nullptr);
    WindowId findByClass(const QString &className);
    bool viewable(WindowId window);

    QTemporaryDir m_install;
    QTemporaryDir m_runtime;  // XDG_RUNTIME_DIR of the session: the compositor's socket, the lock
    QString m_orsa;
    QString m_childWindow;
    QString m_socket;
    QString m_xDisplay;
    quint16 m_peerPort = 0;
    QProcess m_weston;
    std::vector<std::unique_ptr<QProcess>> m_shells;
};

void tst_Wayland::initTestCase()
{
    for (const char *tool : {"weston", "Xwayland", "xdotool", "xwininfo"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            QSKIP(qPrintable(QStringLiteral("%1 is needed: run the README's test command")
                                 .arg(QString::fromLatin1(tool))));
    }
    const QDir plugins(QLibraryInfo::path(QLibraryInfo::PluginsPath)
                       + QStringLiteral("/platforms"));
    if (plugins.entryList({QStringLiteral("libqwayland*.so")}).isEmpty())
        QSKIP("the toolkit's Wayland plugin (qt6-wayland) is needed: run the README's test command");
    const QString service = qEnvironmentVariable("ORSA_TEST_PGSERVICE");
    if (service.isEmpty())
        QSKIP("no test database (ORSA_TEST_PGSERVICE): run the README's test command");

    m_childWindow = QStringLiteral(ORSA_BINARY_DIR "/tools/childwindow/childwindow");
    m_orsa = m_install.filePath(QStringLiteral("orsa"));
    QString error;
    QVERIFY2(TestShell::install(m_install.path(), service, QStringLiteral("프런트=ORSA_A;204,32\r\n"), &error),
             qPrintable(error));
    m_peerPort = TestShell::freePort();

    // The compositor picks a free X display for XWayland and names it in its log.
    m_socket = QStringLiteral("orsa-wayland-%1").arg(QCoreApplication::applicationPid());
    const QString log = m_runtime.filePath(QStringLiteral("weston.log"));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    m_weston.setProcessEnvironment(environment);
    m_weston.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_weston.start(QStringLiteral("weston"),
                   {QStringLiteral("--backend=headless-backend.so"), QStringLiteral("--xwayland"),
                    QStringLiteral("--socket=") + m_socket, QStringLiteral("--idle-time=0"),
                    QStringLiteral("--width=1024"), QStringLiteral("--height=768"),
                    QStringLiteral("--log=") + log});
    QVERIFY2(m_weston.waitForStarted(5000), qPrintable(m_weston.errorString()));
    const QRegularExpression listening(QStringLiteral("xserver listening on display (:\\d+)"));
    QElapsedTimer waited;
    waited.start();
    while (m_xDisplay.isEmpty() && waited.elapsed() < 15000
           && m_weston.state() == QProcess::Running) {
        QFile file(log);
        if (file.open(QIODevice::ReadOnly)) {
            const QRegularExpressionMatch match =
                listening.match(QString::fromUtf8(file.readAll()));
            if (match.hasMatch())
                m_xDisplay = match.captured(1);
        }
        QTest::qWait(50);
    }
    QVERIFY2(!m_xDisplay.isEmpty(), "weston did not start XWayland");
}

void tst_Wayland::cleanup()
{
    for (const std::unique_ptr<QProcess> &shell : m_shells) {
        if (shell->state() != QProcess::NotRunning) {
            shell->kill();
            shell->waitForFinished(5000);
        }
    }
    m_shells.clear();
}

void tst_Wayland::cleanupTestCase()
{
    if (m_weston.state() != QProcess::NotRunning) {
        m_weston.terminate();
        if (!m_weston.waitForFinished(5000)) {
            m_weston.kill();
            m_weston.waitForFinished(3000);
        }
    }
}

// What a program started in the Wayland session finds: the compositor's socket, the session
// type, and XWayland's display. The toolkit's platform is not named.
QProcessEnvironment tst_Wayland::session() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
    environment.insert(QStringLiteral("WAYLAND_DISPLAY"), m_socket);
    environment.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland"));
    environment.insert(QStringLiteral("DISPLAY"), m_xDisplay);
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    return environment;
}

QProcess *tst_Wayland::startShell()
{
    m_shells.push_back(std::make_unique<QProcess>());
    QProcess *process = m_shells.back().get();
    QProcessEnvironment environment = session();
    environment.insert(QStringLiteral("ORSA_PEER_PORT"), QString::number(m_peerPort));
    environment.remove(QStringLiteral("ORSA_SET_CLOCK"));
    process->setProcessEnvironment(environment);
    process->setWorkingDirectory(m_install.path());
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(m_orsa, {QStringLiteral("orsa_demo")});
    return process;
}

bool tst_Wayland::run(const QString &program, const QStringList &arguments, QByteArray *output)
{
    QProcess process;
    process.setProcessEnvironment(session());
    process.start(program, arguments);
    if (!process.waitForFinished(15000)) {
        process.kill();
        process.waitForFinished(1000);
        return false;
    }
    if (output)
        *output = process.readAllStandardOutput();
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// Through the suite's own look-up, run by a program of the suite on XWayland's display: the
// stand-in program finds the shell's main window by its class and reports it.
WindowId tst_Wayland::findByClass(const QString &className)
{
    if (className == QLatin1String("Tfrm_0Main")) {
        QByteArray output;
        run(m_childWindow, {QStringLiteral("--send-restore")}, &output);
        return output.startsWith("restore sent ") ? output.mid(13).trimmed().toULongLong() : 0;
    }
    QByteArray output;
    if (!run(QStringLiteral("xdotool"),
             {QStringLiteral("search"), QStringLiteral("--class"),
              QStringLiteral("^") + className + QStringLiteral("$")},
             &output))
        return 0;
    return output.split('\n').first().trimmed().toULongLong();
}

bool tst_Wayland::viewable(WindowId window)
{
    QByteArray info;
    return run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), QString::number(window)}, &info)
        && info.contains("IsViewable");
}

// Without the shell's own choice the toolkit would take its Wayland plugin here: the windows
// would be native Wayland windows that no program of the suite sees.
void tst_Wayland::secondStart()
{
    QProcess *first = startShell();

    WindowId login = 0;
    QTRY_VERIFY_WITH_TIMEOUT((login = findByClass(QStringLiteral("Tfrm_AH010"))) != 0
                                 && viewable(login),
                             20000);
    // The compositor gives XWayland no keyboard here; the keys go to the window itself.
    const QString window = QString::number(login);
    const QString xdotool = QStringLiteral("xdotool");
    for (const QString &text : {EmpNo, Password}) {
        QVERIFY(run(xdotool, {QStringLiteral("type"), QStringLiteral("--window"), window,
                              QStringLiteral("--delay"), QStringLiteral("30"), text}));
        QVERIFY(run(xdotool, {QStringLiteral("key"), QStringLiteral("--window"), window,
                              QStringLiteral("Return")}));
    }
    WindowId shell = 0;
    QTRY_VERIFY_WITH_TIMEOUT((shell = findByClass(QStringLiteral("Tfrm_0Main"))) != 0
                                 && viewable(shell),
                             20000);

    // A pager's view of the root of XWayland's display.
    xcb_connection_t *observer = xcb_connect(m_xDisplay.toLatin1().constData(), nullptr);
    const auto disconnect = qScopeGuard([observer] { xcb_disconnect(observer); });
    QVERIFY(!xcb_connection_has_error(observer));
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(observer)).data->root;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(observer, root, XCB_CW_EVENT_MASK, &mask);
    const xcb_atom_t activate = atom(observer, "_NET_ACTIVE_WINDOW");

    QProcess *second = startShell();
    QVERIFY(second->waitForFinished(5000));
    QCOMPARE(second->exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->exitCode(), 0);
    bool asked = false;
    QElapsedTimer waited;
    waited.start();
    while (!asked && waited.elapsed() < 5000) {
        std::free(xcb_get_input_focus_reply(observer, xcb_get_input_focus(observer), nullptr));
        while (xcb_generic_event_t *event = xcb_poll_for_queued_event(observer)) {
            const auto *message = reinterpret_cast<xcb_client_message_event_t *>(event);
            if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE && message->type == activate
                && message->window == shell)
                asked = true;
            std::free(event);
        }
        QTest::qWait(20);
    }
    QVERIFY2(asked, "the second start did not ask for the running shell to come forward");
    QCOMPARE(first->state(), QProcess::Running);
}

QTEST_GUILESS_MAIN(tst_Wayland)
#include "tst_wayland.moc"
