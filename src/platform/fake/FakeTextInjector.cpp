#include "platform/fake/FakeTextInjector.h"

#include <QString>

namespace quorvel {

void FakeTextInjector::record(std::string event) {
    events.push_back(std::move(event));
    heldAtEvent.push_back(heldModifierPolls);
}

bool FakeTextInjector::postPasteShortcut(bool withShift) {
    if (!isAvailable || failPaste) return false;
    record(withShift ? "paste+shift" : "paste");
    return true;
}

bool FakeTextInjector::postInsertSelection() {
    if (!isAvailable || failPaste) return false;
    record("insert-selection");
    return true;
}

bool FakeTextInjector::postReturn() {
    if (!isAvailable || failReturn) return false;
    record("return");
    return true;
}

std::size_t FakeTextInjector::typeText(const std::u32string& text, const std::function<bool()>& beforeEach) {
    if (!isAvailable || failTyping) return 0;
    std::u32string distinct;
    std::size_t done = 0;
    for (; done < text.size(); ++done) {
        if (distinct.find(text[done]) == std::u32string::npos) {
            if (distinct.size() == typingSlots) break;
            distinct += text[done];
        }
        if (!beforeEach()) break;
    }
    if (done > 0) record("type:" + QString::fromUcs4(text.data(), static_cast<qsizetype>(done)).toStdString());
    return done;
}

bool FakeTextInjector::modifiersHeld() {
    ++modifierPolls;
    if (heldModifierPolls <= 0) return false;
    --heldModifierPolls;
    return true;
}

}  // namespace quorvel
