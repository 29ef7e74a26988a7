#include "platform/Paster.h"

#include <QClipboard>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QMimeData>
#include <QTimer>
#include <algorithm>
#include <array>
#include <cctype>
#include <thread>

#include "core/Uuid.h"
#include "platform/SystemQueries.h"
#include "platform/TextInjector.h"
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

bool isSkippedFormat(const QString& format) {
    static const QStringList skipped = {"TARGETS", "MULTIPLE", "TIMESTAMP", "SAVE_TARGETS",
                                        "application/x-qt-image",
                                        QString::fromLatin1(Paster::kPasteIdFormat)};
    return skipped.contains(format);
}

QByteArray pasteIdOnClipboard() {
    const QMimeData* current = QGuiApplication::clipboard()->mimeData();
    return current ? current->data(QString::fromLatin1(Paster::kPasteIdFormat)) : QByteArray();
}

}  // namespace

Paster::Paster(TextInjector& injector, SystemQueries& queries, PasterOptions options,
               QObject* parent)
    : QObject(parent), injector_(injector), queries_(queries), options_(options) {}

bool Paster::isTerminal(std::string_view windowClass) {
    std::string lower(windowClass);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return std::find(kTerminalClasses.begin(), kTerminalClasses.end(), lower) !=
           kTerminalClasses.end();
}

std::vector<Paster::SavedItem> Paster::snapshotClipboard() {
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
    // Two dictations within the restore delay: the clipboard holds our previous text, and the
    // user's own content is what that earlier restore would have brought back.
    if (pendingId_.isEmpty() || pasteIdOnClipboard() != pendingId_) savedItems_ = snapshotClipboard();
    pendingId_.clear();

    const bool trusted = injector_.available();
    const QByteArray pasteId = QByteArray::fromStdString(uuid::generate());
    auto* mime = new QMimeData;
    const QString qtext = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    mime->setText(qtext);
    mime->setData(QString::fromLatin1(kPasteIdFormat), pasteId);
    // Text that goes away again is nothing for clipboard managers to keep.
    if (restoreClipboard && trusted) mime->setData("x-kde-passwordManagerHint", "secret");
    QGuiApplication::clipboard()->setMimeData(mime);
    Log::info("pasteboard set (" + std::to_string(text.size()) + " bytes)");

    if (!trusted) {
        Log::warn("Accessibility не выдана — текст в буфере обмена");
        return;
    }
    waitForFreeKeyboard();
    postText(qtext, simulateKeypresses);
    if (sendReturn && injector_.postReturn()) Log::info("Return posted (auto-send)");

    if (restoreClipboard) {
        pendingId_ = pasteId;
        QTimer::singleShot(options_.restoreDelay, this,
                           [this, pasteId, items = savedItems_] { restore(pasteId, items); });
    }
}

void Paster::postText(const QString& text, bool simulateKeypresses) {
    if (simulateKeypresses) {
        const QList<uint> scalars = text.toUcs4();
        const std::u32string u32(scalars.begin(), scalars.end());
        if (injector_.typeText(u32))
            Log::info("simulate keypresses: " + std::to_string(u32.size()) + " chars");
        return;
    }
    const auto front = queries_.frontApplicationName();
    if (injector_.postPasteShortcut(front && isTerminal(*front))) Log::info("Cmd+V posted");
}

bool Paster::waitForFreeKeyboard() {
    QElapsedTimer waited;
    waited.start();
    while (injector_.modifiersHeld()) {
        if (waited.elapsed() >= options_.modifierWait.count()) {
            Log::warn("modifier key still held after " + std::to_string(waited.elapsed()) +
                      " ms — posting anyway");
            return false;
        }
        std::this_thread::sleep_for(options_.modifierPoll);
    }
    return true;
}

void Paster::restore(const QByteArray& pasteId, const std::vector<SavedItem>& items) {
    if (pendingId_ == pasteId) pendingId_.clear();
    // Whatever the user copied since the paste is theirs to keep.
    if (pasteIdOnClipboard() != pasteId) {
        Log::info("clipboard changed since the paste — previous content not restored");
        return;
    }
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (items.empty()) {
        clipboard->clear();
        return;
    }
    auto* mime = new QMimeData;
    for (const auto& [format, data] : items) mime->setData(format, data);
    clipboard->setMimeData(mime);
}

}  // namespace quorvel
