#pragma once
// The window manager's stacking order, for keeping an owned window in front of its owner
// where the manager does not: openbox forgets an owner that was managed after the window it
// owns, or mapped again from the tray, and then raises the owner over it.
#include <QAbstractNativeEventFilter>
#include <QObject>
#include <QtGlobal>
#include <vector>

namespace services {

// Window ids from bottom to top; empty where the desktop does not tell (not X11, no manager).
std::vector<quint32> stackingOrder();

// Whether `window` lies below `other` in `bottomToTop`; false when either is missing.
bool liesBelow(const std::vector<quint32>& bottomToTop, quint32 window, quint32 other);

// Emits restacked() on the UI thread, at most once per turn of the event loop, whenever the
// window manager changes its stacking order. Does nothing outside X11.
class StackingWatch : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT
public:
    explicit StackingWatch(QObject* parent = nullptr);
    ~StackingWatch() override;
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

signals:
    void restacked();

private:
    quint32 m_root = 0;
    quint32 m_stackingAtom = 0;
    bool m_queued = false;
};

} // namespace services
