#pragma once
// A keyboard source for tests of higher layers: plays the events a test gives it, on the calling
// thread (standing in for the listener's thread), and records what was played and how it was
// started and stopped.

#include <vector>

#include "platform/KeyEventSource.h"

namespace quorvel {

class FakeKeyEventSource final : public KeyEventSource {
public:
    explicit FakeKeyEventSource(bool available = true) : available_(available) {}

    bool isAvailable() override { return available_; }
    bool start(Handler handler) override;
    void stop() override;

    // Hands the event to the handler when running; returns whether it was delivered.
    bool play(const KeyEvent& event);
    bool keyDown(int64_t keyCode, uint64_t flags);
    bool flagsChanged(uint64_t flags, int64_t keyCode = 0);

    bool isRunning() const { return static_cast<bool>(handler_); }
    int startCount() const { return startCount_; }
    int stopCount() const { return stopCount_; }
    const std::vector<KeyEvent>& played() const { return played_; }

private:
    bool available_;
    Handler handler_;
    int startCount_ = 0;
    int stopCount_ = 0;
    std::vector<KeyEvent> played_;
};

}  // namespace quorvel
