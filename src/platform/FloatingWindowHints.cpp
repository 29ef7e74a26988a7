#include "platform/FloatingWindowHints.h"

#include <QGuiApplication>
#include <QWindow>

#include "platform/x11/X11WindowHints.h"

namespace quorvel::FloatingWindowHints {

namespace {
bool onX11() { return QGuiApplication::platformName() == QLatin1String("xcb"); }
}  // namespace

void apply(QWindow& window, bool taskbarEntry) {
    if (onX11()) x11::applyFloatingHints(window.winId(), taskbarEntry);
}

bool compositorActive() { return onX11() && x11::compositorActive(); }

uintptr_t activeWindow() { return onX11() ? x11::activeWindow() : 0; }

void activate(uintptr_t window) {
    if (onX11()) x11::activate(window);
}

}  // namespace quorvel::FloatingWindowHints
