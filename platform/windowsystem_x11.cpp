#include "windowsystem.h"

#include <QAbstractNativeEventFilter>
#include <QByteArray>
#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QWidget>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// The desktop of another platform (offscreen, or none at all): no windows, nothing to drive.
class NullWindowSystem final : public WindowSystem
{
public:
    QList<TopLevelWindow> topLevelWindows() override { return {}; }
    void closeWindow(WindowId) override {}
    void bringToFront(WindowId) override {}
    void setWindowClass(QWidget *, const QString &) override {}
    void watchRestoreMessage(QWidget *, std::function<void()>) override {}
    bool sendRestoreMessage(WindowId) override { return false; }
};

template<typename Reply>
struct Freed
{
    Reply *reply = nullptr;
    explicit Freed(Reply *r) : reply(r) {}
    ~Freed() { std::free(reply); }
    Freed(const Freed &) = delete;
    Freed &operator=(const Freed &) = delete;
    Reply *operator->() const { return reply; }
    explicit operator bool() const { return reply != nullptr; }
};

// Reads a reply and drops its error: a window may vanish between two requests of a scan, and
// that is no fault of ours worth a warning.
xcb_query_tree_reply_t *treeReply(xcb_connection_t *c, xcb_query_tree_cookie_t cookie)
{
    xcb_generic_error_t *error = nullptr;
    xcb_query_tree_reply_t *reply = xcb_query_tree_reply(c, cookie, &error);
    std::free(error);
    return reply;
}

xcb_get_property_reply_t *propertyReply(xcb_connection_t *c, xcb_get_property_cookie_t cookie)
{
    xcb_generic_error_t *error = nullptr;
    xcb_get_property_reply_t *reply = xcb_get_property_reply(c, cookie, &error);
    std::free(error);
    return reply;
}

QByteArray propertyBytes(xcb_get_property_reply_t *reply)
{
    if (!reply || reply->type == XCB_ATOM_NONE || reply->format != 8)
        return QByteArray();
    return QByteArray(static_cast<const char *>(xcb_get_property_value(reply)),
                      xcb_get_property_value_length(reply));
}

struct Atoms
{
    xcb_atom_t netWmName = XCB_ATOM_NONE;
    xcb_atom_t utf8String = XCB_ATOM_NONE;
    xcb_atom_t wmProtocols = XCB_ATOM_NONE;
    xcb_atom_t wmDeleteWindow = XCB_ATOM_NONE;
    xcb_atom_t netActiveWindow = XCB_ATOM_NONE;
    xcb_atom_t restoreShell = XCB_ATOM_NONE;
};

Atoms internAtoms(xcb_connection_t *c)
{
    const char *names[] = {"_NET_WM_NAME", "UTF8_STRING", "WM_PROTOCOLS", "WM_DELETE_WINDOW",
                           "_NET_ACTIVE_WINDOW", "WM_RESTORE_SHELL"};
    constexpr int count = sizeof(names) / sizeof(names[0]);
    xcb_intern_atom_cookie_t cookies[count];
    for (int i = 0; i < count; ++i)
        cookies[i] = xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(names[i])), names[i]);
    xcb_atom_t values[count];
    for (int i = 0; i < count; ++i) {
        xcb_generic_error_t *error = nullptr;
        xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(c, cookies[i], &error);
        std::free(error);
        values[i] = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
    }
    Atoms atoms;
    atoms.netWmName = values[0];
    atoms.utf8String = values[1];
    atoms.wmProtocols = values[2];
    atoms.wmDeleteWindow = values[3];
    atoms.netActiveWindow = values[4];
    atoms.restoreShell = values[5];
    return atoms;
}

// Sends a 32-bit client message. Checked and then discarded, so that a window that has gone
// meanwhile costs neither a round trip nor an error report in the toolkit's event queue.
void sendClientMessage(xcb_connection_t *c, xcb_window_t destination, xcb_window_t window,
                       xcb_atom_t type, uint32_t eventMask, uint32_t d0, uint32_t d1 = 0,
                       uint32_t d2 = 0)
{
    xcb_client_message_event_t event;
    std::memset(&event, 0, sizeof(event));
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = type;
    event.data.data32[0] = d0;
    event.data.data32[1] = d1;
    event.data.data32[2] = d2;
    const xcb_void_cookie_t cookie = xcb_send_event_checked(
        c, 0, destination, eventMask, reinterpret_cast<const char *>(&event));
    xcb_discard_reply(c, cookie.sequence);
}

