#include "platform/x11/X11Display.h"

// Qt before Xlib: Xlib's macros (Bool, Status, …) break Qt's headers.
#include <QGuiApplication>
#include <mutex>

#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace quorvel {
namespace {

int ignoreXError(Display*, XErrorEvent*) { return 0; }

// Xlib's default handler ends the process on any error, and a window can vanish between our
// property requests. Qt's xcb platform normally installs a quiet handler already; if nobody has,
// install ours (never replace someone else's).
void ensureQuietErrorHandler() {
    static std::once_flag once;
    std::call_once(once, [] {
        const XErrorHandler previous = XSetErrorHandler(nullptr);  // installs the default
        const XErrorHandler defaultHandler = XSetErrorHandler(previous);
        if (previous == defaultHandler) XSetErrorHandler(ignoreXError);
    });
}

bool keyDown(const char keys[32], unsigned keycode) {
    return keycode < 256 && (keys[keycode / 8] & (1 << (keycode % 8))) != 0;
}

}  // namespace

X11Display::X11Display() {
    if (QGuiApplication::platformName() != QLatin1String("xcb")) return;
    ensureQuietErrorHandler();
    display_ = XOpenDisplay(nullptr);
}

X11Display::~X11Display() {
    if (display_) XCloseDisplay(display_);
}

bool X11Display::anyModifierHeld() const {
    if (!display_) return false;
    char keys[32] = {};
    XQueryKeymap(display_, keys);
    XModifierKeymap* map = XGetModifierMapping(display_);
    if (!map) return false;
    bool held = false;
    for (int i = 0; i < 8 * map->max_keypermod && !held; ++i) {
        if (i / map->max_keypermod == LockMapIndex) continue;  // Caps Lock is a latch, not a hold
        const KeyCode code = map->modifiermap[i];
        held = code != 0 && keyDown(keys, code);
    }
    XFreeModifiermap(map);
    return held;
}

bool X11Display::shiftHeld() const {
    if (!display_) return false;
    char keys[32] = {};
    XQueryKeymap(display_, keys);
    for (KeySym sym : {XK_Shift_L, XK_Shift_R}) {
        const KeyCode code = XKeysymToKeycode(display_, sym);
        if (code != 0 && keyDown(keys, code)) return true;
    }
    return false;
}

}  // namespace quorvel
