// Helpers shared by the test suites: temporary folders, file contents, the
// real-world corpus.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace meridane::testing {

/// A fresh folder under the system's temporary directory, removed with
/// everything in it when the object goes away.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

std::string readFile(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, std::string_view contents);

/// The shared corpus folder (MERIDANE_CORPUS env overrides), or none when absent.
std::optional<std::filesystem::path> corpusDir();

/// Folder of the repository's small test fixtures.
std::filesystem::path testDataDir();

}  // namespace meridane::testing
