#pragma once
// Which windows got our synthetic key events, and whether they have read them. A client
// translates a queued key event with the keymap it fetches when it gets to the event, so a spare
// keycode may only get another keysym once every window that received events of it has read
// them. The proof is a `_NET_WM_PING` round trip: a client answers it in order with its other
// events. A window that is gone has nothing left to read; a client that does not answer pings
// (or not in time) proves nothing. Not thread-safe: the caller serialises the display.

#include <chrono>
#include <cstdint>
#include <vector>

struct _XDisplay;
union _XEvent;

namespace quorvel {

class X11KeyReceipts {
public:
    enum class Receipt { read, gone, unknown };

    // After key events went out (inside the server grab that sent them): the window they went
    // to, which is remembered as having unread events. 0 when they went nowhere.
    unsigned long noteKeysSent(_XDisplay* display);
    // Proves that `window` has read everything sent to it so far, waiting at most `limit` for
    // its answer. On `read` and `gone` it is forgotten.
    Receipt prove(_XDisplay* display, unsigned long window, std::chrono::milliseconds limit);
    // Forgets the windows that are gone (a cheap round trip each, no waiting).
    void forgetGoneWindows(_XDisplay* display);
    bool unread(unsigned long window) const;
    unsigned long latestWindow() const { return latest_; }  // where the latest keys went
    const std::vector<unsigned long>& unreadWindows() const { return unread_; }

private:
    void forget(unsigned long window);
    bool pingAnswered(_XDisplay* display, unsigned long client, std::chrono::milliseconds limit);
    void noteEvent(const _XEvent& event);
    void drainEvents(_XDisplay* display);  // reads what came in, noting windows destroyed

    std::vector<unsigned long> unread_;
    unsigned long latest_ = 0;
    std::uint32_t pingStamp_ = 0;
};

}  // namespace quorvel
