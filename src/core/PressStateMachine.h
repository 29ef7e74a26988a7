#pragma once
// What a press and a release of the record key mean. One key serves two styles: holding it
// records while held (push-to-talk); a short tap starts a hands-free recording that the next
// press stops (toggle). The machine never reads a clock: the caller measures press durations.
// Main thread only; no locking.

#include <cstddef>
#include <functional>
#include <optional>

namespace quorvel {

class PressStateMachine {
public:
    // How the current recording was started and will be ended.
    enum class Context { push, toggle };
    enum class PressKind { tap, hold };

    // recording(Context) or idle.
    class State {
    public:
        static State recording(Context context) { return State(context); }
        static State idle() { return State(std::nullopt); }
        bool isIdle() const { return !context_; }
        std::optional<Context> context() const { return context_; }
        friend bool operator==(const State&, const State&) = default;

    private:
        explicit State(std::optional<Context> context) : context_(context) {}
        std::optional<Context> context_;  // nothing when idle
    };

    class Action {
    public:
        enum class Kind { startRecording, none, becameToggle, stopAndTranscribe, cancel };
        static Action startRecording(Context context) { return Action(Kind::startRecording, context); }
        static Action none() { return Action(Kind::none, std::nullopt); }
        static Action becameToggle() { return Action(Kind::becameToggle, std::nullopt); }
        static Action stopAndTranscribe() { return Action(Kind::stopAndTranscribe, std::nullopt); }
        static Action cancel() { return Action(Kind::cancel, std::nullopt); }
        Kind kind() const { return kind_; }
        // The context of startRecording; nothing for the other actions.
        std::optional<Context> context() const { return context_; }
        friend bool operator==(const Action&, const Action&) = default;

    private:
        Action(Kind kind, std::optional<Context> context) : kind_(kind), context_(context) {}
        Kind kind_;
        std::optional<Context> context_;
    };

    // The controller uses 0.3 s.
    explicit PressStateMachine(double tapThreshold) : tapThreshold_(tapThreshold) {}

    // The record key went down (also a menu "start" or a mode shortcut).
    Action onRightCommandDown();
    // The record key went up after `pressDuration` seconds.
    Action onRightCommandUp(double pressDuration, bool tapEnabled, bool holdEnabled);
    Action onEscape();
    Action onTimeout();
    // Forces the machine back to idle; a running recording is cancelled.
    Action reset();

    // A release earlier than the threshold is a tap; anything else (NaN included) is a hold.
    static PressKind classifyPress(double duration, double threshold);

    bool isRecording() const { return !state_.isIdle(); }
    std::optional<Context> context() const { return state_.context(); }
    State state() const { return state_; }
    // For the controller when it ends or cancels a recording by other means.
    void setState(State state) { state_ = state; }
    double tapThreshold() const { return tapThreshold_; }

private:
    State state_ = State::idle();
    const double tapThreshold_;
};

}  // namespace quorvel

template <>
struct std::hash<quorvel::PressStateMachine::State> {
    size_t operator()(const quorvel::PressStateMachine::State& s) const noexcept {
        const auto c = s.context();
        return c ? static_cast<size_t>(*c) + 1 : 0;
    }
};

template <>
struct std::hash<quorvel::PressStateMachine::Action> {
    size_t operator()(const quorvel::PressStateMachine::Action& a) const noexcept {
        const auto c = a.context();
        return static_cast<size_t>(a.kind()) * 3 + (c ? static_cast<size_t>(*c) + 1 : 0);
    }
};
