#include "platform/Paster.h"

#include <QClipboard>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QMimeData>
#include <QPointer>
#include <algorithm>
#include <array>
#include <cctype>

#include "core/Uuid.h"
#include "platform/SystemQueries.h"
#include "platform/TextInjector.h"
#include "platform/x11/X11ClipboardReader.h"
#include "services/Log.h"

namespace quorvel {
namespace {

// Lower-case WM_CLASS class names of terminal emulators.
constexpr std::array<std::string_view, 34> kTerminalClasses = {
    "xterm",           "uxterm",        "urxvt",           "rxvt",
    "konsole",         "gnome-terminal", "gnome-terminal-server", "xfce4-terminal",
    "terminator",      "tilix",         "alacritty",       "kitty",
    "st",              "st-256color",   "lxterminal",      "mate-terminal",
    "qterminal",       "sakura",        "terminology",     "guake",
    "tilda",           "yakuake",       "wezterm",         "org.wezfurlong.wezterm",
    "foot",            "cool-retro-term", "deepin-terminal", "eterm",
    "aterm",           "termite",       "kgx",             "io.elementary.terminal",
    "ptyxis",          "hyper",
};

constexpr const char* kSecretHint = "x-kde-passwordManagerHint";

bool isSkippedFormat(const QString& format) {
    static const QStringList skipped = {"TARGETS", "MULTIPLE", "TIMESTAMP", "SAVE_TARGETS",
                                        "application/x-qt-image",
                                        QString::fromLatin1(Paster::kPasteIdFormat)};
    return skipped.contains(format);
}

// On X the clipboard may belong to another program: asking Qt about it then means a round trip
// with Qt's own (long) time-out. Only our own content can carry our paste id anyway.
bool clipboardIsForeign() {
    return QGuiApplication::platformName() == QLatin1String("xcb") &&
           !QGuiApplication::clipboard()->ownsClipboard();
}

QByteArray pasteIdOnClipboard() {
    if (clipboardIsForeign()) return {};
    const QMimeData* current = QGuiApplication::clipboard()->mimeData();
    return current ? current->data(QString::fromLatin1(Paster::kPasteIdFormat)) : QByteArray();
}

std::u32string scalarsOf(const QString& text) {
    const QList<uint> scalars = text.toUcs4();
    return std::u32string(scalars.begin(), scalars.end());
}

}  // namespace

// Our clipboard content: tells the paster when a target asks for the text, so Return can wait
// for a target that reads the clipboard asynchronously.
class FetchWatchingMime : public QMimeData {
public:
    FetchWatchingMime(Paster* paster, QByteArray pasteId) : paster_(paster), pasteId_(std::move(pasteId)) {}

protected:
    QVariant retrieveData(const QString& format, QMetaType type) const override {
        if (paster_ && format != QLatin1String(Paster::kPasteIdFormat) && format != QLatin1String(kSecretHint)) {
            // Later, so the reply goes out first.
            QMetaObject::invokeMethod(paster_.data(), [paster = paster_, id = pasteId_] {
                if (paster) paster->textFetched(id);
            }, Qt::QueuedConnection);
        }
        return QMimeData::retrieveData(format, type);
    }

private:
    QPointer<Paster> paster_;
    QByteArray pasteId_;
};

static QMimeData* pasteMime(Paster* paster, const QByteArray& pasteId, const QString& text, bool secret) {
    auto* mime = new FetchWatchingMime(paster, pasteId);
    mime->setText(text);
    mime->setData(QString::fromLatin1(Paster::kPasteIdFormat), pasteId);
    // Text that goes away again is nothing for clipboard managers to keep.
    if (secret) mime->setData(kSecretHint, "secret");
    return mime;
}

static void putOnPrimarySelection(QMimeData* mime) {
    if (QGuiApplication::clipboard()->supportsSelection())
        QGuiApplication::clipboard()->setMimeData(mime, QClipboard::Selection);
    else
        delete mime;
}

Paster::Paster(TextInjector& injector, SystemQueries& queries, PasterOptions options,
               QObject* parent)
    : QObject(parent), injector_(injector), queries_(queries), options_(options) {
    fetchTimer_.setSingleShot(true);
    connect(&fetchTimer_, &QTimer::timeout, this, [this] {
        Log::info("text not fetched within " + std::to_string(options_.fetchWait.count()) + " ms — going on");
        if (current_) current_->fetchDone = true;
        if (auto next = std::exchange(afterFetch_, nullptr)) next();
    });
    restoreTimer_.setSingleShot(true);
    connect(&restoreTimer_, &QTimer::timeout, this, &Paster::restoreWhenDue);
    nextTimer_.setSingleShot(true);
    connect(&nextTimer_, &QTimer::timeout, this, [this] {
        if (!current_) startNext();
    });
    // A restore still due when the program quits would otherwise leave our text behind.
    if (QCoreApplication::instance())
        connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, &Paster::shutDown);
}

