#include "platform/linux/xtest_accessibility_trust.h"

#include <X11/Xlib.h>
#include <cstdlib>
#include <memory>
#include <string_view>

namespace perchwell {

bool XTestAccessibilityTrust::isTrusted() {
    const char* sessionType = std::getenv("XDG_SESSION_TYPE");
    if (sessionType && std::string_view(sessionType) == "wayland") {
        return false;
    }
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) {
        return false;
    }
    // A connection of our own, so the probe works whatever platform Qt runs on.
    std::unique_ptr<Display, int (*)(Display*)> connection(XOpenDisplay(display), XCloseDisplay);
    if (!connection) {
        return false;
    }
    int opcode = 0, event = 0, error = 0;
    return XQueryExtension(connection.get(), "XTEST", &opcode, &event, &error) != 0;
}

} // namespace perchwell
