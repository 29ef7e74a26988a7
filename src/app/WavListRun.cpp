#include "app/WavListRun.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <optional>

#include "core/AtomicFile.h"
#include "core/WavFileReader.h"
#include "services/Log.h"
#include "services/Transcriber.h"

namespace quorvel::WavList {
namespace {

// What the run carries from one completion to the next.
struct Progress {
    std::vector<std::string> lines;
    size_t pending = 0;
    std::filesystem::path resultsPath;
    std::function<void(bool)> finished;
};

void finish(Progress& progress) {
    std::string text;
    for (const auto& line : progress.lines) text += line + "\n";
    files::createDirectories(progress.resultsPath.parent_path());
    if (!files::writeAtomically(progress.resultsPath, text)) {
        // A script must not take a run whose results went nowhere for a success.
        Log::error("результаты не записаны: " + progress.resultsPath.string() + ": " + std::strerror(errno));
        for (const auto& line : progress.lines) Log::info(line);
        progress.finished(false);
        return;
    }
    Log::info("результаты: " + progress.resultsPath.string());
    for (const auto& line : progress.lines) Log::info(line);
    progress.finished(true);
}

}  // namespace

void run(const std::filesystem::path& listPath, const std::filesystem::path& resultsPath,
         Transcriber& transcriber, VocabCorrector corrector, std::function<void(bool)> finished) {
    const auto listText = files::readWhole(listPath);
    if (!listText) {
        Log::error("не читается список: " + listPath.string());
        finished(false);
        return;
    }
    auto progress = std::make_shared<Progress>();
    progress->resultsPath = resultsPath;
    progress->finished = std::move(finished);
    auto sharedCorrector = std::make_shared<const VocabCorrector>(std::move(corrector));

    // Every file is decoded (and its "decode" line added) before the first one is queued, so the
    // count of pending results is complete before any result can arrive.
    std::vector<std::pair<Entry, std::vector<float>>> queued;
    for (const Entry& entry : parse(*listText)) {
        WavFile file = readWavFile(entry.path);
        if (file.samples.has_value()) {
            queued.emplace_back(entry, std::move(file.samples).value());
        } else {
            progress->lines.push_back(decodeLine(entry.path));
        }
    }
    progress->pending = queued.size();
    for (auto& [entry, samples] : queued) {
        const auto queuedAt = std::chrono::steady_clock::now();
        transcriber.transcribe(std::move(samples), [progress, entry, queuedAt,
                                                     sharedCorrector](std::optional<std::string> text) {
            const double elapsed =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - queuedAt).count();
            progress->lines.push_back(resultLine(entry.path, entry.expected,
                                                 sharedCorrector->correct(text.value_or("")), elapsed));
            if (--progress->pending == 0) finish(*progress);
        });
    }
    if (queued.empty()) finish(*progress);
}

}  // namespace quorvel::WavList
