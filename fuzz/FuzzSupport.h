#pragma once
// Shared by the fuzz targets: a private temporary HOME (so no target ever touches the real
// user's files) and a check that stops the run with a message when an invariant breaks.

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

namespace quorvel::fuzz {

// Where the sandbox goes: the folder scripts/fuzz made for this run (it removes it afterwards;
// libFuzzer does not always run exit handlers), else a folder in memory when there is one: the
// stores flush every save, which on a real disk would cut the runs per second a hundredfold.
inline std::filesystem::path scratchRoot() {
    if (const char* scratch = std::getenv("QUORVEL_FUZZ_SCRATCH"); scratch && *scratch) return scratch;
    std::error_code ec;
    if (std::filesystem::is_directory("/dev/shm", ec) && ::access("/dev/shm", W_OK) == 0) return "/dev/shm";
    return std::filesystem::temp_directory_path();
}

// Points HOME and the XDG folders at a fresh temporary folder, removed at exit.
inline const std::filesystem::path& sandboxHome() {
    static const std::filesystem::path home = [] {
        std::string tmpl = (scratchRoot() / "quorvel-fuzz-XXXXXX").string();
        if (!::mkdtemp(tmpl.data())) {
            std::perror("mkdtemp");
            std::abort();
        }
        const std::filesystem::path dir = tmpl;
        ::setenv("HOME", dir.c_str(), 1);
        ::setenv("XDG_DATA_HOME", (dir / ".local/share").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (dir / ".config").c_str(), 1);
        ::setenv("XDG_STATE_HOME", (dir / ".local/state").c_str(), 1);
        ::setenv("XDG_CACHE_HOME", (dir / ".cache").c_str(), 1);
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(sandboxHome(), ec);
        });
        return dir;
    }();
    return home;
}

inline void check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
    std::abort();
}

inline std::string_view asText(const uint8_t* data, size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

}  // namespace quorvel::fuzz

// Every target is one translation unit that includes this header, so libFuzzer's start-up hook
// lives here: the sandbox exists before the first input, whatever the target touches.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    quorvel::fuzz::sandboxHome();
    return 0;
}
