// Insertion into a text field of another process on a real (private) X server (a Qt field, and a
// Tk field that reads the clipboard asynchronously), clipboard restore against other selection
// owners (a hung one too), a typing process that is killed (this binary started again in a child
// mode), and the system queries.
#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QMimeData>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iostream>

#include "platform/Paster.h"
#include "platform/x11/X11SystemQueries.h"
#include "platform/x11/X11TextInjector.h"
#include "services/Log.h"
#include "services/QuitOnSignals.h"
#include "support/FieldApp.h"
#include "support/RunProcess.h"
#include "support/TempHome.h"
#include "support/XTestKeys.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;
using testing::FieldApp;
using testing::runProcess;

class PasteDesktopTest : public testing::TempHome {
protected:
    void SetUp() override {
        TempHome::SetUp();
        ASSERT_EQ(QGuiApplication::platformName(), "xcb") << "run under tests/desktop/with-desktop";
        Log::setFile(home() / "paste.log");
        QGuiApplication::clipboard()->clear();
    }
    void TearDown() override {
        runProcess("xdotool", {"keyup", "alt", "shift", "ctrl"});
        TempHome::TearDown();
    }
    std::filesystem::path out() const { return home() / "field.txt"; }

    X11TextInjector injector;
    X11SystemQueries queries;
    Paster paster{injector, queries, PasterOptions{300ms, 1000ms, 10ms}};
};

TEST_F(PasteDesktopTest, QueriesSeeTheDesktopAndTerminalsGetTheirPasteKeys) {
    EXPECT_TRUE(queries.accessibilityTrusted());
    EXPECT_TRUE(queries.inputMonitoringGranted());
    EXPECT_TRUE(injector.available());
    {
        // A real xterm binds no key to the clipboard; whatever reaches its terminal is recorded.
        const auto typed = home() / "xterm.txt";
        QProcess xterm;
        xterm.start("env", {"LC_ALL=C.UTF-8", "xterm", "-u8", "-e", "sh", "-c",
                            "stty -icanon -echo; exec cat > \"$0\"",
                            QString::fromStdString(typed.string())});
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return std::filesystem::exists(typed) && queries.frontApplicationName() == "XTerm"; }, 10000));
        paster.paste("echo да", false, false, false);
        EXPECT_TRUE(QTest::qWaitFor([&] { return readFile(typed) == "echo да"; }, 5000)) << readFile(typed);
        xterm.kill();
        xterm.waitForFinished();
    }
    FieldApp field(out(), {"--class", "URxvt", "--terminal"});
    ASSERT_TRUE(field.waitUntilFocused());
    ASSERT_TRUE(QTest::qWaitFor([&] { return queries.frontApplicationName() == "URxvt"; }, 5000));
    runProcess("xdotool", {"keydown", "shift"});
    EXPECT_TRUE(queries.shiftHeld());
    runProcess("xdotool", {"keyup", "shift"});
    EXPECT_FALSE(queries.shiftHeld());
    EXPECT_FALSE(injector.modifiersHeld()) << "none held now";
    paster.paste("echo да", false, false, false);
    EXPECT_TRUE(field.waitForText("echo да")) << "got: " << field.text();
}

TEST_F(PasteDesktopTest, PastesAfterAHeldModifierIsReleasedSendsReturnTypesAndKeepsQuickPastesApart) {
    FieldApp field(out());
    ASSERT_TRUE(field.waitUntilFocused());
    runProcess("xdotool", {"keydown", "alt"});
    ASSERT_TRUE(injector.modifiersHeld());
    // Released while the paster waits (it blocks this thread, so another process lets go).
    ASSERT_TRUE(QProcess::startDetached("sh", {"-c", "sleep 0.3; xdotool keyup alt"}));
    paster.paste("Привет, мир 😀👍🏽", false, false, true);
    EXPECT_TRUE(field.waitForText("Привет, мир 😀👍🏽\n"))
        << "Control+Alt+V would paste nothing: " << field.text();
    const std::string typed = "Съешь ещё 😀 ok, Ünïcode ✓\tend";
    paster.paste(typed, false, true, false);
    EXPECT_TRUE(field.waitForText("Привет, мир 😀👍🏽\n" + typed)) << field.text();
    // Each waits until the field has fetched the one before.
    std::string all = field.text();
    for (int i = 0; i < 4; ++i) {
        const std::string word = " слово" + std::to_string(i);
        all += word;
        paster.paste(word, i % 2 == 1, false, false);
    }
    EXPECT_TRUE(field.waitForText(all)) << field.text();
}

