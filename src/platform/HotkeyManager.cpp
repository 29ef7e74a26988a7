#include "platform/HotkeyManager.h"

#include <QCoreApplication>
#include <QThread>
#include <chrono>
#include <utility>

#include "services/Log.h"
#include "services/MainDispatcher.h"

namespace quorvel {

HotkeyManager::HotkeyManager(SourceFactory sources, Clock clock)
    : sources_(std::move(sources)), clock_(std::move(clock)), snapshot_(std::make_shared<const Snapshot>()) {
    if (auto* app = QCoreApplication::instance()) deliveryContext_.moveToThread(app->thread());
}

HotkeyManager::~HotkeyManager() {
    // Stop the listeners first: after this no thread touches the manager, and queued deliveries
    // die with deliveryContext_.
    if (tap_) tap_->stop();
    if (fallback_) fallback_->stop();
}

double HotkeyManager::monotonicSeconds() {
    using Seconds = std::chrono::duration<double>;
    return std::chrono::duration_cast<Seconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void HotkeyManager::setCombos(KeyCombo toggle, KeyCombo cancel, KeyCombo mode,
                              std::vector<ModeShortcut> modeShortcuts) {
    auto next = std::make_shared<Snapshot>();
    next->toggle = toggle;
    next->cancel = cancel;
    next->mode = mode;
    next->modeShortcuts = std::move(modeShortcuts);
    snapshot_.store(std::move(next));
}

bool HotkeyManager::startTap() {
    if (isListening()) return tap_ != nullptr;
    tap_ = startSource(KeySourceKind::listener);
    if (!tap_) {
        Log::error("CGEventTapCreate failed (нет Input Monitoring?)");
        return false;
    }
    Log::info("CGEventTap создан (слушаю настраиваемые хоткеи)");
    return true;
}

bool HotkeyManager::startGlobalMonitorFallback() {
    if (isListening()) return fallback_ != nullptr;
    fallback_ = startSource(KeySourceKind::polling);
    if (!fallback_) {
        Log::error("keyboard polling unavailable: global hot keys are off");
        return false;
    }
    Log::info("keyboard polling started (fallback for global hot keys)");
    return true;
}

std::unique_ptr<KeyEventSource> HotkeyManager::startSource(KeySourceKind kind) {
    auto source = sources_ ? sources_(kind) : nullptr;
    if (!source || !source->isAvailable()) return nullptr;
    if (!source->start([this](const KeyEvent& event) { handle(event); })) return nullptr;
    return source;
}

void HotkeyManager::handle(const KeyEvent& event) {
    if (event.type == KeyEvent::Type::keyDown) {
        handleKeyDown(event.keyCode, event.flags);
    } else {
        handleFlagsChanged(event.flags);
    }
}

void HotkeyManager::handleKeyDown(int64_t keyCode, uint64_t flags) {
    const auto combos = snapshot_.load();
    if (combos->cancel.matchesKeyDown(keyCode, flags)) return deliver(&HotkeyManager::onCancel);
    if (combos->mode.matchesKeyDown(keyCode, flags)) return deliver(&HotkeyManager::onChangeMode);
    for (const ModeShortcut& shortcut : combos->modeShortcuts) {
        if (shortcut.combo.matchesKeyDown(keyCode, flags)) return deliverModeShortcut(shortcut.modeId);
    }
    // The record key is never matched on key down: only a modifier-only record key acts.
}

void HotkeyManager::handleFlagsChanged(uint64_t flags) {
    const auto combos = snapshot_.load();
    if (!combos->toggle.isModifierOnly()) return;
    switch (combos->toggle.modifierState(flags)) {
        case ModifierState::noMatch: return;
        case ModifierState::down:
            if (toggleDown_) return;
            toggleDown_ = true;
            pressStart_ = clock_();
            return deliver(&HotkeyManager::onToggleDown);
        case ModifierState::released:
            if (!toggleDown_) return;
            toggleDown_ = false;
            return deliverToggleUp(clock_() - pressStart_);
    }
}

void HotkeyManager::deliver(std::function<void()> HotkeyManager::*callback) {
    MainDispatcher::dispatch(&deliveryContext_, [this, callback] {
        // A copy: the callback may replace itself or release the manager.
        if (auto call = this->*callback) call();
    });
}

void HotkeyManager::deliverToggleUp(double held) {
    MainDispatcher::dispatch(&deliveryContext_, [this, held] {
        if (auto call = onToggleUp) call(held);
    });
}

void HotkeyManager::deliverModeShortcut(std::string modeId) {
    MainDispatcher::dispatch(&deliveryContext_, [this, modeId = std::move(modeId)] {
        if (auto call = onModeShortcut) call(modeId);
    });
}

}  // namespace quorvel
