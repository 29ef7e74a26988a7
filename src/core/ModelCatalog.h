#pragma once
// The speech-to-text models the program knows: what each one is, where it is fetched from, which
// files make it up, where an installed copy is found and whether the user may remove it.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quorvel {

struct STTModel {
    std::string id;            // stored in the configuration (sttModelID)
    std::string name;          // display name
    std::string languages;     // display text of the languages it recognises
    std::string type;          // handed to the worker after --model-type
    std::string languageHint;  // language code that suits the model ("ru", "en" or empty)
    std::string dirName;       // name of the model's folder
    double sizeMB = 0;         // approximate download size, for display
    // Where to fetch it: a folder URL (one request per file) or a ".tar.bz2" archive whose top
    // folder is dirName. Absent: the model cannot be downloaded.
    std::optional<std::string> downloadURL;
    std::string license;
    bool removable = true;
    // The files an installed copy holds; a download fetches (or expects in the archive) each one.
    std::vector<std::string> files;
    // Ships with the operating system; also looked up in the catalog's system model folder.
    bool builtIn = false;

    // The download is one archive rather than one request per file.
    bool isArchive() const;

    friend bool operator==(const STTModel&, const STTModel&) = default;
};

class ModelCatalog {
  public:
    // Where Debian's pocketsphinx-en-us package puts the English model.
    static constexpr const char* defaultSystemModelDir = "/usr/share/pocketsphinx/model/en-us";

    // `systemModelDir` is the folder of the built-in recogniser's model (tests point it elsewhere).
    explicit ModelCatalog(std::filesystem::path systemModelDir = defaultSystemModelDir);

    // Every known model, in catalog order (the order also decides the fallback model).
    static const std::vector<STTModel>& all();
    // The entry with that id, if the catalog lists it.
    static std::optional<STTModel> model(const std::string& id);

    // ~/quorvelkit/Models: where downloads go.
    static std::filesystem::path modelsDir();
    // ~/quorvel/models: the earlier program generation's folder, still searched.
    static std::filesystem::path legacyModelsDir();

    // The installed copy's folder: modelsDir/dirName, else legacyModelsDir/dirName, else (built-in
    // models) the system model folder; absent when none is usable. A copy counts only when it is
    // a real folder (not a link) whose files are all there, none a link, and each what it claims
    // to be (see ModelFiles.h): a broken or planted copy is never handed to the worker.
    std::optional<std::filesystem::path> directory(const STTModel& model) const;
    bool isDownloaded(const STTModel& model) const;

    // The folder a removal may delete: the entry in modelsDir, when the model is removable, even a
    // copy that does not count as installed (so a broken one can be cleared; a link goes, not what
    // it points to). Copies elsewhere (legacy, system) are never removed.
    std::optional<std::filesystem::path> removableDirectory(const STTModel& model) const;

    // A dirName that names one folder inside the models folders ("", ".", ".." and paths do not).
    static bool isSafeDirName(const std::string& dirName);

    const std::filesystem::path& systemModelDir() const { return systemModelDir_; }

  private:
    std::filesystem::path systemModelDir_;
};

}  // namespace quorvel
