// A window manager for tests that nests every client two levels deep, as some desktop window
// managers do: root -> frame -> wrapper -> client.
//
//   nestingwm [--no-client-list]
//
// It manages the X display of $DISPLAY and prints "ready" once it does. Like a real window
// manager it marks clients with WM_STATE (ICCCM) and publishes them on the root
// (_NET_CLIENT_LIST, _NET_CLIENT_LIST_STACKING; with --no-client-list it does not, like window
// managers that follow ICCCM only). It iconifies a window on WM_CHANGE_STATE (frame and client
// are unmapped, the client stays in its wrapper), shows it again on a map request or on
// _NET_ACTIVE_WINDOW, raises and focuses on _NET_ACTIVE_WINDOW, keeps _NET_WM_STATE (with
// _NET_WM_STATE_HIDDEN while iconic), and hands a window that its program withdraws back to the
// root. It ends on SIGTERM or SIGINT and leaves every client as a child of the root, mapped
// unless iconic.
//
// Exit codes: 0 ended on a signal, 1 no display or another window manager runs, 2 a wrong
// command line.

#include <xcb/xcb.h>

#include <poll.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

volatile std::sig_atomic_t g_stop = 0;

void onSignal(int)
{
    g_stop = 1;
}

constexpr uint32_t NormalState = 1;
constexpr uint32_t IconicState = 3;
constexpr int Border = 4;      // frame around the wrapper
constexpr int TitleHeight = 20;

struct Client
{
    xcb_window_t window = XCB_WINDOW_NONE;
    xcb_window_t frame = XCB_WINDOW_NONE;
    xcb_window_t wrapper = XCB_WINDOW_NONE;
    int16_t x = 0, y = 0;     // of the frame
    uint16_t width = 1, height = 1;  // of the client
    bool iconic = false;
    int ignoreUnmaps = 0;  // unmaps of the client that we caused ourselves
    std::vector<xcb_atom_t> netState;
};

class NestingWm
{
public:
    bool start(bool publishClientList);
    void run();
    void stop();

private:
    xcb_atom_t atom(const char *name);
    Client *find(xcb_window_t window);

    void manage(xcb_window_t window);
    void withdraw(xcb_window_t window);
    void forget(xcb_window_t window);
    void iconify(Client &c);
    void deiconify(Client &c);
    void activate(Client &c);
    void raise(Client &c);

    void setWmState(const Client &c, uint32_t state);
    void writeNetState(const Client &c);
    void publishLists();
    void sendConfigureNotify(const Client &c);

    void onMapRequest(const xcb_map_request_event_t *e);
    void onConfigureRequest(const xcb_configure_request_event_t *e);
    void onUnmapNotify(const xcb_unmap_notify_event_t *e);
    void onDestroyNotify(const xcb_destroy_notify_event_t *e);
    void onClientMessage(const xcb_client_message_event_t *e);

    xcb_connection_t *m_c = nullptr;
    xcb_screen_t *m_screen = nullptr;
    xcb_window_t m_check = XCB_WINDOW_NONE;
    bool m_publishClientList = true;
    std::vector<Client> m_clients;           // in the order they were managed
    std::vector<xcb_window_t> m_stacking;    // bottom to top

    xcb_atom_t m_wmState = 0, m_wmChangeState = 0, m_netSupported = 0, m_netCheck = 0,
               m_netWmName = 0, m_utf8 = 0, m_netClientList = 0, m_netClientListStacking = 0,
               m_netActiveWindow = 0, m_netWmState = 0, m_netHidden = 0,
               m_netDemandsAttention = 0, m_netFrameExtents = 0;
};

