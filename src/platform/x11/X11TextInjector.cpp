#include "platform/x11/X11TextInjector.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <thread>

#include "platform/OwnKeyEvents.h"

namespace quorvel {
namespace {

constexpr std::size_t kMaxSlots = 64;
// Idle time after the last typing before spare keycodes whose events were read are emptied
// (tried again at this interval while some stay mapped).
constexpr int kClearDelayMs = 10000;
// How long a window gets to answer that it has read our keys: longer than a busy moment of a
// live target, short enough that a stopped one soon gets the rest pasted instead.
constexpr auto kProofWait = std::chrono::milliseconds(1000);
// Between typed characters: lets the target keep up and the caller's checks run.
constexpr auto kCharacterPause = std::chrono::milliseconds(3);
constexpr int kModifierRechecks = 3;
// After a keycode got another keysym, before its key: some toolkits (Tk) translate the keys they
// read together with the keymap notice before they handle that notice.
constexpr auto kRemapSettle = std::chrono::milliseconds(30);

}  // namespace

X11TextInjector::X11TextInjector() {
    clearTimer_.setSingleShot(true);
    clearTimer_.setInterval(kClearDelayMs);
    QObject::connect(&clearTimer_, &QTimer::timeout, [this] { clearSettledSlots(false); });
}

// At exit the keymap is put back whatever the targets still have queued.
X11TextInjector::~X11TextInjector() { clearSettledSlots(true); }

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
    return withShift ? postChord({XK_Control_L, XK_Shift_L}, XK_v) : postChord({XK_Control_L}, XK_v);
}

bool X11TextInjector::postInsertSelection() { return postChord({XK_Shift_L}, XK_Insert); }

bool X11TextInjector::postReturn() { return postChord({}, XK_Return); }

// Modifiers down, the key tapped, modifiers up, all in one batch (no key can stay down).
bool X11TextInjector::postChord(std::initializer_list<unsigned long> modifiers, unsigned long key) {
    if (!available()) return false;
    std::lock_guard lock(mutex_);
    Display* display = display_.get();
    std::vector<KeyCode> held;
    for (unsigned long modifier : modifiers) held.push_back(XKeysymToKeycode(display, modifier));
    const KeyCode code = XKeysymToKeycode(display, key);
    if (code == 0 || std::find(held.begin(), held.end(), 0) != held.end()) return false;
    const ownKeyEvents::Scope ours;
    for (KeyCode modifier : held) XTestFakeKeyEvent(display, modifier, True, CurrentTime);
    XTestFakeKeyEvent(display, code, True, CurrentTime);
    XTestFakeKeyEvent(display, code, False, CurrentTime);
    for (auto it = held.rbegin(); it != held.rend(); ++it) XTestFakeKeyEvent(display, *it, False, CurrentTime);
    XSync(display, False);
    receipts_.noteKeysSent(display);
    return true;
}

bool X11TextInjector::latestKeysRead() {
    if (!available()) return false;
    std::lock_guard lock(mutex_);
    const unsigned long window = receipts_.latestWindow();
    return window == 0 || receipts_.prove(display_.get(), window, kProofWait) != X11KeyReceipts::Receipt::unknown;
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
        if (empty) slots_.push_back({static_cast<unsigned char>(code), NoSymbol, 0, {}});
    }
    XFree(map);
}

X11TextInjector::Slot* X11TextInjector::slotFor(unsigned long keysym, bool& remapped) {
    remapped = false;
    for (Slot& slot : slots_)
        if (slot.keysym == keysym) return &slot;
    Slot* slot = settledSlot();
    if (!slot) return nullptr;
    remapped = true;
    KeySym syms[2] = {keysym, keysym};  // the same character with and without Shift
    XChangeKeyboardMapping(display_.get(), slot->keycode, 2, syms, 1);
    XSync(display_.get(), False);
    slot->keysym = keysym;
    return slot;
}

// An empty slot, else the one unused longest among those whose events are all read.
X11TextInjector::Slot* X11TextInjector::settledSlot() {
    Slot* best = nullptr;
    for (Slot& slot : slots_) {
        if (slot.reserved) continue;
        if (slot.keysym == NoSymbol) return &slot;
        if (settled(slot) && (!best || slot.lastTap < best->lastTap)) best = &slot;
    }
    return best;
}

// Asks the windows that got keys of our slots whether they have read them (stopping at the first
// that cannot say, so a stalled one costs one wait); true when some slot is free now.
bool X11TextInjector::proveSlotsRead() {
    std::vector<unsigned long> windows;
    for (const Slot& slot : slots_)
        for (unsigned long window : slot.sentTo)
            if (std::find(windows.begin(), windows.end(), window) == windows.end()) windows.push_back(window);
    for (unsigned long window : windows)
        if (receipts_.prove(display_.get(), window, kProofWait) == X11KeyReceipts::Receipt::unknown) break;
    return settledSlot() != nullptr;
}

