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

class PasterTest : public testing::TempHome {
protected:
    void SetUp() override {
        TempHome::SetUp();
        logFile_ = home() / "paste.log";
        Log::setFile(logFile_);
        QGuiApplication::clipboard()->clear();
    }

    Paster& paster(PasterOptions options = {50ms, 200ms, 1ms}) {
        paster_ = std::make_unique<Paster>(injector, queries, options);
        return *paster_;
    }

    // Messages logged so far, each as "LEVEL: message".
    std::vector<std::string> logLines() const {
        Log::flush();
        std::vector<std::string> lines;
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

TEST_F(PasterTest, PasteThenReturnLogsEachStepInOrder) {
    paster().paste("да", false, false, true);
    EXPECT_EQ(clipboardText(), QString::fromUtf8("да"));
    EXPECT_EQ(injector.events, (Events{"paste", "return"}));
    EXPECT_EQ(logLines(), (std::vector<std::string>{"INFO: pasteboard set (4 bytes)",
                                                    "INFO: Cmd+V posted",
                                                    "INFO: Return posted (auto-send)"}));
}

TEST_F(PasterTest, TypingCountsScalarsAndCarriesCharactersBeyondTheBmp) {
    const std::string text = "да 😀👍🏽";
    paster().paste(text, false, true, false);
    EXPECT_EQ(injector.events, (Events{"type:" + text}));
    EXPECT_EQ(logLines(), (std::vector<std::string>{"INFO: pasteboard set (" +
                                                        std::to_string(text.size()) + " bytes)",
                                                    "INFO: simulate keypresses: 6 chars"}));
    EXPECT_EQ(clipboardText().toStdString(), text) << "the clipboard holds the text when typing too";
}

TEST_F(PasterTest, FailedKeyEventsAreNotLogged) {
    injector.failPaste = injector.failReturn = injector.failTyping = true;
    paster().paste("x", false, false, true);
    paster().paste("y", false, true, false);
    EXPECT_TRUE(injector.events.empty());
    EXPECT_EQ(logLines(), (std::vector<std::string>{"INFO: pasteboard set (1 bytes)",
                                                    "INFO: pasteboard set (1 bytes)"}));
    EXPECT_EQ(clipboardText(), "y");
}

TEST_F(PasterTest, WithoutPermissionTheTextStaysOnTheClipboardAndNothingIsRestored) {
    putOnClipboard({{"text/plain", "earlier"}});
    injector.isAvailable = false;
    paster().paste("диктовка", true, false, true);
    EXPECT_EQ(logLines(), (std::vector<std::string>{
                              "INFO: pasteboard set (16 bytes)",
                              "WARN: Accessibility не выдана — текст в буфере обмена"}));
    QTest::qWait(150);
    EXPECT_EQ(clipboardText(), QString::fromUtf8("диктовка"));
    EXPECT_TRUE(injector.events.empty());
    EXPECT_FALSE(QGuiApplication::clipboard()->mimeData()->hasFormat("x-kde-passwordManagerHint"))
        << "text that stays is no secret";
}

TEST_F(PasterTest, TerminalsGetControlShiftV) {
    const std::vector<std::pair<std::optional<std::string>, std::string>> cases = {
        {"XTerm", "paste+shift"},    {"Gnome-terminal", "paste+shift"},
        {"konsole", "paste+shift"},  {"Alacritty", "paste+shift"},
        {"firefox", "paste"},        {"TerminalNot", "paste"},
        {std::nullopt, "paste"},
    };
    for (const auto& [front, expected] : cases) {
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
}

TEST_F(PasterTest, RestoreOfAnEmptyClipboardLeavesItEmpty) {
    paster().paste("текст", true, false, false);
    ASSERT_TRUE(QTest::qWaitFor([] { return clipboardText().isEmpty(); }, 2000));
    EXPECT_TRUE(paster_->savedItems().empty());
}

TEST_F(PasterTest, RestoreKeepsWhatTheUserCopiedMeanwhile) {
    putOnClipboard({{"text/plain", "old"}});
    paster().paste("текст", true, false, false);
    putOnClipboard({{"text/plain", "copied by the user"}});
    QTest::qWait(150);
    EXPECT_EQ(clipboardText(), "copied by the user");
    EXPECT_EQ(logLines().back(),
              "INFO: clipboard changed since the paste — previous content not restored");
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

TEST_F(PasterTest, WaitsForModifiersToBeReleasedBeforePosting) {
    injector.heldModifierPolls = 5;
    paster().paste("x", false, false, true);
    EXPECT_EQ(injector.events, (Events{"paste", "return"}));
    EXPECT_EQ(injector.heldAtEvent, (std::vector<int>{0, 0})) << "posted only once all were up";
    EXPECT_EQ(injector.modifierPolls, 6);
    for (const auto& line : logLines()) EXPECT_EQ(line.find("WARN"), std::string::npos) << line;
}

TEST_F(PasterTest, AModifierHeldTooLongIsLoggedAndThePasteStillHappens) {
    injector.heldModifierPolls = 1000000;
    paster(PasterOptions{50ms, 30ms, 1ms}).paste("x", false, true, false);
    EXPECT_EQ(injector.events, Events{"type:x"});
    const auto lines = logLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1].rfind("WARN: modifier key still held after ", 0), 0u) << lines[1];
}

TEST(PasterTerminalTest, KnownTerminalClassesIgnoringCase) {
    for (const char* name : {"xterm", "XTerm", "URxvt", "kitty", "org.wezfurlong.wezterm", "foot"})
        EXPECT_TRUE(Paster::isTerminal(name)) << name;
    for (const char* name : {"", "Firefox", "code", "xterm2", "Gnome-calculator"})
        EXPECT_FALSE(Paster::isTerminal(name)) << name;
}

}  // namespace
}  // namespace quorvel
