#pragma once
// The WAV-list run: recognise every file of a list through the worker and write one JSON line
// per file (undecodable files first, then the results in the order they arrive).

#include <QObject>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/VocabCorrector.h"

namespace quorvel {

class Transcriber;

namespace WavList {

struct Entry {
    std::string path;
    std::string expected;
};

// Lines of "path[\texpected[\t…]]"; empty lines are skipped.
std::vector<Entry> parse(const std::string& listText);

// "?" with no expected text, "exact" when equal apart from case and surrounding blanks,
// "partial" when the word counts are close enough (min(G,E)/max(E,1) > 0.6), else "diff".
std::string verdict(const std::string& got, const std::string& expected);

std::string decodeLine(const std::string& file);
std::string resultLine(const std::string& file, const std::string& expected, const std::string& got,
                       double elapsedSeconds);

// Runs the list; `finished` is called once on the main thread when the results file is written
// (true) or the list cannot be read or the results not written (false).
void run(const std::filesystem::path& listPath, const std::filesystem::path& resultsPath,
         Transcriber& transcriber, VocabCorrector corrector, std::function<void(bool)> finished);

}  // namespace WavList
}  // namespace quorvel
