#include "platform/x11/X11WindowHints.h"

// Qt before Xlib: Xlib's macros break Qt's headers.
#include <QGuiApplication>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <array>
#include <vector>
#include <string>

namespace quorvel::x11 {
namespace {

Display* qtDisplay() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->display() : nullptr;
}

Atom atom(Display* display, const char* name) { return XInternAtom(display, name, False); }

constexpr long kAllDesktops = 0xFFFFFFFF;
constexpr long kNetWmStateRemove = 0;
constexpr long kNetWmStateAdd = 1;
constexpr long kSourceApplication = 1;
constexpr long kSourcePager = 2;

void sendToRoot(Display* display, Window window, Atom type, std::array<long, 5> data) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = type;
    event.xclient.format = 32;
    for (size_t i = 0; i < data.size(); ++i) event.xclient.data.l[i] = data[i];
    XSendEvent(display, DefaultRootWindow(display), False, SubstructureRedirectMask | SubstructureNotifyMask,
               &event);
}

}  // namespace

void applyFloatingHints(uintptr_t id, bool taskbarEntry) {
    Display* display = qtDisplay();
    if (!display || id == 0) return;
    const Window window = static_cast<Window>(id);
    const Atom desktop = atom(display, "_NET_WM_DESKTOP");
    const Atom state = atom(display, "_NET_WM_STATE");
    const Atom skipTaskbar = atom(display, "_NET_WM_STATE_SKIP_TASKBAR");
    std::vector<Atom> states{atom(display, "_NET_WM_STATE_ABOVE"), atom(display, "_NET_WM_STATE_STICKY"),
                             atom(display, "_NET_WM_STATE_SKIP_PAGER")};
    if (!taskbarEntry) states.push_back(skipTaskbar);

    long all = kAllDesktops;
    XChangeProperty(display, window, desktop, XA_CARDINAL, 32, PropModeReplace, reinterpret_cast<unsigned char*>(&all),
                    1);
    XChangeProperty(display, window, state, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(states.data()), static_cast<int>(states.size()));

    sendToRoot(display, window, desktop, {kAllDesktops, kSourceApplication, 0, 0, 0});
    for (Atom added : states)
        sendToRoot(display, window, state, {kNetWmStateAdd, static_cast<long>(added), 0, kSourceApplication, 0});
    if (taskbarEntry)
        sendToRoot(display, window, state, {kNetWmStateRemove, static_cast<long>(skipTaskbar), 0, kSourceApplication, 0});
    XFlush(display);
}

bool compositorActive() {
    Display* display = qtDisplay();
    if (!display) return false;
    const std::string name = "_NET_WM_CM_S" + std::to_string(DefaultScreen(display));
    return XGetSelectionOwner(display, atom(display, name.c_str())) != None;
}

uintptr_t activeWindow() {
    Display* display = qtDisplay();
    if (!display) return 0;
    Atom type = None;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* data = nullptr;
    const int status = XGetWindowProperty(display, DefaultRootWindow(display), atom(display, "_NET_ACTIVE_WINDOW"), 0,
                                          1, False, XA_WINDOW, &type, &format, &count, &remaining, &data);
    uintptr_t window = 0;
    if (status == Success && type == XA_WINDOW && format == 32 && count == 1)
        window = static_cast<uintptr_t>(*reinterpret_cast<const Window*>(data));
    if (data) XFree(data);
    return window;
}

void activate(uintptr_t window) {
    Display* display = qtDisplay();
    if (!display || window == 0) return;
    sendToRoot(display, static_cast<Window>(window), atom(display, "_NET_ACTIVE_WINDOW"),
               {kSourcePager, CurrentTime, 0, 0, 0});
    XFlush(display);
}

}  // namespace quorvel::x11
