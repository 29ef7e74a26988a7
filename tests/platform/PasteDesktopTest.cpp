// Insertion into a text field of another process on a real (private) X server, clipboard
// restore against another selection owner, system queries, and the single-instance rule
// between real processes (this binary started again in a child mode).
#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <QProcess>
#include <QTest>
#include <cstdlib>
#include <fstream>
#include <iostream>

#include "platform/Paster.h"
#include "platform/SingleInstance.h"
#include "platform/x11/X11SystemQueries.h"
#include "platform/x11/X11TextInjector.h"
#include "services/Log.h"
#include "support/TempHome.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;

// The fixture program with one text field; its text is mirrored into a file.
class FieldApp {
public:
    FieldApp(const std::filesystem::path& out, QStringList extra = {}) : out_(out) {
        process_.setProcessChannelMode(QProcess::ForwardedChannels);
        process_.start(QUORVEL_TEXT_FIELD_APP, QStringList{"--out", QString::fromStdString(out.string())} + extra);
    }
    ~FieldApp() {
        process_.kill();
        process_.waitForFinished(3000);
    }
    bool waitUntilFocused() { return QTest::qWaitFor([&] { return std::filesystem::exists(out_); }, 10000); }
    std::string text() const {
        std::ifstream in(out_, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    bool waitForText(const std::string& expected) { return QTest::qWaitFor([&] { return text() == expected; }, 5000); }

private:
    std::filesystem::path out_;
    QProcess process_;
};

// Runs a command without blocking the event loop (it may ask us for the clipboard).
QByteArray runAsync(const QString& program, const QStringList& args) {
    QProcess process;
    process.start(program, args);
    if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 10000))
        ADD_FAILURE() << program.toStdString() << " did not finish";
    return process.readAllStandardOutput();
}

class PasteDesktopTest : public testing::TempHome {
protected:
    void SetUp() override {
        TempHome::SetUp();
        ASSERT_EQ(QGuiApplication::platformName(), "xcb") << "run under tests/desktop/with-desktop";
        Log::setFile(home() / "paste.log");
        QGuiApplication::clipboard()->clear();
    }
    void TearDown() override {
        runAsync("xdotool", {"keyup", "alt", "shift", "ctrl"});
        TempHome::TearDown();
    }
    std::filesystem::path out() const { return home() / "field.txt"; }

    X11TextInjector injector;
    X11SystemQueries queries;
    Paster paster{injector, queries, PasterOptions{300ms, 1000ms, 10ms}};
};

TEST_F(PasteDesktopTest, QueriesSeeTheDesktopAndTerminalWindowsGetControlShiftV) {
    EXPECT_TRUE(queries.accessibilityTrusted());
    EXPECT_TRUE(queries.inputMonitoringGranted());
    EXPECT_TRUE(injector.available());
    FieldApp field(out(), {"--class", "XTerm", "--terminal"});
    ASSERT_TRUE(field.waitUntilFocused());
    ASSERT_EQ(queries.frontApplicationName(), "XTerm");
    EXPECT_FALSE(queries.shiftHeld());
    runAsync("xdotool", {"keydown", "shift"});
    EXPECT_TRUE(queries.shiftHeld());
    runAsync("xdotool", {"keyup", "shift"});
    EXPECT_FALSE(queries.shiftHeld());
    EXPECT_FALSE(injector.modifiersHeld()) << "none held now";
    paster.paste("echo да", false, false, false);
    EXPECT_TRUE(field.waitForText("echo да")) << "got: " << field.text();
}

TEST_F(PasteDesktopTest, PastesAfterAHeldModifierIsReleasedSendsReturnAndTypesIntoAnotherProcess) {
    FieldApp field(out());
    ASSERT_TRUE(field.waitUntilFocused());
    runAsync("xdotool", {"keydown", "alt"});
    ASSERT_TRUE(injector.modifiersHeld());
    // Released while the paster waits (it blocks this thread, so another process lets go).
    QProcess release;
    release.start("sh", {"-c", "sleep 0.3; xdotool keyup alt"});
    ASSERT_TRUE(release.waitForStarted());
    paster.paste("Привет, мир 😀👍🏽", false, false, true);
    EXPECT_TRUE(field.waitForText("Привет, мир 😀👍🏽\n")) << "Control+Alt+V would paste nothing: " << field.text();
    release.waitForFinished();
    const std::string typed = "Съешь ещё 😀 ok, Ünïcode ✓\tend";
    paster.paste(typed, false, true, false);
    EXPECT_TRUE(field.waitForText("Привет, мир 😀👍🏽\n" + typed)) << field.text();
}