xcb_atom_t NestingWm::atom(const char *name)
{
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
        m_c, xcb_intern_atom(m_c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t value = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return value;
}

bool NestingWm::start(bool publishClientList)
{
    m_publishClientList = publishClientList;
    int screenNumber = 0;
    m_c = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(m_c)) {
        std::fprintf(stderr, "nestingwm: cannot open the display\n");
        return false;
    }
    auto it = xcb_setup_roots_iterator(xcb_get_setup(m_c));
    for (int i = 0; i < screenNumber && it.rem; ++i)
        xcb_screen_next(&it);
    m_screen = it.data;
    const xcb_window_t root = m_screen->root;

    const uint32_t rootMask = XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT
                              | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_generic_error_t *error = xcb_request_check(
        m_c, xcb_change_window_attributes_checked(m_c, root, XCB_CW_EVENT_MASK, &rootMask));
    if (error) {
        std::free(error);
        std::fprintf(stderr, "nestingwm: another window manager runs on this display\n");
        return false;
    }

    m_wmState = atom("WM_STATE");
    m_wmChangeState = atom("WM_CHANGE_STATE");
    m_netSupported = atom("_NET_SUPPORTED");
    m_netCheck = atom("_NET_SUPPORTING_WM_CHECK");
    m_netWmName = atom("_NET_WM_NAME");
    m_utf8 = atom("UTF8_STRING");
    m_netClientList = atom("_NET_CLIENT_LIST");
    m_netClientListStacking = atom("_NET_CLIENT_LIST_STACKING");
    m_netActiveWindow = atom("_NET_ACTIVE_WINDOW");
    m_netWmState = atom("_NET_WM_STATE");
    m_netHidden = atom("_NET_WM_STATE_HIDDEN");
    m_netDemandsAttention = atom("_NET_WM_STATE_DEMANDS_ATTENTION");
    m_netFrameExtents = atom("_NET_FRAME_EXTENTS");

    // The supporting window tells clients which window manager runs and that it is alive.
    m_check = xcb_generate_id(m_c);
    xcb_create_window(m_c, XCB_COPY_FROM_PARENT, m_check, root, -10, -10, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    for (xcb_window_t w : {root, m_check})
        xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, w, m_netCheck, XCB_ATOM_WINDOW, 32, 1,
                            &m_check);
    const char name[] = "nestingwm";
    xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, m_check, m_netWmName, m_utf8, 8,
                        sizeof(name) - 1, name);
    std::vector<xcb_atom_t> supported{m_netActiveWindow, m_netWmState, m_netHidden,
                                      m_netDemandsAttention, m_netFrameExtents};
    if (m_publishClientList) {
        supported.push_back(m_netClientList);
        supported.push_back(m_netClientListStacking);
    }
    xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, root, m_netSupported, XCB_ATOM_ATOM, 32,
                        static_cast<uint32_t>(supported.size()), supported.data());

    // Windows already on screen are taken over as if they had just been mapped.
    xcb_grab_server(m_c);
    xcb_query_tree_reply_t *tree = xcb_query_tree_reply(m_c, xcb_query_tree(m_c, root), nullptr);
    if (tree) {
        const xcb_window_t *children = xcb_query_tree_children(tree);
        const int count = xcb_query_tree_children_length(tree);
        for (int i = 0; i < count; ++i) {
            xcb_get_window_attributes_reply_t *a = xcb_get_window_attributes_reply(
                m_c, xcb_get_window_attributes(m_c, children[i]), nullptr);
            if (a && !a->override_redirect && a->map_state == XCB_MAP_STATE_VIEWABLE
                && children[i] != m_check)
                manage(children[i]);
            std::free(a);
        }
        std::free(tree);
    }
    xcb_ungrab_server(m_c);
    publishLists();
    xcb_flush(m_c);
    return true;
}

Client *NestingWm::find(xcb_window_t window)
{
    for (Client &c : m_clients)
        if (c.window == window)
            return &c;
    return nullptr;
}

