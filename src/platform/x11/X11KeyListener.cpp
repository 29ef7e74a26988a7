#include "platform/x11/X11KeyListener.h"

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/x11/X11KeyMap.h"
#include "services/Log.h"

namespace quorvel {
namespace {

constexpr const char* kXtestKeyboardName = "Virtual core XTEST keyboard";

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

}  // namespace

struct X11KeyListener::Impl {
    Display* display = nullptr;
    Mode mode = Mode::rawEvents;
    int pollMillis = 10;
    int xiOpcode = 0;
    int ignoredSource = -1;
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
            if (ignoredSource < 0 || raw->sourceid != ignoredSource) {
                const auto keycode = static_cast<unsigned>(raw->detail);
                if (cookie->evtype == XI_RawKeyPress) deliver(keyMap.press(keycode));
                if (cookie->evtype == XI_RawKeyRelease) deliver(keyMap.release(keycode));
            }
            XFreeEventData(display, cookie);
        }
    }

    void pollKeymap() {
        X11KeyMap::KeyBitmap now{};
        XQueryKeymap(display, reinterpret_cast<char*>(now.data()));
        if (connectionLost) return;  // reported by run()
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
        if (options_.ignoreSynthetic) impl->ignoredSource = xtestKeyboardId(impl->display);
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
