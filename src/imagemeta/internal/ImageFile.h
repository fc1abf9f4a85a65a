// SPDX-License-Identifier: GPL-3.0-or-later
// An image file opened for positioned reads into small buffers: the reader
// asks for the few ranges that hold metadata and never for the picture. No
// mapping: a file that shrinks while it is read gives an error, not a signal.
#pragma once

#include "base/Error.h"
#include "imagemeta/ReadStats.h"

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

namespace meridane::imagemeta {

/// A run of bytes of a file.
struct FileRange {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
};

/// Whether `size` bytes read from `start` hold `length` bytes at `offset`
/// (written so that no sum can overflow).
inline bool holds(std::uint64_t start, std::size_t size, std::uint64_t offset, std::size_t length) {
    return offset >= start && offset - start <= size && length <= size - (offset - start);
}

class ImageFile {
public:
    /// Opens a regular file for reading; fails with a reason for anything else
    /// (missing, unreadable, a folder, a device).
    static Result<ImageFile> open(const std::filesystem::path& path, ReadStats* stats = nullptr);

    ImageFile(ImageFile&& other) noexcept;
    ImageFile& operator=(ImageFile&& other) noexcept;
    ImageFile(const ImageFile&) = delete;
    ImageFile& operator=(const ImageFile&) = delete;
    ~ImageFile();

    /// The size when the file was opened; no read goes beyond it.
    std::uint64_t size() const { return size_; }

    /// Reads exactly `length` bytes at `offset` into `out` (resized to fit).
    /// Fails on a range beyond the end of the file, a read error, a file that
    /// shrank, or a read beyond the limits set with limitReads.
    Status readAt(std::uint64_t offset, std::size_t length, std::vector<std::uint8_t>& out);

    /// From now on at most `bytes` more bytes, in at most `calls` more reads.
    void limitReads(std::uint64_t bytes, std::uint64_t calls);

    /// Fails when the file's size or modification time is no longer what it
    /// was at the open: what was read may mix two versions of the file.
    Status checkUnchanged() const;

private:
    ImageFile(int fd, std::uint64_t size, timespec modified, ReadStats* stats)
        : fd_(fd), size_(size), modified_(modified), stats_(stats) {}

    int fd_ = -1;
    std::uint64_t size_ = 0;
    timespec modified_{};
    ReadStats* stats_ = nullptr;
    std::uint64_t bytesLeft_ = UINT64_MAX;
    std::uint64_t callsLeft_ = UINT64_MAX;
};

/// Why open() refused a file, in words for a row: "file not found",
/// "permission denied", "not a regular file", ...
std::string unreadableFileText(const Error& openError);

}  // namespace meridane::imagemeta
