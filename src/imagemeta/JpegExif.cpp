// SPDX-License-Identifier: GPL-3.0-or-later
#include "imagemeta/internal/JpegExif.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace meridane::imagemeta {
namespace {

// Real files have a dozen segments before the picture data.
constexpr int kMaxSegments = 128;

}  // namespace

bool isJpegFile(std::span<const std::uint8_t> head) {
    return head.size() >= 4 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF;
}

Result<std::optional<FileRange>> findJpegExif(ImageFile& file, std::span<const std::uint8_t> head) {
    std::vector<std::uint8_t> bytes;
    auto readAt = [&](std::uint64_t offset, std::size_t length) -> Status {
        if (offset + length <= head.size()) {
            bytes.assign(head.begin() + static_cast<std::ptrdiff_t>(offset),
                         head.begin() + static_cast<std::ptrdiff_t>(offset + length));
            return Done{};
        }
        return file.readAt(offset, length, bytes);
    };
    std::uint64_t pos = 2;  // after the start-of-image marker
    for (int i = 0; i < kMaxSegments && pos + 4 <= file.size(); ++i) {
        if (Status status = readAt(pos, 4); !status)
            return status.error();
        if (bytes[0] != 0xFF)
            return Error{ErrorDomain::exif, 0, "JPEG segment without a marker at offset " + std::to_string(pos)};
        const std::uint8_t marker = bytes[1];
        if (marker == 0xFF) {  // fill byte
            pos += 1;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {  // markers without a length
            pos += 2;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9)  // picture data or end of image
            break;
        const std::uint64_t length = (std::uint64_t{bytes[2]} << 8) | bytes[3];
        if (length < 2 || pos + 2 + length > file.size())
            return Error{ErrorDomain::exif, 0, "JPEG segment at offset " + std::to_string(pos) + " is cut short"};
        if (marker == 0xE1 && length >= 16) {
            if (Status status = readAt(pos + 4, 6); !status)
                return status.error();
            if (std::memcmp(bytes.data(), "Exif\0\0", 6) == 0)
                return std::optional<FileRange>(FileRange{pos + 10, length - 8});
        }
        pos += 2 + length;
    }
    return std::optional<FileRange>();
}

}  // namespace meridane::imagemeta
