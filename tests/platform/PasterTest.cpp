// Insertion with a recording key backend and the in-process clipboard of the offscreen platform.
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>

#include "platform/Paster.h"
#include "platform/fake/FakeSystemQueries.h"
#include "platform/fake/FakeTextInjector.h"
#include "services/Log.h"
#include "support/TempHome.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;

class PasterTest : public testing::TempHome {
protected:
    void SetUp() override {
        TempHome::SetUp();
        Log::setFile(home() / "paste.log");
        QGuiApplication::clipboard()->clear();
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

    static constexpr PasterOptions kOptions{50ms, 200ms, 1ms, 50ms, 1000ms};

    static QString clipboardText() { return QGuiApplication::clipboard()->text(); }

    FakeTextInjector injector;
    FakeSystemQueries queries;
    std::unique_ptr<Paster> paster_;
};

// No synthetic keys at all, or the paste shortcut cannot be posted.
TEST_F(PasterTest, WhenNothingIsInsertedTheTextStaysOnTheClipboardAndNothingIsRestored) {
    for (const auto& [available, failPaste] : {std::pair{false, false}, std::pair{true, true}}) {
        QGuiApplication::clipboard()->setText("earlier");
        injector.isAvailable = available;
        injector.failPaste = failPaste;
        EXPECT_FALSE(pasteAndWait(paster(), "диктовка", true, false, true));
        QTest::qWait(150);  // past the restore delay
        EXPECT_EQ(clipboardText(), QString::fromUtf8("диктовка"));
        EXPECT_TRUE(injector.events.empty());
        EXPECT_TRUE(paster_->savedItems().empty()) << "no copy kept";
        EXPECT_FALSE(QGuiApplication::clipboard()->mimeData()->hasFormat("x-kde-passwordManagerHint"))
            << "text that stays is no secret";
    }
}

TEST_F(PasterTest, RestoreBringsEveryFormatBackByteForByte) {
    const QByteArray png = QByteArray("\x89PNG\r\n\x1a\n").repeated(10000);
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

// A second dictation before the restore keeps the user's copy, not the first dictation; a restore
// still due runs when the paster goes away.
TEST_F(PasterTest, QuickDictationsRestoreTheUsersClipboardAlsoWhenThePasterGoesAway) {
    QGuiApplication::clipboard()->setText("user's own");
    Paster& slow = paster(PasterOptions{10000ms, 200ms, 1ms, 50ms, 1000ms});
    pasteAndWait(slow, "first", true, false, false);
    pasteAndWait(slow, "second", true, false, false);
    ASSERT_EQ(slow.savedItems().size(), 1u);
    EXPECT_EQ(slow.savedItems()[0].second, "user's own");
    EXPECT_EQ(clipboardText(), "second");
    paster_.reset();
    EXPECT_EQ(clipboardText(), "user's own");
}

// Waiting for held modifiers to be released is checked on the desktop; a key held for good
// costs one warning and the text still goes in.
TEST_F(PasterTest, AModifierHeldTooLongWarnsOnce) {
    injector.heldModifierPolls = 1000000;
    pasteAndWait(paster(PasterOptions{50ms, 30ms, 1ms, 50ms, 1000ms}), "yz", false, true, false);
    EXPECT_EQ(injector.events.back(), "type:yz") << "the typing still happens";
    Log::flush();
    const std::string log = readFile(home() / "paste.log");
    const std::string warning = "WARN: modifier key still held after ";
    ASSERT_NE(log.find(warning), std::string::npos) << log;
    EXPECT_EQ(log.find(warning, log.find(warning) + 1), std::string::npos)
        << "one, not one per character";
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
