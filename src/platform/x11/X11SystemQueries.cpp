#include "platform/x11/X11SystemQueries.h"

// Qt before Xlib: Xlib's macros break Qt's headers.
#include <QString>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>

namespace quorvel {
namespace {

// The window named by _NET_ACTIVE_WINDOW on the root, or None.
Window activeWindow(Display* display) {
    const Atom property = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* data = nullptr;
    Window window = None;
    if (XGetWindowProperty(display, DefaultRootWindow(display), property, 0, 1, False, XA_WINDOW,
                           &type, &format, &count, &remaining, &data) == Success &&
        data && type == XA_WINDOW && format == 32 && count == 1) {
        window = static_cast<Window>(*reinterpret_cast<unsigned long*>(data));
    }
    if (data) XFree(data);
    return window;
}

Window focusWindow(Display* display) {
    Window focus = None;
    int revert = 0;
    XGetInputFocus(display, &focus, &revert);
    return focus == PointerRoot ? None : focus;
}

// WM_CLASS class of the window or of its nearest ancestor that has one (the focus can sit in a
// child of the top-level window).
std::optional<std::string> classNameOf(Display* display, Window window) {
    const Window root = DefaultRootWindow(display);
    for (int depth = 0; window != None && window != root && depth < 32; ++depth) {
        XClassHint hint{nullptr, nullptr};
        if (XGetClassHint(display, window, &hint)) {
            std::optional<std::string> name;
            // WM_CLASS is Latin-1 text (any client may put any bytes there); we store UTF-8.
            if (hint.res_class && *hint.res_class) name = QString::fromLatin1(hint.res_class).toStdString();
            if (hint.res_name) XFree(hint.res_name);
            if (hint.res_class) XFree(hint.res_class);
            if (name) return name;
        }
        Window rootReturn = None, parent = None, *children = nullptr;
        unsigned int childCount = 0;
        if (!XQueryTree(display, window, &rootReturn, &parent, &children, &childCount)) break;
        if (children) XFree(children);
        window = parent;
    }
    return std::nullopt;
}

}  // namespace

MicrophoneAuthorization X11SystemQueries::microphoneAuthorization() {
    // Desktop Linux has no per-application microphone permission; a missing or refused device
    // shows up when the recorder starts.
    return MicrophoneAuthorization::authorized;
}

bool X11SystemQueries::inputMonitoringGranted() {
    Display* display = display_.get();
    if (!display) return false;
    int opcode = 0, event = 0, error = 0;
    if (!XQueryExtension(display, "XInputExtension", &opcode, &event, &error)) return false;
    int major = 2, minor = 0;
    return XIQueryVersion(display, &major, &minor) == Success && major >= 2;
}

bool X11SystemQueries::accessibilityTrusted() {
    Display* display = display_.get();
    if (!display) return false;
    int event = 0, error = 0, major = 0, minor = 0;
    return XTestQueryExtension(display, &event, &error, &major, &minor) == True;
}

std::optional<std::string> X11SystemQueries::frontApplicationName() {
    Display* display = display_.get();
    if (!display) return std::nullopt;
    if (const Window active = activeWindow(display); active != None) {
        if (auto name = classNameOf(display, active)) return name;
    }
    return classNameOf(display, focusWindow(display));
}

bool X11SystemQueries::shiftHeld() { return display_.shiftHeld(); }

}  // namespace quorvel
