#include "platform/linux/x11_input_automator.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <cstdlib>
#include <string_view>

extern "C" {
#include <xdo.h>
}

namespace perchwell {

namespace {

// Microseconds between typed characters: slow enough for a busy terminal.
constexpr useconds_t characterDelay = 12000;

std::string_view environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string_view(value) : std::string_view();
}

// One 32-bit-format property of `window` (a window id or a cardinal); 0 when absent.
unsigned long cardinalProperty(Display* display, Window window, const char* name, Atom type) {
    Atom property = XInternAtom(display, name, True);
    if (property == 0) {
        return 0;
    }
    Atom actualType = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    unsigned long value = 0;
    if (XGetWindowProperty(display, window, property, 0, 1, False, type, &actualType, &format, &count, &after,
                           &data) == Success &&
        data != nullptr && format == 32 && count == 1) {
        value = *reinterpret_cast<unsigned long*>(data);
    }
    if (data) {
        XFree(data);
    }
    return value;
}

int ignoreErrors(Display*, XErrorEvent*) {
    // A window may vanish between two requests; the caller sees an empty answer.
    return 0;
}

} // namespace

struct X11InputAutomator::Connection {
    Display* display = nullptr;
    xdo_t* xdo = nullptr;
    ~Connection() {
        if (xdo) {
            xdo_free(xdo);
        }
        if (display) {
            XCloseDisplay(display);
        }
    }
};

X11InputAutomator::X11InputAutomator(CommandRunner& runner) : imeGuard_(runner, log_) {}

X11InputAutomator::~X11InputAutomator() = default;

std::optional<std::string> X11InputAutomator::unavailableReason() {
    if (environment("XDG_SESSION_TYPE") == "wayland" || !environment("WAYLAND_DISPLAY").empty()) {
        return "this is a Wayland session, where one application cannot type into another";
    }
    if (environment("DISPLAY").empty()) {
        return "there is no X11 display";
    }
    Connection* c = connection();
    if (!c) {
        return "the X11 display cannot be opened";
    }
    int opcode = 0, event = 0, error = 0;
    if (!XQueryExtension(c->display, "XTEST", &opcode, &event, &error)) {
        return "the X server lacks the XTEST extension";
    }
    return std::nullopt;
}

X11InputAutomator::Connection* X11InputAutomator::connection() {
    if (!connection_) {
        const std::string name(environment("DISPLAY"));
        Display* display = XOpenDisplay(name.c_str());
        if (!display) {
            return nullptr;
        }
        auto c = std::make_unique<Connection>();
        c->display = display;
        c->xdo = xdo_new_with_opened_display(display, name.c_str(), 0);
        if (!c->xdo) {
            return nullptr;
        }
        XSetErrorHandler(ignoreErrors);
        connection_ = std::move(c);
    }
    return connection_.get();
}

bool X11InputAutomator::secureInputEnabled() {
    Connection* c = connection();
    if (!c) {
        return false;
    }
    // Only one client can hold the keyboard: if we cannot take it for a moment,
    // someone else (a password prompt, xterm's Secure Keyboard) has it.
    const int grabbed = XGrabKeyboard(c->display, DefaultRootWindow(c->display), False, GrabModeAsync,
                                      GrabModeAsync, CurrentTime);
    if (grabbed == GrabSuccess) {
        XUngrabKeyboard(c->display, CurrentTime);
        XSync(c->display, False);
        return false;
    }
    return true;
}

unsigned long X11InputAutomator::activeWindow() {
    Connection* c = connection();
    if (!c) {
        return 0;
    }
    return cardinalProperty(c->display, DefaultRootWindow(c->display), "_NET_ACTIVE_WINDOW", XA_WINDOW);
}

std::optional<FrontmostApplication> X11InputAutomator::frontmostApplication() {
    const unsigned long window = activeWindow();
    if (window == 0) {
        return std::nullopt;
    }
    Display* display = connection()->display;
    FrontmostApplication app;
    app.window = window;
    app.pid = static_cast<int>(cardinalProperty(display, window, "_NET_WM_PID", XA_CARDINAL));
    XClassHint hint{nullptr, nullptr};
    if (XGetClassHint(display, window, &hint)) {
        app.bundleIdentifier = hint.res_class ? hint.res_class : "";
        app.instanceName = hint.res_name ? hint.res_name : "";
        XFree(hint.res_class);
        XFree(hint.res_name);
    }
    return app;
}

std::optional<InputSourceSnapshot> X11InputAutomator::switchToASCIILayout() {
    return imeGuard_.switchToASCIILayout();
}

void X11InputAutomator::restoreInputSource(const std::optional<InputSourceSnapshot>& snapshot) {
    imeGuard_.restoreInputSource(snapshot);
}

bool X11InputAutomator::sendString(const std::string& text, const FrontmostApplication& app) {
    if (text.empty()) {
        return true;
    }
    if (app.window == 0 || activeWindow() != app.window) {
        return false;
    }
    const int failed = xdo_enter_text_window(connection()->xdo, CURRENTWINDOW, text.c_str(), characterDelay);
    XFlush(connection()->display);
    if (failed) {
        log_.warning("typing into pid=" + std::to_string(app.pid) + " failed");
    }
    return true;
}

void X11InputAutomator::sendReturn(const FrontmostApplication& app) {
    if (app.window == 0 || activeWindow() != app.window) {
        log_.warning("Return not sent: pid=" + std::to_string(app.pid) + " is no longer in front");
        return;
    }
    xdo_send_keysequence_window(connection()->xdo, CURRENTWINDOW, "Return", 0);
    XFlush(connection()->display);
}

} // namespace perchwell
