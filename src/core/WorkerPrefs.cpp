#include "core/WorkerPrefs.h"

#include "core/ModeRules.h"

namespace quorvel {

std::string chosenModelID(const DictationMode& mode, const AppConfig& config) {
    // An empty id is what a hand-edited file leaves behind; it names no model, so it counts as
    // none.
    if (mode.sttModelID && !mode.sttModelID->empty()) return *mode.sttModelID;
    if (mode.language == "ru" || mode.language == "en") {
        return DictationMode::defaultModelForLanguage(mode.language);
    }
    return config.sttModelID;
}

std::string chosenModelID(const AppConfig& config) {
    return chosenModelID(ModeRules::activeMode(config), config);
}

std::optional<WorkerPrefs> workerPrefs(const AppConfig& config, const ModelCatalog& catalog) {
    std::optional<STTModel> model = ModelCatalog::model(chosenModelID(config));
    if (!model) {
        for (const STTModel& candidate : ModelCatalog::all()) {
            if (catalog.isDownloaded(candidate)) {
                model = candidate;
                break;
            }
        }
    }
    if (!model) return std::nullopt;
    std::optional<std::filesystem::path> dir = catalog.directory(*model);
    if (!dir) return std::nullopt;
    return WorkerPrefs{dir->string(), model->type, model->languageHint};
}

}  // namespace quorvel
