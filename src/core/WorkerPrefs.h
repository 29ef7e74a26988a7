#pragma once
// Which model a dictation uses, and the settings the speech-to-text worker is started with.

#include <optional>
#include <string>

#include "core/AppConfig.h"
#include "core/DictationMode.h"
#include "core/ModelCatalog.h"

namespace quorvel {

struct WorkerPrefs {
    std::string dir;       // absolute path of the installed model's folder
    std::string type;      // model family as the catalog gives it
    std::string language;  // language code handed to the worker, or empty

    friend bool operator==(const WorkerPrefs&, const WorkerPrefs&) = default;
};

// The model id a dictation in `mode` asks for: the mode's own model; else, for a mode on "ru" or
// "en", that language's default model; else (a mode on "auto") the configured global model.
// The worker, the history's model name and the punctuation decision all follow this one choice.
std::string chosenModelID(const DictationMode& mode, const AppConfig& config);
// The same for the active mode.
std::string chosenModelID(const AppConfig& config);

// The worker settings for the active mode's model. An id the catalog does not list falls back to
// the first installed model in catalog order; a listed model that is not installed gives nothing
// (so the worker does not start rather than silently using another language's model).
std::optional<WorkerPrefs> workerPrefs(const AppConfig& config, const ModelCatalog& catalog);

}  // namespace quorvel
