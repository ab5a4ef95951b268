// Holds a keyboard grab on the X display until killed, as a password prompt or a
// terminal's Secure Keyboard does. Prints "grabbed" once it holds it.
#include <X11/Xlib.h>
#include <cstdio>
#include <unistd.h>

int main() {
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "no display\n");
        return 1;
    }
    for (int tries = 0; tries < 100; ++tries) {
        if (XGrabKeyboard(display, DefaultRootWindow(display), False, GrabModeAsync, GrabModeAsync,
                          CurrentTime) == GrabSuccess) {
            XSync(display, False);
            std::printf("grabbed\n");
            std::fflush(stdout);
            for (;;) {
                pause();
            }
        }
        usleep(50000);
    }
    std::fprintf(stderr, "could not grab the keyboard\n");
    return 1;
}
