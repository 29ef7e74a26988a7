// Insertion with a recording key backend and the in-process clipboard of the offscreen platform.
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <QTest>
#include <sstream>

#include "platform/Paster.h"
#include "platform/fake/FakeSystemQueries.h"
#include "platform/fake/FakeTextInjector.h"
#include "services/Log.h"
#include "support/TempHome.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;
using Events = std::vector<std::string>;
using Lines = std::vector<std::string>;

class PasterTest : public testing::TempHome {
protected:
    void SetUp() override {
        TempHome::SetUp();
        useLog("paste.log");
        QGuiApplication::clipboard()->clear();
    }

    void useLog(const std::string& name) {
        logFile_ = home() / name;
        Log::setFile(logFile_);
    }

    Paster& paster(PasterOptions options = {50ms, 200ms, 1ms}) {
        paster_ = std::make_unique<Paster>(injector, queries, options);
        return *paster_;
    }

    // Messages logged so far, each as "LEVEL: message".
    Lines logLines() const {
        Log::flush();
        Lines lines;
        std::istringstream in(readFile(logFile_));
        for (std::string line; std::getline(in, line);) lines.push_back(line.substr(24));
        return lines;
    }

    static QString clipboardText() { return QGuiApplication::clipboard()->text(); }

    static void putOnClipboard(const std::vector<std::pair<QString, QByteArray>>& items) {
        auto* mime = new QMimeData;
        for (const auto& [format, data] : items) mime->setData(format, data);
        QGuiApplication::clipboard()->setMimeData(mime);
    }

    FakeTextInjector injector;
    FakeSystemQueries queries;
    std::filesystem::path logFile_;
    std::unique_ptr<Paster> paster_;
};

TEST_F(PasterTest, EachStepIsPostedInOrderAndLoggedOnlyWhenItHappened) {
    struct Row { const char* name; std::string text; bool typing, autoSend, fail; Events events; Lines log; };
    const Row rows[] = {
        {"paste then return", "да", false, true, false, {"paste", "return"},
         {"INFO: pasteboard set (4 bytes)", "INFO: Cmd+V posted", "INFO: Return posted (auto-send)"}},
        // Typing counts scalars and carries characters beyond the BMP.
        {"typing", "да 😀👍🏽", true, false, false, {"type:да 😀👍🏽"},
         {"INFO: pasteboard set (17 bytes)", "INFO: simulate keypresses: 6 chars"}},
        {"failed paste and return", "x", false, true, true, {}, {"INFO: pasteboard set (1 bytes)"}},
        {"failed typing", "y", true, false, true, {}, {"INFO: pasteboard set (1 bytes)"}},
    };
    for (const Row& row : rows) {
        useLog(std::string(row.name) + ".log");
        FakeTextInjector keys;
        keys.failPaste = keys.failReturn = keys.failTyping = row.fail;
        Paster(keys, queries, PasterOptions{50ms, 200ms, 1ms}).paste(row.text, false, row.typing, row.autoSend);
        EXPECT_EQ(keys.events, row.events) << row.name;
        EXPECT_EQ(logLines(), row.log) << row.name;
        EXPECT_EQ(clipboardText().toStdString(), row.text) << row.name << ": the clipboard holds the text";
    }
}

TEST_F(PasterTest, WithoutPermissionTheTextStaysOnTheClipboardAndNothingIsRestored) {
    putOnClipboard({{"text/plain", "earlier"}});
    injector.isAvailable = false;
    paster().paste("диктовка", true, false, true);
    EXPECT_EQ(logLines(), (Lines{"INFO: pasteboard set (16 bytes)", "WARN: Accessibility не выдана — текст в буфере обмена"}));
    QTest::qWait(150);
    EXPECT_EQ(clipboardText(), QString::fromUtf8("диктовка"));
    EXPECT_TRUE(injector.events.empty());
    EXPECT_FALSE(QGuiApplication::clipboard()->mimeData()->hasFormat("x-kde-passwordManagerHint"))
        << "text that stays is no secret";
}