// Keeps the class name of one of our windows: the toolkit names a window anew whenever it
// recreates it (for instance after a change of window flags).
class WindowClassKeeper final : public QObject
{
public:
    WindowClassKeeper(QWidget *widget, xcb_connection_t *c, const QString &className)
        : QObject(widget), m_widget(widget), m_connection(c), m_className(className)
    {
        widget->installEventFilter(this);
        apply();
    }

    void setClassName(const QString &className)
    {
        m_className = className;
        apply();
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_widget && event->type() == QEvent::WinIdChange)
            apply();
        return false;
    }

private:
    void apply()
    {
        const WId id = m_widget->internalWinId();
        if (!id)
            return;
        QByteArray instance = QCoreApplication::applicationName().toUtf8();
        if (instance.isEmpty())
            instance = m_className.toUtf8();
        QByteArray value = instance;
        value.append('\0');
        value.append(m_className.toUtf8());
        value.append('\0');
        const xcb_void_cookie_t cookie = xcb_change_property_checked(
            m_connection, XCB_PROP_MODE_REPLACE, static_cast<xcb_window_t>(id), XCB_ATOM_WM_CLASS,
            XCB_ATOM_STRING, 8, static_cast<uint32_t>(value.size()), value.constData());
        xcb_discard_reply(m_connection, cookie.sequence);
        xcb_flush(m_connection);
    }

    QWidget *m_widget;
    xcb_connection_t *m_connection;
    QString m_className;
};

class XcbWindowSystem final : public WindowSystem, public QAbstractNativeEventFilter
{
public:
    explicit XcbWindowSystem(xcb_connection_t *c) : m_connection(c), m_atoms(internAtoms(c))
    {
        for (auto it = xcb_setup_roots_iterator(xcb_get_setup(c)); it.rem; xcb_screen_next(&it))
            m_roots.push_back(it.data->root);
    }

    ~XcbWindowSystem() override
    {
        if (m_filterInstalled && QCoreApplication::instance())
            QCoreApplication::instance()->removeNativeEventFilter(this);
    }

    QList<TopLevelWindow> topLevelWindows() override;
    void closeWindow(WindowId window) override;
    void bringToFront(WindowId window) override;
    void setWindowClass(QWidget *topLevel, const QString &className) override;
    void watchRestoreMessage(QWidget *window, std::function<void()> handler) override;
    bool sendRestoreMessage(WindowId target) override;

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

private:
    QList<xcb_window_t> childrenTopmostFirst(xcb_query_tree_reply_t *reply) const;
    xcb_window_t frameOf(xcb_window_t window) const;

    struct Watch
    {
        QPointer<QWidget> window;
        std::function<void()> handler;
    };

    xcb_connection_t *m_connection;
    Atoms m_atoms;
    std::vector<xcb_window_t> m_roots;
    QList<Watch> m_watches;
    bool m_filterInstalled = false;
};

QList<xcb_window_t> XcbWindowSystem::childrenTopmostFirst(xcb_query_tree_reply_t *reply) const
{
    QList<xcb_window_t> list;
    if (!reply)
        return list;
    const xcb_window_t *children = xcb_query_tree_children(reply);
    // The server lists children from the bottom of the stack to the top.
    for (int i = xcb_query_tree_children_length(reply) - 1; i >= 0; --i)
        list.append(children[i]);
    return list;
}