TEST_F(PasteDesktopTest, RestoresAnImageOwnedByAnotherProgramUnlessSomethingElseWasCopied) {
    QImage image(64, 48, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) image.setPixel(x, y, qRgb(x * 4, y * 5, (x ^ y) * 3));
    const auto png = home() / "picture.png";
    ASSERT_TRUE(image.save(QString::fromStdString(png.string()), "PNG"));
    const std::string pngBytes = readFile(png);

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
    const QByteArray back = runAsync("xclip", {"-selection", "clipboard", "-t", "image/png", "-o"});
    EXPECT_EQ(back.toStdString(), pngBytes) << "the same bytes";
    const QByteArray targets = runAsync("xclip", {"-selection", "clipboard", "-t", "TARGETS", "-o"});
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

// --- single instance between processes -------------------------------------------------------

// Child mode: reports its role on stdout; a primary then stays up (until killed, at most 10 s)
// and reports every message it receives.
TEST(SingleInstanceChild, Run) {
    const char* key = std::getenv("QUORVEL_SINGLE_INSTANCE_KEY");
    if (!key) GTEST_SKIP() << "only as a child of the single-instance tests";
    SingleInstance instance(key);
    instance.onMessage = [](const std::string& text) { std::cout << "MESSAGE " << text << std::endl; };
    const auto role = instance.start();
    const bool secondary = role == SingleInstance::Role::secondary;
    std::cout << "ROLE " << (secondary ? "secondary " : role == SingleInstance::Role::primary ? "primary " : "failed ")
              << (secondary ? instance.primaryPid().value_or(-1) : QCoreApplication::applicationPid()) << std::endl;
    if (!secondary) QTest::qWait(10000);
}

class Copy {
public:
    explicit Copy(const QString& key) {
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert("QUORVEL_SINGLE_INSTANCE_KEY", key);
        process.setProcessEnvironment(env);
        process.start(QCoreApplication::applicationFilePath(), {"--gtest_filter=SingleInstanceChild.Run"});
    }
    ~Copy() {
        process.kill();
        process.waitForFinished(3000);
    }
    // The first line that starts with `prefix`, waiting for it.
    std::string line(const std::string& prefix) {
        size_t at = std::string::npos;
        (void)QTest::qWaitFor([&] {
            output += process.readAllStandardOutput().toStdString();
            at = ("\n" + output).find("\n" + prefix);
            return at != std::string::npos && output.find('\n', at) != std::string::npos;
        }, 10000);
        return at == std::string::npos ? "" : output.substr(at, output.find('\n', at) - at);
    }
    QProcess process;
    std::string output;
};

QString uniqueKey() { return "quorvel-desktop-" + QString::number(QCoreApplication::applicationPid()) + "-" + QString::number(std::rand()); }

TEST(SingleInstanceProcesses, TheSecondCopyDefersToTheFirst) {
    const QString key = uniqueKey();
    Copy first(key);
    const std::string role = first.line("ROLE ");
    ASSERT_EQ(role.rfind("ROLE primary ", 0), 0u) << first.output;
    const std::string firstPid = role.substr(13);

    Copy second(key);
    EXPECT_EQ(second.line("ROLE "), "ROLE secondary " + firstPid);
    EXPECT_TRUE(QTest::qWaitFor([&] { return second.process.state() == QProcess::NotRunning; }, 5000))
        << "the second copy ends";
    EXPECT_EQ(second.process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.process.exitCode(), 0);
    EXPECT_EQ(first.line("MESSAGE "), std::string("MESSAGE ") + SingleInstance::kComeToFront);
}

TEST(SingleInstanceProcesses, RacingStartsGiveExactlyOnePrimary) {
    for (int round = 0; round < 3; ++round) {
        const QString key = uniqueKey();
        std::vector<std::unique_ptr<Copy>> copies;
        for (int i = 0; i < 4; ++i) copies.push_back(std::make_unique<Copy>(key));
        int primaries = 0, secondaries = 0;
        for (auto& copy : copies) {
            const std::string role = copy->line("ROLE ");
            primaries += role.rfind("ROLE primary", 0) == 0;
            secondaries += role.rfind("ROLE secondary", 0) == 0;
        }
        EXPECT_EQ(primaries, 1);
        EXPECT_EQ(secondaries, 3);
    }
}

}  // namespace
}  // namespace quorvel
