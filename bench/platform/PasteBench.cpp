// Paster.paste → the text visible in another process's text field (a real X server: run under
// tests/desktop/with-desktop). One paste per repetition; read the median. Target ≤ 60 ms.
// The text field is the test fixture text_field_app: $QUORVEL_TEXT_FIELD_APP, else next to the
// test binaries of the same build tree.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <chrono>
#include <memory>
#include <thread>

#include "platform/Paster.h"
#include "platform/x11/X11SystemQueries.h"
#include "platform/x11/X11TextInjector.h"

namespace quorvel {
namespace {

using Clock = std::chrono::steady_clock;

QString fieldAppPath() {
    const QString fromEnv = qEnvironmentVariable("QUORVEL_TEXT_FIELD_APP");
    if (!fromEnv.isEmpty()) return fromEnv;
#ifdef QUORVEL_TEXT_FIELD_APP
    return QStringLiteral(QUORVEL_TEXT_FIELD_APP);
#else
    return QDir(QCoreApplication::applicationDirPath()).filePath("../tests/text_field_app");
#endif
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Keeps the event loop running (the field asks us for the clipboard) until `done` or time-out.
template <typename Done>
bool pumpUntil(Done done, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!done()) {
        if (Clock::now() > deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

// One text field process for all repetitions.
struct FieldSession {
    QTemporaryDir dir;
    QString out = dir.filePath("field.txt");
    QProcess process;
    bool ready = false;
    X11TextInjector injector;
    X11SystemQueries queries;
    Paster paster{injector, queries};

    FieldSession() {
        if (!QFile::exists(fieldAppPath()) || !injector.available()) return;
        process.start(fieldAppPath(), {"--out", out});
        ready = process.waitForStarted() &&
                pumpUntil([&] { return QFile::exists(out); }, std::chrono::seconds(10));
    }
    ~FieldSession() {
        process.kill();
        process.waitForFinished(3000);
    }
};

void BM_PasteVisibleInAnotherProcess(benchmark::State& state) {
    static auto session = std::make_unique<FieldSession>();
    if (!session->ready) {
        state.SkipWithError("no X server with XTest, or text_field_app not found");
        return;
    }
    static int counter = 0;
    for (auto _ : state) {
        const QByteArray token = "вставка " + QByteArray::number(++counter) + " 😀 ";
        const auto start = Clock::now();
        session->paster.paste(token.toStdString(), false, false, false);
        if (!pumpUntil([&] { return readAll(session->out).endsWith(token); }, std::chrono::seconds(5))) {
            state.SkipWithError("the pasted text did not arrive");
            return;
        }
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    }
}
BENCHMARK(BM_PasteVisibleInAnotherProcess)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(30)
    ->ReportAggregatesOnly(true);

}  // namespace
}  // namespace quorvel
