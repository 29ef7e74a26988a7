#include "core/ModelCatalog.h"

#include <string_view>
#include <system_error>
#include <utility>

#include "core/AppPaths.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;

bool entryExists(const fs::path& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec)) && !ec;
}

std::vector<STTModel> makeCatalog() {
    std::vector<STTModel> models;

    STTModel giga;
    giga.id = "gigaam-v2-ru";
    giga.name = "GigaAM v2 Russian";
    giga.languages = "Русский";
    giga.type = "nemo";
    giga.languageHint = "ru";
    giga.dirName = "sherpa-onnx-giga-am-v2-russian";
    giga.sizeMB = 245;
    giga.downloadURL =
        "https://huggingface.co/csukuangfj/"
        "sherpa-onnx-nemo-transducer-giga-am-v2-russian-2025-04-19/resolve/main";
    giga.license = "GigaAM License NC (CC-BY-NC 4.0), © Sber / SaluteDevices";
    giga.removable = true;
    // The published export quantises only the encoder.
    giga.files = {"encoder.int8.onnx", "decoder.onnx", "joiner.onnx", "tokens.txt"};
    models.push_back(std::move(giga));

    STTModel parakeet;
    parakeet.id = "parakeet-v3-en";
    parakeet.name = "Parakeet-TDT-0.6b-v3";
    parakeet.languages = "English";
    parakeet.type = "nemo";
    parakeet.languageHint = "en";
    parakeet.dirName = "sherpa-onnx-nemo-parakeet-tdt-0.6b-v3-int8";
    parakeet.sizeMB = 240;
    parakeet.license = "NVIDIA Parakeet (CC-BY-4.0)";
    parakeet.removable = false;
    parakeet.files = {"encoder.int8.onnx", "decoder.int8.onnx", "joiner.int8.onnx", "tokens.txt"};
    models.push_back(std::move(parakeet));

    STTModel turbo;
    turbo.id = "whisper-large-v3-turbo";
    turbo.name = "Whisper Large v3 Turbo (int8)";
    turbo.languages = "Мультиязычная";
    turbo.type = "whisper";
    turbo.languageHint = "ru";
    turbo.dirName = "sherpa-onnx-whisper-large-v3-turbo";
    turbo.sizeMB = 990;
    // A repository, fetched file by file (the release archive also carries the fp32 weights).
    turbo.downloadURL = "https://huggingface.co/csukuangfj/sherpa-onnx-whisper-turbo/resolve/main";
    turbo.license = "OpenAI Whisper (MIT)";
    turbo.removable = true;
    turbo.files = {"turbo-encoder.int8.onnx", "turbo-decoder.int8.onnx", "turbo-tokens.txt"};
    models.push_back(std::move(turbo));

    STTModel small;
    small.id = "whisper-small-multi";
    small.name = "Whisper small (int8)";
    small.languages = "Мультиязычная";
    small.type = "whisper";
    small.languageHint = "";
    small.dirName = "sherpa-onnx-whisper-small";
    small.sizeMB = 370;
    small.downloadURL =
        "https://github.com/k2-fsa/sherpa-onnx/releases/download/asr-models/"
        "sherpa-onnx-whisper-small.tar.bz2";
    small.license = "OpenAI Whisper (MIT)";
    small.removable = true;
    small.files = {"small-encoder.int8.onnx", "small-decoder.int8.onnx", "small-tokens.txt"};
    models.push_back(std::move(small));

    STTModel sphinx;
    sphinx.id = "pocketsphinx-en-us";
    sphinx.name = "PocketSphinx English (built in)";
    sphinx.languages = "English";
    sphinx.type = "pocketsphinx";
    sphinx.languageHint = "en";
    sphinx.dirName = "pocketsphinx-en-us";
    sphinx.sizeMB = 37;
    sphinx.license = "CMU Sphinx (BSD-2-Clause)";
    sphinx.removable = false;
    sphinx.files = {"en-us/mdef", "en-us.lm.bin", "cmudict-en-us.dict"};
    sphinx.builtIn = true;
    models.push_back(std::move(sphinx));

    return models;
}

}  // namespace

bool STTModel::isArchive() const {
    static constexpr std::string_view suffix = ".tar.bz2";
    return downloadURL && downloadURL->size() > suffix.size() &&
           downloadURL->compare(downloadURL->size() - suffix.size(), suffix.size(), suffix) == 0;
}

ModelCatalog::ModelCatalog(std::filesystem::path systemModelDir)
    : systemModelDir_(std::move(systemModelDir)) {}

const std::vector<STTModel>& ModelCatalog::all() {
    static const std::vector<STTModel> catalog = makeCatalog();
    return catalog;
}

std::optional<STTModel> ModelCatalog::model(const std::string& id) {
    for (const STTModel& entry : all()) {
        if (entry.id == id) return entry;
    }
    return std::nullopt;
}

std::filesystem::path ModelCatalog::modelsDir() { return AppPaths::modelsDir(); }

std::filesystem::path ModelCatalog::legacyModelsDir() { return AppPaths::legacyDir() / "models"; }

bool ModelCatalog::isSafeDirName(const std::string& dirName) {
    return !dirName.empty() && dirName != "." && dirName != ".." &&
           dirName.find('/') == std::string::npos && dirName.find('\0') == std::string::npos;
}

std::optional<std::filesystem::path> ModelCatalog::directory(const STTModel& model) const {
    if (isSafeDirName(model.dirName)) {
        for (const fs::path& base : {modelsDir(), legacyModelsDir()}) {
            fs::path candidate = base / model.dirName;
            if (entryExists(candidate)) return candidate;
        }
    }
    if (model.builtIn && !systemModelDir_.empty() && entryExists(systemModelDir_)) return systemModelDir_;
    return std::nullopt;
}

bool ModelCatalog::isDownloaded(const STTModel& model) const { return directory(model).has_value(); }

std::optional<std::filesystem::path> ModelCatalog::removableDirectory(const STTModel& model) const {
    if (!model.removable || !isSafeDirName(model.dirName)) return std::nullopt;
    fs::path own = modelsDir() / model.dirName;
    if (!entryExists(own)) return std::nullopt;
    return own;
}

}  // namespace quorvel
