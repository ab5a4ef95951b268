#include "platform/linux/x11_compositing.h"

#include <QGuiApplication>
#include <string>

// Xlib's macros clash with Qt's names: include it after Qt.
#include <X11/Xlib.h>

namespace perchwell {

bool windowsAreComposited() {
#if QT_CONFIG(xcb)
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (x11 && x11->display()) {
        Display* display = x11->display();
        const std::string selection = "_NET_WM_CM_S" + std::to_string(DefaultScreen(display));
        const Atom atom = XInternAtom(display, selection.c_str(), False);
        return XGetSelectionOwner(display, atom) != 0;
    }
#endif
    return true;
}

} // namespace perchwell
