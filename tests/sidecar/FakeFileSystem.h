// A file system for tests: passes every call to the real one unless told to
// fail it, and records which thread made which call, so that tests can fake a
// full disk or a failed rename and see that saves never overlap.
#pragma once

#include "sidecar/internal/FileSystem.h"

#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace meridane::testing {

class FakeFileSystem : public sidecar::FileSystem {
public:
    struct Call {
        std::string operation;  ///< "capacity", "create", "write", "rename", ...
        std::filesystem::path path;  ///< for descriptor calls, the path it was opened with
        std::thread::id thread;
    };

    // Faults; each applies to every call of its kind while set.
    std::optional<Result<std::optional<std::uint64_t>>> capacity;
    /// Write this many bytes, then fail with `writeError`.
    std::optional<std::size_t> failWriteAfter;
    int writeError = ENOSPC;
    /// Written instead of the document (a corrupted temporary file).
    std::optional<std::string> replaceWrittenBytes;
    /// Removes the file when its descriptor is closed (a file that vanished).
    bool removeOnClose = false;
    std::optional<int> createError;
    std::optional<int> syncError;
    std::optional<int> renameError;
    std::optional<int> readError;
    /// Sleeps inside every write, to widen the window for overlapping saves.
    std::chrono::milliseconds writeDelay{0};

    Result<std::optional<std::uint64_t>> availableCapacity(const std::filesystem::path& folder) override;
    Result<sidecar::FileInfo> status(const std::filesystem::path& path) override;
    Result<std::string> readFile(const std::filesystem::path& path) override;
    Status remove(const std::filesystem::path& path) override;
    Result<int> createExclusive(const std::filesystem::path& path, mode_t mode) override;
    Result<std::size_t> write(int fd, std::string_view bytes) override;
    Status setMode(int fd, mode_t mode) override;
    Status sync(int fd) override;
    Status close(int fd) override;
    Status rename(const std::filesystem::path& from, const std::filesystem::path& to) override;

    std::vector<Call> calls() const;
    /// The names of the operations called, in order.
    std::vector<std::string> operations() const;
    /// Most saves that were between their first step (the capacity query)
    /// and their last (the folder sync) at the same time; meaningful when
    /// every save succeeds.
    int maxConcurrentSaves() const;

private:
    void record(std::string operation, std::filesystem::path path);
    std::filesystem::path pathOf(int fd) const;

    mutable std::mutex mutex_;
    std::vector<Call> calls_;
    std::map<int, std::filesystem::path> openFiles_;
    std::map<int, std::size_t> writtenSoFar_;
    int activeSaves_ = 0;
    int maxActiveSaves_ = 0;
};

}  // namespace meridane::testing
