// SPDX-License-Identifier: GPL-3.0-or-later
#include "journal/internal/RecordFormat.h"

#include <zlib.h>

namespace meridane::journal::format {

std::uint32_t checksum(std::string_view bytes) {
    uLong crc = ::crc32(0L, Z_NULL, 0);
    // crc32 takes at most uInt bytes at a time.
    while (!bytes.empty()) {
        const auto part = static_cast<uInt>(std::min<std::size_t>(bytes.size(), 1u << 30));
        crc = ::crc32(crc, reinterpret_cast<const Bytef*>(bytes.data()), part);
        bytes.remove_prefix(part);
    }
    return static_cast<std::uint32_t>(crc);
}

std::uint32_t readLittle32(std::string_view bytes) {
    Reader reader(bytes);
    return reader.u32();
}

std::string frame(RecordType type, std::string_view payload) {
    Writer record;
    record.u8(static_cast<std::uint8_t>(type));
    record.u32(static_cast<std::uint32_t>(payload.size()));
    record.raw(payload);
    Writer out;
    out.raw(record.bytes());
    out.u32(checksum(record.bytes()));
    return out.bytes();
}

std::string compress(std::string_view bytes) {
    uLongf size = ::compressBound(static_cast<uLong>(bytes.size()));
    std::string packed(size, '\0');
    if (::compress2(reinterpret_cast<Bytef*>(packed.data()), &size, reinterpret_cast<const Bytef*>(bytes.data()),
                    static_cast<uLong>(bytes.size()), Z_BEST_SPEED) != Z_OK)
        return {};
    packed.resize(size);
    return packed;
}

Result<std::string> decompress(std::string_view packed, std::uint32_t size) {
    if (size > kMaximumContent)
        return damaged("it claims a sidecar of " + std::to_string(size) + " bytes");
    if (size > kRatioFreeContent && size / kMaximumRatio > packed.size())
        return damaged("its stored content claims to unpack to " + std::to_string(size) + " bytes from " +
                       std::to_string(packed.size()));
    std::string bytes(size, '\0');
    uLongf made = size;
    uLong used = static_cast<uLong>(packed.size());
    const int status = ::uncompress2(reinterpret_cast<Bytef*>(bytes.data()), &made,
                                     reinterpret_cast<const Bytef*>(packed.data()), &used);
    // A stream that would make more than `size` bytes stops with Z_BUF_ERROR.
    if (status != Z_OK || made != size || used != packed.size())
        return damaged("its stored content cannot be unpacked");
    return bytes;
}

Error damaged(std::string message) {
    return Error{ErrorDomain::journal, kJournalDamaged, "The run's journal entry is damaged: " + std::move(message)};
}

}  // namespace meridane::journal::format
