// SPDX-License-Identifier: GPL-3.0-or-later
// The bytes of one TIFF block as they lie in a file (the whole of a DNG, a
// JPEG segment, the extents of an HEIF Exif item), read piece by piece when
// the decoder asks for them, never as a whole.
#pragma once

#include "base/Error.h"
#include "imagemeta/internal/ImageFile.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace meridane::imagemeta {

class BlockBytes {
public:
    /// `head` holds the file's first bytes, already read: ranges inside it
    /// cost no read.
    BlockBytes(ImageFile& file, std::span<const std::uint8_t> head, std::vector<FileRange> ranges);

    std::uint64_t size() const { return size_; }

    /// Copies `length` bytes at `offset` of the block into `out`. Fails for a
    /// range beyond the block's end or when the file cannot deliver it.
    Status read(std::uint64_t offset, std::size_t length, std::vector<std::uint8_t>& out);

    /// The bytes from `offset` on, as a block of their own.
    BlockBytes from(std::uint64_t offset) const;

private:
    Status copyFromFile(std::uint64_t fileOffset, std::uint64_t rangeEnd, std::size_t length,
                        std::vector<std::uint8_t>& out);

    ImageFile* file_;
    std::span<const std::uint8_t> head_;
    std::vector<FileRange> ranges_;
    std::uint64_t size_ = 0;
    // The last bytes read beyond the head: values usually lie next to their
    // directory, so one read serves several of them.
    std::uint64_t windowOffset_ = 0;
    std::vector<std::uint8_t> window_;
};

}  // namespace meridane::imagemeta
