#include "core/ConfigStore.h"

#include "core/AppPaths.h"
#include "core/AtomicFile.h"

namespace quorvel {

ConfigStore::ConfigStore(std::filesystem::path url) : url_(std::move(url)) { load(); }

void ConfigStore::load() {
    const files::StoreLoad loaded = files::loadStoreFile(url_, "settings", [this](const std::string& bytes) {
        auto decoded = AppConfig::decode(bytes);
        if (decoded) config_ = std::move(*decoded);
        return decoded.has_value();
    });
    fileKeptAside_ = loaded == files::StoreLoad::KeptAside;
    // After an undecodable file the next save replaces it with defaults (its bytes were kept aside).
    if ((loaded == files::StoreLoad::Missing || loaded == files::StoreLoad::Undecodable) && importLegacy()) save();
}

// The earlier generation kept a few settings under snake-case keys; copy those of the right type.
bool ConfigStore::importLegacy() {
    const files::ReadResult file = files::readStoreFile(AppPaths::legacyDir() / "config.json", "earlier settings");
    if (file.status != files::ReadResult::Status::Read) return false;
    const auto legacy = json::parse(file.bytes);
    if (!legacy || !legacy->is_object()) return false;

    auto copyBool = [&](const char* key, bool& field) {
        const auto it = legacy->find(key);
        if (it != legacy->end() && it->is_boolean()) field = it->get<bool>();
    };
    auto copyString = [&](const char* key, std::string& field) {
        const auto it = legacy->find(key);
        if (it != legacy->end() && it->is_string()) field = it->get<std::string>();
    };
    copyBool("mode_tap_enabled", config_.modeTapEnabled);
    copyBool("mode_hold_enabled", config_.modeHoldEnabled);
    copyBool("sound_record", config_.soundRecord);
    copyBool("sound_paste", config_.soundPaste);
    copyBool("translate_default", config_.translateDefault);
    copyString("ollama_url", config_.ollamaURL);
    copyString("ollama_model", config_.ollamaModel);
    return true;
}

void ConfigStore::replace(AppConfig config) {
    config_ = std::move(config);
    save();
}

void ConfigStore::update(const std::function<void(AppConfig&)>& change) {
    change(config_);
    save();
}

void ConfigStore::save() {
    if (fileKeptAside_) return;
    files::createDirectories(url_.parent_path());
    if (const auto bytes = config_.encode()) files::writeAtomically(url_, *bytes);
}

}  // namespace quorvel