Paster::~Paster() { shutDown(); }

void Paster::shutDown() {
    cancelled_ = true;
    queue_.clear();
    stopInsertionThread();
    fetchTimer_.stop();
    nextTimer_.stop();
    afterFetch_ = nullptr;
    if (current_ && current_->saved) restore_ = Restore{current_->pasteId, std::move(*current_->saved), false, {}};
    current_.reset();
    restoreNow();
}

bool Paster::isTerminal(std::string_view windowClass) {
    std::string lower(windowClass);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return std::find(kTerminalClasses.begin(), kTerminalClasses.end(), lower) !=
           kTerminalClasses.end();
}

bool Paster::pastesPrimarySelection(std::string_view windowClass) {
    std::string lower(windowClass);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower == "xterm" || lower == "uxterm";
}

const std::vector<Paster::SavedItem>& Paster::savedItems() const {
    static const std::vector<SavedItem> none;
    return restore_ ? restore_->items : current_ && current_->saved ? *current_->saved : none;
}

std::optional<std::vector<Paster::SavedItem>> Paster::snapshotClipboard(std::chrono::milliseconds limit) {
    if (clipboardIsForeign()) return X11ClipboardReader::read(limit);
    std::vector<SavedItem> items;
    const QMimeData* current = QGuiApplication::clipboard()->mimeData();
    if (!current) return items;
    for (const QString& format : current->formats()) {
        if (isSkippedFormat(format)) continue;
        QByteArray data = current->data(format);
        if (!data.isEmpty()) items.emplace_back(format, std::move(data));
    }
    return items;
}

void Paster::paste(const std::string& text, bool restoreClipboard, bool simulateKeypresses,
                   bool sendReturn) {
    Job job;
    job.text = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    job.restore = restoreClipboard;
    job.typing = simulateKeypresses;
    job.sendReturn = sendReturn;
    job.pasteId = QByteArray::fromStdString(uuid::generate());
    queue_.push_back(std::move(job));
    if (!current_) startNext();
}

void Paster::cancel() {
    cancelled_ = true;
    for (std::size_t i = 0; i < queue_.size(); ++i)
        QMetaObject::invokeMethod(this, [this] { Q_EMIT finished(false); }, Qt::QueuedConnection);
    queue_.clear();
}

void Paster::startNext() {
    if (queue_.empty() || checkingTarget_) return;
    if (unfetched_) {
        const auto waited = std::chrono::steady_clock::now() - unfetched_->posted;
        if (waited < options_.fetchWait) {
            nextTimer_.start(std::chrono::duration_cast<std::chrono::milliseconds>(options_.fetchWait - waited));
            return;
        }
        if (waited < options_.fetchBeforeRestore) {
            checkPendingPasteThenStart();
            return;
        }
        Log::info("text not fetched within " + std::to_string(options_.fetchBeforeRestore.count()) + " ms — going on");
        unfetched_.reset();
    }
    current_ = std::move(queue_.front());
    queue_.pop_front();
    cancelled_ = false;
    Job& job = *current_;

    const bool trusted = injector_.available();
    if (job.restore && trusted) saveClipboardFor(job);
    restore_.reset();  // superseded: its content is in this job's copy, or not wanted any more
    restoreTimer_.stop();

    putOnClipboard(job.text, job.restore && trusted);
    Log::info("pasteboard set (" + std::to_string(job.text.toUtf8().size()) + " bytes)");
    if (!trusted) {
        Log::warn("Accessibility не выдана — текст в буфере обмена");
        finish(Outcome::notTrusted);
        return;
    }
    if (job.typing) {
        offMainThread([this, text = scalarsOf(job.text)] {
            bool waitedOut = false;
            typed_ = injector_.typeText(text, [&] {
                if (!waitedOut && !waitForFreeKeyboard()) waitedOut = true;
                return !cancelled_;
            });
        }, [this] { afterTyping(); });
    } else {
        postPasteShortcutThen([this] { afterPasteShortcut(false); });
    }
}

void Paster::saveClipboardFor(Job& job) {
    // Two dictations within the restore delay: the clipboard holds our previous text, and the
    // user's own content is what that earlier restore would have brought back.
    if (restore_ && pasteIdOnClipboard() == restore_->pasteId) {
        job.saved = std::move(restore_->items);
        return;
    }
    job.saved = snapshotClipboard(options_.clipboardReadLimit);
    if (!job.saved)
        Log::warn("clipboard owner did not hand over its content within " +
                  std::to_string(options_.clipboardReadLimit.count()) + " ms — it will not be restored");
}

