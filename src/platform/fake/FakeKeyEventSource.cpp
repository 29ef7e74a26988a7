#include "platform/fake/FakeKeyEventSource.h"

#include <utility>

namespace quorvel {

bool FakeKeyEventSource::start(Handler handler) {
    if (!available_ || handler_ || !handler) return false;
    handler_ = std::move(handler);
    ++startCount_;
    return true;
}

void FakeKeyEventSource::stop() {
    if (!handler_) return;
    handler_ = nullptr;
    ++stopCount_;
}

bool FakeKeyEventSource::play(const KeyEvent& event) {
    if (!handler_) return false;
    played_.push_back(event);
    handler_(event);
    return true;
}

bool FakeKeyEventSource::keyDown(int64_t keyCode, uint64_t flags) {
    return play({KeyEvent::Type::keyDown, keyCode, flags});
}

bool FakeKeyEventSource::flagsChanged(uint64_t flags, int64_t keyCode) {
    return play({KeyEvent::Type::flagsChanged, keyCode, flags});
}

}  // namespace quorvel