TEST_F(PasteDesktopTest, RestoresAnImageOwnedByAnotherProgramUnlessSomethingElseWasCopied) {
    // Megabytes of noise as an image, which the owner hands over in chunks (INCR).
    std::string pngBytes(3'000'000, '\0');
    for (size_t i = 0; i < pngBytes.size(); ++i)
        pngBytes[i] = static_cast<char>((i * 2654435761u) >> 13);
    const auto png = home() / "picture.png";
    std::ofstream(png, std::ios::binary) << pngBytes;

    QProcess xclip;  // owns the clipboard until someone else takes it
    xclip.start("xclip", {"-quiet", "-selection", "clipboard", "-t", "image/png", "-i",
                          QString::fromStdString(png.string())});
    ASSERT_TRUE(QTest::qWaitFor(
        [] { return QGuiApplication::clipboard()->mimeData()->formats().contains("image/png"); }, 5000));

    FieldApp field(out());
    ASSERT_TRUE(field.waitUntilFocused());
    paster.paste("поверх картинки", true, false, false);
    EXPECT_TRUE(field.waitForText("поверх картинки"));

    QTest::qWait(600);  // past the restore delay
    const QByteArray back = runProcess("xclip", {"-selection", "clipboard", "-t", "image/png", "-o"}).output;
    EXPECT_TRUE(back.toStdString() == pngBytes) << "the same bytes; got " << back.size() << " of " << pngBytes.size();
    const QByteArray targets = runProcess("xclip", {"-selection", "clipboard", "-t", "TARGETS", "-o"}).output;
    EXPECT_TRUE(targets.contains("image/png")) << targets.toStdString();
    EXPECT_FALSE(targets.contains("UTF8_STRING")) << "the dictated text is gone: " << targets.toStdString();
    xclip.kill();
    xclip.waitForFinished();

    // What another program copied meanwhile stays.
    QGuiApplication::clipboard()->setText("before");
    paster.paste("dictated", true, false, false);
    ASSERT_TRUE(field.waitForText("поверх картинкиdictated"));
    xclip.start("sh", {"-c", "printf 'copied meanwhile' | xclip -quiet -selection clipboard"});
    ASSERT_TRUE(QTest::qWaitFor([] { return QGuiApplication::clipboard()->text() == "copied meanwhile"; }, 5000));
    QTest::qWait(600);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "copied meanwhile");
    xclip.kill();
    xclip.waitForFinished();
}

TEST_F(PasteDesktopTest, ReturnAndTheRestoreWaitForATargetThatReadsTheClipboardLater) {
    FieldApp field(FieldApp::Tk{}, out());
    ASSERT_TRUE(field.waitUntilFocused());
    paster.paste("Сообщение 😀", false, false, true);
    EXPECT_TRUE(field.waitForText("Сообщение 😀\n")) << "Return came first: " << field.text();
    // Busy for longer than the restore delay when the paste comes.
    QGuiApplication::clipboard()->setText("user's own");
    field.signal(SIGSTOP);
    paster.paste("ещё", true, false, false);
    QTest::qWait(600);
    field.signal(SIGCONT);
    EXPECT_TRUE(field.waitForText("Сообщение 😀\nещё")) << "the restored content was pasted: " << field.text();
    EXPECT_TRUE(QTest::qWaitFor([] { return QGuiApplication::clipboard()->text() == "user's own"; }, 3000));
}

TEST_F(PasteDesktopTest, TypedTextArrivesExactWithCapsLockAHeldControlAndAStalledTarget) {
    _XDisplay* keys = testing::openInjector();
    ASSERT_NE(keys, nullptr);
    runProcess("xdotool", {"key", "Caps_Lock"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return testing::capsLockOn(keys); }, 2000));
    {
        // Control held for a while in the middle of typing. More distinct characters than spare
        // keycodes: the field answers pings, so all of them are typed.
        FieldApp field(out());
        ASSERT_TRUE(field.waitUntilFocused());
        std::string text;
        for (int i = 0; i < 4; ++i) text += "Hello world, the quick brown fox jumps over the lazy dog. ";
        paster.paste(text, false, true, false);
        ASSERT_TRUE(field.waitForSomeText());
        QProcess control;
        control.start("sh", {"-c", "xdotool keydown ctrl; sleep 0.3; xdotool keyup ctrl"});
        EXPECT_TRUE(field.waitForText(text)) << "got: " << field.text();
        control.waitForFinished();
        Log::flush();
        EXPECT_EQ(readFile(home() / "paste.log").find("pasting the rest"), std::string::npos);
    }
    // A Tk field: more distinct characters than spare keycodes, and the target stops for 0.5 s.
    FieldApp field(FieldApp::Tk{}, home() / "tk.txt");
    ASSERT_TRUE(field.waitUntilFocused());
    const std::string text =
        "Съешь же ещё этих мягких французских булок, да выпей чаю 😀👍 ЁЖ. "
        "Широкая электрификация южных губерний даст мощный толчок подъёму 🎉";
    QSignalSpy done(&paster, &Paster::finished);
    paster.paste(text, false, true, false);
    ASSERT_TRUE(field.waitForSomeText());
    field.signal(SIGSTOP);
    QTest::qWait(500);
    field.signal(SIGCONT);
    EXPECT_TRUE(field.waitForText(text)) << "got: " << field.text();
    ASSERT_TRUE(QTest::qWaitFor([&] { return done.size() == 1; }, 5000));
    // Stopped for longer than any fixed delay: A (more distinct letters than the spare keycodes
    // hold), then B with other letters. A's queued keys must not be read with B's keymap, and
    // the pasted rest of A must not give way to B.
    const std::string a = "АБВГДЕЁЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯ абвгдеёжзийклмнопрстуфхцчшщъыьэюя";
    const std::string b = " ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    field.signal(SIGSTOP);
    paster.paste(a, false, true, false);
    EXPECT_TRUE(QTest::qWaitFor([&] { return done.size() == 2; }, 5000));
    QTest::qWait(3500);
    paster.paste(b, false, true, false);
    EXPECT_TRUE(QTest::qWaitFor([&] { return done.size() == 3; }, 5000));
    field.signal(SIGCONT);
    EXPECT_TRUE(field.waitForText(text + a + b)) << "got: " << field.text();
    EXPECT_TRUE(testing::capsLockOn(keys)) << "locked again after typing";
    runProcess("xdotool", {"key", "Caps_Lock"});
    testing::closeInjector(keys);
}

