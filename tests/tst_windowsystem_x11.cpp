// The window system on a real X server, against real programs (tools/childwindow).

#include "app/childprograms.h"
#include "platform/windowsystem.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QScopeGuard>
#include <QWidget>
#include <QtTest>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

xcb_connection_t *connection()
{
    auto *x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

xcb_window_t rootWindow()
{
    return xcb_setup_roots_iterator(xcb_get_setup(connection())).data->root;
}

xcb_atom_t atom(const char *name)
{
    xcb_connection_t *c = connection();
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t value = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return value;
}

QByteArray wmClassBytes(xcb_window_t window)
{
    xcb_connection_t *c = connection();
    xcb_get_property_reply_t *reply = xcb_get_property_reply(
        c, xcb_get_property(c, 0, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256), nullptr);
    QByteArray value;
    if (reply)
        value = QByteArray(static_cast<const char *>(xcb_get_property_value(reply)),
                           xcb_get_property_value_length(reply));
    std::free(reply);
    return value;
}

xcb_window_t focusWindow()
{
    xcb_connection_t *c = connection();
    xcb_get_input_focus_reply_t *reply =
        xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr);
    const xcb_window_t focus = reply ? reply->focus : xcb_window_t(XCB_WINDOW_NONE);
    std::free(reply);
    return focus;
}

// A window manager runs when some client redirects the root's substructure.
bool windowManagerRuns()
{
    xcb_connection_t *c = connection();
    xcb_get_window_attributes_reply_t *reply = xcb_get_window_attributes_reply(
        c, xcb_get_window_attributes(c, rootWindow()), nullptr);
    const bool runs = reply && (reply->all_event_masks & XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT);
    std::free(reply);
    return runs;
}

xcb_window_t createWindow(xcb_connection_t *c, xcb_window_t parent, bool mapped,
                          const QByteArray &className = {})
{
    const xcb_window_t window = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, parent, 0, 0, 400, 200, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
    if (!className.isEmpty()) {
        QByteArray value("other", 6);  // WM_CLASS: instance, NUL, class, NUL
        value += className;
        value += '\0';
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                            static_cast<uint32_t>(value.size()), value.constData());
    }
    if (mapped)
        xcb_map_window(c, window);
    return window;
}

void setProperty32(xcb_connection_t *c, xcb_window_t window, const char *name, xcb_atom_t type,
                   const std::vector<uint32_t> &values)
{
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, atom(name), type, 32,
                        static_cast<uint32_t>(values.size()), values.data());
}

xcb_window_t topmostRootChild()
{
    xcb_connection_t *c = connection();
    xcb_query_tree_reply_t *reply = xcb_query_tree_reply(c, xcb_query_tree(c, rootWindow()), nullptr);
    xcb_window_t top = XCB_WINDOW_NONE;
    if (reply && xcb_query_tree_children_length(reply) > 0)
        top = xcb_query_tree_children(reply)[xcb_query_tree_children_length(reply) - 1];
    std::free(reply);
    return top;
}

void sync(xcb_connection_t *c)
{
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
}

// How many requests the work sends on the toolkit's connection to the X server: the difference
// of the sequence numbers of two requests around it.
template<typename Work>
unsigned requestsOf(Work work)
{
    xcb_connection_t *c = connection();
    const auto mark = [c] {
        const xcb_get_input_focus_cookie_t cookie = xcb_get_input_focus(c);
        std::free(xcb_get_input_focus_reply(c, cookie, nullptr));
        return cookie.sequence;
    };
    const unsigned before = mark();
    work();
    return mark() - before - 1;
}

int indexOf(const QList<TopLevelWindow> &windows, WindowId id)
{
    for (int i = 0; i < windows.size(); ++i)
        if (windows.at(i).id == id)
            return i;
    return -1;
}

} // namespace

