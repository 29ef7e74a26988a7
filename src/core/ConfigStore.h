#pragma once
// Owns the in-memory configuration; loads it once (importing the earlier generation's settings
// the first time) and writes the whole record back, atomically, after every change.

#include <filesystem>
#include <functional>

#include "core/AppConfig.h"

namespace quorvel {

class ConfigStore {
public:
    explicit ConfigStore(std::filesystem::path url);

    const AppConfig& config() const { return config_; }
    const std::filesystem::path& url() const { return url_; }

    void replace(AppConfig config);
    void update(const std::function<void(AppConfig&)>& change);
    // Write failures are not reported: the old file stays and the new values live in memory.
    // Never writes over a file that existed but could not be read at load.
    void save();

private:
    void load();
    bool importLegacy();

    std::filesystem::path url_;
    AppConfig config_;
    bool fileKeptAside_ = false;  // the file exists but could not be read: never save over it
};

}  // namespace quorvel
