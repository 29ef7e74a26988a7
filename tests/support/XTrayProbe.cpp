#include "support/XTrayProbe.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <optional>
#include <string>
#include <vector>

namespace quorvel::testing {
namespace {

// Windows come and go while we walk the tree; Xlib's default handler would end the test.
int ignoreErrors(Display*, XErrorEvent*) { return 0; }

std::optional<long> pidOf(Display* display, Window window) {
    const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::optional<long> pid;
    if (XGetWindowProperty(display, window, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &count, &after,
                           &data) == Success &&
        data && format == 32 && count == 1)
        pid = *reinterpret_cast<long*>(data);
    if (data) XFree(data);
    return pid;
}

std::optional<std::string> classOf(Display* display, Window window) {
    XClassHint hint{};
    if (!XGetClassHint(display, window, &hint)) return std::nullopt;
    std::string name = hint.res_class ? hint.res_class : "";
    if (hint.res_name) XFree(hint.res_name);
    if (hint.res_class) XFree(hint.res_class);
    return name;
}

std::vector<Window> children(Display* display, Window window, Window* parent = nullptr) {
    Window root = None, up = None;
    Window* list = nullptr;
    unsigned count = 0;
    std::vector<Window> result;
    if (XQueryTree(display, window, &root, &up, &list, &count)) result.assign(list, list + count);
    if (list) XFree(list);
    if (parent) *parent = up;
    return result;
}

bool insideForeignWindow(Display* display, Window window) {
    const Window root = DefaultRootWindow(display);
    const auto own = classOf(display, window);
    Window parent = None;
    children(display, window, &parent);
    while (parent != None && parent != root) {
        const auto name = classOf(display, parent);
        if (name && name != own) return true;
        Window next = None;
        children(display, parent, &next);
        parent = next;
    }
    return false;
}

bool findEmbedded(Display* display, Window window, long pid) {
    for (const Window child : children(display, window)) {
        if (pidOf(display, child) == pid && insideForeignWindow(display, child)) return true;
        if (findEmbedded(display, child, pid)) return true;
    }
    return false;
}

}  // namespace

bool systemTrayPresent(_XDisplay* display) {
    const std::string name = "_NET_SYSTEM_TRAY_S" + std::to_string(DefaultScreen(display));
    return XGetSelectionOwner(display, XInternAtom(display, name.c_str(), False)) != None;
}

bool windowOfProcessEmbedded(_XDisplay* display, long pid) {
    XSync(display, False);
    const auto previous = XSetErrorHandler(ignoreErrors);
    const bool found = findEmbedded(display, DefaultRootWindow(display), pid);
    XSync(display, False);
    XSetErrorHandler(previous);
    return found;
}

}  // namespace quorvel::testing