class tst_WindowSystemX11 : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanup();

    void findByClassAndCaption_data();
    void findByClassAndCaption();
    void clientInsideAFrame_data();
    void clientInsideAFrame();
    void oneScanPerCount();
    void closeByDeleteRequest_data();
    void closeByDeleteRequest();
    void bringToFrontRaisesAndFocuses();
    void bringToFrontMinimised_data();
    void bringToFrontMinimised();
    void restoreMessage_data();
    void restoreMessage();
    void sendRestoreWithoutShell();
    void windowClassReadBack();
    void windowClassSurvivesRecreation();

private:
    // Starts a child window and returns its window id (0 on failure).
    WindowId startChild(const QStringList &arguments, QProcess **process = nullptr);
    bool readLine(QProcess *process, QByteArray *line, int timeoutMs = 10000);

    std::unique_ptr<WindowSystem> m_system;
    QString m_childWindow;
    std::vector<std::unique_ptr<QProcess>> m_children;
};

void tst_WindowSystemX11::initTestCase()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("needs an X server: run the README's test command");
    m_childWindow = QStringLiteral(ORSA_BINARY_DIR "/tools/childwindow/childwindow");
    if (!QFile::exists(m_childWindow))
        QFAIL("tools/childwindow was not built");
    m_system = WindowSystem::createSystem();
}

void tst_WindowSystemX11::cleanup()
{
    for (const std::unique_ptr<QProcess> &child : m_children) {
        if (child->state() != QProcess::NotRunning) {
            child->kill();
            child->waitForFinished(3000);
        }
    }
    m_children.clear();
}

bool tst_WindowSystemX11::readLine(QProcess *process, QByteArray *line, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!process->canReadLine()) {
        if (timer.elapsed() > timeoutMs || process->state() == QProcess::NotRunning)
            return false;
        process->waitForReadyRead(50);
    }
    *line = process->readLine().trimmed();
    return true;
}

WindowId tst_WindowSystemX11::startChild(const QStringList &arguments, QProcess **process)
{
    m_children.push_back(std::make_unique<QProcess>());
    QProcess *child = m_children.back().get();
    child->setProcessChannelMode(QProcess::SeparateChannels);
    child->start(m_childWindow, arguments);
    if (process)
        *process = child;
    QByteArray line;
    if (!child->waitForStarted(5000) || !readLine(child, &line) || !line.startsWith("ready "))
        return 0;
    return line.mid(6).toULongLong();
}

void tst_WindowSystemX11::findByClassAndCaption_data()
{
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("hidden");
    QTest::addColumn<QString>("searchClass");
    QTest::addColumn<QString>("searchCaption");
    QTest::addColumn<bool>("found");

    const QString cls = QStringLiteral("TfrmQ0Main");
    const QString title = QStringLiteral("객실관리 Q");
    QTest::newRow("class alone") << cls << title << false << cls << QString() << true;
    QTest::newRow("class and Korean caption") << cls << title << false << cls << title << true;
    QTest::newRow("hidden window") << cls << title << true << cls << QString() << true;
    QTest::newRow("hidden window with caption") << cls << title << true << cls << title << true;
    QTest::newRow("class in other case") << cls << title << false << QStringLiteral("TFRMQ0MAIN")
                                         << QString() << true;
    QTest::newRow("other caption") << cls << title << false << cls << QStringLiteral("객실") << false;
    QTest::newRow("other class") << cls << title << false << QStringLiteral("TfrmR0Main")
                                 << QString() << false;
    QTest::newRow("instance part is not the class") << cls << title << false
                                                    << QStringLiteral("childwindow") << QString()
                                                    << false;
}

void tst_WindowSystemX11::findByClassAndCaption()
{
    QFETCH(QString, className);
    QFETCH(QString, caption);
    QFETCH(bool, hidden);
    QFETCH(QString, searchClass);
    QFETCH(QString, searchCaption);
    QFETCH(bool, found);

    QStringList args{QStringLiteral("--class"), className, QStringLiteral("--title"), caption};
    if (hidden)
        args << QStringLiteral("--hidden");
    const WindowId id = startChild(args);
    QVERIFY(id != 0);

    const QList<TopLevelWindow> windows = m_system->topLevelWindows();
    const int index = indexOf(windows, id);
    QVERIFY(index >= 0);
    QCOMPARE(windows.at(index).className, className);
    QCOMPARE(windows.at(index).caption, caption);
    QCOMPARE(m_system->findWindow(searchClass, searchCaption), found ? id : WindowId(0));
}

