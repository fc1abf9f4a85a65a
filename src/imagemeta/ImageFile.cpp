// SPDX-License-Identifier: GPL-3.0-or-later
#include "imagemeta/internal/ImageFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <climits>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace meridane::imagemeta {
namespace {

Error fileError(int errorNumber, std::string message) {
    return Error{ErrorDomain::imageFile, errorNumber, std::move(message)};
}

}  // namespace

std::string unreadableFileText(const Error& openError) {
    switch (openError.code) {
    case ENOENT:
        return "file not found";
    case EACCES:
    case EPERM:
        return "permission denied";
    case EISDIR:
        return "it is a folder";
    case EINVAL:
        return "not a regular file";
    case ENAMETOOLONG:
        return "path longer than the system allows (" + std::to_string(PATH_MAX) + " bytes)";
    default:
        break;
    }
    std::string text = openError.message;
    if (!text.empty() && text.front() >= 'A' && text.front() <= 'Z')
        text.front() = static_cast<char>(text.front() - 'A' + 'a');
    return text;
}

Result<ImageFile> ImageFile::open(const std::filesystem::path& path, ReadStats* stats) {
    // O_NONBLOCK keeps a FIFO handed in as an image from blocking the open;
    // it has no effect on regular files, the only kind read below.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        int errorNumber = errno;
        return fileError(errorNumber, systemErrorText(errorNumber));
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        int errorNumber = errno;
        ::close(fd);
        return fileError(errorNumber, systemErrorText(errorNumber));
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        if (S_ISDIR(info.st_mode))
            return fileError(EISDIR, systemErrorText(EISDIR));
        return fileError(EINVAL, "not a regular file");
    }
    // The reader jumps between a few small ranges; read-ahead would fetch
    // picture data that is never used (about 128 KiB per file on a slow disk).
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
    return ImageFile(fd, static_cast<std::uint64_t>(info.st_size), info.st_mtim, stats);
}

ImageFile::ImageFile(ImageFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      size_(other.size_),
      modified_(other.modified_),
      stats_(other.stats_),
      bytesLeft_(other.bytesLeft_),
      callsLeft_(other.callsLeft_) {}

ImageFile& ImageFile::operator=(ImageFile&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        size_ = other.size_;
        modified_ = other.modified_;
        stats_ = other.stats_;
        bytesLeft_ = other.bytesLeft_;
        callsLeft_ = other.callsLeft_;
    }
    return *this;
}

ImageFile::~ImageFile() {
    if (fd_ >= 0)
        ::close(fd_);
}

void ImageFile::limitReads(std::uint64_t bytes, std::uint64_t calls) {
    bytesLeft_ = bytes;
    callsLeft_ = calls;
}

Status ImageFile::readAt(std::uint64_t offset, std::size_t length, std::vector<std::uint8_t>& out) {
    if (offset > size_ || length > size_ - offset)
        return fileError(0, "range beyond the end of the file");
    if (length > bytesLeft_ || callsLeft_ == 0)
        return fileError(0, "metadata reads beyond the limit for one image");
    bytesLeft_ -= length;
    callsLeft_ -= 1;
    out.resize(length);
    std::size_t done = 0;
    while (done < length) {
        ssize_t n = ::pread(fd_, out.data() + done, length - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            int errorNumber = errno;
            return fileError(errorNumber, systemErrorText(errorNumber));
        }
        if (stats_) {
            stats_->bytesRead += static_cast<std::uint64_t>(n);
            stats_->readCalls += 1;
        }
        if (n == 0)
            return fileError(0, "the file shrank while it was read");
        done += static_cast<std::size_t>(n);
    }
    return Done{};
}

Status ImageFile::checkUnchanged() const {
    struct stat info {};
    if (::fstat(fd_, &info) != 0) {
        int errorNumber = errno;
        return fileError(errorNumber, systemErrorText(errorNumber));
    }
    if (static_cast<std::uint64_t>(info.st_size) != size_ || info.st_mtim.tv_sec != modified_.tv_sec ||
        info.st_mtim.tv_nsec != modified_.tv_nsec)
        return fileError(0, "the file changed while it was read");
    return Done{};
}

}  // namespace meridane::imagemeta
