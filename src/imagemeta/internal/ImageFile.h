// An image file opened for positioned reads into small buffers: the reader
// asks for the few ranges that hold metadata and never for the picture.
#pragma once

#include "base/Error.h"
#include "imagemeta/ReadStats.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace meridane::imagemeta {

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

    std::uint64_t size() const { return size_; }

    /// The whole file mapped read-only, for a format whose metadata may lie
    /// anywhere in it (TIFF): only the pages the parser touches are read.
    class Mapping {
    public:
        Mapping(const Mapping&) = delete;
        Mapping& operator=(const Mapping&) = delete;
        ~Mapping();
        std::span<const std::uint8_t> bytes() const { return {data_, size_}; }

    private:
        friend class ImageFile;
        Mapping(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
        const std::uint8_t* data_;
        std::size_t size_;
    };
    Result<std::unique_ptr<Mapping>> map();

    /// Reads exactly `length` bytes at `offset` into `out` (resized to fit).
    /// Fails on a range beyond the end of the file or a read error.
    Status readAt(std::uint64_t offset, std::size_t length, std::vector<std::uint8_t>& out);

private:
    ImageFile(int fd, std::uint64_t size, ReadStats* stats) : fd_(fd), size_(size), stats_(stats) {}

    int fd_ = -1;
    std::uint64_t size_ = 0;
    ReadStats* stats_ = nullptr;
};

/// Text of an errno value in English, whatever the process locale.
std::string systemErrorText(int errorNumber);

}  // namespace meridane::imagemeta