void tst_WindowSystemX11::clientInsideAFrame_data()
{
    QTest::addColumn<int>("levels");          // frames around the client
    QTest::addColumn<bool>("marked");         // the client carries WM_STATE
    QTest::addColumn<QString>("clientList");  // what the root says about the clients

    QTest::newRow("one frame") << 1 << false << QStringLiteral("none");
    QTest::newRow("frame and wrapper") << 2 << true << QStringLiteral("none");
    QTest::newRow("listed by the window manager") << 2 << true << QStringLiteral("listed");
    QTest::newRow("not listed yet") << 2 << true << QStringLiteral("not listed");
    QTest::newRow("list of a window manager that has ended") << 2 << true << QStringLiteral("stale");
}

// A window manager puts each client into a frame of its own, a child of the root without a
// class, some into a wrapper inside the frame; the client must still be found, and neither
// frame nor wrapper listed. The frames here are played by the test itself, with a client list
// on the root as a window manager publishes it.
void tst_WindowSystemX11::clientInsideAFrame()
{
    QFETCH(int, levels);
    QFETCH(bool, marked);
    QFETCH(QString, clientList);
    if (windowManagerRuns())
        QSKIP("plays a window manager's frames itself: runs where no window manager runs");

    xcb_connection_t *c = connection();
    const xcb_window_t root = rootWindow();
    std::vector<xcb_window_t> frames{createWindow(c, root, true)};
    if (levels == 2)
        frames.push_back(createWindow(c, frames.back(), true));
    xcb_window_t check = XCB_WINDOW_NONE;
    const auto cleanup = qScopeGuard([&] {
        for (const char *name : {"_NET_SUPPORTING_WM_CHECK", "_NET_CLIENT_LIST"})
            xcb_delete_property(c, root, atom(name));
        if (check != XCB_WINDOW_NONE)
            xcb_destroy_window(c, check);
        xcb_destroy_window(c, frames.front());
        xcb_flush(c);
    });
    const WindowId id = startChild({QStringLiteral("--class"), QStringLiteral("TfrmF0Main"),
                                    QStringLiteral("--title"), QStringLiteral("framed")});
    QVERIFY(id != 0);
    const auto client = static_cast<xcb_window_t>(id);
    xcb_reparent_window(c, client, frames.back(), 0, 20);
    if (marked)
        setProperty32(c, client, "WM_STATE", atom("WM_STATE"), {1, XCB_WINDOW_NONE});
    if (clientList != QLatin1String("none")) {
        // EWMH: the manager's supporting window names itself while the manager runs.
        check = createWindow(c, root, false);
        const xcb_window_t named = clientList == QLatin1String("stale") ? root : check;
        setProperty32(c, check, "_NET_SUPPORTING_WM_CHECK", XCB_ATOM_WINDOW, {named});
        setProperty32(c, root, "_NET_SUPPORTING_WM_CHECK", XCB_ATOM_WINDOW, {check});
        setProperty32(c, root, "_NET_CLIENT_LIST", XCB_ATOM_WINDOW,
                      clientList == QLatin1String("listed") ? std::vector<uint32_t>{client}
                                                            : std::vector<uint32_t>{});
    }
    xcb_flush(c);

    const QList<TopLevelWindow> windows = m_system->topLevelWindows();
    for (xcb_window_t frame : frames)
        QVERIFY(indexOf(windows, frame) < 0);
    const int index = indexOf(windows, id);
    QVERIFY(index >= 0);
    QCOMPARE(windows.at(index).className, QStringLiteral("TfrmF0Main"));
    QCOMPARE(windows.at(index).caption, QStringLiteral("framed"));
    QCOMPARE(CountChildPrograms(*m_system), 1);

    // Brought forward, the outermost frame goes on top of another window.
    const xcb_window_t cover = createWindow(c, root, true);
    xcb_flush(c);
    QCOMPARE(topmostRootChild(), cover);
    m_system->bringToFront(id);
    QTRY_COMPARE(topmostRootChild(), frames.front());
    xcb_destroy_window(c, cover);

    m_system->closeWindow(id);  // the close goes to the client, not to the frame
    QVERIFY(m_children.back()->waitForFinished(5000));
}