// Walks the root's children and, for those that carry no class (the frames of a window
// manager), their children too. The trees of one level are asked for together, and every
// property request of the scan is sent before the first reply is read, so a scan costs three
// round trips however many windows there are.
QList<TopLevelWindow> XcbWindowSystem::topLevelWindows()
{
    struct Node
    {
        xcb_window_t window;
        int parent;  // index of the frame a client lies in, -1 for a child of the root
    };
    std::vector<Node> nodes;

    std::vector<xcb_query_tree_cookie_t> rootCookies;
    for (xcb_window_t root : m_roots)
        rootCookies.push_back(xcb_query_tree(m_connection, root));
    for (const xcb_query_tree_cookie_t &cookie : rootCookies) {
        Freed<xcb_query_tree_reply_t> reply(treeReply(m_connection, cookie));
        for (xcb_window_t w : childrenTopmostFirst(reply.reply))
            nodes.push_back({w, -1});
    }

    const size_t firstLevel = nodes.size();
    std::vector<xcb_query_tree_cookie_t> frameCookies;
    frameCookies.reserve(firstLevel);
    for (size_t i = 0; i < firstLevel; ++i)
        frameCookies.push_back(xcb_query_tree(m_connection, nodes[i].window));
    // A client inside a frame goes right after its frame, so the stacking order stays.
    std::vector<Node> ordered;
    ordered.reserve(firstLevel * 2);
    for (size_t i = 0; i < firstLevel; ++i) {
        ordered.push_back(nodes[i]);
        const int frame = static_cast<int>(ordered.size()) - 1;
        Freed<xcb_query_tree_reply_t> reply(treeReply(m_connection, frameCookies[i]));
        for (xcb_window_t w : childrenTopmostFirst(reply.reply))
            ordered.push_back({w, frame});
    }

    struct Cookies
    {
        xcb_get_property_cookie_t wmClass, netWmName, wmName;
    };
    std::vector<Cookies> cookies;
    cookies.reserve(ordered.size());
    for (const Node &node : ordered) {
        cookies.push_back({
            xcb_get_property(m_connection, 0, node.window, XCB_ATOM_WM_CLASS,
                             XCB_GET_PROPERTY_TYPE_ANY, 0, 1024),
            xcb_get_property(m_connection, 0, node.window, m_atoms.netWmName,
                             XCB_GET_PROPERTY_TYPE_ANY, 0, 1024),
            xcb_get_property(m_connection, 0, node.window, XCB_ATOM_WM_NAME,
                             XCB_GET_PROPERTY_TYPE_ANY, 0, 1024),
        });
    }

    QList<TopLevelWindow> result;
    std::vector<bool> hasClass(ordered.size(), false);
    for (size_t i = 0; i < ordered.size(); ++i) {
        Freed<xcb_get_property_reply_t> classReply(propertyReply(m_connection, cookies[i].wmClass));
        Freed<xcb_get_property_reply_t> netName(propertyReply(m_connection, cookies[i].netWmName));
        Freed<xcb_get_property_reply_t> name(propertyReply(m_connection, cookies[i].wmName));
        if (!classReply || classReply->type == XCB_ATOM_NONE)
            continue;
        hasClass[i] = true;
        const Node &node = ordered[i];
        // Only a client of a frame is a top-level window; the children of a classed window
        // belong to that window.
        if (node.parent >= 0 && hasClass[static_cast<size_t>(node.parent)])
            continue;

        // WM_CLASS holds "instance\0class\0"; the class part is what programs look for.
        const QList<QByteArray> parts = propertyBytes(classReply.reply).split('\0');
        TopLevelWindow window;
        window.id = node.window;
        window.className = parts.size() > 1 ? QString::fromUtf8(parts.at(1)) : QString();
        if (netName && netName->type != XCB_ATOM_NONE) {
            window.caption = QString::fromUtf8(propertyBytes(netName.reply));
        } else if (name && name->type != XCB_ATOM_NONE) {
            const QByteArray bytes = propertyBytes(name.reply);
            window.caption = name->type == m_atoms.utf8String ? QString::fromUtf8(bytes)
                                                               : QString::fromLatin1(bytes);
        }
        result.append(window);
    }
    return result;
}

void XcbWindowSystem::closeWindow(WindowId window)
{
    if (window == 0)
        return;
    const auto w = static_cast<xcb_window_t>(window);
    sendClientMessage(m_connection, w, w, m_atoms.wmProtocols, XCB_EVENT_MASK_NO_EVENT,
                      m_atoms.wmDeleteWindow, XCB_CURRENT_TIME);
    xcb_flush(m_connection);
}

// The child of a root window that holds the window: its frame under a window manager, the
// window itself without one.
xcb_window_t XcbWindowSystem::frameOf(xcb_window_t window) const
{
    xcb_window_t current = window;
    for (int depth = 0; depth < 8; ++depth) {
        Freed<xcb_query_tree_reply_t> reply(
            treeReply(m_connection, xcb_query_tree(m_connection, current)));
        if (!reply || reply->parent == XCB_WINDOW_NONE || reply->parent == reply->root)
            return current;
        current = reply->parent;
    }
    return window;
}

