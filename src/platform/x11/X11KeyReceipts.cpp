#include "platform/x11/X11KeyReceipts.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>

#include <algorithm>

namespace quorvel {
namespace {

using Clock = std::chrono::steady_clock;

struct PingTarget {
    bool gone = false;
    Window window = None;  // the client's top-level, when it answers pings
};

// The nearest window (the focus itself or an ancestor) that lists its WM protocols: the client's
// top-level. It answers pings only when it lists _NET_WM_PING.
PingTarget pingTargetFor(Display* display, Window focus) {
    const Atom ping = XInternAtom(display, "_NET_WM_PING", False);
    for (Window current = focus;;) {
        Atom* protocols = nullptr;
        int count = 0;
        if (XGetWMProtocols(display, current, &protocols, &count)) {
            const bool answers = std::find(protocols, protocols + count, ping) != protocols + count;
            XFree(protocols);
            return {false, answers ? current : None};
        }
        Window root = None, parent = None, *children = nullptr;
        unsigned count2 = 0;
        if (!XQueryTree(display, current, &root, &parent, &children, &count2)) return {true, None};
        if (children) XFree(children);
        if (parent == None || parent == root) return {};
        current = parent;
    }
}

bool isPingReply(const XEvent& event, Atom protocols, Atom ping, Window client, long stamp) {
    if (event.type != ClientMessage || event.xclient.message_type != protocols || event.xclient.format != 32)
        return false;
    const long* data = event.xclient.data.l;
    return static_cast<Atom>(data[0]) == ping && data[1] == stamp && static_cast<Window>(data[2]) == client;
}

}  // namespace

// The client sends its answer to the root window, where we listen for it meanwhile (with both
// masks clients use for it: Qt sends it for StructureNotify, others for SubstructureNotify).
bool X11KeyReceipts::pingAnswered(Display* display, unsigned long client, std::chrono::milliseconds limit) {
    const long stamp = ++pingStamp_;
    const Window root = DefaultRootWindow(display);
    const Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
    const Atom ping = XInternAtom(display, "_NET_WM_PING", False);
    XSelectInput(display, root, SubstructureNotifyMask | StructureNotifyMask);
    XEvent request{};
    request.xclient.type = ClientMessage;
    request.xclient.window = client;
    request.xclient.message_type = protocols;
    request.xclient.format = 32;
    request.xclient.data.l[0] = static_cast<long>(ping);
    request.xclient.data.l[1] = stamp;
    request.xclient.data.l[2] = static_cast<long>(client);
    XSendEvent(display, client, False, NoEventMask, &request);
    XFlush(display);

    const auto deadline = Clock::now() + limit;
    bool answered = false;
    while (!answered) {
        while (!answered && XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            answered = isPingReply(event, protocols, ping, client, stamp);
            if (!answered) noteEvent(event);
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (answered || left.count() <= 0) break;
        pollfd connection{ConnectionNumber(display), POLLIN, 0};
        poll(&connection, 1, static_cast<int>(left.count()) + 1);
    }
    XSelectInput(display, root, NoEventMask);
    drainEvents(display);
    return answered;
}

void X11KeyReceipts::noteEvent(const _XEvent& event) {
    if (event.type == DestroyNotify) forget(event.xdestroywindow.window);
}

void X11KeyReceipts::drainEvents(Display* display) {
    XSync(display, False);
    while (XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        noteEvent(event);
    }
}

unsigned long X11KeyReceipts::noteKeysSent(Display* display) {
    Window focus = None;
    int revert = 0;
    XGetInputFocus(display, &focus, &revert);
    latest_ = focus;
    if (focus == None) return None;
    // With the pointer-root focus the keys went to whatever is under the pointer: the root stands
    // for that, and it never proves anything.
    if (focus == PointerRoot) focus = DefaultRootWindow(display);
    latest_ = focus;
    if (unread(focus)) return focus;
    unread_.push_back(focus);
    // Its destruction tells us it is gone even when a new window gets its id right after.
    if (focus != DefaultRootWindow(display)) XSelectInput(display, focus, StructureNotifyMask);
    return focus;
}

X11KeyReceipts::Receipt X11KeyReceipts::prove(Display* display, unsigned long window,
                                              std::chrono::milliseconds limit) {
    if (!unread(window)) return Receipt::read;
    const PingTarget target = pingTargetFor(display, window);
    if (target.gone) {
        forget(window);
        return Receipt::gone;
    }
    if (target.window == None || !pingAnswered(display, target.window, limit))
        return Receipt::unknown;
    forget(window);
    return Receipt::read;
}

void X11KeyReceipts::forgetGoneWindows(Display* display) {
    drainEvents(display);
    const std::vector<unsigned long> windows = unread_;
    for (unsigned long window : windows) {
        XWindowAttributes attributes;
        if (!XGetWindowAttributes(display, window, &attributes)) forget(window);
    }
}

bool X11KeyReceipts::unread(unsigned long window) const {
    return std::find(unread_.begin(), unread_.end(), window) != unread_.end();
}

void X11KeyReceipts::forget(unsigned long window) {
    unread_.erase(std::remove(unread_.begin(), unread_.end(), window), unread_.end());
}

}  // namespace quorvel