void NestingWm::manage(xcb_window_t window)
{
    xcb_get_window_attributes_reply_t *attributes = xcb_get_window_attributes_reply(
        m_c, xcb_get_window_attributes(m_c, window), nullptr);
    xcb_get_geometry_reply_t *geometry =
        xcb_get_geometry_reply(m_c, xcb_get_geometry(m_c, window), nullptr);
    const bool manageable = attributes && geometry && !attributes->override_redirect;
    Client c;
    c.window = window;
    if (geometry) {
        c.x = geometry->x;
        c.y = geometry->y;
        c.width = std::max<uint16_t>(geometry->width, 1);
        c.height = std::max<uint16_t>(geometry->height, 1);
    }
    std::free(attributes);
    std::free(geometry);
    if (!manageable) {
        xcb_map_window(m_c, window);  // gone, or not ours to manage
        return;
    }

    // ICCCM: a client may ask to start iconic (WM_HINTS flags bit StateHint, initial_state).
    xcb_get_property_reply_t *hints = xcb_get_property_reply(
        m_c, xcb_get_property(m_c, 0, window, XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS, 0, 9), nullptr);
    if (hints && xcb_get_property_value_length(hints) >= 8) {
        const auto *h = static_cast<const uint32_t *>(xcb_get_property_value(hints));
        c.iconic = (h[0] & 2u) && h[1] == IconicState;
    }
    std::free(hints);
    xcb_get_property_reply_t *state = xcb_get_property_reply(
        m_c, xcb_get_property(m_c, 0, window, m_netWmState, XCB_ATOM_ATOM, 0, 64), nullptr);
    if (state && state->format == 32) {
        const auto *atoms = static_cast<const xcb_atom_t *>(xcb_get_property_value(state));
        for (int i = 0; i < xcb_get_property_value_length(state) / 4; ++i)
            if (atoms[i] != m_netHidden)
                c.netState.push_back(atoms[i]);
    }
    std::free(state);

    const uint32_t frameValues[] = {0x6a7f99u, XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY};
    c.frame = xcb_generate_id(m_c);
    xcb_create_window(m_c, XCB_COPY_FROM_PARENT, c.frame, m_screen->root, c.x, c.y,
                      static_cast<uint16_t>(c.width + 2 * Border),
                      static_cast<uint16_t>(c.height + TitleHeight + Border), 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                      XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, frameValues);
    // The wrapper redirects the client's own map and configure requests to us and reports
    // its unmapping and destruction.
    const uint32_t wrapperValues[] = {0x203040u, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT
                                                     | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY};
    c.wrapper = xcb_generate_id(m_c);
    xcb_create_window(m_c, XCB_COPY_FROM_PARENT, c.wrapper, c.frame, Border, TitleHeight,
                      c.width, c.height, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                      XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, wrapperValues);
    xcb_change_save_set(m_c, XCB_SET_MODE_INSERT, window);
    const uint32_t noBorder = 0;
    xcb_configure_window(m_c, window, XCB_CONFIG_WINDOW_BORDER_WIDTH, &noBorder);
    // Reparenting a mapped window unmaps it; that unmap is reported on the root, which is not
    // where a client's own unmapping is looked for.
    xcb_reparent_window(m_c, window, c.wrapper, 0, 0);
    const uint32_t extents[] = {Border, Border, TitleHeight, Border};
    xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, window, m_netFrameExtents, XCB_ATOM_CARDINAL,
                        32, 4, extents);
    xcb_map_window(m_c, window);
    xcb_map_window(m_c, c.wrapper);
    m_clients.push_back(c);
    m_stacking.push_back(c.frame);
    Client &managed = m_clients.back();
    if (managed.iconic) {
        managed.iconic = false;
        iconify(managed);
    } else {
        xcb_map_window(m_c, managed.frame);
        setWmState(managed, NormalState);
        writeNetState(managed);
        activate(managed);
    }
    sendConfigureNotify(m_clients.back());
    publishLists();
}

// The program withdrew its window (unmapped it): it goes back to the root, unmanaged, as ICCCM
// asks, so that it can be mapped anew later.
void NestingWm::withdraw(xcb_window_t window)
{
    Client *c = find(window);
    if (!c)
        return;
    xcb_reparent_window(m_c, window, m_screen->root, static_cast<int16_t>(c->x + Border),
                        static_cast<int16_t>(c->y + TitleHeight));
    xcb_change_save_set(m_c, XCB_SET_MODE_DELETE, window);
    xcb_delete_property(m_c, window, m_wmState);
    xcb_delete_property(m_c, window, m_netWmState);
    forget(window);
}

