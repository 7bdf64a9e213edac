#include <QGuiApplication>
#include <QWidget>

#include <xcb/xcb.h>

#include <cstring>
#include <memory>

namespace {

xcb_atom_t internAtom(xcb_connection_t *connection, const char *name)
{
    const xcb_intern_atom_cookie_t cookie = xcb_intern_atom(connection, 0, uint16_t(std::strlen(name)), name);
    const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(connection, cookie, nullptr), &std::free);
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// A request to the window manager about one of our windows, as the desktop conventions
// (EWMH) have clients ask for changes to a mapped window.
void sendToWindowManager(xcb_connection_t *connection, xcb_window_t root, xcb_window_t window,
                         xcb_atom_t type, uint32_t d0, uint32_t d1, uint32_t d2, uint32_t d3)
{
    xcb_client_message_event_t event;
    std::memset(&event, 0, sizeof event);
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = type;
    event.data.data32[0] = d0;
    event.data.data32[1] = d1;
    event.data.data32[2] = d2;
    event.data.data32[3] = d3;
    xcb_send_event(connection, 0, root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char *>(&event));
}

} // namespace

// On an X11 desktop the panel follows the user to every virtual desktop: it asks the window
// manager to put it on all desktops and to make it sticky. Elsewhere (Wayland, offscreen)
// there is no such request and nothing happens.
void applyX11WindowBehaviour(QWidget &window)
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection())
        return;
    xcb_connection_t *connection = x11->connection();
    const auto id = xcb_window_t(window.winId());
    const std::unique_ptr<xcb_get_geometry_reply_t, decltype(&std::free)> geometry(
        xcb_get_geometry_reply(connection, xcb_get_geometry(connection, id), nullptr), &std::free);
    if (!geometry)
        return;

    constexpr uint32_t allDesktops = 0xFFFFFFFF;
    constexpr uint32_t addState = 1;
    constexpr uint32_t fromApplication = 1;
    sendToWindowManager(connection, geometry->root, id, internAtom(connection, "_NET_WM_DESKTOP"), allDesktops,
                        fromApplication, 0, 0);
    sendToWindowManager(connection, geometry->root, id, internAtom(connection, "_NET_WM_STATE"), addState,
                        internAtom(connection, "_NET_WM_STATE_STICKY"), 0, fromApplication);
    xcb_flush(connection);
}