void XcbWindowSystem::bringToFront(WindowId window)
{
    if (window == 0)
        return;
    const auto w = static_cast<xcb_window_t>(window);
    xcb_generic_error_t *error = nullptr;
    Freed<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(
        m_connection, xcb_get_window_attributes(m_connection, w), &error));
    std::free(error);
    if (!attributes)
        return;  // gone

    // A window manager decides about activation; ask it the way a pager does, which it honours
    // more readily than a request of an application.
    for (xcb_window_t root : m_roots) {
        sendClientMessage(m_connection, root, w, m_atoms.netActiveWindow,
                          XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                          2, XCB_CURRENT_TIME, 0);
    }
    // Without a window manager nobody answers that request, so raise and focus directly.
    const uint32_t above = XCB_STACK_MODE_ABOVE;
    const xcb_void_cookie_t raise = xcb_configure_window_checked(
        m_connection, frameOf(w), XCB_CONFIG_WINDOW_STACK_MODE, &above);
    xcb_discard_reply(m_connection, raise.sequence);
    if (attributes->map_state == XCB_MAP_STATE_VIEWABLE) {
        const xcb_void_cookie_t focus = xcb_set_input_focus_checked(
            m_connection, XCB_INPUT_FOCUS_PARENT, w, XCB_CURRENT_TIME);
        xcb_discard_reply(m_connection, focus.sequence);
    }
    xcb_flush(m_connection);
}

void XcbWindowSystem::setWindowClass(QWidget *topLevel, const QString &className)
{
    if (!topLevel)
        return;
    topLevel->winId();  // the native window must exist to carry the name
    for (QObject *child : topLevel->children()) {
        if (auto *keeper = dynamic_cast<WindowClassKeeper *>(child)) {
            keeper->setClassName(className);
            return;
        }
    }
    new WindowClassKeeper(topLevel, m_connection, className);
}

void XcbWindowSystem::watchRestoreMessage(QWidget *window, std::function<void()> handler)
{
    if (!window || !handler)
        return;
    window->winId();
    m_watches.append({QPointer<QWidget>(window), std::move(handler)});
    if (!m_filterInstalled && QCoreApplication::instance()) {
        QCoreApplication::instance()->installNativeEventFilter(this);
        m_filterInstalled = true;
    }
}

bool XcbWindowSystem::sendRestoreMessage(WindowId target)
{
    if (target == 0 || m_atoms.restoreShell == XCB_ATOM_NONE)
        return false;
    const auto w = static_cast<xcb_window_t>(target);
    sendClientMessage(m_connection, w, w, m_atoms.restoreShell, XCB_EVENT_MASK_NO_EVENT,
                      static_cast<uint32_t>(RestoreShellMessage));
    return xcb_flush(m_connection) > 0;
}

bool XcbWindowSystem::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (eventType != "xcb_generic_event_t" || !message)
        return false;
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    if ((event->response_type & 0x7f) != XCB_CLIENT_MESSAGE)
        return false;
    const auto *client = static_cast<const xcb_client_message_event_t *>(message);
    if (client->type != m_atoms.restoreShell || client->format != 32
        || client->data.data32[0] != static_cast<uint32_t>(RestoreShellMessage))
        return false;
    bool handled = false;
    for (const Watch &watch : std::as_const(m_watches)) {
        if (!watch.window || watch.window->internalWinId() != client->window)
            continue;
        // Run after the event has been dispatched: the handler looks at other windows and may
        // show a window of its own.
        QMetaObject::invokeMethod(watch.window.data(), watch.handler, Qt::QueuedConnection);
        handled = true;
    }
    return handled;
}

} // namespace

std::unique_ptr<WindowSystem> WindowSystem::createSystem()
{
    auto *app = qobject_cast<QGuiApplication *>(QCoreApplication::instance());
    if (app && QGuiApplication::platformName() == QStringLiteral("xcb")) {
        if (auto *x11 = app->nativeInterface<QNativeInterface::QX11Application>()) {
            if (xcb_connection_t *c = x11->connection())
                return std::make_unique<XcbWindowSystem>(c);
        }
    }
    return std::make_unique<NullWindowSystem>();
}