// Maps the text's characters onto free slots before its first key: one pause then lets the
// target take in the new keymap for all of them.
bool X11TextInjector::mapAhead(const std::u32string& text) {
    bool any = false;
    for (char32_t scalar : text) {
        const unsigned long keysym = keysymFor(scalar);
        if (keysym == NoSymbol) continue;
        bool remapped = false;
        Slot* slot = slotFor(keysym, remapped);
        if (!slot) break;
        slot->reserved = true;
        any = any || remapped;
    }
    return any;
}

bool X11TextInjector::settled(Slot& slot) {
    std::erase_if(slot.sentTo, [this](unsigned long window) { return !receipts_.unread(window); });
    return slot.sentTo.empty();
}

std::size_t X11TextInjector::typeText(const std::u32string& text, const std::function<bool()>& beforeEach) {
    if (!available()) return 0;
    bool capsWasOn = false, remappedAhead = false;
    {
        std::lock_guard lock(mutex_);
        if (!spareKeycodesSearched_) findSpareKeycodes();
        if (slots_.empty()) return 0;
        // Now, before a new window can get the id of one that closed since.
        receipts_.forgetGoneWindows(display_.get());
        typing_ = true;
        remappedAhead = mapAhead(text);
        capsWasOn = capsLockOn();
        if (capsWasOn) setCapsLock(false);
    }
    QMetaObject::invokeMethod(&clearTimer_, qOverload<>(&QTimer::stop), Qt::QueuedConnection);
    if (remappedAhead) std::this_thread::sleep_for(kRemapSettle);

    std::size_t done = 0;
    for (; done < text.size() && beforeEach(); ++done) {
        const unsigned long keysym = keysymFor(text[done]);
        if (keysym == NoSymbol) continue;
        Slot* slot = nullptr;
        bool remapped = false;
        {
            std::lock_guard lock(mutex_);
            slot = slotFor(keysym, remapped);
            if (!slot && proveSlotsRead()) {
                remapped = mapAhead(text.substr(done));
                bool again = false;
                slot = slotFor(keysym, again);
            }
        }
        if (remapped) std::this_thread::sleep_for(kRemapSettle);
        if (!slot || !tapWithoutModifiers(*slot, beforeEach)) break;
        std::this_thread::sleep_for(kCharacterPause);
    }

    std::lock_guard lock(mutex_);
    // Key events already generated carry the state they were made with: locking again now
    // cannot change them.
    if (capsWasOn) setCapsLock(true);
    typing_ = false;
    for (Slot& slot : slots_) slot.reserved = false;
    QMetaObject::invokeMethod(&clearTimer_, qOverload<>(&QTimer::start), Qt::QueuedConnection);
    return done;
}

// A modifier pressed between the caller's check and our key would turn the character into a
// shortcut: check again with the server grabbed, so nothing can come between (the focus either,
// so we know where the key went). After a few tries (the caller stopped waiting) the character
// goes out anyway. False when the caller stops.
bool X11TextInjector::tapWithoutModifiers(Slot& slot, const std::function<bool()>& wait) {
    for (int attempt = 0;; ++attempt) {
        {
            std::lock_guard lock(mutex_);
            Display* display = display_.get();
            XGrabServer(display);
            const bool free = attempt >= kModifierRechecks || !display_.anyModifierHeld();
            if (free) {
                tap(slot.keycode);
                slot.lastTap = ++taps_;
                slot.reserved = false;
                const unsigned long window = receipts_.noteKeysSent(display);
                if (window != 0 && std::find(slot.sentTo.begin(), slot.sentTo.end(), window) == slot.sentTo.end())
                    slot.sentTo.push_back(window);
            }
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

void X11TextInjector::clearSettledSlots(bool all) {
    std::lock_guard lock(mutex_);
    Display* display = display_.get();
    if (!display || (typing_ && !all)) return;
    if (!all) receipts_.forgetGoneWindows(display);
    bool changed = false, kept = false;
    for (Slot& slot : slots_) {
        if (slot.keysym == NoSymbol) continue;
        if (!all && !settled(slot)) {
            kept = true;
            continue;
        }
        KeySym none[1] = {NoSymbol};
        XChangeKeyboardMapping(display, slot.keycode, 1, none, 1);
        slot.keysym = NoSymbol;
        changed = true;
    }
    if (changed) XSync(display, False);
    if (kept) clearTimer_.start();
}

}  // namespace quorvel
