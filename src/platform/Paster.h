#pragma once
// Puts a finished dictation into the focused application: the text goes on the clipboard as
// plain text; then, when synthetic keys are allowed, the paste shortcut is posted (or the text
// is typed), optionally Return follows, and optionally the user's previous clipboard comes back
// a little later. paste() returns at once: the keys are posted from an insertion thread, so the
// event loop keeps answering the target's request for our clipboard data, and typing can be
// cancelled between characters. Pastes made while one is running wait their turn. `finished`
// reports each paste, always later, on the main thread. Never reports failure otherwise: when
// nothing could be inserted the text stays on the clipboard. Main thread only.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace quorvel {

class SystemQueries;
class TextInjector;

struct PasterOptions {
    std::chrono::milliseconds restoreDelay{1200};
    // A modifier still held (the record key!) would turn Control+V or a typed letter into
    // another shortcut: wait this long at most for the keyboard to be free, polling at
    // `modifierPoll`.
    std::chrono::milliseconds modifierWait{1000};
    std::chrono::milliseconds modifierPoll{10};
    // Return goes out once the target has fetched the pasted text, or after this long.
    std::chrono::milliseconds fetchWait{1000};
    // How long the owner of the user's clipboard gets to hand its content over for the restore.
    std::chrono::milliseconds clipboardReadLimit{1000};
    // The restore delay counts from the target's fetch of the pasted text: a target that was busy
    // would otherwise paste the user's old content. Without a fetch the restore waits this long.
    std::chrono::milliseconds fetchBeforeRestore{10000};
};

class Paster : public QObject {
    Q_OBJECT
public:
    using SavedItem = std::pair<QString, QByteArray>;  // MIME type, data

    Paster(TextInjector& injector, SystemQueries& queries, PasterOptions options = {},
           QObject* parent = nullptr);
    // Stops typing, waits for the insertion thread and runs a restore that is still due.
    ~Paster() override;
    Paster(const Paster&) = delete;
    Paster& operator=(const Paster&) = delete;

    void paste(const std::string& text, bool restoreClipboard, bool simulateKeypresses,
               bool sendReturn);
    // Stops typing before the next character and drops the pastes still waiting; the text stays
    // on the clipboard. Each dropped or stopped paste still reports `finished`.
    void cancel();
    bool busy() const { return current_.has_value(); }

    // Copy of the user's clipboard that a coming restore writes back; empty when none is due.
    const std::vector<SavedItem>& savedItems() const;

    // Every data format the clipboard offers with its bytes, in order; X bookkeeping and
    // side-effect targets and Qt's own image format are left out. nullopt when the owner (another
    // program) did not hand it over within `limit`.
    static std::optional<std::vector<SavedItem>> snapshotClipboard(std::chrono::milliseconds limit);

    // Terminal emulators paste with Control+Shift+V (Control+V is a control character there).
    // `windowClass` is the X WM_CLASS class; the comparison ignores case.
    static bool isTerminal(std::string_view windowClass);
    // xterm binds no key to the clipboard: it gets the text as the primary selection too, and
    // Shift+Insert (its insert-selection key).
    static bool pastesPrimarySelection(std::string_view windowClass);

    // Carries a per-paste token on the clipboard, so the restore can tell whether the clipboard
    // still holds our text.
    static constexpr const char* kPasteIdFormat = "application/x-quorvel-paste-id";

Q_SIGNALS:
    // `inserted`: the text (or some of it, when cancelled) was posted into the focused window.
    void finished(bool inserted);

private:
    struct Job {
        QString text;
        bool restore = false, typing = false, sendReturn = false;
        QByteArray pasteId;
        std::optional<std::vector<SavedItem>> saved;  // set when a restore will follow
        std::size_t typed = 0;                        // scalars typed so far
        QString onClipboard;                          // what the paste shortcut would insert now
        bool primary = false;                         // also the primary selection (xterm)
        bool pasted = false;                          // the paste shortcut went out
        std::chrono::steady_clock::time_point pastedAt;
        bool watchFetch = false;  // the shortcut is going out: a fetch of our text is the target's
        bool fetched = false;
        bool fetchDone = false;  // fetched, or waited for long enough
    };
    enum class Outcome { complete, partial, none, notTrusted };
    struct Restore {
        QByteArray pasteId;
        std::vector<SavedItem> items;
        bool awaitingFetch = false;  // the paste shortcut went out, the target has not asked yet
        std::chrono::steady_clock::time_point pasted;
    };

    void startNext();
    void saveClipboardFor(Job& job);
    void putOnClipboard(const QString& text, bool secret);
    void checkPendingPasteThenStart();
    void joinPendingPaste();
    void afterTyping();
    void afterPasteShortcut(bool afterTypedPart);
    void sendReturnThenFinish();
    void finish(Outcome outcome);
    void whenTextFetched(std::function<void()> next);
    void textFetched(const QByteArray& pasteId);
    void restoreWhenDue();
    void restoreNow();
    void stopInsertionThread();
    void shutDown();

    void offMainThread(std::function<void()> work, std::function<void()> then);
    bool waitForFreeKeyboard();
    void postPasteShortcutThen(std::function<void()> then);

    TextInjector& injector_;
    SystemQueries& queries_;
    PasterOptions options_;
    std::deque<Job> queue_;
    std::optional<Job> current_;
    std::thread thread_;
    std::atomic<bool> cancelled_{false};
    // Results of the latest step on the insertion thread.
    std::atomic<bool> posted_{false};
    std::atomic<std::size_t> typed_{0};
    std::function<void()> afterFetch_;  // waiting for the target to fetch our text
    QTimer fetchTimer_;
    std::optional<Restore> restore_;
    QTimer restoreTimer_;
    // The latest pasted text the target has not fetched yet: the next paste waits for the fetch
    // (at most `fetchWait`), or the target would get the next text in its place.
    // A target that stalled still holds the paste shortcut and reads the clipboard once it
    // wakes: later texts join that pending paste instead of replacing its content.
    struct Unfetched {
        QByteArray pasteId;
        std::chrono::steady_clock::time_point posted;
        QString text;
        bool secret = false, primary = false;
    };
    std::optional<Unfetched> unfetched_;
    bool checkingTarget_ = false;  // asking whether the target of an unfetched paste is alive
    std::atomic<bool> keysRead_{false};
    QTimer nextTimer_;

    friend class FetchWatchingMime;
};

}  // namespace quorvel
