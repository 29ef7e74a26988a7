#include "app/WavListRun.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>

#include "core/AtomicFile.h"
#include "core/Unicode.h"
#include "core/WavFileReader.h"
#include "services/Log.h"
#include "services/Transcriber.h"

namespace quorvel::WavList {
namespace {

std::string quoted(const std::string& value) {
    return nlohmann::json(value).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string trimBlanks(const std::string& text) {
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

size_t spaceSeparatedWords(const std::string& text) {
    size_t words = 0;
    bool inWord = false;
    for (char c : text) {
        if (c != ' ' && !inWord) ++words;
        inWord = c != ' ';
    }
    return words;
}

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

std::vector<Entry> parse(const std::string& listText) {
    std::vector<Entry> entries;
    std::istringstream in(listText);
    for (std::string line; std::getline(in, line);) {
        if (line.empty()) continue;
        const size_t tab = line.find('\t');
        Entry entry{line.substr(0, tab), ""};
        if (tab != std::string::npos) {
            const size_t next = line.find('\t', tab + 1);
            entry.expected = line.substr(tab + 1, next == std::string::npos ? std::string::npos : next - tab - 1);
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::string verdict(const std::string& got, const std::string& expected) {
    if (expected.empty()) return "?";
    if (unicode::toLower(trimBlanks(got)) == unicode::toLower(trimBlanks(expected))) return "exact";
    const double g = static_cast<double>(spaceSeparatedWords(got));
    const double e = static_cast<double>(spaceSeparatedWords(expected));
    return std::min(g, e) / std::max(e, 1.0) > 0.6 ? "partial" : "diff";
}

std::string decodeLine(const std::string& file) { return "{\"file\":" + quoted(file) + ",\"error\":\"decode\"}"; }

std::string resultLine(const std::string& file, const std::string& expected, const std::string& got,
                       double elapsedSeconds) {
    char elapsed[32];
    std::snprintf(elapsed, sizeof elapsed, "%.2f", elapsedSeconds);
    return "{\"file\":" + quoted(file) + ",\"expected\":" + quoted(expected) + ",\"got\":" + quoted(got) +
           ",\"ok\":" + quoted(verdict(got, expected)) + ",\"elapsed_s\":" + elapsed + "}";
}

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
