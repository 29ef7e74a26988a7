#pragma once
// The WAV-list run: recognise every file of a list through the worker and write one JSON line
// per file (undecodable files first, then the results in the order they arrive).

#include <QObject>
#include <filesystem>
#include <functional>

#include "core/VocabCorrector.h"
#include "core/WavList.h"

namespace quorvel {

class Transcriber;

namespace WavList {

// Runs the list; `finished` is called once on the main thread when the results file is written
// (true) or the list cannot be read or the results not written (false).
void run(const std::filesystem::path& listPath, const std::filesystem::path& resultsPath,
         Transcriber& transcriber, VocabCorrector corrector, std::function<void(bool)> finished);

}  // namespace WavList
}  // namespace quorvel
