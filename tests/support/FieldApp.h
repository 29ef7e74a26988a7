#pragma once
// A text field in another process for desktop tests: the Qt fixture (tests/fixtures/text_field_app)
// or a Tk field (tests/fixtures/tk_clipboard.py, which reads the clipboard asynchronously). The
// field mirrors its text into a file; the file appears once the field has the keyboard focus.
#include <QProcess>
#include <QStringList>
#include <QTest>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace quorvel::testing {

class FieldApp {
public:
    explicit FieldApp(const std::filesystem::path& out, QStringList extra = {}) : out_(out) {
        process_.setProcessChannelMode(QProcess::ForwardedChannels);
        process_.start(QUORVEL_BINARY_DIR "/tests/text_field_app",
                       QStringList{"--out", QString::fromStdString(out.string())} + extra);
    }
    struct Tk {};
    FieldApp(Tk, const std::filesystem::path& out) : out_(out) {
        process_.setProcessChannelMode(QProcess::ForwardedChannels);
        process_.start("/usr/bin/python3", {tkFixture(), "field", "--out", QString::fromStdString(out.string())});
    }
    ~FieldApp() {
        process_.kill();
        process_.waitForFinished(3000);
    }
    FieldApp(const FieldApp&) = delete;
    FieldApp& operator=(const FieldApp&) = delete;

    static QString tkFixture() { return QUORVEL_SOURCE_DIR "/tests/fixtures/tk_clipboard.py"; }

    void signal(int number) { ::kill(static_cast<pid_t>(process_.processId()), number); }
    // Generous: a Python interpreter starting on a busy machine takes its time.
    bool waitUntilFocused() { return QTest::qWaitFor([&] { return std::filesystem::exists(out_); }, 30000); }
    std::string text() const {
        std::ifstream in(out_, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    bool waitForText(const std::string& expected) {
        return QTest::qWaitFor([&] { return text() == expected; }, 5000);
    }
    bool waitForSomeText() { return QTest::qWaitFor([&] { return !text().empty(); }, 5000); }

private:
    std::filesystem::path out_;
    QProcess process_;
};

}  // namespace quorvel::testing