// A count of the project programs is one scan of the X server, also among 200 windows of other
// programs, half of them inside frames two levels deep like the one project program.
void tst_WindowSystemX11::oneScanPerCount()
{
    xcb_connection_t *c = connection();
    const xcb_window_t root = rootWindow();
    const int before = CountChildPrograms(*m_system);
    std::vector<xcb_window_t> created;
    const auto cleanup = qScopeGuard([&] {
        for (xcb_window_t w : created)
            xcb_destroy_window(c, w);
        xcb_flush(c);
    });
    // Unmapped, so that a window manager leaves them where they are.
    for (int i = 0; i < 100; ++i) {
        created.push_back(createWindow(c, root, false, "Unrelated"));
        created.push_back(createWindow(c, root, false));
        const xcb_window_t wrapper = createWindow(c, created.back(), true);
        const xcb_window_t client =
            createWindow(c, wrapper, true, i == 57 ? "TfrmN0Main" : "Unrelated");
        setProperty32(c, client, "WM_STATE", atom("WM_STATE"), {1, XCB_WINDOW_NONE});
    }
    xcb_flush(c);

    int count = 0;
    const unsigned countRequests = requestsOf([&] { count = CountChildPrograms(*m_system); });
    QCOMPARE(count, before + 1);
    const unsigned scanRequests = requestsOf([&] { m_system->topLevelWindows(); });
    QVERIFY2(countRequests <= scanRequests + scanRequests / 10,
             qPrintable(QStringLiteral("a count sent %1 requests, a scan %2")
                            .arg(countRequests)
                            .arg(scanRequests)));
}

void tst_WindowSystemX11::closeByDeleteRequest_data()
{
    QTest::addColumn<bool>("ignoreClose");
    QTest::addColumn<bool>("hidden");
    QTest::newRow("closes") << false << false;
    QTest::newRow("hidden window closes") << false << true;
    QTest::newRow("refuses to close") << true << false;
}

void tst_WindowSystemX11::closeByDeleteRequest()
{
    QFETCH(bool, ignoreClose);
    QFETCH(bool, hidden);
    QStringList args{QStringLiteral("--class"), QStringLiteral("TfrmK0Main"),
                     QStringLiteral("--title"), QStringLiteral("K")};
    if (ignoreClose)
        args << QStringLiteral("--ignore-close");
    if (hidden)
        args << QStringLiteral("--hidden");
    QProcess *child = nullptr;
    const WindowId id = startChild(args, &child);
    QVERIFY(id != 0);

    m_system->closeWindow(id);
    QByteArray line;
    QVERIFY(readLine(child, &line, 5000));
    if (ignoreClose) {
        QCOMPARE(line, QByteArray("close ignored"));
        QVERIFY(!child->waitForFinished(300));
        QCOMPARE(m_system->findWindow(QStringLiteral("TfrmK0Main")), id);
    } else {
        QCOMPARE(line, QByteArray("closed"));
        QVERIFY(child->waitForFinished(5000));
        QCOMPARE(child->exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_system->findWindow(QStringLiteral("TfrmK0Main")), WindowId(0));
    }
}

