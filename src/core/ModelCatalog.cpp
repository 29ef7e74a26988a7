#include "core/ModelCatalog.h"

#include <string_view>
#include <system_error>
#include <utility>

#include "core/AppPaths.h"
#include "core/ModelFiles.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;

bool entryExists(const fs::path& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec)) && !ec;
}

std::vector<STTModel> makeCatalog() {
    return {
        {.id = "gigaam-v2-ru",
         .name = "GigaAM v2 Russian",
         .languages = "Русский",
         .type = "nemo",
         .languageHint = "ru",
         .dirName = "sherpa-onnx-giga-am-v2-russian",
         .sizeMB = 245,
         .downloadURL = "https://huggingface.co/csukuangfj/"
                        "sherpa-onnx-nemo-transducer-giga-am-v2-russian-2025-04-19/resolve/main",
         .license = "GigaAM License NC (CC-BY-NC 4.0), © Sber / SaluteDevices",
         .removable = true,
         // The published export quantises only the encoder.
         .files = {"encoder.int8.onnx", "decoder.onnx", "joiner.onnx", "tokens.txt"}},
        {.id = "parakeet-v3-en",
         .name = "Parakeet-TDT-0.6b-v3",
         .languages = "English",
         .type = "nemo",
         .languageHint = "en",
         .dirName = "sherpa-onnx-nemo-parakeet-tdt-0.6b-v3-int8",
         .sizeMB = 240,
         .downloadURL = std::nullopt,  // placed into a models folder by other means
         .license = "NVIDIA Parakeet (CC-BY-4.0)",
         .removable = false,
         .files = {"encoder.int8.onnx", "decoder.int8.onnx", "joiner.int8.onnx", "tokens.txt"}},
        {.id = "whisper-large-v3-turbo",
         .name = "Whisper Large v3 Turbo (int8)",
         .languages = "Мультиязычная",
         .type = "whisper",
         .languageHint = "ru",
         .dirName = "sherpa-onnx-whisper-large-v3-turbo",
         .sizeMB = 990,
         // A repository, fetched file by file (the release archive also carries the fp32 weights).
         .downloadURL = "https://huggingface.co/csukuangfj/sherpa-onnx-whisper-turbo/resolve/main",
         .license = "OpenAI Whisper (MIT)",
         .removable = true,
         .files = {"turbo-encoder.int8.onnx", "turbo-decoder.int8.onnx", "turbo-tokens.txt"}},
        {.id = "whisper-small-multi",
         .name = "Whisper small (int8)",
         .languages = "Мультиязычная",
         .type = "whisper",
         .languageHint = "",
         .dirName = "sherpa-onnx-whisper-small",
         .sizeMB = 370,
         .downloadURL = "https://github.com/k2-fsa/sherpa-onnx/releases/download/asr-models/"
                        "sherpa-onnx-whisper-small.tar.bz2",
         .license = "OpenAI Whisper (MIT)",
         .removable = true,
         .files = {"small-encoder.int8.onnx", "small-decoder.int8.onnx", "small-tokens.txt"}},
        {.id = "pocketsphinx-en-us",
         .name = "PocketSphinx English (built in)",
         .languages = "English",
         .type = "pocketsphinx",
         .languageHint = "en",
         .dirName = "pocketsphinx-en-us",
         .sizeMB = 37,
         .downloadURL = std::nullopt,  // comes with Debian's pocketsphinx-en-us package
         .license = "CMU Sphinx (BSD-2-Clause)",
         .removable = false,
         .files = {"en-us/mdef", "en-us.lm.bin", "cmudict-en-us.dict"},
         .builtIn = true},
    };
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

std::filesystem::path ModelCatalog::modelsDir() {
    return AppPaths::modelsDir();
}

std::filesystem::path ModelCatalog::legacyModelsDir() {
    return AppPaths::legacyDir() / "models";
}

bool ModelCatalog::isSafeDirName(const std::string& dirName) {
    return !dirName.empty() && dirName != "." && dirName != ".." &&
           dirName.find('/') == std::string::npos && dirName.find('\0') == std::string::npos;
}

std::optional<std::filesystem::path> ModelCatalog::directory(const STTModel& model) const {
    const auto usable = [&](const fs::path& dir) {
        return !modelfiles::folderProblem(dir, model.files).has_value();
    };
    if (isSafeDirName(model.dirName)) {
        for (const fs::path& base : {modelsDir(), legacyModelsDir()}) {
            fs::path candidate = base / model.dirName;
            if (usable(candidate)) return candidate;
        }
    }
    if (model.builtIn && !systemModelDir_.empty() && usable(systemModelDir_))
        return systemModelDir_;
    return std::nullopt;
}

bool ModelCatalog::isDownloaded(const STTModel& model) const {
    return directory(model).has_value();
}

std::optional<std::filesystem::path> ModelCatalog::removableDirectory(const STTModel& model) const {
    if (!model.removable || !isSafeDirName(model.dirName)) return std::nullopt;
    fs::path own = modelsDir() / model.dirName;
    if (!entryExists(own)) return std::nullopt;
    return own;
}

}  // namespace quorvel
