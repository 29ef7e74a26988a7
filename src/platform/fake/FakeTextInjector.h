#pragma once
// Recording stand-in for synthetic keys: remembers what would have been posted, in order, and
// lets a test decide availability, failures, how many distinct characters it can type and how
// long a modifier appears held. Called from the paster's insertion thread: read it after
// `finished`.

#include <string>
#include <vector>

#include "platform/TextInjector.h"

namespace quorvel {

class FakeTextInjector : public TextInjector {
public:
    // "paste", "paste+shift", "insert-selection", "return" or "type:" + the UTF-8 text typed.
    std::vector<std::string> events;

    bool isAvailable = true;
    bool failPaste = false;   // the shortcut's events cannot be created
    bool failReturn = false;
    bool failTyping = false;  // no event source
    std::size_t typingSlots = 1000;  // distinct characters it can type before the rest must be pasted
    bool keysRead = true;  // answer of latestKeysRead()
    int heldModifierPolls = 0;  // modifiersHeld() answers true this many times, then false
    int modifierPolls = 0;      // how often modifiersHeld() was asked
    // Value of heldModifierPolls when an event was recorded (to check the wait came first).
    std::vector<int> heldAtEvent;

    bool available() override { return isAvailable; }
    bool postPasteShortcut(bool withShift) override;
    bool postInsertSelection() override;
    bool postReturn() override;
    std::size_t typeText(const std::u32string& text, const std::function<bool()>& beforeEach) override;
    bool modifiersHeld() override;
    bool latestKeysRead() override { return keysRead; }

private:
    void record(std::string event);
};

}  // namespace quorvel