TEST_F(PasterTest, TerminalsGetControlShiftV) {
    for (const char* name : {"xterm", "XTerm", "URxvt", "kitty", "org.wezfurlong.wezterm", "foot", "Gnome-terminal",
                             "konsole", "Alacritty"})
        EXPECT_TRUE(Paster::isTerminal(name)) << name;
    for (const char* name : {"", "Firefox", "code", "xterm2", "Gnome-calculator", "TerminalNot"})
        EXPECT_FALSE(Paster::isTerminal(name)) << name;
    const std::pair<std::optional<std::string>, std::string> fronts[] = {
        {"XTerm", "paste+shift"}, {"firefox", "paste"}, {std::nullopt, "paste"}};
    for (const auto& [front, expected] : fronts) {
        injector.events.clear();
        queries.frontApplication = front;
        paster().paste("ls", false, false, false);
        EXPECT_EQ(injector.events, Events{expected}) << front.value_or("(none)");
    }
}

TEST_F(PasterTest, RestoreBringsEveryFormatBackByteForByte) {
    QByteArray png(100000, '\0');
    for (int i = 0; i < png.size(); ++i) png[i] = static_cast<char>(i * 7);
    putOnClipboard({{"image/png", png}, {"text/html", "<b>x</b>"}});
    paster().paste("текст", true, false, false);
    EXPECT_EQ(clipboardText(), QString::fromUtf8("текст"));
    EXPECT_EQ(QGuiApplication::clipboard()->mimeData()->data("x-kde-passwordManagerHint"), "secret");
    ASSERT_EQ(paster_->savedItems().size(), 2u);

    ASSERT_TRUE(QTest::qWaitFor([] { return !QGuiApplication::clipboard()->mimeData()->hasText(); }, 2000));
    const QMimeData* back = QGuiApplication::clipboard()->mimeData();
    EXPECT_EQ(back->data("image/png"), png);
    EXPECT_EQ(back->data("text/html"), "<b>x</b>");
    EXPECT_FALSE(back->hasFormat(Paster::kPasteIdFormat));

    // An empty clipboard is restored as empty.
    QGuiApplication::clipboard()->clear();
    paster().paste("текст", true, false, false);
    EXPECT_TRUE(paster_->savedItems().empty());
    ASSERT_TRUE(QTest::qWaitFor([] { return clipboardText().isEmpty(); }, 2000));
}

TEST_F(PasterTest, RestoreKeepsWhatTheUserCopiedMeanwhile) {
    putOnClipboard({{"text/plain", "old"}});
    paster().paste("текст", true, false, false);
    putOnClipboard({{"text/plain", "copied by the user"}});
    QTest::qWait(150);
    EXPECT_EQ(clipboardText(), "copied by the user");
    EXPECT_EQ(logLines().back(), "INFO: clipboard changed since the paste — previous content not restored");
}

TEST_F(PasterTest, TwoQuickDictationsStillRestoreTheUsersClipboard) {
    putOnClipboard({{"text/plain", "user's own"}});
    paster(PasterOptions{100ms, 200ms, 1ms});
    paster_->paste("first", true, false, false);
    QTest::qWait(30);
    paster_->paste("second", true, false, false);
    ASSERT_EQ(paster_->savedItems().size(), 1u);
    EXPECT_EQ(paster_->savedItems()[0].second, "user's own");
    EXPECT_TRUE(QTest::qWaitFor([] { return clipboardText() == "user's own"; }, 2000));
}

TEST_F(PasterTest, SnapshotLeavesOutQtsImageDuplicate) {
    auto* mime = new QMimeData;
    mime->setImageData(QImage(4, 4, QImage::Format_RGB32));
    mime->setData("image/png", "png-bytes");
    QGuiApplication::clipboard()->setMimeData(mime);
    const auto items = Paster::snapshotClipboard();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].first, "image/png");
}

TEST_F(PasterTest, WaitsForModifiersToBeReleasedAndLogsOneHeldTooLong) {
    injector.heldModifierPolls = 5;
    paster().paste("x", false, false, true);
    EXPECT_EQ(injector.events, (Events{"paste", "return"}));
    EXPECT_EQ(injector.heldAtEvent, (std::vector<int>{0, 0})) << "posted only once all were up";
    EXPECT_EQ(injector.modifierPolls, 6);
    for (const auto& line : logLines()) EXPECT_EQ(line.find("WARN"), std::string::npos) << line;

    useLog("held.log");
    injector.heldModifierPolls = 1000000;
    paster(PasterOptions{50ms, 30ms, 1ms}).paste("y", false, true, false);
    EXPECT_EQ(injector.events.back(), "type:y") << "the paste still happens";
    const auto lines = logLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1].rfind("WARN: modifier key still held after ", 0), 0u) << lines[1];
}

}  // namespace
}  // namespace quorvel
