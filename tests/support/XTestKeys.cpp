#include "support/XTestKeys.h"

#include <X11/XKBlib.h>
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

std::vector<unsigned> keysDown(_XDisplay* display) {
    char keys[32] = {};
    XQueryKeymap(display, keys);
    std::vector<unsigned> down;
    for (unsigned code = 0; code < 256; ++code)
        if (keys[code / 8] & (1 << (code % 8))) down.push_back(code);
    return down;
}

std::vector<unsigned long> keyboardMapping(_XDisplay* display) {
    int minCode = 0, maxCode = 0, perCode = 0;
    XDisplayKeycodes(display, &minCode, &maxCode);
    KeySym* map = XGetKeyboardMapping(display, static_cast<KeyCode>(minCode), maxCode - minCode + 1, &perCode);
    std::vector<unsigned long> mapping;
    if (map) mapping.assign(map, map + static_cast<long>(maxCode - minCode + 1) * perCode);
    if (map) XFree(map);
    mapping.push_back(static_cast<unsigned long>(perCode));  // the last entry: keysyms per keycode
    return mapping;
}

void setKeyboardMapping(_XDisplay* display, const std::vector<unsigned long>& mapping) {
    int minCode = 0, maxCode = 0;
    XDisplayKeycodes(display, &minCode, &maxCode);
    std::vector<KeySym> syms(mapping.begin(), mapping.end() - 1);
    XChangeKeyboardMapping(display, minCode, static_cast<int>(mapping.back()), syms.data(), maxCode - minCode + 1);
    XSync(display, False);
}

bool capsLockOn(_XDisplay* display) {
    XkbStateRec state{};
    return XkbGetState(display, XkbUseCoreKbd, &state) == Success && (state.locked_mods & LockMask) != 0;
}

}  // namespace quorvel::testing
