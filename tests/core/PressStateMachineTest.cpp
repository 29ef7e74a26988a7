#include "core/PressStateMachine.h"

#include <gtest/gtest.h>

#include <limits>

namespace quorvel {
namespace {

using Machine = PressStateMachine;
using Action = Machine::Action;
using Context = Machine::Context;
using State = Machine::State;

enum class Event { down, up, escape, timeout, reset };

struct Row {
    const char* name;
    State before;
    Event event;
    double duration;  // for up
    bool tapEnabled;
    bool holdEnabled;
    State after;
    Action action;
};

const State idle = State::idle();
const State push = State::recording(Context::push);
const State toggle = State::recording(Context::toggle);

// Every state × event of the machine, each "up" condition included.
const Row kTable[] = {
    {"idle down", idle, Event::down, 0, true, true, push, Action::startRecording(Context::push)},
    {"push down (key repeat)", push, Event::down, 0, true, true, push, Action::none()},
    {"toggle down", toggle, Event::down, 0, true, true, idle, Action::stopAndTranscribe()},
    {"idle up (the release of a press that stopped a toggle)", idle, Event::up, 0.1, true, true, idle, Action::none()},
    {"toggle up", toggle, Event::up, 0.1, true, true, toggle, Action::none()},
    {"toggle up long", toggle, Event::up, 5.0, true, true, toggle, Action::none()},
    {"push tap, tapping on", push, Event::up, 0.1, true, true, toggle, Action::becameToggle()},
    {"push tap, tapping off", push, Event::up, 0.1, false, true, idle, Action::cancel()},
    {"push hold, holding on", push, Event::up, 1.0, true, true, idle, Action::stopAndTranscribe()},
    {"push hold, holding off", push, Event::up, 2.0, true, false, toggle, Action::becameToggle()},
    {"push up at exactly the threshold is a hold", push, Event::up, 0.3, true, true, idle,
     Action::stopAndTranscribe()},
    {"push up with NaN duration is a hold", push, Event::up, std::numeric_limits<double>::quiet_NaN(), true,
     true, idle, Action::stopAndTranscribe()},
    {"push tap, both off", push, Event::up, 0.1, false, false, idle, Action::cancel()},
    {"push hold, both off", push, Event::up, 1.0, false, false, toggle, Action::becameToggle()},
    {"idle escape", idle, Event::escape, 0, true, true, idle, Action::none()},
    {"push escape", push, Event::escape, 0, true, true, idle, Action::cancel()},
    {"toggle escape", toggle, Event::escape, 0, true, true, idle, Action::cancel()},
    {"idle timeout", idle, Event::timeout, 0, true, true, idle, Action::none()},
    {"push timeout", push, Event::timeout, 0, true, true, idle, Action::stopAndTranscribe()},
    {"toggle timeout", toggle, Event::timeout, 0, true, true, idle, Action::stopAndTranscribe()},
    {"idle reset", idle, Event::reset, 0, true, true, idle, Action::none()},
    {"push reset", push, Event::reset, 0, true, true, idle, Action::cancel()},
    {"toggle reset", toggle, Event::reset, 0, true, true, idle, Action::cancel()},
};

Action fire(Machine& m, const Row& row) {
    switch (row.event) {
        case Event::down: return m.onRightCommandDown();
        case Event::up: return m.onRightCommandUp(row.duration, row.tapEnabled, row.holdEnabled);
        case Event::escape: return m.onEscape();
        case Event::timeout: return m.onTimeout();
        case Event::reset: return m.reset();
    }
    return Action::none();
}

TEST(PressStateMachine, TransitionTable) {
    // The comparisons the table relies on tell cases and contexts apart.
    ASSERT_NE(Action::startRecording(Context::push), Action::startRecording(Context::toggle));
    ASSERT_NE(Action::none(), Action::cancel());
    ASSERT_NE(push, toggle);
    ASSERT_NE(push, idle);
    for (const Row& row : kTable) {
        Machine m(0.3);
        m.setState(row.before);
        EXPECT_EQ(fire(m, row), row.action) << row.name;
        EXPECT_EQ(m.state(), row.after) << row.name;
        EXPECT_EQ(m.isRecording(), !row.after.isIdle()) << row.name;
        EXPECT_EQ(m.context(), row.after.context()) << row.name;
    }
    Machine slower(1.0);  // the threshold it was built with, not the table's
    slower.onRightCommandDown();
    EXPECT_EQ(slower.onRightCommandUp(0.5, true, true), Action::becameToggle());
}

}  // namespace
}  // namespace quorvel
