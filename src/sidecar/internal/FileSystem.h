// SPDX-License-Identifier: GPL-3.0-or-later
// The thin layer of operating-system calls that reading and saving a sidecar
// go through, so that tests can make them fail (a full disk, ENOSPC halfway
// through a write, a failed rename) without touching a real disk. A save works
// relative to the descriptor of the sidecar's folder, opened once when the
// sidecar is read, so that a link or folder swapped meanwhile cannot send it
// elsewhere.
#pragma once

#include "base/Error.h"

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace meridane::sidecar {

/// Error{ErrorDomain::fileSystem, code, "No space left on device"}: the system's English
/// description, whatever the locale.
Error systemError(int code);

/// The same error with a message that says what was being done:
/// "Could not write “.IMG_0001.xmp.tmp”: No space left on device".
Error withContext(Error error, std::string_view what);

/// `“name”` with the typographic quotes used in messages.
std::string quotedName(const std::filesystem::path& path);

/// Largest sidecar that is read at all. Real sidecars are a few kilobytes;
/// parsing costs tens of times a file's size in memory, so a huge file in a
/// sidecar's place is refused before it is parsed.
inline constexpr std::uint64_t kMaximumSidecarBytes = 16ULL * 1024 * 1024;

/// The extended attribute that marks a file as a temporary file of a save,
/// so that a later save removes only what a save made.
inline constexpr const char* kTemporaryMark = "user.meridane.temporary";

struct FileInfo {
    std::uint64_t size = 0;
    mode_t mode = 0;  ///< permission bits only (07777)
    bool isRegularFile = false;
    bool isDirectory = false;
    bool isSymlink = false;
    dev_t device = 0;
    ino_t inode = 0;
    nlink_t links = 0;
    uid_t owner = 0;
    gid_t group = 0;
    std::int64_t modifiedNs = 0;  ///< st_mtim
    std::int64_t changedNs = 0;   ///< st_ctim

    /// Same file in the same state: nobody wrote, replaced or relinked it.
    bool sameState(const FileInfo& other) const {
        return device == other.device && inode == other.inode && size == other.size &&
               modifiedNs == other.modifiedNs && changedNs == other.changedNs;
    }
    bool sameFile(const FileInfo& other) const { return device == other.device && inode == other.inode; }
    /// Same file with the same content as far as its status tells: a rename
    /// changes the change time, not this.
    bool sameContentState(const FileInfo& other) const {
        return sameFile(other) && size == other.size && modifiedNs == other.modifiedNs;
    }
};

/// A file opened for reading, with what fstat(2) said of it then.
struct OpenedFile {
    int fd = -1;
    FileInfo info;
};

/// Thin wrappers of single system calls; failures are systemError values.
/// The default implementation calls the real system; tests install their own
/// with ScopedFileSystemOverride. Names are single path components relative
/// to a folder descriptor.
class FileSystem {
public:
    virtual ~FileSystem() = default;

    /// stat(2): follows symbolic links.
    virtual Result<FileInfo> status(const std::filesystem::path& path);
    /// realpath(3).
    virtual Result<std::filesystem::path> resolved(const std::filesystem::path& path);
    /// open(2) of a folder with O_PATH|O_DIRECTORY.
    virtual Result<int> openFolder(const std::filesystem::path& folder);
    /// fstatat(2) without following a link.
    virtual Result<FileInfo> statusAt(int folder, const std::string& name);
    /// fstat(2).
    virtual Result<FileInfo> statusOf(int fd);
    /// openat(2) read-only, not following a link and without blocking on a
    /// pipe. A folder fails with EISDIR, any other special file (a pipe, a
    /// device) with EINVAL "Not a regular file".
    virtual Result<int> openForReading(int folder, const std::string& name);
    /// open(2) of a path read-only, as openForReading opens a name in a
    /// folder (a link as the last component fails with ELOOP), and the
    /// file's status from the same check of its type: one open, one fstat.
    virtual Result<OpenedFile> openFile(const std::filesystem::path& path);
    /// The whole of an open regular file whose status said `size` bytes: read
    /// into place, without asking the size again, up to the end however long
    /// it is by then, at most `limit` bytes (EFBIG beyond).
    virtual Result<std::string> readWhole(int fd, std::uint64_t size, std::uint64_t limit);
    /// flock(2) LOCK_EX|LOCK_NB: EWOULDBLOCK while another holds it.
    virtual Status tryLock(int fd);
    /// Bytes available to an unprivileged user on the folder's volume
    /// (fstatvfs f_bavail * f_frsize); none when the volume does not say.
    virtual Result<std::optional<std::uint64_t>> availableCapacity(int folder);
    /// unlinkat(2) of a file.
    virtual Status removeAt(int folder, const std::string& name);
    /// openat(2) with O_RDWR|O_CREAT|O_EXCL|O_NOFOLLOW|O_CLOEXEC; returns the descriptor.
    virtual Result<int> createExclusive(int folder, const std::string& name, mode_t mode);
    /// One write(2); returns the number of bytes written.
    virtual Result<std::size_t> write(int fd, std::string_view bytes);
    /// fchown(2) of the owner and the group together: EPERM when this
    /// process may not give the file both.
    virtual Status setOwner(int fd, uid_t owner, gid_t group);
    /// Gives one open file exactly the extended attributes (ACLs and labels
    /// included) of another: those it has are copied, those it gained at its
    /// creation (a folder's default ACL) and the other lacks are removed. The
    /// temporary file's mark is neither copied nor removed. Attributes the
    /// system does not let this process set or remove (a security label
    /// without the privilege) are left as they are.
    virtual Status copyAttributes(int from, int to);
    /// Marks an open file as a temporary file of this program's saves
    /// (a user extended attribute); ENOTSUP where the file system keeps none.
    virtual Status markTemporary(int fd);
    /// Whether the file carries that mark; ENOTSUP where the file system
    /// keeps no user attributes.
    virtual Result<bool> isMarkedTemporary(int fd);
    /// Takes the mark off again (a replaced sidecar keeps nothing of its save).
    virtual Status unmarkTemporary(int fd);
    /// fchmod(2).
    virtual Status setMode(int fd, mode_t mode);
    /// fsync(2).
    virtual Status sync(int fd);
    /// close(2); the descriptor is released even when this fails.
    virtual Status close(int fd);
    /// renameat(2) within one folder: replaces `to` in one step.
    virtual Status renameAt(int folder, const std::string& from, const std::string& to);
    /// renameat2(2) with RENAME_EXCHANGE within one folder: the two names
    /// swap their files in one step. EINVAL or ENOSYS where the file system
    /// or the kernel cannot.
    virtual Status exchangeAt(int folder, const std::string& first, const std::string& second);
};

/// The implementation in force: the real one unless a test overrides it.
FileSystem& fileSystem();

/// Installs another implementation for the lifetime of the object (tests).
/// Process-wide, so that it also covers saves made on other threads.
class ScopedFileSystemOverride {
public:
    explicit ScopedFileSystemOverride(FileSystem& replacement);
    ~ScopedFileSystemOverride();
    ScopedFileSystemOverride(const ScopedFileSystemOverride&) = delete;
    ScopedFileSystemOverride& operator=(const ScopedFileSystemOverride&) = delete;

private:
    FileSystem* previous_;
};

/// A descriptor closed through the file system in force when it goes away.
class Descriptor {
public:
    Descriptor() = default;
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(Descriptor&& other) noexcept : fd_(other.release()) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = other.release();
        }
        return *this;
    }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    /// Closes now and reports what close(2) said.
    Status close() {
        if (fd_ < 0)
            return Done{};
        return fileSystem().close(release());
    }
    void reset() { (void)close(); }

private:
    int fd_ = -1;
};

}  // namespace meridane::sidecar