void NestingWm::forget(xcb_window_t window)
{
    Client *c = find(window);
    if (!c)
        return;
    xcb_destroy_window(m_c, c->frame);  // the wrapper goes with it
    m_stacking.erase(std::remove(m_stacking.begin(), m_stacking.end(), c->frame),
                     m_stacking.end());
    m_clients.erase(m_clients.begin() + (c - m_clients.data()));
    publishLists();
}

void NestingWm::setWmState(const Client &c, uint32_t state)
{
    const uint32_t value[] = {state, XCB_WINDOW_NONE};
    xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, c.window, m_wmState, m_wmState, 32, 2, value);
}

void NestingWm::writeNetState(const Client &c)
{
    std::vector<xcb_atom_t> atoms = c.netState;
    if (c.iconic)
        atoms.push_back(m_netHidden);
    xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, c.window, m_netWmState, XCB_ATOM_ATOM, 32,
                        static_cast<uint32_t>(atoms.size()), atoms.data());
}

void NestingWm::publishLists()
{
    if (!m_publishClientList)
        return;
    std::vector<xcb_window_t> clients;
    for (const Client &c : m_clients)
        clients.push_back(c.window);
    std::vector<xcb_window_t> stacking;
    for (xcb_window_t frame : m_stacking)
        for (const Client &c : m_clients)
            if (c.frame == frame)
                stacking.push_back(c.window);
    xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, m_screen->root, m_netClientList,
                        XCB_ATOM_WINDOW, 32, static_cast<uint32_t>(clients.size()),
                        clients.data());
    xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, m_screen->root, m_netClientListStacking,
                        XCB_ATOM_WINDOW, 32, static_cast<uint32_t>(stacking.size()),
                        stacking.data());
}

void NestingWm::sendConfigureNotify(const Client &c)
{
    xcb_configure_notify_event_t event;
    std::memset(&event, 0, sizeof(event));
    event.response_type = XCB_CONFIGURE_NOTIFY;
    event.event = c.window;
    event.window = c.window;
    event.x = static_cast<int16_t>(c.x + Border);
    event.y = static_cast<int16_t>(c.y + TitleHeight);
    event.width = c.width;
    event.height = c.height;
    xcb_send_event(m_c, 0, c.window, XCB_EVENT_MASK_STRUCTURE_NOTIFY,
                   reinterpret_cast<const char *>(&event));
}

void NestingWm::iconify(Client &c)
{
    if (c.iconic)
        return;
    c.iconic = true;
    // As window managers do, the client is unmapped too: the program sees its window go, and
    // a map request of its own shows it again.
    xcb_unmap_window(m_c, c.window);
    ++c.ignoreUnmaps;
    xcb_unmap_window(m_c, c.frame);
    setWmState(c, IconicState);
    writeNetState(c);
}

void NestingWm::deiconify(Client &c)
{
    if (!c.iconic)
        return;
    c.iconic = false;
    xcb_map_window(m_c, c.window);
    xcb_map_window(m_c, c.frame);
    setWmState(c, NormalState);
    writeNetState(c);
}

void NestingWm::raise(Client &c)
{
    const uint32_t above = XCB_STACK_MODE_ABOVE;
    xcb_configure_window(m_c, c.frame, XCB_CONFIG_WINDOW_STACK_MODE, &above);
    m_stacking.erase(std::remove(m_stacking.begin(), m_stacking.end(), c.frame),
                     m_stacking.end());
    m_stacking.push_back(c.frame);
    publishLists();
}

