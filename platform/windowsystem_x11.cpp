#include "windowsystem.h"

#include <QAbstractNativeEventFilter>
#include <QByteArray>
#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QHash>
#include <QPointer>
#include <QProcessEnvironment>
#include <QSet>
#include <QWidget>
#include <QWindow>

#include <xcb/xcb.h>

#include <algorithm>
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

// The children of a window from its tree reply, topmost first (the server lists them from the
// bottom of the stack to the top).
std::vector<xcb_window_t> childrenTopmostFirst(xcb_query_tree_reply_t *reply)
{
    std::vector<xcb_window_t> list;
    if (!reply)
        return list;
    const xcb_window_t *children = xcb_query_tree_children(reply);
    for (int i = xcb_query_tree_children_length(reply) - 1; i >= 0; --i)
        list.push_back(children[i]);
    return list;
}

// A property that holds windows (or atoms, or cardinals): its 32-bit values.
std::vector<uint32_t> propertyValues32(xcb_get_property_reply_t *reply)
{
    std::vector<uint32_t> values;
    if (!reply || reply->type == XCB_ATOM_NONE || reply->format != 32)
        return values;
    const auto *data = static_cast<const uint32_t *>(xcb_get_property_value(reply));
    values.assign(data, data + xcb_get_property_value_length(reply) / 4);
    return values;
}

// ICCCM WM_STATE value of a minimised window; EWMH _NET_WM_STATE action and the source of a
// request that comes from a pager (as opposed to an application).
constexpr uint32_t IconicState = 3;
constexpr uint32_t NetWmStateAdd = 1;
constexpr uint32_t SourcePager = 2;

// Long enough for any client list: the length of a property request counts 32-bit units.
constexpr uint32_t MaxListLength = 1u << 16;

struct Atoms
{
    xcb_atom_t netWmName = XCB_ATOM_NONE;
    xcb_atom_t utf8String = XCB_ATOM_NONE;
    xcb_atom_t wmProtocols = XCB_ATOM_NONE;
    xcb_atom_t wmDeleteWindow = XCB_ATOM_NONE;
    xcb_atom_t netActiveWindow = XCB_ATOM_NONE;
    xcb_atom_t restoreShell = XCB_ATOM_NONE;
    xcb_atom_t wmState = XCB_ATOM_NONE;
    xcb_atom_t netClientList = XCB_ATOM_NONE;
    xcb_atom_t netClientListStacking = XCB_ATOM_NONE;
    xcb_atom_t netSupportingWmCheck = XCB_ATOM_NONE;
    xcb_atom_t netWmState = XCB_ATOM_NONE;
    xcb_atom_t netWmStateHidden = XCB_ATOM_NONE;
    xcb_atom_t netWmStateDemandsAttention = XCB_ATOM_NONE;
};

Atoms internAtoms(xcb_connection_t *c)
{
    Atoms atoms;
    const struct
    {
        const char *name;
        xcb_atom_t *atom;
    } wanted[] = {
        {"_NET_WM_NAME", &atoms.netWmName},
        {"UTF8_STRING", &atoms.utf8String},
        {"WM_PROTOCOLS", &atoms.wmProtocols},
        {"WM_DELETE_WINDOW", &atoms.wmDeleteWindow},
        {"_NET_ACTIVE_WINDOW", &atoms.netActiveWindow},
        {"WM_RESTORE_SHELL", &atoms.restoreShell},
        {"WM_STATE", &atoms.wmState},
        {"_NET_CLIENT_LIST", &atoms.netClientList},
        {"_NET_CLIENT_LIST_STACKING", &atoms.netClientListStacking},
        {"_NET_SUPPORTING_WM_CHECK", &atoms.netSupportingWmCheck},
        {"_NET_WM_STATE", &atoms.netWmState},
        {"_NET_WM_STATE_HIDDEN", &atoms.netWmStateHidden},
        {"_NET_WM_STATE_DEMANDS_ATTENTION", &atoms.netWmStateDemandsAttention},
    };
    std::vector<xcb_intern_atom_cookie_t> cookies;
    for (const auto &w : wanted)
        cookies.push_back(xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(w.name)), w.name));
    for (size_t i = 0; i < cookies.size(); ++i) {
        xcb_generic_error_t *error = nullptr;
        xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(c, cookies[i], &error);
        std::free(error);
        *wanted[i].atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
    }
    return atoms;
}

