#include "services/wmbuttons.h"

#include <QEvent>
#include <QGuiApplication>
#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace services {
namespace {

struct FreeReply {
    void operator()(void* p) const { std::free(p); }
};
template <typename T> using Reply = std::unique_ptr<T, FreeReply>;

xcb_atom_t atom(xcb_connection_t* c, const char* name)
{
    Reply<xcb_intern_atom_reply_t> r(xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(qstrlen(name)), name), nullptr));
    return r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// The running manager's _NET_WM_NAME, through the root's _NET_SUPPORTING_WM_CHECK window.
QByteArray managerName(xcb_connection_t* c)
{
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    Reply<xcb_get_property_reply_t> check(xcb_get_property_reply(
        c, xcb_get_property(c, 0, root, atom(c, "_NET_SUPPORTING_WM_CHECK"), XCB_ATOM_WINDOW, 0, 1), nullptr));
    if (!check || xcb_get_property_value_length(check.get()) != 4) return {};
    const xcb_window_t wm = *static_cast<const xcb_window_t*>(xcb_get_property_value(check.get()));
    Reply<xcb_get_property_reply_t> name(xcb_get_property_reply(
        c, xcb_get_property(c, 0, wm, atom(c, "_NET_WM_NAME"), atom(c, "UTF8_STRING"), 0, 64), nullptr));
    if (!name) return {};
    return QByteArray(static_cast<const char*>(xcb_get_property_value(name.get())),
                      xcb_get_property_value_length(name.get()));
}

// openbox drops the Motif functions for these buttons on purpose.
bool ignoresButtonHints(const QByteArray& manager) { return manager.compare("Openbox", Qt::CaseInsensitive) == 0; }

void typeAsToolbar(QWidget* window)
{
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!c || !window->windowHandle() || !ignoresButtonHints(managerName(c))) return;
    // Replaces Qt's own type (utility, dialog), which it writes when it makes the window:
    // by now it has, and it does not write it again on showing.
    const xcb_atom_t toolbar = atom(c, "_NET_WM_WINDOW_TYPE_TOOLBAR");
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, xcb_window_t(window->winId()), atom(c, "_NET_WM_WINDOW_TYPE"),
                        XCB_ATOM_ATOM, 32, 1, &toolbar);
    xcb_flush(c);
}

// Sees the window's Show event, which comes after its native window is made and before
// the window is mapped, when the manager reads the type.
class ShowWatch : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show && watched->isWidgetType()) typeAsToolbar(static_cast<QWidget*>(watched));
        return false;
    }
};

} // namespace

void keepToCloseOnly(QWidget* window)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb")) return;
    window->installEventFilter(new ShowWatch(window));
}

} // namespace services
