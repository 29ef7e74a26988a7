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

bool FakeTextInjector::postReturn() {
    if (!isAvailable || failReturn) return false;
    record("return");
    return true;
}

bool FakeTextInjector::typeText(const std::u32string& text) {
    if (!isAvailable || failTyping) return false;
    const QString typed = QString::fromUcs4(text.data(), static_cast<qsizetype>(text.size()));
    record("type:" + typed.toStdString());
    return true;
}

bool FakeTextInjector::modifiersHeld() {
    ++modifierPolls;
    if (heldModifierPolls <= 0) return false;
    --heldModifierPolls;
    return true;
}

}  // namespace quorvel