// What a window manager does on _NET_ACTIVE_WINDOW: shows an iconic window again, raises it
// and gives it the focus.
void NestingWm::activate(Client &c)
{
    deiconify(c);
    raise(c);
    c.netState.erase(std::remove(c.netState.begin(), c.netState.end(), m_netDemandsAttention),
                     c.netState.end());
    writeNetState(c);
    xcb_set_input_focus(m_c, XCB_INPUT_FOCUS_POINTER_ROOT, c.window, XCB_CURRENT_TIME);
    xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, m_screen->root, m_netActiveWindow,
                        XCB_ATOM_WINDOW, 32, 1, &c.window);
}

void NestingWm::onMapRequest(const xcb_map_request_event_t *e)
{
    if (Client *c = find(e->window)) {
        if (c->iconic)
            deiconify(*c);
        else
            xcb_map_window(m_c, c->window);
        return;
    }
    manage(e->window);
}

void NestingWm::onConfigureRequest(const xcb_configure_request_event_t *e)
{
    Client *c = find(e->window);
    if (!c) {
        // Not ours: done as asked. The values follow the order of the mask bits.
        uint32_t values[7];
        int n = 0;
        if (e->value_mask & XCB_CONFIG_WINDOW_X)
            values[n++] = static_cast<uint32_t>(e->x);
        if (e->value_mask & XCB_CONFIG_WINDOW_Y)
            values[n++] = static_cast<uint32_t>(e->y);
        if (e->value_mask & XCB_CONFIG_WINDOW_WIDTH)
            values[n++] = e->width;
        if (e->value_mask & XCB_CONFIG_WINDOW_HEIGHT)
            values[n++] = e->height;
        if (e->value_mask & XCB_CONFIG_WINDOW_BORDER_WIDTH)
            values[n++] = e->border_width;
        if (e->value_mask & XCB_CONFIG_WINDOW_SIBLING)
            values[n++] = e->sibling;
        if (e->value_mask & XCB_CONFIG_WINDOW_STACK_MODE)
            values[n++] = e->stack_mode;
        xcb_configure_window(m_c, e->window, e->value_mask, values);
        return;
    }
    if (e->value_mask & XCB_CONFIG_WINDOW_X)
        c->x = static_cast<int16_t>(e->x - Border);
    if (e->value_mask & XCB_CONFIG_WINDOW_Y)
        c->y = static_cast<int16_t>(e->y - TitleHeight);
    if (e->value_mask & XCB_CONFIG_WINDOW_WIDTH)
        c->width = std::max<uint16_t>(e->width, 1);
    if (e->value_mask & XCB_CONFIG_WINDOW_HEIGHT)
        c->height = std::max<uint16_t>(e->height, 1);
    const uint32_t client[] = {0, 0, c->width, c->height};
    xcb_configure_window(m_c, c->window,
                         XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH
                             | XCB_CONFIG_WINDOW_HEIGHT,
                         client);
    const uint32_t wrapper[] = {c->width, c->height};
    xcb_configure_window(m_c, c->wrapper, XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT,
                         wrapper);
    const uint32_t frame[] = {static_cast<uint32_t>(c->x), static_cast<uint32_t>(c->y),
                              static_cast<uint32_t>(c->width + 2 * Border),
                              static_cast<uint32_t>(c->height + TitleHeight + Border)};
    xcb_configure_window(m_c, c->frame,
                         XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH
                             | XCB_CONFIG_WINDOW_HEIGHT,
                         frame);
    if ((e->value_mask & XCB_CONFIG_WINDOW_STACK_MODE) && e->stack_mode == XCB_STACK_MODE_ABOVE)
        raise(*c);
    sendConfigureNotify(*c);
}

void NestingWm::onUnmapNotify(const xcb_unmap_notify_event_t *e)
{
    // A client's own unmap is reported through its wrapper; the synthetic one that ICCCM asks
    // programs to send to the root (for windows that were never mapped) counts too.
    const bool synthetic = e->response_type & 0x80;
    Client *c = find(e->window);
    if (!c)
        return;
    if (!synthetic && e->event == c->wrapper && c->ignoreUnmaps > 0) {
        --c->ignoreUnmaps;
        return;
    }
    if (e->event == c->wrapper || synthetic)
        withdraw(e->window);
}

