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
    void save();

private:
    void load();
    bool importLegacy();

    std::filesystem::path url_;
    AppConfig config_;
};

}  // namespace quorvel
