#pragma once
// Recording stand-in for synthetic keys: remembers what would have been posted, in order, and
// lets a test decide availability, failures and how long a modifier appears held.

#include <string>
#include <vector>

#include "platform/TextInjector.h"

namespace quorvel {

class FakeTextInjector : public TextInjector {
public:
    // "paste", "paste+shift", "return" or "type:" + the UTF-8 text.
    std::vector<std::string> events;

    bool isAvailable = true;
    bool failPaste = false;   // the shortcut's events cannot be created
    bool failReturn = false;
    bool failTyping = false;  // no event source
    int heldModifierPolls = 0;  // modifiersHeld() answers true this many times, then false
    int modifierPolls = 0;      // how often modifiersHeld() was asked
    // Value of heldModifierPolls when an event was recorded (to check the wait came first).
    std::vector<int> heldAtEvent;

    bool available() override { return isAvailable; }
    bool postPasteShortcut(bool withShift) override;
    bool postReturn() override;
    bool typeText(const std::u32string& text) override;
    bool modifiersHeld() override;

private:
    void record(std::string event);
};

}  // namespace quorvel
