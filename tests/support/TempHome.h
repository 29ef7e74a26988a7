#pragma once
// Test fixture: every test gets a fresh temporary HOME (and XDG folders inside it), removed
// afterwards, so nothing ever touches the real user's files.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <string_view>

namespace quorvel::testing {

class TempHome : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    const std::filesystem::path& home() const { return home_; }
    // Writes a file (creating its folders) and returns its path.
    std::filesystem::path writeFile(const std::filesystem::path& path, std::string_view bytes) const;
    static std::string readFile(const std::filesystem::path& path);

private:
    std::filesystem::path home_;
};

}  // namespace quorvel::testing
