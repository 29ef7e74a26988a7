#include "platform/x11/X11KeyListener.h"

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "platform/OwnKeyEvents.h"
#include "platform/x11/X11KeyMap.h"
#include "services/Log.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

constexpr const char* kXtestKeyboardName = "Virtual core XTEST keyboard";
// How long after our insertion ended a synthetic key press still counts as ours, measured from
// when the server stamped the event: it covers the gap between the server taking our last event
// and the insertion marking the end of its burst, and the error of the age estimate below.
constexpr auto kOwnEventGrace = 300ms;

// Xlib's default error handler exits the program (for instance on a window that is already
// gone); a hot-key listener must never take the application down.
int ignoreXError(Display*, XErrorEvent*) {
    return 0;
}

// Xlib's default I/O error handler exits by itself. This one returns, so the per-connection
// exit handler decides: ours ends the listener, other connections keep Xlib's default (exit).
int returnFromIoError(Display*) {
    return 0;
}

void prepareXlib() {
    static std::once_flag once;
    std::call_once(once, [] {
        XInitThreads();
        // Keep a handler another part of the program installed; replace only Xlib's default.
        const XErrorHandler previous = XSetErrorHandler(nullptr);
        const XErrorHandler defaultHandler = XSetErrorHandler(previous);
        if (previous == defaultHandler) XSetErrorHandler(ignoreXError);
        const XIOErrorHandler previousIo = XSetIOErrorHandler(nullptr);
        const XIOErrorHandler defaultIo = XSetIOErrorHandler(previousIo);
        if (previousIo == defaultIo) XSetIOErrorHandler(returnFromIoError);
    });
}

// XInput2 with raw events that survive keyboard grabs (2.1 or later); sets the extension opcode.
bool hasRawKeyEvents(Display* display, int& opcode) {
    int event = 0;
    int error = 0;
    if (!XQueryExtension(display, "XInputExtension", &opcode, &event, &error)) return false;
    int major = 2;
    int minor = 1;
    if (XIQueryVersion(display, &major, &minor) != Success) return false;
    return major > 2 || (major == 2 && minor >= 1);
}

int xtestKeyboardId(Display* display) {
    int count = 0;
    XIDeviceInfo* devices = XIQueryDevice(display, XIAllDevices, &count);
    int id = -1;
    for (int i = 0; i < count; ++i) {
        if (devices[i].name && std::strcmp(devices[i].name, kXtestKeyboardName) == 0) id = devices[i].deviceid;
    }
    if (devices) XIFreeDeviceInfo(devices);
    return id;
}

void selectRawKeys(Display* display) {
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    for (int type : {XI_RawKeyPress, XI_RawKeyRelease}) bits[type >> 3] |= static_cast<unsigned char>(1u << (type & 7));
    XIEventMask mask;
    mask.deviceid = XIAllMasterDevices;  // all devices would report every key twice
    mask.mask_len = sizeof bits;
    mask.mask = bits;
    XISelectEvents(display, DefaultRootWindow(display), &mask, 1);
    XSync(display, False);
}

// How long ago the server stamped an event. Server time runs on the server's own clock (32-bit
// milliseconds), so the smallest gap between our clock and the stamps seen lately stands for
// "read at once", and an event's age is how far its gap exceeds that. The smallest gap is
// renewed every minute so that drift between the clocks cannot build up.
class EventAge {
public:
    std::chrono::milliseconds of(uint32_t serverTime) {
        const auto now = SteadyClock::now();
        const auto ourMillis = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch());
        const uint32_t gap = static_cast<uint32_t>(ourMillis.count()) - serverTime;
        if (now - windowStart_ >= 1min) {
            previous_ = current_;
            current_.reset();
            windowStart_ = now;
        }
        current_ = current_ ? smaller(*current_, gap) : gap;
        const uint32_t least = previous_ ? smaller(*previous_, *current_) : *current_;
        const auto age = static_cast<int32_t>(gap - least);  // modular: the stamps wrap every 49 days
        return std::chrono::milliseconds(std::clamp<int32_t>(age, 0, 10'000));
    }

private:
    static uint32_t smaller(uint32_t a, uint32_t b) { return static_cast<int32_t>(a - b) < 0 ? a : b; }

    SteadyClock::time_point windowStart_{};
    std::optional<uint32_t> current_;
    std::optional<uint32_t> previous_;
};

// Which key events of the XTest device reach the hot keys: those of other programs do, those our
// own insertion posts do not. A press is ours when our insertion was posting when the server
// stamped it. A release goes the way its press went, whenever it comes: a key whose press was
// delivered always gets its release (a dropped one would leave the record key down), and a
// dropped press never gets a release alone.
class SyntheticKeys {
public:
    bool keep(bool press, unsigned keycode, std::chrono::milliseconds age) {
        if (keycode >= 256) return true;
        if (!press) {
            if (take(delivered_, keycode)) return true;
            return !take(dropped_, keycode);
        }
        const bool ours = ownKeyEvents::active(age + kOwnEventGrace);
        set(ours ? dropped_ : delivered_, keycode);
        return !ours;
    }

private:
    static void set(X11KeyMap::KeyBitmap& keys, unsigned keycode) {
        keys[keycode / 8] = static_cast<uint8_t>(keys[keycode / 8] | (1u << (keycode % 8)));
    }
    static bool take(X11KeyMap::KeyBitmap& keys, unsigned keycode) {
        const auto bit = static_cast<uint8_t>(1u << (keycode % 8));
        const bool was = keys[keycode / 8] & bit;
        keys[keycode / 8] = static_cast<uint8_t>(keys[keycode / 8] & ~bit);
        return was;
    }