void tst_WindowSystemX11::bringToFrontRaisesAndFocuses()
{
    const WindowId lower = startChild({QStringLiteral("--class"), QStringLiteral("TfrmL0Main"),
                                       QStringLiteral("--title"), QStringLiteral("lower")});
    const WindowId upper = startChild({QStringLiteral("--class"), QStringLiteral("TfrmU0Main"),
                                       QStringLiteral("--title"), QStringLiteral("upper")});
    QVERIFY(lower && upper);
    QList<TopLevelWindow> windows = m_system->topLevelWindows();
    QVERIFY(indexOf(windows, upper) < indexOf(windows, lower));  // topmost first

    m_system->bringToFront(lower);
    QTRY_VERIFY(indexOf(m_system->topLevelWindows(), lower)
                < indexOf(m_system->topLevelWindows(), upper));
    QTRY_COMPARE(WindowId(focusWindow()), lower);

    m_system->bringToFront(upper);
    QTRY_VERIFY(indexOf(m_system->topLevelWindows(), upper)
                < indexOf(m_system->topLevelWindows(), lower));
    QTRY_COMPARE(WindowId(focusWindow()), upper);
}

void tst_WindowSystemX11::bringToFrontMinimised_data()
{
    QTest::addColumn<bool>("minimised");
    QTest::newRow("shown window is activated") << false;
    QTest::newRow("minimised window only asks for attention") << true;
}

// A window manager restores a minimised window that is activated; a minimised window is left
// minimised, and the window manager asked to draw the user's attention to it instead. What is
// asked of the window manager is seen on the root, as a pager sees it.
void tst_WindowSystemX11::bringToFrontMinimised()
{
    QFETCH(bool, minimised);
    xcb_connection_t *observer = xcb_connect(nullptr, nullptr);
    const auto disconnect = qScopeGuard([observer] { xcb_disconnect(observer); });
    QVERIFY(!xcb_connection_has_error(observer));
    const xcb_window_t root = rootWindow();
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(observer, root, XCB_CW_EVENT_MASK, &mask);
    // Made on this program's own connection, whose window ids are never used twice: a window
    // manager that lets go of a window of an earlier row late must not touch this one.
    xcb_connection_t *c = connection();
    const xcb_window_t target = createWindow(c, root, !minimised, "TfrmM0Main");
    const auto destroy = qScopeGuard([c, target] {
        xcb_destroy_window(c, target);
        xcb_flush(c);
    });
    if (minimised) {
        // What a window manager leaves on a window that it has minimised.
        setProperty32(c, target, "WM_STATE", atom("WM_STATE"), {3, XCB_WINDOW_NONE});
        setProperty32(c, target, "_NET_WM_STATE", XCB_ATOM_ATOM,
                      {atom("_NET_WM_STATE_HIDDEN")});
    }
    sync(c);
    sync(observer);

    m_system->bringToFront(target);
    sync(connection());
    sync(observer);
    bool activated = false;
    bool attention = false;
    while (xcb_generic_event_t *event = xcb_poll_for_queued_event(observer)) {
        const auto *message = reinterpret_cast<xcb_client_message_event_t *>(event);
        if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE && message->window == target) {
            if (message->type == atom("_NET_ACTIVE_WINDOW"))
                activated = true;
            const xcb_atom_t demandsAttention = atom("_NET_WM_STATE_DEMANDS_ATTENTION");
            if (message->type == atom("_NET_WM_STATE") && message->data.data32[0] == 1
                && (message->data.data32[1] == demandsAttention
                    || message->data.data32[2] == demandsAttention))
                attention = true;
        }
        std::free(event);
    }
    QCOMPARE(activated, !minimised);
    QCOMPARE(attention, minimised);
}

void tst_WindowSystemX11::restoreMessage_data()
{
    QTest::addColumn<bool>("fromChildProgram");
    QTest::addColumn<quint32>("number");
    QTest::addColumn<bool>("toWatchedWindow");
    QTest::addColumn<bool>("delivered");
    QTest::newRow("another program sends it") << true << 1924u << true << true;
    QTest::newRow("sent from here") << false << 1924u << true << true;
    QTest::newRow("another message number") << false << 1925u << true << false;
    QTest::newRow("to another window") << false << 1924u << false << false;
}

