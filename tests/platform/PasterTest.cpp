// Insertion with a recording key backend and the in-process clipboard of the offscreen platform.
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <QSignalSpy>
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

    Paster& paster(PasterOptions options = kOptions) {
        paster_ = std::make_unique<Paster>(injector, queries, options);
        return *paster_;
    }

    // Pastes and waits for the paste to finish; its `inserted` answer.
    static bool pasteAndWait(Paster& paster, const std::string& text, bool restore, bool typing, bool autoSend) {
        QSignalSpy done(&paster, &Paster::finished);
        paster.paste(text, restore, typing, autoSend);
        if (done.isEmpty() && !done.wait(3000)) ADD_FAILURE() << "the paste did not finish";
        return !done.isEmpty() && done.front().front().toBool();
    }
    bool pasteAndWait(const std::string& text, bool restore, bool typing, bool autoSend) {
        return pasteAndWait(*paster_, text, restore, typing, autoSend);
    }

    static constexpr PasterOptions kOptions{50ms, 200ms, 1ms, 50ms, 1000ms};

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

// Out of distinct typing keys: the rest goes by clipboard (a target that never fetches it keeps it there).
TEST_F(PasterTest, TypingOutOfKeysPastesTheRest) {
    injector.typingSlots = 3;
    EXPECT_TRUE(pasteAndWait(paster(), "abcabd", false, true, false));
    EXPECT_EQ(injector.events, (Events{"type:abcab", "paste"}));
    EXPECT_EQ(clipboardText(), "d");
}

TEST_F(PasterTest, WhenNothingIsInsertedTheTextStaysOnTheClipboardAndNothingIsRestored) {
    struct Row { bool available, failPaste; std::string warning; };
    const Row rows[] = {
        {false, false, "WARN: Accessibility не выдана — текст в буфере обмена"},
        {true, true, "WARN: nothing was inserted, clipboard not restored — the text stays on the clipboard"},
    };
    for (const Row& row : rows) {
        useLog(row.warning.substr(6, 7) + ".log");
        putOnClipboard({{"text/plain", "earlier"}});
        injector.isAvailable = row.available;
        injector.failPaste = row.failPaste;
        EXPECT_FALSE(pasteAndWait(paster(), "диктовка", true, false, true));
        EXPECT_EQ(logLines(), (Lines{"INFO: pasteboard set (16 bytes)", row.warning}));
        QTest::qWait(150);
        EXPECT_EQ(clipboardText(), QString::fromUtf8("диктовка"));
        EXPECT_TRUE(injector.events.empty());
        EXPECT_TRUE(paster_->savedItems().empty()) << "no copy kept";
        EXPECT_FALSE(QGuiApplication::clipboard()->mimeData()->hasFormat("x-kde-passwordManagerHint"))
            << "text that stays is no secret";
    }
}

TEST_F(PasterTest, RestoreBringsEveryFormatBackByteForByte) {
    QByteArray png(100000, '\0');
    for (int i = 0; i < png.size(); ++i) png[i] = static_cast<char>(i * 7);
    auto* mime = new QMimeData;
    mime->setImageData(QImage(4, 4, QImage::Format_RGB32));  // Qt's own duplicate of the PNG
    mime->setData("image/png", png);
    mime->setData("text/html", "<b>x</b>");
    QGuiApplication::clipboard()->setMimeData(mime);
    pasteAndWait(paster(), "текст", true, false, false);
    EXPECT_EQ(clipboardText(), QString::fromUtf8("текст"));
    EXPECT_EQ(QGuiApplication::clipboard()->mimeData()->data("x-kde-passwordManagerHint"), "secret");
    ASSERT_EQ(paster_->savedItems().size(), 2u) << "the PNG and the HTML, not Qt's image";

    ASSERT_TRUE(QTest::qWaitFor([] { return !QGuiApplication::clipboard()->mimeData()->hasText(); }, 2000));
    const QMimeData* back = QGuiApplication::clipboard()->mimeData();
    EXPECT_EQ(back->data("image/png"), png);
    EXPECT_EQ(back->data("text/html"), "<b>x</b>");
    EXPECT_FALSE(back->hasFormat(Paster::kPasteIdFormat));
    EXPECT_TRUE(paster_->savedItems().empty()) << "the copy is dropped once restored";

    // An empty clipboard is restored as empty.
    QGuiApplication::clipboard()->clear();
    pasteAndWait(paster(), "текст", true, false, false);
    EXPECT_TRUE(paster_->savedItems().empty());
    ASSERT_TRUE(QTest::qWaitFor([] { return clipboardText().isEmpty(); }, 2000));
}

TEST_F(PasterTest, ARestoreStillDueRunsWhenThePasterGoesAway) {
    putOnClipboard({{"text/plain", "user's own"}});
    pasteAndWait(paster(PasterOptions{10000ms, 200ms, 1ms, 50ms, 1000ms}), "текст", true, false, false);
    EXPECT_EQ(clipboardText(), QString::fromUtf8("текст"));
    paster_.reset();
    EXPECT_EQ(clipboardText(), "user's own");
}

TEST_F(PasterTest, TwoQuickDictationsStillRestoreTheUsersClipboard) {
    putOnClipboard({{"text/plain", "user's own"}});
    paster(PasterOptions{100ms, 200ms, 1ms, 50ms, 1000ms});
    pasteAndWait("first", true, false, false);
    QTest::qWait(30);
    pasteAndWait("second", true, false, false);
    ASSERT_EQ(paster_->savedItems().size(), 1u);
    EXPECT_EQ(paster_->savedItems()[0].second, "user's own");
    EXPECT_TRUE(QTest::qWaitFor([] { return clipboardText() == "user's own"; }, 2000));
}

// Waiting for held modifiers to be released is checked on the desktop; a key held for good
// costs one warning and the text still goes in.
TEST_F(PasterTest, AModifierHeldTooLongLogsOnce) {
    injector.heldModifierPolls = 1000000;
    pasteAndWait(paster(PasterOptions{50ms, 30ms, 1ms, 50ms, 1000ms}), "yz", false, true, false);
    EXPECT_EQ(injector.events.back(), "type:yz") << "the typing still happens";
    const auto lines = logLines();
    ASSERT_EQ(lines.size(), 3u) << "one warning, not one per character";
    EXPECT_EQ(lines[1].rfind("WARN: modifier key still held after ", 0), 0u) << lines[1];
}

TEST_F(PasterTest, CancelStopsTypingAndDropsWaitingPastes) {
    injector.heldModifierPolls = 1000000;  // typing waits before its first character
    paster(PasterOptions{50ms, 10000ms, 1ms, 50ms, 1000ms});
    QSignalSpy done(paster_.get(), &Paster::finished);
    paster_->paste("не надо", true, true, true);
    paster_->paste("и это", false, false, false);
    EXPECT_TRUE(paster_->busy());
    paster_->cancel();
    ASSERT_TRUE(QTest::qWaitFor([&] { return done.size() == 2; }, 2000)) << "long before the modifier wait ends";
    EXPECT_FALSE(done[0][0].toBool());
    EXPECT_FALSE(done[1][0].toBool());
    EXPECT_TRUE(injector.events.empty());
    EXPECT_EQ(clipboardText(), QString::fromUtf8("не надо"));
}

}  // namespace
}  // namespace quorvel
