// SPDX-License-Identifier: GPL-3.0-or-later
#include "sidecar/internal/FileSystem.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace meridane::sidecar {
namespace {

std::int64_t nanoseconds(const struct timespec& t) {
    return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

FileInfo infoFrom(const struct stat& st) {
    FileInfo info;
    info.size = st.st_size > 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
    info.mode = st.st_mode & 07777;
    info.isRegularFile = S_ISREG(st.st_mode);
    info.isDirectory = S_ISDIR(st.st_mode);
    info.isSymlink = S_ISLNK(st.st_mode);
    info.device = st.st_dev;
    info.inode = st.st_ino;
    info.links = st.st_nlink;
    info.owner = st.st_uid;
    info.group = st.st_gid;
    info.modifiedNs = nanoseconds(st.st_mtim);
    info.changedNs = nanoseconds(st.st_ctim);
    return info;
}

template <typename Call>
auto retrying(Call call) {
    decltype(call()) result;
    do {
        result = call();
    } while (result < 0 && errno == EINTR);
    return result;
}

FileSystem& realFileSystem() {
    static FileSystem instance;
    return instance;
}

std::atomic<FileSystem*> gOverride{nullptr};

/// The names of a file's extended attributes, NUL-separated.
Result<std::string> attributeNames(int fd) {
    for (;;) {
        const ssize_t size = ::flistxattr(fd, nullptr, 0);
        if (size < 0)
            return errno == ENOTSUP ? Result<std::string>(std::string()) : systemError(errno);
        std::string names(static_cast<size_t>(size), '\0');
        const ssize_t got = size == 0 ? 0 : ::flistxattr(fd, names.data(), names.size());
        if (got >= 0) {
            names.resize(static_cast<size_t>(got));
            return names;
        }
        if (errno != ERANGE)  // ERANGE: one was added meanwhile; ask again
            return systemError(errno);
    }
}

Result<std::string> attributeValue(int fd, const char* name) {
    for (;;) {
        const ssize_t size = ::fgetxattr(fd, name, nullptr, 0);
        if (size < 0)
            return systemError(errno);
        std::string value(static_cast<size_t>(size), '\0');
        const ssize_t got = size == 0 ? 0 : ::fgetxattr(fd, name, value.data(), value.size());
        if (got >= 0) {
            value.resize(static_cast<size_t>(got));
            return value;
        }
        if (errno != ERANGE)
            return systemError(errno);
    }
}

}  // namespace

Error systemError(int code) {
    return Error{ErrorDomain::fileSystem, code, systemErrorText(code)};
}

Error withContext(Error error, std::string_view what) {
    error.message = std::string(what) + ": " + error.message;
    return error;
}

std::string quotedName(const std::filesystem::path& path) {
    return "\u201C" + path.filename().string() + "\u201D";
}

Result<FileInfo> FileSystem::status(const std::filesystem::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return systemError(errno);
    return infoFrom(st);
}

Result<std::filesystem::path> FileSystem::resolved(const std::filesystem::path& path) {
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
    if (!real)
        return systemError(errno);
    return std::filesystem::path(real.get());
}

Result<int> FileSystem::openFolder(const std::filesystem::path& folder) {
    const int fd = retrying([&] { return ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC); });
    if (fd < 0)
        return systemError(errno);
    return fd;
}

Result<FileInfo> FileSystem::statusAt(int folder, const std::string& name) {
    struct stat st {};
    if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return systemError(errno);
    return infoFrom(st);
}

Result<FileInfo> FileSystem::statusOf(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return systemError(errno);
    return infoFrom(st);
}

namespace {

// O_NONBLOCK: a named pipe in a sidecar's place must not stall the batch in
// open(); it is turned away below like every other special file.
constexpr int kReadingFlags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY;

// The opened file when it is a regular file; otherwise it is closed and
// refused.
Result<OpenedFile> regularFile(int fd) {
    if (fd < 0)
        return systemError(errno);
    struct stat st {};
    int refused = 0;
    if (::fstat(fd, &st) != 0)
        refused = errno;
    else if (S_ISDIR(st.st_mode))
        refused = EISDIR;
    else if (!S_ISREG(st.st_mode))
        refused = EINVAL;
    if (refused != 0) {
        ::close(fd);
        if (refused == EINVAL)
            return Error{ErrorDomain::fileSystem, EINVAL, "Not a regular file"};
        return systemError(refused);
    }
    return OpenedFile{fd, infoFrom(st)};
}

}  // namespace

Result<int> FileSystem::openForReading(int folder, const std::string& name) {
    auto opened = regularFile(retrying([&] { return ::openat(folder, name.c_str(), kReadingFlags); }));
    if (!opened)
        return opened.error();
    return opened->fd;
}

Result<OpenedFile> FileSystem::openFile(const std::filesystem::path& path) {
    return regularFile(retrying([&] { return ::open(path.c_str(), kReadingFlags); }));
}