void NestingWm::onDestroyNotify(const xcb_destroy_notify_event_t *e)
{
    if (find(e->window))
        forget(e->window);
}

void NestingWm::onClientMessage(const xcb_client_message_event_t *e)
{
    Client *c = find(e->window);
    if (!c || e->format != 32)
        return;
    if (e->type == m_wmChangeState && e->data.data32[0] == IconicState) {
        iconify(*c);
    } else if (e->type == m_netActiveWindow) {
        activate(*c);
    } else if (e->type == m_netWmState) {
        const uint32_t action = e->data.data32[0];  // 0 remove, 1 add, 2 toggle
        for (int i = 1; i <= 2; ++i) {
            const xcb_atom_t a = e->data.data32[i];
            if (a == XCB_ATOM_NONE || a == m_netHidden)  // hidden follows the iconic state
                continue;
            const auto it = std::find(c->netState.begin(), c->netState.end(), a);
            const bool present = it != c->netState.end();
            if (present && (action == 0 || action == 2))
                c->netState.erase(it);
            else if (!present && (action == 1 || action == 2))
                c->netState.push_back(a);
        }
        writeNetState(*c);
    }
}

void NestingWm::run()
{
    pollfd fd{xcb_get_file_descriptor(m_c), POLLIN, 0};
    while (!g_stop) {
        while (xcb_generic_event_t *event = xcb_poll_for_event(m_c)) {
            switch (event->response_type & 0x7f) {
            case XCB_MAP_REQUEST:
                onMapRequest(reinterpret_cast<xcb_map_request_event_t *>(event));
                break;
            case XCB_CONFIGURE_REQUEST:
                onConfigureRequest(reinterpret_cast<xcb_configure_request_event_t *>(event));
                break;
            case XCB_UNMAP_NOTIFY:
                onUnmapNotify(reinterpret_cast<xcb_unmap_notify_event_t *>(event));
                break;
            case XCB_DESTROY_NOTIFY:
                onDestroyNotify(reinterpret_cast<xcb_destroy_notify_event_t *>(event));
                break;
            case XCB_CLIENT_MESSAGE:
                onClientMessage(reinterpret_cast<xcb_client_message_event_t *>(event));
                break;
            default:
                break;  // errors of requests on windows that went meanwhile, and the rest
            }
            std::free(event);
        }
        xcb_flush(m_c);
        if (xcb_connection_has_error(m_c))
            return;
        poll(&fd, 1, 200);
    }
}

void NestingWm::stop()
{
    const xcb_window_t root = m_screen->root;
    for (const Client &c : m_clients) {
        xcb_reparent_window(m_c, c.window, root, static_cast<int16_t>(c.x + Border),
                            static_cast<int16_t>(c.y + TitleHeight));
        if (c.iconic)
            xcb_unmap_window(m_c, c.window);
        xcb_delete_property(m_c, c.window, m_wmState);
        xcb_destroy_window(m_c, c.frame);
    }
    m_clients.clear();
    for (xcb_atom_t a : {m_netCheck, m_netSupported, m_netClientList, m_netClientListStacking,
                         m_netActiveWindow})
        xcb_delete_property(m_c, root, a);
    xcb_destroy_window(m_c, m_check);
    xcb_get_input_focus_reply_t *sync =
        xcb_get_input_focus_reply(m_c, xcb_get_input_focus(m_c), nullptr);
    std::free(sync);
    xcb_disconnect(m_c);
}

} // namespace

int main(int argc, char **argv)
{
    bool publishClientList = true;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--no-client-list") == 0) {
            publishClientList = false;
        } else {
            std::fprintf(stderr, "usage: nestingwm [--no-client-list]\n");
            return 2;
        }
    }
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);

    NestingWm wm;
    if (!wm.start(publishClientList))
        return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    wm.run();
    wm.stop();
    return 0;
}
