#include "windowbehaviour.h"

#include "panellayout.h"
#include "roundedshape.h"

#include <QGuiApplication>
#include <QPainterPath>
#include <QRegion>
#include <QWidget>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

template <typename Reply>
using XcbReply = std::unique_ptr<Reply, decltype(&std::free)>;

constexpr uint32_t allDesktops = 0xFFFFFFFF;

struct X11Window
{
    xcb_connection_t *connection = nullptr;
    xcb_window_t id = 0;
    xcb_window_t root = 0;
};

// The window on the X11 connection, or no connection where the panel is not on X11 (Wayland,
// offscreen).
X11Window x11Window(QWidget &window)
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection())
        return {};
    xcb_connection_t *connection = x11->connection();
    const auto id = xcb_window_t(window.winId());
    const XcbReply<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(connection, xcb_get_geometry(connection, id), nullptr), &std::free);
    if (!geometry)
        return {};
    return {connection, id, geometry->root};
}

xcb_atom_t internAtom(xcb_connection_t *connection, const char *name)
{
    const xcb_intern_atom_cookie_t cookie = xcb_intern_atom(connection, 0, uint16_t(std::strlen(name)), name);
    const XcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(connection, cookie, nullptr), &std::free);
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// A request to the window manager about a mapped window, as the desktop conventions (EWMH)
// have clients ask for changes.
void sendToWindowManager(const X11Window &window, xcb_atom_t type, uint32_t d0, uint32_t d1, uint32_t d2, uint32_t d3)
{
    xcb_client_message_event_t event;
    std::memset(&event, 0, sizeof event);
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window.id;
    event.type = type;
    event.data.data32[0] = d0;
    event.data.data32[1] = d1;
    event.data.data32[2] = d2;
    event.data.data32[3] = d3;
    xcb_send_event(window.connection, 0, window.root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char *>(&event));
}

// An unmapped window says what it wants in its own properties, which the window manager reads
// when the window is mapped. Qt keeps state atoms it finds there when it adds its own.
void setInitialState(const X11Window &window, xcb_atom_t stateProperty, const std::vector<xcb_atom_t> &wanted)
{
    xcb_connection_t *connection = window.connection;
    const XcbReply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(connection,
                               xcb_get_property(connection, 0, window.id, stateProperty, XCB_ATOM_ATOM, 0, 1024),
                               nullptr),
        &std::free);
    std::vector<xcb_atom_t> states;
    if (reply && reply->format == 32 && reply->type == XCB_ATOM_ATOM) {
        const auto *values = static_cast<const xcb_atom_t *>(xcb_get_property_value(reply.get()));
        states.assign(values, values + xcb_get_property_value_length(reply.get()) / sizeof(xcb_atom_t));
    }
    for (xcb_atom_t atom : wanted) {
        if (atom != XCB_ATOM_NONE && std::find(states.cbegin(), states.cend(), atom) == states.cend())
            states.push_back(atom);
    }
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window.id, stateProperty, XCB_ATOM_ATOM, 32,
                        uint32_t(states.size()), states.data());
}

// Whether a compositing manager runs for the window's screen: it owns _NET_WM_CM_S<screen>.
bool isCompositing(const X11Window &window)
{
    int screen = 0;
    for (xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(window.connection)); it.rem;
         xcb_screen_next(&it), ++screen) {
        if (it.data->root == window.root)
            break;
    }
    const QByteArray selection = "_NET_WM_CM_S" + QByteArray::number(screen);
    const xcb_atom_t atom = internAtom(window.connection, selection.constData());
    const XcbReply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(window.connection, xcb_get_selection_owner(window.connection, atom), nullptr),
        &std::free);
    return owner && owner->owner != XCB_NONE;
}

} // namespace

void platformwindow::beforeShow(QWidget &widget, bool mapped)
{
    const X11Window window = x11Window(widget);
    if (!window.connection)
        return;
    xcb_connection_t *connection = window.connection;
    const xcb_atom_t desktop = internAtom(connection, "_NET_WM_DESKTOP");
    const xcb_atom_t state = internAtom(connection, "_NET_WM_STATE");
    const xcb_atom_t sticky = internAtom(connection, "_NET_WM_STATE_STICKY");
    const xcb_atom_t above = internAtom(connection, "_NET_WM_STATE_ABOVE");
    if (mapped) {
        constexpr uint32_t addState = 1;
        constexpr uint32_t fromApplication = 1;
        sendToWindowManager(window, desktop, allDesktops, fromApplication, 0, 0);
        sendToWindowManager(window, state, addState, sticky, above, fromApplication);
    } else {
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window.id, desktop, XCB_ATOM_CARDINAL, 32, 1,
                            &allDesktops);
        setInitialState(window, state, {sticky, above});
    }
    xcb_flush(connection);
}

void platformwindow::updateShape(QWidget &widget)
{
    const X11Window window = x11Window(widget);
    if (!window.connection)
        return;
    if (isCompositing(window)) {
        // The compositor blends the transparent corners, with their soft edge.
        if (!widget.mask().isEmpty())
            widget.clearMask();
        return;
    }
    // Without one, transparent pixels show black: the corners are cut off instead.
    const qreal scale = widget.width() / PanelLayout::width;
    const QPainterPath outline = continuousRoundedRect(QRectF(widget.rect()), PanelLayout::cornerRadius * scale);
    widget.setMask(QRegion(outline.toFillPolygon().toPolygon()));
}
