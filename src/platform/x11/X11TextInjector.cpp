#include "platform/x11/X11TextInjector.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <chrono>
#include <thread>

namespace quorvel {
namespace {

constexpr size_t kMaxSlots = 16;
constexpr int kClearDelayMs = 1000;

void sleepMs(int ms) {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace

X11TextInjector::X11TextInjector() {
    clearTimer_.setSingleShot(true);
    clearTimer_.setInterval(kClearDelayMs);
    QObject::connect(&clearTimer_, &QTimer::timeout, [this] { clearSpareKeycodes(); });
}

X11TextInjector::~X11TextInjector() { clearSpareKeycodes(); }

bool X11TextInjector::available() {
    Display* display = display_.get();
    if (!display) return false;
    int event = 0, error = 0, major = 0, minor = 0;
    return XTestQueryExtension(display, &event, &error, &major, &minor) == True;
}

bool X11TextInjector::modifiersHeld() { return display_.anyModifierHeld(); }

void X11TextInjector::tap(unsigned char keycode, int holdMs, int pauseMs) {
    Display* display = display_.get();
    XTestFakeKeyEvent(display, keycode, True, CurrentTime);
    XFlush(display);
    sleepMs(holdMs);
    XTestFakeKeyEvent(display, keycode, False, CurrentTime);
    XSync(display, False);
    sleepMs(pauseMs);
}

bool X11TextInjector::postPasteShortcut(bool withShift) {
    if (!available()) return false;
    Display* display = display_.get();
    const KeyCode control = XKeysymToKeycode(display, XK_Control_L);
    const KeyCode shift = XKeysymToKeycode(display, XK_Shift_L);
    const KeyCode v = XKeysymToKeycode(display, XK_v);
    if (control == 0 || v == 0 || (withShift && shift == 0)) return false;
    XTestFakeKeyEvent(display, control, True, CurrentTime);
    if (withShift) XTestFakeKeyEvent(display, shift, True, CurrentTime);
    tap(v, 20, 0);
    if (withShift) XTestFakeKeyEvent(display, shift, False, CurrentTime);
    XTestFakeKeyEvent(display, control, False, CurrentTime);
    XSync(display, False);
    return true;
}

bool X11TextInjector::postReturn() {
    if (!available()) return false;
    const KeyCode code = XKeysymToKeycode(display_.get(), XK_Return);
    if (code == 0) return false;
    tap(code, 15, 0);
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
        if (empty) slots_.push_back({static_cast<unsigned char>(code), NoSymbol});
    }
    XFree(map);
}

unsigned char X11TextInjector::keycodeFor(unsigned long keysym) {
    for (const Slot& slot : slots_)
        if (slot.keysym == keysym) return slot.keycode;
    Slot& slot = slots_[nextSlot_ % slots_.size()];
    ++nextSlot_;
    KeySym syms[2] = {keysym, keysym};  // the same character with and without Shift
    XChangeKeyboardMapping(display_.get(), slot.keycode, 2, syms, 1);
    XSync(display_.get(), False);
    slot.keysym = keysym;
    return slot.keycode;
}

bool X11TextInjector::typeText(const std::u32string& text) {
    if (!available()) return false;
    if (slots_.empty()) findSpareKeycodes();
    if (slots_.empty()) return false;
    clearTimer_.stop();
    for (char32_t scalar : text) {
        const unsigned long keysym = keysymFor(scalar);
        if (keysym == NoSymbol) continue;
        tap(keycodeFor(keysym), 8, 2);
    }
    clearTimer_.start();
    return true;
}

void X11TextInjector::clearSpareKeycodes() {
    Display* display = display_.get();
    if (!display) return;
    bool changed = false;
    for (Slot& slot : slots_) {
        if (slot.keysym == NoSymbol) continue;
        KeySym none[1] = {NoSymbol};
        XChangeKeyboardMapping(display, slot.keycode, 1, none, 1);
        slot.keysym = NoSymbol;
        changed = true;
    }
    if (changed) XSync(display, False);
}

}  // namespace quorvel