Result<std::string> FileSystem::readWhole(int fd, std::uint64_t size, std::uint64_t limit) {
    if (size > limit)
        return systemError(EFBIG);
    // One byte more than the size said, so that a file read whole usually
    // needs one read for its bytes and one that finds the end.
    std::string bytes(static_cast<std::size_t>(size) + 1, '\0');
    std::size_t got = 0;
    for (;;) {
        if (got == bytes.size()) {
            if (bytes.size() > limit)  // grew while being read
                return systemError(EFBIG);
            bytes.resize(static_cast<std::size_t>(std::min<std::uint64_t>(limit + 1, bytes.size() * 2)));
        }
        const ssize_t n = retrying(
            [&] { return ::pread(fd, bytes.data() + got, bytes.size() - got, static_cast<off_t>(got)); });
        if (n < 0)
            return systemError(errno);
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    if (got > limit)
        return systemError(EFBIG);
    bytes.resize(got);
    return bytes;
}

Status FileSystem::tryLock(int fd) {
    if (retrying([&] { return ::flock(fd, LOCK_EX | LOCK_NB); }) != 0)
        return systemError(errno);
    return Done{};
}

Result<std::optional<std::uint64_t>> FileSystem::availableCapacity(int folder) {
    struct statvfs st {};
    if (::fstatvfs(folder, &st) != 0)
        return systemError(errno);
    return std::optional<std::uint64_t>(static_cast<std::uint64_t>(st.f_bavail) *
                                        static_cast<std::uint64_t>(st.f_frsize));
}

Status FileSystem::removeAt(int folder, const std::string& name) {
    if (::unlinkat(folder, name.c_str(), 0) != 0)
        return systemError(errno);
    return Done{};
}

Result<int> FileSystem::createExclusive(int folder, const std::string& name, mode_t mode) {
    const int fd = retrying(
        [&] { return ::openat(folder, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode); });
    if (fd < 0)
        return systemError(errno);
    return fd;
}

Result<std::size_t> FileSystem::write(int fd, std::string_view bytes) {
    const ssize_t n = retrying([&] { return ::write(fd, bytes.data(), bytes.size()); });
    if (n < 0)
        return systemError(errno);
    return static_cast<std::size_t>(n);
}

Status FileSystem::setOwner(int fd, uid_t owner, gid_t group) {
    if (::fchown(fd, owner, group) != 0)
        return systemError(errno);
    return Done{};
}

namespace {

bool privilegedAttribute(const char* name) {
    return std::strncmp(name, "security.", 9) == 0 || std::strncmp(name, "trusted.", 8) == 0;
}

bool isMark(const char* name) { return std::strcmp(name, kTemporaryMark) == 0; }

/// Whether `name` is among the NUL-separated `names`.
bool listed(const std::string& names, const char* name) {
    for (const char* n = names.c_str(); n < names.c_str() + names.size(); n += std::strlen(n) + 1)
        if (std::strcmp(n, name) == 0)
            return true;
    return false;
}

}  // namespace

Status FileSystem::copyAttributes(int from, int to) {
    auto names = attributeNames(from);
    if (!names)
        return names.error();
    for (const char* name = names->c_str(); name < names->c_str() + names->size(); name += std::strlen(name) + 1) {
        if (isMark(name))
            continue;
        auto value = attributeValue(from, name);
        if (!value) {
            if (value.error().code == ENODATA)  // removed meanwhile
                continue;
            return value.error();
        }
        if (::fsetxattr(to, name, value->data(), value->size(), 0) == 0)
            continue;
        const int code = errno;
        // A security label this process may not set is the system's to give.
        if (privilegedAttribute(name) && (code == EPERM || code == EACCES || code == ENOTSUP))
            continue;
        return systemError(code);
    }
    // What the new file was given at its creation and the sidecar lacks: a
    // folder's default ACL would otherwise grant access the sidecar never did.
    auto gained = attributeNames(to);
    if (!gained)
        return gained.error();
    for (const char* name = gained->c_str(); name < gained->c_str() + gained->size(); name += std::strlen(name) + 1) {
        if (isMark(name) || listed(names.value(), name))
            continue;
        if (::fremovexattr(to, name) == 0 || errno == ENODATA)
            continue;
        const int code = errno;
        if (privilegedAttribute(name) && (code == EPERM || code == EACCES || code == ENOTSUP))
            continue;
        return systemError(code);
    }
    return Done{};
}

Status FileSystem::markTemporary(int fd) {
    if (::fsetxattr(fd, kTemporaryMark, "1", 1, 0) != 0)
        return systemError(errno);
    return Done{};
}

Result<bool> FileSystem::isMarkedTemporary(int fd) {
    char value = 0;
    if (::fgetxattr(fd, kTemporaryMark, &value, 1) >= 0)
        return true;
    const int code = errno;
    if (code == ERANGE)  // a longer value than ours: still the mark's name
        return true;
    if (code == ENODATA)
        return false;
    return systemError(code);
}

Status FileSystem::unmarkTemporary(int fd) {
    if (::fremovexattr(fd, kTemporaryMark) != 0 && errno != ENODATA)
        return systemError(errno);
    return Done{};
}

Status FileSystem::setMode(int fd, mode_t mode) {
    if (::fchmod(fd, mode) != 0)
        return systemError(errno);
    return Done{};
}

Status FileSystem::sync(int fd) {
    if (::fsync(fd) != 0)
        return systemError(errno);
    return Done{};
}

Status FileSystem::close(int fd) {
    // Linux releases the descriptor even when close fails; never retry it.
    if (::close(fd) != 0 && errno != EINTR)
        return systemError(errno);
    return Done{};
}

Status FileSystem::renameAt(int folder, const std::string& from, const std::string& to) {
    if (::renameat(folder, from.c_str(), folder, to.c_str()) != 0)
        return systemError(errno);
    return Done{};
}

Status FileSystem::exchangeAt(int folder, const std::string& first, const std::string& second) {
    if (::renameat2(folder, first.c_str(), folder, second.c_str(), RENAME_EXCHANGE) != 0)
        return systemError(errno);
    return Done{};
}

FileSystem& fileSystem() {
    FileSystem* replacement = gOverride.load();
    return replacement ? *replacement : realFileSystem();
}

ScopedFileSystemOverride::ScopedFileSystemOverride(FileSystem& replacement)
    : previous_(gOverride.exchange(&replacement)) {}

ScopedFileSystemOverride::~ScopedFileSystemOverride() { gOverride.store(previous_); }

}  // namespace meridane::sidecar