// Sends a 32-bit client message. Checked and then discarded, so that a window that has gone
// meanwhile costs neither a round trip nor an error report in the toolkit's event queue.
void sendClientMessage(xcb_connection_t *c, xcb_window_t destination, xcb_window_t window,
                       xcb_atom_t type, uint32_t eventMask, uint32_t d0, uint32_t d1 = 0,
                       uint32_t d2 = 0, uint32_t d3 = 0)
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
    event.data.data32[3] = d3;
    const xcb_void_cookie_t cookie = xcb_send_event_checked(
        c, 0, destination, eventMask, reinterpret_cast<const char *>(&event));
    xcb_discard_reply(c, cookie.sequence);
}

// Keeps the class name of one of our windows: the toolkit names a window anew whenever it
// recreates it (for instance after a change of window flags).
//
// It also keeps the toolkit's idea of where the window is true under a window manager. The
// toolkit asks the server where a window is when a configure is reported, and a window manager
// that is just putting the window into its frame may answer with a place the frame has not
// reached yet; when the window then ends up where the program put it, no further report comes,
// and the toolkit goes on placing dialogs and starting drags from the wrong place. Once the
// window is mapped its place is looked up again, and a difference is reported to the toolkit
// the way a window manager reports a move (a synthetic configure).
class WindowClassKeeper final : public QObject, public QAbstractNativeEventFilter
{
public:
    WindowClassKeeper(QWidget *widget, xcb_connection_t *c, const QString &className)
        : QObject(widget), m_widget(widget), m_connection(c), m_className(className)
    {
        widget->installEventFilter(this);
        QCoreApplication::instance()->installNativeEventFilter(this);
        apply();
    }

    ~WindowClassKeeper() override
    {
        if (QCoreApplication::instance())
            QCoreApplication::instance()->removeNativeEventFilter(this);
    }