void Paster::putOnClipboard(const QString& text, bool secret) {
    current_->onClipboard = text;
    QGuiApplication::clipboard()->setMimeData(pasteMime(this, current_->pasteId, text, secret));
    if (current_->primary) putOnPrimarySelection(pasteMime(this, current_->pasteId, text, false));
}

// The previous paste went out but its text was not fetched. A target that has read our keys and
// still not asked ignored the shortcut: go on. One that may still have them queued will ask
// later, and whatever is on the clipboard then is what it pastes.
void Paster::checkPendingPasteThenStart() {
    checkingTarget_ = true;
    offMainThread([this] { keysRead_ = injector_.latestKeysRead(); }, [this] {
        checkingTarget_ = false;
        if (unfetched_ && keysRead_) {
            Log::info("the target read the paste shortcut without fetching the text — going on");
            unfetched_.reset();
        }
        if (unfetched_ && !queue_.empty())
            joinPendingPaste();
        else if (!current_)
            startNext();
    });
}

void Paster::joinPendingPaste() {
    Unfetched& pending = *unfetched_;
    while (!queue_.empty()) {
        const Job job = std::move(queue_.front());
        queue_.pop_front();
        pending.text += job.text;
        Log::info("the target has not fetched the previous text yet — " + std::to_string(job.text.toUtf8().size()) +
                  " bytes join it" + (job.sendReturn ? ", without Return" : ""));
        QMetaObject::invokeMethod(this, [this] { Q_EMIT finished(true); }, Qt::QueuedConnection);
    }
    QGuiApplication::clipboard()->setMimeData(pasteMime(this, pending.pasteId, pending.text, pending.secret));
    if (pending.primary) putOnPrimarySelection(pasteMime(this, pending.pasteId, pending.text, false));
}

void Paster::afterTyping() {
    Job& job = *current_;
    job.typed = typed_;
    const std::size_t total = static_cast<std::size_t>(job.text.toUcs4().size());
    if (job.typed > 0) Log::info("simulate keypresses: " + std::to_string(job.typed) + " chars");
    if (cancelled_) {
        finish(job.typed > 0 ? Outcome::partial : Outcome::none);
        return;
    }
    if (job.typed == total) {
        sendReturnThenFinish();
        return;
    }
    // The rest goes by clipboard: typing it would mean remapping a keycode whose events the
    // target may not have read yet.
    Log::info("typed " + std::to_string(job.typed) + " of " + std::to_string(total) + " chars — pasting the rest");
    const QList<uint> scalars = job.text.toUcs4();
    const QList<uint> rest = scalars.mid(static_cast<qsizetype>(job.typed));
    putOnClipboard(QString::fromUcs4(reinterpret_cast<const char32_t*>(rest.data()), rest.size()), job.saved.has_value());
    postPasteShortcutThen([this] { afterPasteShortcut(true); });
}

void Paster::afterPasteShortcut(bool afterTypedPart) {
    Job& job = *current_;
    if (!posted_) {
        if (afterTypedPart) putOnClipboard(job.text, false);
        finish(job.typed > 0 ? Outcome::partial : Outcome::none);
        return;
    }
    job.pasted = true;
    job.pastedAt = std::chrono::steady_clock::now();
    Log::info("Cmd+V posted");
    if (!afterTypedPart) {
        sendReturnThenFinish();
        return;
    }
    // Once the target has the rest, the whole text goes back on the clipboard.
    whenTextFetched([this] {
        if (current_->fetched) putOnClipboard(current_->text, current_->saved.has_value());
        sendReturnThenFinish();
    });
}

void Paster::sendReturnThenFinish() {
    if (!current_->sendReturn || cancelled_) {
        finish(Outcome::complete);
        return;
    }
    // A target that reads the clipboard asynchronously would take Return before the text.
    whenTextFetched([this] {
        offMainThread([this] {
            waitForFreeKeyboard();
            posted_ = !cancelled_ && injector_.postReturn();
        }, [this] {
            if (posted_) Log::info("Return posted (auto-send)");
            finish(Outcome::complete);
        });
    });
}

