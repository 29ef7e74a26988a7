#include "platform/x11/X11TextInjector.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <thread>

#include "platform/OwnKeyEvents.h"

namespace quorvel {
namespace {

constexpr std::size_t kMaxSlots = 64;
// Idle time after the last typing before the spare keycodes are emptied again.
constexpr int kClearDelayMs = 10000;
// A keycode used by an earlier typing is remapped only this long after its last key event.
constexpr auto kReuseAfter = std::chrono::seconds(3);
// Between typed characters: lets the target keep up and the caller's checks run.
constexpr auto kCharacterPause = std::chrono::milliseconds(3);
constexpr int kModifierRechecks = 3;

}  // namespace

X11TextInjector::X11TextInjector() {
    clearTimer_.setSingleShot(true);
    clearTimer_.setInterval(kClearDelayMs);
    QObject::connect(&clearTimer_, &QTimer::timeout, [this] { clearSpareKeycodes(); });
}

X11TextInjector::~X11TextInjector() { clearSpareKeycodes(); }

bool X11TextInjector::available() {
    std::lock_guard lock(mutex_);
    Display* display = display_.get();
    if (!display) return false;
    int event = 0, error = 0, major = 0, minor = 0;
    return XTestQueryExtension(display, &event, &error, &major, &minor) == True;
}

bool X11TextInjector::modifiersHeld() {
    std::lock_guard lock(mutex_);
    return display_.anyModifierHeld();
}

// Press and release in one request batch: there is no moment at which the key is down and we
// could be killed before letting go.
void X11TextInjector::tap(unsigned char keycode) {
    Display* display = display_.get();
    const ownKeyEvents::Scope ours;
    XTestFakeKeyEvent(display, keycode, True, CurrentTime);
    XTestFakeKeyEvent(display, keycode, False, CurrentTime);
    XSync(display, False);
}

bool X11TextInjector::postPasteShortcut(bool withShift) {
    if (!available()) return false;
    std::lock_guard lock(mutex_);
    Display* display = display_.get();
    const KeyCode control = XKeysymToKeycode(display, XK_Control_L);
    const KeyCode shift = XKeysymToKeycode(display, XK_Shift_L);
    const KeyCode v = XKeysymToKeycode(display, XK_v);
    if (control == 0 || v == 0 || (withShift && shift == 0)) return false;
    const ownKeyEvents::Scope ours;
    XTestFakeKeyEvent(display, control, True, CurrentTime);
    if (withShift) XTestFakeKeyEvent(display, shift, True, CurrentTime);
    XTestFakeKeyEvent(display, v, True, CurrentTime);
    XTestFakeKeyEvent(display, v, False, CurrentTime);
    if (withShift) XTestFakeKeyEvent(display, shift, False, CurrentTime);
    XTestFakeKeyEvent(display, control, False, CurrentTime);
    XSync(display, False);
    return true;
}

bool X11TextInjector::postReturn() {
    if (!available()) return false;
    std::lock_guard lock(mutex_);
    const KeyCode code = XKeysymToKeycode(display_.get(), XK_Return);
    if (code == 0) return false;
    tap(code);
    return true;
}

unsigned long X11TextInjector::keysymFor(char32_t scalar) {
    if (scalar == U'\n' || scalar == U'\r') return XK_Return;
    if (scalar == U'\t') return XK_Tab;
    if (scalar < 0x20 || (scalar >= 0x7F && scalar < 0xA0)) return NoSymbol;
    if (scalar >= 0xD800 && scalar <= 0xDFFF) return NoSymbol;
    if (scalar > 0x10FFFF) return NoSymbol;
    if (scalar <= 0xFF) return scalar;
    return 0x01000000UL + scalar;
}

void X11TextInjector::findSpareKeycodes() {
    spareKeycodesSearched_ = true;
    Display* display = display_.get();
    int minCode = 0, maxCode = 0, perCode = 0;
    XDisplayKeycodes(display, &minCode, &maxCode);
    KeySym* map = XGetKeyboardMapping(display, static_cast<KeyCode>(minCode),
                                      maxCode - minCode + 1, &perCode);
    if (!map) return;
    // From the top: the highest keycodes are the least likely to be on a real keyboard.
    for (int code = maxCode; code >= minCode && slots_.size() < kMaxSlots; --code) {
        const KeySym* syms = map + static_cast<ptrdiff_t>(code - minCode) * perCode;
        bool empty = true;
        for (int i = 0; i < perCode && empty; ++i) empty = syms[i] == NoSymbol;
        if (empty) slots_.push_back({static_cast<unsigned char>(code), NoSymbol, {}});
    }
    XFree(map);
}

X11TextInjector::Slot* X11TextInjector::slotFor(unsigned long keysym) {
    for (Slot& slot : slots_)
        if (slot.keysym == keysym) return &slot;
    // An empty keycode, else the one unused longest, if that was long enough ago.
    Slot* best = nullptr;
    const auto reusable = Clock::now() - kReuseAfter;
    for (Slot& slot : slots_) {
        if (slot.inUse || (slot.keysym != NoSymbol && slot.lastUsed > reusable)) continue;
        if (!best || slot.keysym == NoSymbol || (best->keysym != NoSymbol && slot.lastUsed < best->lastUsed))
            best = &slot;
        if (best->keysym == NoSymbol) break;
    }
    if (!best) return nullptr;
    KeySym syms[2] = {keysym, keysym};  // the same character with and without Shift
    XChangeKeyboardMapping(display_.get(), best->keycode, 2, syms, 1);
    best->keysym = keysym;
    return best;
}

std::size_t X11TextInjector::planTyping(const std::u32string& text, std::vector<unsigned char>& keycodes) {
    std::size_t covered = 0;
    for (char32_t scalar : text) {
        const unsigned long keysym = keysymFor(scalar);
        if (keysym == NoSymbol) {
            keycodes.push_back(0);
        } else {
            Slot* slot = slotFor(keysym);
            if (!slot) break;
            slot->inUse = true;
            keycodes.push_back(slot->keycode);
        }
        ++covered;
    }
    XSync(display_.get(), False);
    return covered;
}

void X11TextInjector::releaseSlots() {
    const auto now = Clock::now();
    for (Slot& slot : slots_) {
        if (slot.inUse) slot.lastUsed = now;
        slot.inUse = false;
    }
}

std::size_t X11TextInjector::typeText(const std::u32string& text, const std::function<bool()>& beforeEach) {
    if (!available()) return 0;
    std::vector<unsigned char> keycodes;
    std::size_t covered = 0;
    bool capsWasOn = false;
    {
        std::lock_guard lock(mutex_);
        if (!spareKeycodesSearched_) findSpareKeycodes();
        if (slots_.empty()) return 0;
        covered = planTyping(text, keycodes);
        capsWasOn = capsLockOn();
        if (capsWasOn) setCapsLock(false);
    }
    QMetaObject::invokeMethod(&clearTimer_, qOverload<>(&QTimer::stop), Qt::QueuedConnection);

    std::size_t done = 0;
    while (done < covered && beforeEach()) {
        if (keycodes[done] != 0 && !tapWithoutModifiers(keycodes[done], beforeEach)) break;
        ++done;
        std::this_thread::sleep_for(kCharacterPause);
    }

    std::lock_guard lock(mutex_);
    // Key events already generated carry the state they were made with: locking again now
    // cannot change them.
    if (capsWasOn) setCapsLock(true);
    releaseSlots();
    QMetaObject::invokeMethod(&clearTimer_, qOverload<>(&QTimer::start), Qt::QueuedConnection);
    return done;
}

// A modifier pressed between the caller's check and our key would turn the character into a
// shortcut: check again with the server grabbed, so nothing can come between. After a few tries
// (the caller stopped waiting) the character goes out anyway. False when the caller stops.
bool X11TextInjector::tapWithoutModifiers(unsigned char keycode, const std::function<bool()>& wait) {
    for (int attempt = 0;; ++attempt) {
        {
            std::lock_guard lock(mutex_);
            Display* display = display_.get();
            XGrabServer(display);
            const bool free = attempt >= kModifierRechecks || !display_.anyModifierHeld();
            if (free) tap(keycode);
            XUngrabServer(display);
            XSync(display, False);
            if (free) return true;
        }
        if (!wait()) return false;
    }
}

bool X11TextInjector::capsLockOn() {
    XkbStateRec state{};
    if (XkbGetState(display_.get(), XkbUseCoreKbd, &state) != Success) return false;
    return (state.locked_mods & LockMask) != 0;
}

void X11TextInjector::setCapsLock(bool on) {
    XkbLockModifiers(display_.get(), XkbUseCoreKbd, LockMask, on ? LockMask : 0);
    XSync(display_.get(), False);
}

void X11TextInjector::clearSpareKeycodes() {
    std::lock_guard lock(mutex_);
    Display* display = display_.get();
    if (!display) return;
    bool changed = false;
    for (Slot& slot : slots_) {
        if (slot.keysym == NoSymbol || slot.inUse) continue;
        KeySym none[1] = {NoSymbol};
        XChangeKeyboardMapping(display, slot.keycode, 1, none, 1);
        slot.keysym = NoSymbol;
        changed = true;
    }
    if (changed) XSync(display, False);
}

}  // namespace quorvel