void tst_WindowSystemX11::restoreMessage()
{
    QFETCH(bool, fromChildProgram);
    QFETCH(quint32, number);
    QFETCH(bool, toWatchedWindow);
    QFETCH(bool, delivered);

    QWidget shell;
    shell.setWindowTitle(QStringLiteral("Main"));
    m_system->setWindowClass(&shell, QStringLiteral("Tfrm_0Main"));
    shell.show();
    QVERIFY(QTest::qWaitForWindowExposed(&shell));
    QWidget other;
    other.show();
    QVERIFY(QTest::qWaitForWindowExposed(&other));
    int restores = 0;
    m_system->watchRestoreMessage(&shell, [&restores] { ++restores; });

    if (fromChildProgram) {
        QProcess sender;
        sender.start(m_childWindow, {QStringLiteral("--send-restore")});
        QVERIFY(sender.waitForFinished(10000));
        QCOMPARE(sender.exitCode(), 0);
        QVERIFY(sender.readAllStandardOutput().startsWith(
            QByteArray("restore sent " + QByteArray::number(shell.winId()))));
    } else {
        const auto target = static_cast<xcb_window_t>(toWatchedWindow ? shell.winId()
                                                                      : other.winId());
        xcb_client_message_event_t event;
        std::memset(&event, 0, sizeof(event));
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = target;
        event.type = atom("WM_RESTORE_SHELL");
        event.data.data32[0] = number;
        xcb_send_event(connection(), 0, target, XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char *>(&event));
        xcb_flush(connection());
    }
    if (delivered) {
        QTRY_COMPARE(restores, 1);
        QTest::qWait(100);
        QCOMPARE(restores, 1);
    } else {
        QTest::qWait(300);
        QCOMPARE(restores, 0);
    }
}

void tst_WindowSystemX11::sendRestoreWithoutShell()
{
    QVERIFY(!m_system->sendRestoreMessage(0));
    QCOMPARE(m_system->findWindow(QStringLiteral("Tfrm_0Main")), WindowId(0));
    QProcess sender;
    sender.start(m_childWindow, {QStringLiteral("--send-restore")});
    QVERIFY(sender.waitForFinished(10000));
    QCOMPARE(sender.exitCode(), 1);
}

void tst_WindowSystemX11::windowClassReadBack()
{
    QWidget widget;
    m_system->setWindowClass(&widget, QStringLiteral("Tfrm_BH010"));
    const QByteArray expected = QCoreApplication::applicationName().toUtf8()
                                + QByteArray("\0Tfrm_BH010\0", 12);
    QCOMPARE(wmClassBytes(static_cast<xcb_window_t>(widget.winId())), expected);
    widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&widget));
    QCOMPARE(wmClassBytes(static_cast<xcb_window_t>(widget.winId())), expected);
    QCOMPARE(m_system->findWindow(QStringLiteral("Tfrm_BH010")), WindowId(widget.winId()));

    m_system->setWindowClass(&widget, QStringLiteral("Tfrm_0Main"));
    QCOMPARE(m_system->findWindow(QStringLiteral("Tfrm_BH010")), WindowId(0));
    QCOMPARE(m_system->findWindow(QStringLiteral("Tfrm_0Main")), WindowId(widget.winId()));
}

// Changing the flags of a shown window may make the toolkit create its native window anew, or
// rewrite its properties; the class must stay.
void tst_WindowSystemX11::windowClassSurvivesRecreation()
{
    QWidget widget;
    m_system->setWindowClass(&widget, QStringLiteral("Tfrm_0Main"));
    widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&widget));
    widget.setWindowFlags(widget.windowFlags() | Qt::FramelessWindowHint);
    widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&widget));
    QCOMPARE(m_system->findWindow(QStringLiteral("Tfrm_0Main")), WindowId(widget.winId()));
}

QTEST_MAIN(tst_WindowSystemX11)
#include "tst_windowsystem_x11.moc"