void Paster::finish(Outcome outcome) {
    Job job = std::move(*current_);
    current_.reset();
    stopInsertionThread();
    if (outcome == Outcome::complete && job.saved) {
        restore_ = Restore{job.pasteId, std::move(*job.saved), job.watchFetch && !job.fetched,
                           std::chrono::steady_clock::now()};
        restoreTimer_.start(options_.restoreDelay);
    } else if (outcome == Outcome::none || outcome == Outcome::partial) {
        // It stays for the user to paste by hand: no secret for clipboard managers any more.
        if (job.saved && pasteIdOnClipboard() == job.pasteId) {
            auto* mime = new QMimeData;
            mime->setText(job.text);
            QGuiApplication::clipboard()->setMimeData(mime);
        }
        Log::warn(std::string(outcome == Outcome::none ? "nothing was inserted" : "the text was not fully inserted") +
                  (job.saved ? ", clipboard not restored" : "") + " — the text stays on the clipboard");
    }
    if (job.pasted && !job.fetched)
        unfetched_ = Unfetched{job.pasteId, job.pastedAt, job.onClipboard, job.saved.has_value(), job.primary};
    else
        unfetched_.reset();
    const bool inserted = outcome == Outcome::complete || outcome == Outcome::partial;
    QMetaObject::invokeMethod(this, [this, inserted] { Q_EMIT finished(inserted); }, Qt::QueuedConnection);
    startNext();
}

void Paster::whenTextFetched(std::function<void()> next) {
    Job& job = *current_;
    if (!job.watchFetch || job.fetchDone || job.fetched) {
        job.fetchDone = true;
        next();
        return;
    }
    afterFetch_ = std::move(next);
    fetchTimer_.start(options_.fetchWait);
}

void Paster::textFetched(const QByteArray& pasteId) {
    if (unfetched_ && unfetched_->pasteId == pasteId) {
        unfetched_.reset();
        nextTimer_.stop();
        if (!current_) startNext();
    }
    if (restore_ && restore_->pasteId == pasteId && restore_->awaitingFetch) {
        restore_->awaitingFetch = false;
        restoreTimer_.start(options_.restoreDelay);
    }
    if (!current_ || current_->pasteId != pasteId || !current_->watchFetch) return;
    current_->fetched = true;
    if (!afterFetch_) return;
    fetchTimer_.stop();
    current_->fetchDone = true;
    std::exchange(afterFetch_, nullptr)();
}

void Paster::restoreWhenDue() {
    if (restore_ && restore_->awaitingFetch && pasteIdOnClipboard() == restore_->pasteId) {
        const auto waited = std::chrono::steady_clock::now() - restore_->pasted;
        if (waited < options_.fetchBeforeRestore) {
            restoreTimer_.start(std::chrono::duration_cast<std::chrono::milliseconds>(options_.fetchBeforeRestore - waited));
            return;
        }
        Log::info("text not fetched within " + std::to_string(options_.fetchBeforeRestore.count()) +
                  " ms — restoring the clipboard anyway");
    }
    restoreNow();
}

void Paster::restoreNow() {
    if (!restore_) return;
    const Restore due = std::move(*restore_);
    restore_.reset();
    restoreTimer_.stop();
    // Whatever the user copied since the paste is theirs to keep.
    if (pasteIdOnClipboard() != due.pasteId) {
        Log::info("clipboard changed since the paste — previous content not restored");
        return;
    }
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (due.items.empty()) {
        clipboard->clear();
        return;
    }
    auto* mime = new QMimeData;
    for (const auto& [format, data] : due.items) mime->setData(format, data);
    clipboard->setMimeData(mime);
}

void Paster::offMainThread(std::function<void()> work, std::function<void()> then) {
    stopInsertionThread();
    thread_ = std::thread([this, work = std::move(work), then = std::move(then)]() mutable {
        work();
        QMetaObject::invokeMethod(this, std::move(then), Qt::QueuedConnection);
    });
}

void Paster::stopInsertionThread() {
    if (thread_.joinable()) thread_.join();
}

void Paster::postPasteShortcutThen(std::function<void()> then) {
    current_->watchFetch = true;
    const auto front = queries_.frontApplicationName();
    const bool withShift = front && isTerminal(*front);
    const bool primary = front && pastesPrimarySelection(*front);
    if (primary) {
        current_->primary = true;
        putOnPrimarySelection(pasteMime(this, current_->pasteId, current_->onClipboard, false));
    }
    offMainThread([this, withShift, primary] {
        waitForFreeKeyboard();
        posted_ = !cancelled_ && (primary ? injector_.postInsertSelection() : injector_.postPasteShortcut(withShift));
    }, std::move(then));
}

// On the insertion thread. False when the wait ran out (the keys go out anyway) or on cancel.
bool Paster::waitForFreeKeyboard() {
    QElapsedTimer waited;
    waited.start();
    while (injector_.modifiersHeld()) {
        if (cancelled_) return false;
        if (waited.elapsed() >= options_.modifierWait.count()) {
            Log::warn("modifier key still held after " + std::to_string(waited.elapsed()) +
                      " ms — posting anyway");
            return false;
        }
        std::this_thread::sleep_for(options_.modifierPoll);
    }
    return true;
}

}  // namespace quorvel
