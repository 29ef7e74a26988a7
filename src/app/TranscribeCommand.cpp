#include "app/TranscribeCommand.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>

#include "core/AppPaths.h"
#include "core/ConfigStore.h"
#include "core/ModelCatalog.h"
#include "core/VocabStore.h"
#include "core/WavFileReader.h"
#include "core/WorkerPrefs.h"
#include "services/Transcriber.h"

namespace quorvel::TranscribeCommand {
namespace {

using namespace std::chrono;

struct Job {
    std::string file;
    std::vector<float> samples;
};

struct Run {
    std::unique_ptr<Transcriber> transcriber;
    std::shared_ptr<const VocabCorrector> corrector;
    std::string modelID;
    bool json = false;
    bool labelled = false;  // several files: say which text belongs to which
    size_t pending = 0;
    int status = 0;
    std::function<void(int)> finished;
};

void printResult(Run& run, const std::string& file, const std::optional<std::string>& text, double seconds) {
    if (!text) {
        std::fprintf(stderr, "quorvel: %s: recognition failed (see the log: %s)\n", file.c_str(),
                     AppPaths::logURL().c_str());
        run.status = 1;
    }
    const std::string corrected = run.corrector->correct(text.value_or(""));
    if (run.json) {
        nlohmann::json line{{"file", file}, {"model", run.modelID}, {"text", corrected}, {"ok", text.has_value()},
                            {"seconds", std::round(seconds * 100) / 100}};
        std::printf("%s\n", line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    } else if (text) {
        std::printf(run.labelled ? "%s\t%s\n" : "%.0s%s\n", file.c_str(), corrected.c_str());
    }
    std::fflush(stdout);
}

std::string installedModels(const ModelCatalog& catalog) {
    std::string list;
    for (const auto& model : ModelCatalog::all())
        if (catalog.isDownloaded(model)) list += "  " + model.id + " — " + model.name + "\n";
    return list.empty() ? "  (none)\n" : list;
}

// The model to use, or a message saying why there is none.
std::optional<WorkerPrefs> resolveModel(const std::string& id, const ModelCatalog& catalog, std::string& error) {
    const auto model = ModelCatalog::model(id);
    if (!model) {
        error = "unknown model \"" + id + "\". Installed models:\n" + installedModels(catalog);
        return std::nullopt;
    }
    const auto dir = catalog.directory(*model);
    if (!dir) {
        error = "model \"" + id + "\" (" + model->name + ") is not installed. Installed models:\n" +
                installedModels(catalog);
        return std::nullopt;
    }
    return WorkerPrefs{dir->string(), model->type, model->languageHint};
}

void finish(Run& run) {
    run.transcriber.reset();  // completions run from the event loop: the client may go here
    run.finished(run.status);
}

}  // namespace

bool parse(const std::vector<std::string>& words, Arguments& out, std::string& error) {
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (word == "--json") {
            out.json = true;
        } else if (word == "--model") {
            if (i + 1 == words.size()) {
                error = "--model needs a model id";
                return false;
            }
            out.modelID = words[++i];
        } else if (word.rfind("--model=", 0) == 0) {
            out.modelID = word.substr(8);
        } else if (word.rfind("--", 0) == 0) {
            error = "unknown option " + word;
            return false;
        } else {
            out.files.push_back(word);
        }
    }
    if (out.files.empty()) error = "no WAV files given";
    return !out.files.empty();
}

void run(const Arguments& arguments, std::function<void(int)> finished) {
    const ConfigStore config(AppPaths::configURL());
    const ModelCatalog catalog;
    auto state = std::make_shared<Run>();
    state->finished = std::move(finished);
    state->json = arguments.json;
    state->labelled = arguments.files.size() > 1;
    state->modelID = arguments.modelID.empty() ? chosenModelID(config.config()) : arguments.modelID;

    std::string error;
    const auto prefs = resolveModel(state->modelID, catalog, error);
    if (!prefs) {
        std::fprintf(stderr, "quorvel: %s", error.c_str());
        return state->finished(1);
    }

    const auto worker = Transcriber::resolveWorker();
    if (!worker) {
        std::fprintf(stderr, "quorvel: the speech-to-text worker (stt_worker.py) is not installed next to the program\n");
        return state->finished(1);
    }
    if (!std::filesystem::exists(config.config().pythonPath)) {
        std::fprintf(stderr, "quorvel: the configured Python interpreter %s does not exist\n",
                     config.config().pythonPath.c_str());
        return state->finished(1);
    }

    std::vector<Job> jobs;
    double longest = 0;
    for (const auto& file : arguments.files) {
        WavFile wav = readWavFile(file);
        if (!wav.samples) {
            std::fprintf(stderr, "quorvel: %s: not a readable 16-bit WAV file (%s)\n", file.c_str(), wav.error.c_str());
            state->status = 1;
            continue;
        }
        longest = std::max(longest, static_cast<double>(wav.samples->size()) / 16000.0);
        jobs.push_back({file, std::move(*wav.samples)});
    }
    if (jobs.empty()) return state->finished(state->status);

    // Long recordings take a while to decode; the usual request time-out would cut them off.
    Transcriber::Options options{.requestTimeout = milliseconds(std::max(45000, static_cast<int>(longest * 2000))),
                                 .workerURL = worker,
                                 .tempDir = Transcriber::runTempDir()};
    state->transcriber = std::make_unique<Transcriber>(config.config().pythonPath,
                                                       [prefs] { return prefs; }, options);
    state->corrector = std::make_shared<const VocabCorrector>(VocabStore(AppPaths::vocabURL()).corrector());
    state->pending = jobs.size();
    for (auto& job : jobs) {
        const auto start = steady_clock::now();
        state->transcriber->transcribe(std::move(job.samples), [state, file = job.file, start](auto text) {
            printResult(*state, file, text, duration<double>(steady_clock::now() - start).count());
            if (--state->pending == 0) finish(*state);
        });
    }
}

}  // namespace quorvel::TranscribeCommand
