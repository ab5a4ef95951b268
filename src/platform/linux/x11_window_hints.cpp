#include "platform/linux/x11_window_hints.h"

#include <QGuiApplication>

// Xlib's macros clash with Qt's names: include it after Qt.
#include <X11/Xlib.h>

namespace perchwell {

namespace {

#if QT_CONFIG(xcb)
// An EWMH client message to the root window, as a pager would send it.
void sendToWindowManager(Display* display, Window window, const char* type, long a, long b, long c) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, type, False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = a;
    event.xclient.data.l[1] = b;
    event.xclient.data.l[2] = c;
    event.xclient.data.l[3] = 1; // from an application
    XSendEvent(display, DefaultRootWindow(display), False, SubstructureRedirectMask | SubstructureNotifyMask,
               &event);
}
#endif

} // namespace

void showOnAllDesktopsOutsideWindowLists(WId window) {
#if QT_CONFIG(xcb)
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->display() || window == 0) {
        return;
    }
    Display* display = x11->display();
    const auto atom = [display](const char* name) {
        return static_cast<long>(XInternAtom(display, name, False));
    };
    constexpr long add = 1;
    sendToWindowManager(display, window, "_NET_WM_DESKTOP", 0xFFFFFFFFL, 0, 0);
    sendToWindowManager(display, window, "_NET_WM_STATE", add, atom("_NET_WM_STATE_STICKY"),
                        atom("_NET_WM_STATE_SKIP_TASKBAR"));
    sendToWindowManager(display, window, "_NET_WM_STATE", add, atom("_NET_WM_STATE_SKIP_PAGER"), 0);
    XFlush(display);
#else
    (void)window;
#endif
}

} // namespace perchwell