    X11KeyMap::KeyBitmap delivered_{};
    X11KeyMap::KeyBitmap dropped_{};
};

}  // namespace

struct X11KeyListener::Impl {
    Display* display = nullptr;
    Mode mode = Mode::rawEvents;
    int pollMillis = 10;
    int xiOpcode = 0;
    int xtestSource = -1;
    SyntheticKeys synthetic;
    EventAge eventAge;
    int wake[2] = {-1, -1};
    std::atomic<bool> connectionLost{false};
    Handler handler;
    X11KeyMap keyMap;
    X11KeyMap::KeyBitmap keys{};
    std::thread thread;

    ~Impl() {
        // After an I/O error Xlib may still hold the connection's lock: closing would hang,
        // so a lost connection is left as it is.
        if (display && !connectionLost) XCloseDisplay(display);
        for (int fd : wake) {
            if (fd >= 0) ::close(fd);
        }
    }

    void deliver(const std::optional<KeyEvent>& event) {
        if (event) handler(*event);
    }

    void readRawEvents() {
        while (!connectionLost && XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            XGenericEventCookie* cookie = &event.xcookie;
            if (cookie->type != GenericEvent || cookie->extension != xiOpcode) continue;
            if (!XGetEventData(display, cookie)) continue;
            const auto* raw = static_cast<const XIRawEvent*>(cookie->data);
            const bool press = cookie->evtype == XI_RawKeyPress;
            const auto keycode = static_cast<unsigned>(raw->detail);
            // Every event refines the age estimate, physical ones too.
            const auto age = eventAge.of(static_cast<uint32_t>(raw->time));
            if (raw->sourceid != xtestSource || synthetic.keep(press, keycode, age)) {
                deliver(press ? keyMap.press(keycode) : keyMap.release(keycode));
            }
            XFreeEventData(display, cookie);
        }
    }

    void pollKeymap() {
        X11KeyMap::KeyBitmap now{};
        XQueryKeymap(display, reinterpret_cast<char*>(now.data()));
        if (connectionLost) return;  // reported by run()
        // While our insertion posts keys the keymap shows them too. Keep comparing with the state
        // from before the burst: other keys that changed meanwhile are reported once it is over,
        // and a key held throughout never seems released and pressed again.
        if (ownKeyEvents::active()) return;
        for (const KeyEvent& event : keyMap.diff(keys, now)) handler(event);
        keys = now;
    }

    void run() {
        pthread_setname_np(pthread_self(), "quorvel.hotkeys");
        const bool raw = mode == Mode::rawEvents;
        for (;;) {
            if (raw) readRawEvents();
            if (connectionLost) {
                Log::warn("hot keys: connection to the X server lost, keyboard listener stopped");
                return;
            }
            pollfd fds[2] = {{wake[0], POLLIN, 0}, {ConnectionNumber(display), POLLIN, 0}};
            const int ready = ::poll(fds, raw ? 2 : 1, raw ? -1 : pollMillis);
            if (ready < 0 && errno == EINTR) continue;
            if (ready < 0 || fds[0].revents != 0) return;
            if (raw && (fds[1].revents & (POLLERR | POLLHUP | POLLNVAL)) && !(fds[1].revents & POLLIN)) return;
            if (!raw && ready == 0) pollKeymap();
        }
    }
};

X11KeyListener::X11KeyListener() : X11KeyListener(Options{}) {}

X11KeyListener::X11KeyListener(Options options) : options_(options) {}

X11KeyListener::~X11KeyListener() {
    stop();
}

bool X11KeyListener::isAvailable() {
    prepareXlib();
    Display* display = XOpenDisplay(nullptr);
    if (!display) return false;
    int opcode = 0;
    const bool available = options_.mode == Mode::polling || hasRawKeyEvents(display, opcode);
    XCloseDisplay(display);
    return available;
}

bool X11KeyListener::start(Handler handler) {
    if (impl_ || !handler) return false;
    prepareXlib();
    auto impl = std::make_unique<Impl>();
    impl->mode = options_.mode;
    impl->pollMillis = static_cast<int>(options_.pollInterval.count());
    impl->display = XOpenDisplay(nullptr);
    if (!impl->display) return false;
    // A lost server must end this thread, not the program (Xlib's default exits).
    XSetIOErrorExitHandler(
        impl->display, [](Display*, void* self) { static_cast<Impl*>(self)->connectionLost = true; }, impl.get());
    if (impl->mode == Mode::rawEvents) {
        if (!hasRawKeyEvents(impl->display, impl->xiOpcode)) return false;
        impl->xtestSource = xtestKeyboardId(impl->display);
        selectRawKeys(impl->display);
    } else {
        // Keys already held when start() returns are not news; later changes are.
        XQueryKeymap(impl->display, reinterpret_cast<char*>(impl->keys.data()));
    }
    if (::pipe2(impl->wake, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    impl->handler = std::move(handler);
    impl->thread = std::thread([raw = impl.get()] { raw->run(); });
    impl_ = std::move(impl);
    return true;
}

void X11KeyListener::stop() {
    if (!impl_) return;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(impl_->wake[1], &byte, 1);
    if (impl_->thread.joinable()) impl_->thread.join();
    impl_.reset();
}

}  // namespace quorvel