    void setClassName(const QString &className)
    {
        m_className = className;
        apply();
    }

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *) override
    {
        if (eventType != "xcb_generic_event_t" || !message)
            return false;
        const auto *event = static_cast<const xcb_generic_event_t *>(message);
        if ((event->response_type & 0x7f) != XCB_MAP_NOTIFY)
            return false;
        const auto *map = static_cast<const xcb_map_notify_event_t *>(message);
        if (map->window == map->event && map->window == m_widget->internalWinId())
            correctPlace(map->window);
        return false;
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

    void correctPlace(xcb_window_t window)
    {
        QWindow *handle = m_widget->windowHandle();
        if (!handle)
            return;
        const xcb_get_geometry_cookie_t geometryCookie = xcb_get_geometry(m_connection, window);
        xcb_generic_error_t *error = nullptr;
        Freed<xcb_get_geometry_reply_t> geometry(
            xcb_get_geometry_reply(m_connection, geometryCookie, &error));
        std::free(error);
        if (!geometry)
            return;
        error = nullptr;
        Freed<xcb_translate_coordinates_reply_t> place(xcb_translate_coordinates_reply(
            m_connection, xcb_translate_coordinates(m_connection, window, geometry->root, 0, 0),
            &error));
        std::free(error);
        if (!place)
            return;
        const qreal ratio = handle->devicePixelRatio();
        const QPoint known = handle->geometry().topLeft() * ratio;
        if (known == QPoint(place->dst_x, place->dst_y))
            return;
        xcb_configure_notify_event_t configure;
        std::memset(&configure, 0, sizeof(configure));
        configure.response_type = XCB_CONFIGURE_NOTIFY;
        configure.event = window;
        configure.window = window;
        configure.above_sibling = XCB_WINDOW_NONE;
        configure.x = place->dst_x;
        configure.y = place->dst_y;
        configure.width = geometry->width;
        configure.height = geometry->height;
        configure.border_width = geometry->border_width;
        xcb_send_event(m_connection, 0, window, XCB_EVENT_MASK_STRUCTURE_NOTIFY,
                       reinterpret_cast<const char *>(&configure));
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
    // What a scan learns of one window.
    struct Facts
    {
        bool hasClass = false;
        bool hasState = false;  // WM_STATE: a window manager's client
        TopLevelWindow window;
    };
    struct PropertyCookies
    {
        xcb_get_property_cookie_t wmClass, wmState, netWmName, wmName;
    };

    PropertyCookies requestProperties(xcb_window_t window) const;
    Facts readProperties(xcb_window_t window, const PropertyCookies &cookies) const;
    void scanScreen(xcb_window_t root, QList<TopLevelWindow> *result) const;
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

XcbWindowSystem::PropertyCookies XcbWindowSystem::requestProperties(xcb_window_t window) const
{
    return {
        xcb_get_property(m_connection, 0, window, XCB_ATOM_WM_CLASS, XCB_GET_PROPERTY_TYPE_ANY, 0,
                         1024),
        xcb_get_property(m_connection, 0, window, m_atoms.wmState, XCB_GET_PROPERTY_TYPE_ANY, 0, 2),
        xcb_get_property(m_connection, 0, window, m_atoms.netWmName, XCB_GET_PROPERTY_TYPE_ANY, 0,
                         1024),
        xcb_get_property(m_connection, 0, window, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0,
                         1024),
    };
}

XcbWindowSystem::Facts XcbWindowSystem::readProperties(xcb_window_t window,
                                                       const PropertyCookies &cookies) const
{
    Freed<xcb_get_property_reply_t> classReply(propertyReply(m_connection, cookies.wmClass));
    Freed<xcb_get_property_reply_t> state(propertyReply(m_connection, cookies.wmState));
    Freed<xcb_get_property_reply_t> netName(propertyReply(m_connection, cookies.netWmName));
    Freed<xcb_get_property_reply_t> name(propertyReply(m_connection, cookies.wmName));
    Facts facts;
    facts.hasState = state && state->type != XCB_ATOM_NONE;
    facts.hasClass = classReply && classReply->type != XCB_ATOM_NONE;
    if (!facts.hasClass)
        return facts;
    // WM_CLASS holds "instance\0class\0"; the class part is what programs look for.
    const QList<QByteArray> parts = propertyBytes(classReply.reply).split('\0');
    facts.window.id = window;
    facts.window.className = parts.size() > 1 ? QString::fromUtf8(parts.at(1)) : QString();
    if (netName && netName->type != XCB_ATOM_NONE) {
        facts.window.caption = QString::fromUtf8(propertyBytes(netName.reply));
    } else if (name && name->type != XCB_ATOM_NONE) {
        const QByteArray bytes = propertyBytes(name.reply);
        facts.window.caption = name->type == m_atoms.utf8String ? QString::fromUtf8(bytes)
                                                                 : QString::fromLatin1(bytes);
    }
    return facts;
}

// One screen of a scan. Where a running window manager publishes its clients (EWMH
// _NET_CLIENT_LIST) that list is taken; otherwise the tree is walked down from the root until
// a window carries WM_STATE (ICCCM's mark of a client) or a class, however deeply the frames
// nest. The root's own children are read either way: a window that is not shown (withdrawn) is
// nobody's client and lies there, and without a window manager everything does. A window
// manager lists a new client only some time after it has put it into a frame, so a frame that
// holds none of the listed clients is walked down as well. Every request of a step is sent
// before its first reply is read: a scan costs a few round trips (one more per level of frames
// around a client), however many windows are open.
void XcbWindowSystem::scanScreen(xcb_window_t root, QList<TopLevelWindow> *result) const
{
    xcb_connection_t *c = m_connection;
    const xcb_query_tree_cookie_t treeCookie = xcb_query_tree(c, root);
    const xcb_get_property_cookie_t stackingCookie = xcb_get_property(
        c, 0, root, m_atoms.netClientListStacking, XCB_ATOM_WINDOW, 0, MaxListLength);
    const xcb_get_property_cookie_t listCookie =
        xcb_get_property(c, 0, root, m_atoms.netClientList, XCB_ATOM_WINDOW, 0, MaxListLength);
    const xcb_get_property_cookie_t checkCookie =
        xcb_get_property(c, 0, root, m_atoms.netSupportingWmCheck, XCB_ATOM_WINDOW, 0, 1);

    std::vector<xcb_window_t> rootChildren;
    {
        Freed<xcb_query_tree_reply_t> tree(treeReply(c, treeCookie));
        rootChildren = childrenTopmostFirst(tree.reply);
    }
    Freed<xcb_get_property_reply_t> stacking(propertyReply(c, stackingCookie));
    Freed<xcb_get_property_reply_t> list(propertyReply(c, listCookie));
    Freed<xcb_get_property_reply_t> check(propertyReply(c, checkCookie));
    // Clients topmost first: the stacking list runs from the bottom up; without it the newest
    // client comes first.
    const bool hasStacking = stacking && stacking->type == XCB_ATOM_WINDOW;
    const bool listed = hasStacking || (list && list->type == XCB_ATOM_WINDOW);
    const std::vector<uint32_t> checkValue = propertyValues32(check.reply);
    const xcb_window_t manager =
        checkValue.empty() ? xcb_window_t(XCB_WINDOW_NONE) : checkValue[0];
    const bool maybeManaged = listed && manager != XCB_WINDOW_NONE;
    std::vector<xcb_window_t> clients;
    QSet<xcb_window_t> seen;
    if (maybeManaged) {
        for (uint32_t w : propertyValues32(hasStacking ? stacking.reply : list.reply))
            if (!seen.contains(w)) {
                seen.insert(w);
                clients.push_back(w);
            }
        std::reverse(clients.begin(), clients.end());
    }

    // The properties of the clients and of the root's children, the frames the clients lie
    // in, and whether the window manager that published the list still runs (EWMH: its
    // supporting window names itself; a list left behind by one that has ended proves nothing).
    std::vector<xcb_window_t> candidates = clients;
    std::vector<xcb_window_t> rootOnly;
    for (xcb_window_t w : rootChildren)
        if (!seen.contains(w))
            rootOnly.push_back(w);
    candidates.insert(candidates.end(), rootOnly.begin(), rootOnly.end());
    std::vector<PropertyCookies> cookies;
    cookies.reserve(candidates.size());
    for (xcb_window_t w : candidates)
        cookies.push_back(requestProperties(w));
    std::vector<xcb_query_tree_cookie_t> clientTrees;
    xcb_get_property_cookie_t checkBackCookie{};
    if (maybeManaged) {
        clientTrees.reserve(clients.size());
        for (xcb_window_t w : clients)
            clientTrees.push_back(xcb_query_tree(c, w));
        checkBackCookie = xcb_get_property(c, 0, manager, m_atoms.netSupportingWmCheck,
                                           XCB_ATOM_WINDOW, 0, 1);
    }
    std::vector<Facts> facts;
    facts.reserve(candidates.size());
    for (size_t i = 0; i < candidates.size(); ++i)
        facts.push_back(readProperties(candidates[i], cookies[i]));
    std::vector<xcb_window_t> parents;
    for (const xcb_query_tree_cookie_t &cookie : clientTrees) {
        Freed<xcb_query_tree_reply_t> tree(treeReply(c, cookie));
        if (tree)
            parents.push_back(tree->parent);
    }
    bool managerRuns = false;
    if (maybeManaged) {
        Freed<xcb_get_property_reply_t> checkBack(propertyReply(c, checkBackCookie));
        const std::vector<uint32_t> value = propertyValues32(checkBack.reply);
        managerRuns = value.size() == 1 && value[0] == manager;
    }

    // The frames that hold listed clients, found by going up from the clients one level of
    // the tree per step.
    QSet<xcb_window_t> explained;
    QSet<xcb_window_t> listedClients;
    if (managerRuns) {
        for (size_t i = 0; i < clients.size(); ++i) {
            listedClients.insert(clients[i]);
            if (facts[i].hasClass)
                result->append(facts[i].window);
        }
        const QSet<xcb_window_t> onRoot(rootChildren.cbegin(), rootChildren.cend());
        QSet<xcb_window_t> asked;
        while (!parents.empty()) {
            std::vector<xcb_query_tree_cookie_t> up;
            for (xcb_window_t parent : parents) {
                if (parent == root || parent == XCB_WINDOW_NONE || asked.contains(parent))
                    continue;
                asked.insert(parent);
                if (onRoot.contains(parent))
                    explained.insert(parent);
                else
                    up.push_back(xcb_query_tree(c, parent));
            }
            parents.clear();
            for (const xcb_query_tree_cookie_t &cookie : up) {
                Freed<xcb_query_tree_reply_t> tree(treeReply(c, cookie));
                if (tree)
                    parents.push_back(tree->parent);
            }
        }
    }

    // Down from the root's children, through the windows that are neither a client nor
    // classed (frames) and hold none of the listed clients, one level of the tree per step.
    struct Node
    {
        Facts facts;
        xcb_window_t window;
        std::vector<size_t> children;
    };
    QHash<xcb_window_t, size_t> factsOf;
    for (size_t i = 0; i < candidates.size(); ++i)
        factsOf.insert(candidates[i], i);
    std::vector<Node> nodes;
    std::vector<size_t> level;
    for (xcb_window_t w : rootChildren) {
        if (listedClients.contains(w))
            continue;  // a window manager that leaves its clients on the root
        nodes.push_back({facts[factsOf.value(w)], w, {}});
        level.push_back(nodes.size() - 1);
    }
    const size_t topCount = nodes.size();
    const auto isFrame = [&nodes](size_t i) {
        return !nodes[i].facts.hasClass && !nodes[i].facts.hasState;
    };
    for (;;) {
        std::vector<size_t> frames;
        for (size_t i : level)
            if (isFrame(i) && !explained.contains(nodes[i].window))
                frames.push_back(i);
        if (frames.empty())
            break;
        std::vector<xcb_query_tree_cookie_t> treeCookies;
        treeCookies.reserve(frames.size());
        for (size_t i : frames)
            treeCookies.push_back(xcb_query_tree(c, nodes[i].window));
        level.clear();
        for (size_t k = 0; k < frames.size(); ++k) {
            Freed<xcb_query_tree_reply_t> tree(treeReply(c, treeCookies[k]));
            for (xcb_window_t w : childrenTopmostFirst(tree.reply)) {
                nodes.push_back({Facts(), w, {}});
                nodes[frames[k]].children.push_back(nodes.size() - 1);
                level.push_back(nodes.size() - 1);
            }
        }
        std::vector<PropertyCookies> levelCookies;
        levelCookies.reserve(level.size());
        for (size_t i : level)
            levelCookies.push_back(requestProperties(nodes[i].window));
        for (size_t k = 0; k < level.size(); ++k)
            nodes[level[k]].facts = readProperties(nodes[level[k]].window, levelCookies[k]);
    }

    // A client found inside a frame takes the frame's place in the stacking order.
    std::vector<size_t> pending;
    for (size_t i = topCount; i-- > 0;)
        pending.push_back(i);
    while (!pending.empty()) {
        const size_t i = pending.back();
        pending.pop_back();
        if (!isFrame(i)) {
            if (nodes[i].facts.hasClass && !listedClients.contains(nodes[i].window))
                result->append(nodes[i].facts.window);
            continue;
        }
        for (auto it = nodes[i].children.rbegin(); it != nodes[i].children.rend(); ++it)
            pending.push_back(*it);
    }
}

// One scan of the X server per call: nothing is cached, programs come and go.
QList<TopLevelWindow> XcbWindowSystem::topLevelWindows()
{
    QList<TopLevelWindow> result;
    for (xcb_window_t root : m_roots)
        scanScreen(root, &result);
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

// The child of a root window that holds the window: its outermost frame under a window
// manager, however deeply it nests, the window itself without one.
xcb_window_t XcbWindowSystem::frameOf(xcb_window_t window) const
{
    xcb_window_t current = window;
    for (;;) {
        Freed<xcb_query_tree_reply_t> reply(
            treeReply(m_connection, xcb_query_tree(m_connection, current)));
        if (!reply)
            return window;  // gone meanwhile
        if (reply->parent == XCB_WINDOW_NONE || reply->parent == reply->root)
            return current;
        current = reply->parent;
    }
}

void XcbWindowSystem::bringToFront(WindowId window)
{
    if (window == 0)
        return;
    const auto w = static_cast<xcb_window_t>(window);
    const xcb_get_window_attributes_cookie_t attributesCookie =
        xcb_get_window_attributes(m_connection, w);
    const xcb_get_property_cookie_t stateCookie =
        xcb_get_property(m_connection, 0, w, m_atoms.wmState, m_atoms.wmState, 0, 2);
    const xcb_get_property_cookie_t netStateCookie =
        xcb_get_property(m_connection, 0, w, m_atoms.netWmState, XCB_ATOM_ATOM, 0, 64);
    xcb_generic_error_t *error = nullptr;
    Freed<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(m_connection, attributesCookie, &error));
    std::free(error);
    Freed<xcb_get_property_reply_t> state(propertyReply(m_connection, stateCookie));
    Freed<xcb_get_property_reply_t> netState(propertyReply(m_connection, netStateCookie));
    if (!attributes)
        return;  // gone

    // A minimised window stays minimised: window managers answer an activation request by
    // restoring it, and the shell restores itself only when the suite's programs ask it to.
    // The window manager is asked to draw the user's attention to it (its taskbar entry)
    // instead.
    const std::vector<uint32_t> wmState = propertyValues32(state.reply);
    const std::vector<uint32_t> netStates = propertyValues32(netState.reply);
    const bool iconic =
        attributes->map_state != XCB_MAP_STATE_VIEWABLE
        && ((!wmState.empty() && wmState[0] == IconicState)
            || std::find(netStates.begin(), netStates.end(), m_atoms.netWmStateHidden)
                   != netStates.end());
    if (iconic) {
        for (xcb_window_t root : m_roots)
            sendClientMessage(m_connection, root, w, m_atoms.netWmState,
                              XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT
                                  | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                              NetWmStateAdd, m_atoms.netWmStateDemandsAttention, 0,
                              SourcePager);
        xcb_flush(m_connection);
        return;
    }

    // A window manager decides about activation; ask it the way a pager does, which it honours
    // more readily than a request of an application.
    for (xcb_window_t root : m_roots) {
        sendClientMessage(m_connection, root, w, m_atoms.netActiveWindow,
                          XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                          SourcePager, XCB_CURRENT_TIME, 0);
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

// The programs of the suite find one another by the classes of their X11 windows. On a Wayland
// desktop the toolkit would open native Wayland windows, which no X11 program sees, so the
// program runs as an X11 client there too (through XWayland), unless its user names a platform.
// Without an X server to reach the toolkit keeps its own choice.
QByteArray WindowSystem::requiredPlatform(const QStringList &arguments,
                                          const QProcessEnvironment &environment)
{
    if (!environment.value(QStringLiteral("QT_QPA_PLATFORM")).isEmpty())
        return {};
    for (const QString &argument : arguments.mid(1)) {
        if (argument == QLatin1String("-platform") || argument == QLatin1String("--platform"))
            return {};
    }
    if (environment.value(QStringLiteral("DISPLAY")).isEmpty())
        return {};
    return QByteArrayLiteral("xcb");
}
