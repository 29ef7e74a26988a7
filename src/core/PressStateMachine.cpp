#include "core/PressStateMachine.h"

namespace quorvel {

using Action = PressStateMachine::Action;
using Context = PressStateMachine::Context;
using State = PressStateMachine::State;

Action PressStateMachine::onRightCommandDown() {
    if (state_.isIdle()) {
        // Every recording starts as push-to-talk; the first release decides what it becomes.
        state_ = State::recording(Context::push);
        return Action::startRecording(Context::push);
    }
    if (state_.context() == Context::toggle) {
        state_ = State::idle();
        return Action::stopAndTranscribe();
    }
    return Action::none();  // key repeat of the down report while held
}

Action PressStateMachine::onRightCommandUp(double pressDuration, bool tapEnabled, bool holdEnabled) {
    // Only the release that ends the first press of a push recording means anything; the release
    // after a toggle-stopping press finds the machine idle.
    if (state_.context() != Context::push) return Action::none();
    if (classifyPress(pressDuration, tapThreshold_) == PressKind::tap) {
        if (tapEnabled) {
            state_ = State::recording(Context::toggle);
            return Action::becameToggle();
        }
        state_ = State::idle();
        return Action::cancel();
    }
    if (holdEnabled) {
        state_ = State::idle();
        return Action::stopAndTranscribe();
    }
    state_ = State::recording(Context::toggle);
    return Action::becameToggle();
}

Action PressStateMachine::onEscape() {
    if (state_.isIdle()) return Action::none();
    state_ = State::idle();
    return Action::cancel();
}

Action PressStateMachine::onTimeout() {
    if (state_.isIdle()) return Action::none();
    state_ = State::idle();
    return Action::stopAndTranscribe();
}

Action PressStateMachine::reset() {
    if (state_.isIdle()) return Action::none();
    state_ = State::idle();
    return Action::cancel();
}

PressStateMachine::PressKind PressStateMachine::classifyPress(double duration, double threshold) {
    return duration < threshold ? PressKind::tap : PressKind::hold;
}

}  // namespace quorvel
