// The thin layer of operating-system calls that reading and saving a sidecar
// go through, so that tests can make them fail (a full disk, ENOSPC halfway
// through a write, a failed rename) without touching a real disk.
#pragma once

#include "base/Error.h"

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace meridane::sidecar {

/// Domain of errors that come from a system call; the code is the errno value.
inline constexpr const char* kFileSystemErrorDomain = "FileSystem";

/// Error{ErrorDomain::fileSystem, code, "No space left on device"}: the system's English
/// description, whatever the locale.
Error systemError(int code);

/// The same error with a message that says what was being done:
/// "Could not write “.IMG_0001.xmp.tmp”: No space left on device".
Error withContext(Error error, std::string_view what);

/// `“name”` with the typographic quotes used in messages.
std::string quotedName(const std::filesystem::path& path);

/// Largest file readFile accepts. Real sidecars are a few kilobytes; a
/// multi-gigabyte file in a sidecar's place must not exhaust memory.
inline constexpr std::uint64_t kMaximumReadBytes = 64ULL * 1024 * 1024;

struct FileInfo {
    std::uint64_t size = 0;
    mode_t mode = 0;  ///< permission bits only (07777)
    bool isRegularFile = false;
    bool isDirectory = false;
    bool isSymlink = false;
};

/// Thin wrappers of single system calls; failures are systemError values.
/// The default implementation calls the real system; tests install their own
/// with ScopedFileSystemOverride.
class FileSystem {
public:
    virtual ~FileSystem() = default;

    /// Bytes available to an unprivileged user on the folder's volume
    /// (statvfs f_bavail * f_frsize); none when the volume does not say.
    virtual Result<std::optional<std::uint64_t>> availableCapacity(const std::filesystem::path& folder);
    /// stat(2): follows symbolic links.
    virtual Result<FileInfo> status(const std::filesystem::path& path);
    /// lstat(2): describes a symbolic link itself.
    virtual Result<FileInfo> linkStatus(const std::filesystem::path& path);
    /// realpath(3).
    virtual Result<std::filesystem::path> resolved(const std::filesystem::path& path);
    /// The whole of a regular file (at most kMaximumReadBytes). A folder
    /// fails with EISDIR, any other special file (a pipe, a device) with
    /// EINVAL "Not a regular file", without blocking.
    virtual Result<std::string> readFile(const std::filesystem::path& path);
    /// unlink(2).
    virtual Status remove(const std::filesystem::path& path);
    /// open(2) with O_WRONLY|O_CREAT|O_EXCL|O_NOFOLLOW|O_CLOEXEC; returns the descriptor.
    virtual Result<int> createExclusive(const std::filesystem::path& path, mode_t mode);
    /// One write(2); returns the number of bytes written.
    virtual Result<std::size_t> write(int fd, std::string_view bytes);
    /// fchmod(2).
    virtual Status setMode(int fd, mode_t mode);
    /// fsync(2).
    virtual Status sync(int fd);
    /// close(2); the descriptor is released even when this fails.
    virtual Status close(int fd);
    /// rename(2): replaces `to` in one step.
    virtual Status rename(const std::filesystem::path& from, const std::filesystem::path& to);
};

/// The implementation in force: the real one unless a test overrides it.
FileSystem& fileSystem();

/// Installs another implementation for the lifetime of the object (tests).
/// Process-wide, so that it also covers the write queue's thread.
class ScopedFileSystemOverride {
public:
    explicit ScopedFileSystemOverride(FileSystem& replacement);
    ~ScopedFileSystemOverride();
    ScopedFileSystemOverride(const ScopedFileSystemOverride&) = delete;
    ScopedFileSystemOverride& operator=(const ScopedFileSystemOverride&) = delete;

private:
    FileSystem* previous_;
};

}  // namespace meridane::sidecar
