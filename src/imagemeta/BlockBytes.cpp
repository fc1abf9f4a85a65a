// SPDX-License-Identifier: GPL-3.0-or-later
#include "imagemeta/internal/BlockBytes.h"

#include <algorithm>
#include <utility>

namespace meridane::imagemeta {
namespace {

constexpr std::size_t kWindowSize = 2048;

}  // namespace

BlockBytes::BlockBytes(ImageFile& file, std::span<const std::uint8_t> head, std::vector<FileRange> ranges)
    : file_(&file), head_(head), ranges_(std::move(ranges)) {
    for (const FileRange& range : ranges_)
        size_ += range.length;
}

BlockBytes BlockBytes::from(std::uint64_t offset) const {
    std::vector<FileRange> rest;
    for (const FileRange& range : ranges_) {
        if (offset >= range.length) {
            offset -= range.length;
            continue;
        }
        rest.push_back({range.offset + offset, range.length - offset});
        offset = 0;
    }
    // The window holds file bytes, good for any block of the same file: the
    // bytes just read past an item's header are those its TIFF block starts with.
    BlockBytes block(*file_, head_, std::move(rest));
    block.windowOffset_ = windowOffset_;
    block.window_ = window_;
    return block;
}

Status BlockBytes::read(std::uint64_t offset, std::size_t length, std::vector<std::uint8_t>& out) {
    if (offset > size_ || length > size_ - offset)
        return Error{ErrorDomain::exif, 0, "range beyond the end of the Exif data"};
    out.clear();
    out.reserve(length);
    for (const FileRange& range : ranges_) {
        if (out.size() == length)
            break;
        if (offset >= range.length) {
            offset -= range.length;
            continue;
        }
        auto piece = static_cast<std::size_t>(std::min<std::uint64_t>(range.length - offset, length - out.size()));
        Status status = copyFromFile(range.offset + offset, range.offset + range.length, piece, out);
        if (!status)
            return status;
        offset = 0;
    }
    return Done{};
}

Status BlockBytes::copyFromFile(std::uint64_t fileOffset, std::uint64_t rangeEnd, std::size_t length,
                                std::vector<std::uint8_t>& out) {
    auto append = [&out, length](std::span<const std::uint8_t> bytes, std::uint64_t start, std::uint64_t at) {
        auto first = bytes.begin() + static_cast<std::ptrdiff_t>(at - start);
        out.insert(out.end(), first, first + static_cast<std::ptrdiff_t>(length));
    };
    if (holds(0, head_.size(), fileOffset, length)) {
        append(head_, 0, fileOffset);
        return Done{};
    }
    if (!holds(windowOffset_, window_.size(), fileOffset, length)) {
        const std::uint64_t wanted = std::max(length, kWindowSize);
        const auto size = static_cast<std::size_t>(std::min(wanted, rangeEnd - fileOffset));
        window_.clear();
        windowOffset_ = fileOffset;
        if (Status status = file_->readAt(fileOffset, size, window_); !status) {
            window_.clear();
            return status;
        }
    }
    append(window_, windowOffset_, fileOffset);
    return Done{};
}

}  // namespace meridane::imagemeta
