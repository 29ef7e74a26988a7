#pragma once
// Puts a finished dictation into the focused application: the text goes on the clipboard as
// plain text; then, when synthetic keys are allowed, the paste shortcut is posted (or the text
// is typed), optionally Return follows, and optionally the user's previous clipboard comes back
// a little later. Main thread only; blocks for the key hold times. Never reports failure to the
// caller: the text is on the clipboard in every case.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <chrono>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quorvel {

class SystemQueries;
class TextInjector;

struct PasterOptions {
    std::chrono::milliseconds restoreDelay{1200};
    // A modifier still held (the record key!) would turn Control+V into another shortcut: wait
    // this long at most for the keyboard to be free, polling at `modifierPoll`.
    std::chrono::milliseconds modifierWait{1000};
    std::chrono::milliseconds modifierPoll{10};
};

class Paster : public QObject {
    Q_OBJECT
public:
    using SavedItem = std::pair<QString, QByteArray>;  // MIME type, data

    Paster(TextInjector& injector, SystemQueries& queries, PasterOptions options = {},
           QObject* parent = nullptr);

    void paste(const std::string& text, bool restoreClipboard, bool simulateKeypresses,
               bool sendReturn);

    // Copy of the clipboard taken by the latest paste (what its restore writes back).
    const std::vector<SavedItem>& savedItems() const { return savedItems_; }

    // Every format the clipboard offers with its data, in order; the X selection's
    // bookkeeping targets and Qt's own image format (a duplicate of the real one) are left out.
    static std::vector<SavedItem> snapshotClipboard();

    // Terminal emulators paste with Control+Shift+V (Control+V is a control character there).
    // `windowClass` is the X WM_CLASS class; the comparison ignores case.
    static bool isTerminal(std::string_view windowClass);

    // Carries a per-paste token on the clipboard, so the restore can tell whether the clipboard
    // still holds our text.
    static constexpr const char* kPasteIdFormat = "application/x-quorvel-paste-id";

private:
    bool waitForFreeKeyboard();
    void postText(const QString& text, bool simulateKeypresses);
    void restore(const QByteArray& pasteId, const std::vector<SavedItem>& items);

    TextInjector& injector_;
    SystemQueries& queries_;
    PasterOptions options_;
    std::vector<SavedItem> savedItems_;
    QByteArray pendingId_;  // our text is on the clipboard and its restore is still due
};

}  // namespace quorvel
