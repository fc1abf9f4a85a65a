#include "imagemeta/internal/ImageFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace meridane::imagemeta {
namespace {

Error fileError(int errorNumber, std::string message) {
    return Error{ErrorDomain::imageFile, errorNumber, std::move(message)};
}

}  // namespace

std::string systemErrorText(int errorNumber) {
    // strerror follows LC_MESSAGES; the English description keeps log lines
    // the same on every machine.
    if (const char* text = strerrordesc_np(errorNumber))
        return text;
    return "error " + std::to_string(errorNumber);
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
    return ImageFile(fd, static_cast<std::uint64_t>(info.st_size), stats);
}

ImageFile::ImageFile(ImageFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), size_(other.size_), stats_(other.stats_) {}

ImageFile& ImageFile::operator=(ImageFile&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        size_ = other.size_;
        stats_ = other.stats_;
    }
    return *this;
}

ImageFile::~ImageFile() {
    if (fd_ >= 0)
        ::close(fd_);
}

ImageFile::Mapping::~Mapping() {
    ::munmap(const_cast<std::uint8_t*>(data_), size_);
}

Result<std::unique_ptr<ImageFile::Mapping>> ImageFile::map() {
    if (size_ == 0 || size_ > SIZE_MAX)
        return fileError(EINVAL, "file cannot be mapped");
    void* data = ::mmap(nullptr, static_cast<std::size_t>(size_), PROT_READ, MAP_PRIVATE, fd_, 0);
    if (data == MAP_FAILED) {
        int errorNumber = errno;
        return fileError(errorNumber, systemErrorText(errorNumber));
    }
    if (stats_)
        stats_->bytesMapped += size_;
    return std::unique_ptr<Mapping>(new Mapping(static_cast<const std::uint8_t*>(data), static_cast<std::size_t>(size_)));
}

Status ImageFile::readAt(std::uint64_t offset, std::size_t length, std::vector<std::uint8_t>& out) {
    if (offset > size_ || length > size_ - offset)
        return fileError(0, "range beyond the end of the file");
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
        if (n == 0)  // the file shrank since it was opened
            return fileError(0, "unexpected end of file");
        done += static_cast<std::size_t>(n);
    }
    return Done{};
}

}  // namespace meridane::imagemeta
