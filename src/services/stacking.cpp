#include "services/stacking.h"

#include <QGuiApplication>
#include <QTimer>
#include <algorithm>
#include <xcb/xcb.h>

namespace services {
namespace {

xcb_connection_t* x11Connection()
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

xcb_window_t rootWindow(xcb_connection_t* c)
{
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    return screen ? screen->root : 0;
}

// Interned once (created if need be, so a manager started later is still seen).
xcb_atom_t stackingAtom(xcb_connection_t* c)
{
    static const xcb_atom_t atom = [c] {
        static constexpr char name[] = "_NET_CLIENT_LIST_STACKING";
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, sizeof name - 1, name), nullptr);
        const xcb_atom_t interned = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        free(reply);
        return interned;
    }();
    return atom;
}

} // namespace

std::vector<quint32> stackingOrder()
{
    xcb_connection_t* c = x11Connection();
    if (!c) return {};
    const xcb_atom_t atom = stackingAtom(c);
    if (atom == XCB_ATOM_NONE) return {};
    // A desktop of a few thousand windows at most.
    xcb_get_property_reply_t* reply =
        xcb_get_property_reply(c, xcb_get_property(c, 0, rootWindow(c), atom, XCB_ATOM_WINDOW, 0, 4096), nullptr);
    std::vector<quint32> order;
    if (reply && reply->format == 32) {
        const auto* ids = static_cast<const xcb_window_t*>(xcb_get_property_value(reply));
        order.assign(ids, ids + xcb_get_property_value_length(reply) / 4);
    }
    free(reply);
    return order;
}

bool liesBelow(const std::vector<quint32>& bottomToTop, quint32 window, quint32 other)
{
    const auto a = std::find(bottomToTop.begin(), bottomToTop.end(), window);
    const auto b = std::find(bottomToTop.begin(), bottomToTop.end(), other);
    return a != bottomToTop.end() && b != bottomToTop.end() && a < b;
}

StackingWatch::StackingWatch(QObject* parent) : QObject(parent)
{
    xcb_connection_t* c = x11Connection();
    if (!c) return;
    m_root = rootWindow(c);
    m_stackingAtom = stackingAtom(c);
    // The root's property changes, added to what Qt already listens for there.
    xcb_get_window_attributes_reply_t* attributes =
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, m_root), nullptr);
    const uint32_t mask = (attributes ? attributes->your_event_mask : 0) | XCB_EVENT_MASK_PROPERTY_CHANGE;
    free(attributes);
    xcb_change_window_attributes(c, m_root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(c);
    qGuiApp->installNativeEventFilter(this);
}

StackingWatch::~StackingWatch()
{
    if (qGuiApp) qGuiApp->removeNativeEventFilter(this);
}

bool StackingWatch::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (m_stackingAtom == XCB_ATOM_NONE || eventType != "xcb_generic_event_t") return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & ~0x80) != XCB_PROPERTY_NOTIFY) return false;
    const auto* change = reinterpret_cast<const xcb_property_notify_event_t*>(event);
    if (change->window != m_root || change->atom != m_stackingAtom || m_queued) return false;
    // Answered later: no round trips to the server from inside its event delivery.
    m_queued = true;
    QTimer::singleShot(0, this, [this] {
        m_queued = false;
        emit restacked();
    });
    return false;
}

} // namespace services
