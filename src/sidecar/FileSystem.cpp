#include "sidecar/internal/FileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace meridane::sidecar {
namespace {

FileInfo infoFrom(const struct stat& st) {
    FileInfo info;
    info.size = st.st_size > 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
    info.mode = st.st_mode & 07777;
    info.isRegularFile = S_ISREG(st.st_mode);
    info.isDirectory = S_ISDIR(st.st_mode);
    info.isSymlink = S_ISLNK(st.st_mode);
    return info;
}

int retryingOpen(const char* path, int flags, mode_t mode = 0) {
    int fd;
    do {
        fd = ::open(path, flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

FileSystem& realFileSystem() {
    static FileSystem instance;
    return instance;
}

std::atomic<FileSystem*> gOverride{nullptr};

}  // namespace

Error systemError(int code) {
    // strerrordesc_np is the untranslated text: under LC_ALL=de_DE strerror()
    // would answer in German while every other message is English.
    const char* description = strerrordesc_np(code);
    std::string message = description ? description : "Unknown error " + std::to_string(code);
    return Error{ErrorDomain::fileSystem, code, std::move(message)};
}

Error withContext(Error error, std::string_view what) {
    error.message = std::string(what) + ": " + error.message;
    return error;
}

std::string quotedName(const std::filesystem::path& path) {
    return "\u201C" + path.filename().string() + "\u201D";
}

Result<std::optional<std::uint64_t>> FileSystem::availableCapacity(const std::filesystem::path& folder) {
    struct statvfs st {};
    if (::statvfs(folder.c_str(), &st) != 0)
        return systemError(errno);
    return std::optional<std::uint64_t>(static_cast<std::uint64_t>(st.f_bavail) *
                                        static_cast<std::uint64_t>(st.f_frsize));
}

Result<FileInfo> FileSystem::status(const std::filesystem::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return systemError(errno);
    return infoFrom(st);
}

Result<FileInfo> FileSystem::linkStatus(const std::filesystem::path& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return systemError(errno);
    return infoFrom(st);
}

Result<std::filesystem::path> FileSystem::resolved(const std::filesystem::path& path) {
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
    if (!real)
        return systemError(errno);
    return std::filesystem::path(real.get());
}

Result<std::string> FileSystem::readFile(const std::filesystem::path& path) {
    // O_NONBLOCK: a named pipe in a sidecar's place must not stall the batch
    // in open(); it is turned away below like every other special file.
    const int fd = retryingOpen(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return systemError(errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int code = errno;
        ::close(fd);
        return systemError(code);
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        if (S_ISDIR(st.st_mode))
            return systemError(EISDIR);
        return Error{ErrorDomain::fileSystem, EINVAL, "Not a regular file"};
    }
    if (static_cast<std::uint64_t>(st.st_size) > kMaximumReadBytes) {
        ::close(fd);
        return systemError(EFBIG);
    }
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(st.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int code = errno;
            ::close(fd);
            return systemError(code);
        }
        if (n == 0)
            break;
        if (bytes.size() + static_cast<std::size_t>(n) > kMaximumReadBytes) {  // grew while being read
            ::close(fd);
            return systemError(EFBIG);
        }
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return bytes;
}

Status FileSystem::remove(const std::filesystem::path& path) {
    if (::unlink(path.c_str()) != 0)
        return systemError(errno);
    return Done{};
}

Result<int> FileSystem::createExclusive(const std::filesystem::path& path, mode_t mode) {
    const int fd = retryingOpen(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0)
        return systemError(errno);
    return fd;
}

Result<std::size_t> FileSystem::write(int fd, std::string_view bytes) {
    ssize_t n;
    do {
        n = ::write(fd, bytes.data(), bytes.size());
    } while (n < 0 && errno == EINTR);
    if (n < 0)
        return systemError(errno);
    return static_cast<std::size_t>(n);
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

Status FileSystem::rename(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (::rename(from.c_str(), to.c_str()) != 0)
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
