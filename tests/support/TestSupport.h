// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers shared by the test suites: temporary folders, file contents, the
// real-world corpus, and child processes.
#pragma once

#include "ImageBuilder.h"

#include <sys/types.h>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace meridane::testing {

/// A fresh folder under the system's temporary directory that other users
/// may enter (0755), removed with everything in it when the object goes away:
/// read-only folders and mounts below it included.
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

/// A photo beside its sidecar: `stem`.HEIC holding `image` as a TIFF block
/// (the reader goes by content), and `stem`.xmp holding `sidecar` unless none.
/// Makes the folder when needed; returns the photo's path.
std::filesystem::path writePhoto(const std::filesystem::path& stem, const std::optional<std::string>& sidecar,
                                 const TiffImage& image = cameraTiff());

/// Makes `names` as folders one inside the next below `root` (entering those
/// already there) through descriptors, so the path may grow past what the
/// system opens by name; writes `files` (name, bytes) in the last of them.
void makeNestedFolders(const std::filesystem::path& root, const std::vector<std::string>& names,
                       const std::vector<std::pair<std::string, std::string>>& files = {});

/// The shared corpus folder (MERIDANE_CORPUS env overrides), or none when absent.
std::optional<std::filesystem::path> corpusDir();

/// Folder of the repository's small test fixtures.
std::filesystem::path testDataDir();

struct RunOptions {
    std::chrono::milliseconds timeout{30'000};
    std::optional<uid_t> uid{};  ///< run as this user and group (root only)
    std::optional<gid_t> gid{};
    std::optional<std::uint64_t> fileSizeLimit{};  ///< RLIMIT_FSIZE; a write beyond fails with EFBIG
    std::vector<std::string> environment;        ///< extra "NAME=value" entries
    std::string interruptWhenErrShows;           ///< SIGINT once standard error holds this text
};

struct RunResult {
    bool started = false, timedOut = false;
    int exitCode = -1;  ///< when it exited
    int signal = 0;     ///< when a signal ended it
    std::string out, err;
    std::chrono::milliseconds elapsed{0};
};

/// Runs a program to its end (killed at the timeout), collecting its output.
/// Descriptors this process opened without O_CLOEXEC are inherited.
RunResult runProcess(const std::vector<std::string>& argv, const RunOptions& options = {});

/// Starts a program with its output thrown away; the caller waits for it.
pid_t spawnQuiet(const std::vector<std::string>& argv);

}  // namespace meridane::testing
