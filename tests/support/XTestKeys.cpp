#include "support/XTestKeys.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace quorvel::testing {

_XDisplay* openInjector() {
    Display* display = XOpenDisplay(nullptr);
    int event = 0, error = 0, major = 0, minor = 0;
    if (display && !XTestQueryExtension(display, &event, &error, &major, &minor)) {
        XCloseDisplay(display);
        return nullptr;
    }
    return display;
}

void fakeKey(_XDisplay* display, unsigned keycode, bool down) {
    XTestFakeKeyEvent(display, keycode, down ? True : False, CurrentTime);
    XFlush(display);
}

void closeInjector(_XDisplay* display) {
    XSync(display, False);
    XCloseDisplay(display);
}

}  // namespace quorvel::testing