TEST_F(PasteDesktopTest, TheClipboardOwnerIsAskedOnlyForDataAndAHungOneCannotHoldUpThePaste) {
    // The owner logs each request it gets; the second one stops before the paste.
    const auto ownerLog = home() / "owner.log", hungLog = home() / "hung.log";
    QProcess owner, hung;
    auto ready = [](QProcess& process, const std::filesystem::path& log) {
        process.start("/usr/bin/python3",
                      {FieldApp::tkFixture(), "owner", "--out",
                       QString::fromStdString(log.string()), "--text", "user's text"});
        return QTest::qWaitFor([&] { return readFile(log) == "ready\n"; }, 10000);
    };
    FieldApp field(out());
    ASSERT_TRUE(field.waitUntilFocused());
    ASSERT_TRUE(ready(owner, ownerLog));
    paster.paste("вставка", true, false, false);
    ASSERT_TRUE(field.waitForText("вставка"));
    EXPECT_TRUE(QTest::qWaitFor(
        [] { return QGuiApplication::clipboard()->text() == "user's text"; }, 3000));
    EXPECT_EQ(readFile(ownerLog), "ready\nUTF8_STRING\n") << "no DELETE or INSERT_* request";
    ASSERT_TRUE(ready(hung, hungLog));
    ::kill(static_cast<pid_t>(hung.processId()), SIGSTOP);
    paster.paste(" и ещё", true, false, false);
    EXPECT_TRUE(field.waitForText("вставка и ещё")) << field.text();
    for (QProcess* process : {&owner, &hung}) {
        process->kill();
        process->waitForFinished(3000);
    }
}

// Child mode: types a long text into whatever has the focus until a signal ends it.
TEST(TypingChild, Run) {
    const char* text = std::getenv("QUORVEL_TYPING_CHILD");
    if (!text) GTEST_SKIP() << "only as a child of the killed-typing test";
    QuitOnSignals quitOnSignals;
    X11TextInjector injector;
    X11SystemQueries queries;
    Paster paster(injector, queries);
    paster.paste(text, false, true, false);
    std::cout << "TYPING" << std::endl;
    QCoreApplication::exec();
}

TEST_F(PasteDesktopTest, AKilledTypingProcessLeavesNoKeyDownAndATerminatedOneRestoresTheKeymap) {
    _XDisplay* display = testing::openInjector();
    ASSERT_NE(display, nullptr);
    const auto mapping = testing::keyboardMapping(display);
    FieldApp field(out());
    ASSERT_TRUE(field.waitUntilFocused());
    qputenv("QUORVEL_TYPING_CHILD", QString("яблоко ёж ").repeated(300).toUtf8());
    for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGKILL}) {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {"--gtest_filter=TypingChild.Run"});
        ASSERT_TRUE(QTest::qWaitFor([&] { return child.canReadLine() && child.readLine() == "TYPING\n"; }, 10000));
        const auto typed = field.text().size();
        ASSERT_TRUE(QTest::qWaitFor([&] { return field.text().size() > typed + 20; }, 10000)) << signal;
        ::kill(static_cast<pid_t>(child.processId()), signal);
        ASSERT_TRUE(child.waitForFinished(5000)) << signal;
        EXPECT_EQ(testing::keysDown(display), std::vector<unsigned>{}) << signal;
        if (signal == SIGKILL) continue;
        EXPECT_EQ(child.exitStatus(), QProcess::NormalExit) << signal;
        EXPECT_EQ(testing::keyboardMapping(display), mapping) << "spare keycodes emptied after signal " << signal;
    }
    qunsetenv("QUORVEL_TYPING_CHILD");
    testing::setKeyboardMapping(display, mapping);
    testing::closeInjector(display);
}

}  // namespace
}  // namespace quorvel
