// SPDX-License-Identifier: GPL-3.0-or-later
// The byte layout of a run's journal file: an 8-byte magic, then records of
// one type byte, a little-endian payload length, the payload and a CRC-32 of
// all three before it. Only appended to, so a crash leaves at most one
// record cut short at the end.
#pragma once

#include "base/Error.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace meridane::journal::format {

/// The first journals' entries lack the sidecar folder's identity.
inline constexpr std::string_view kMagicVersion1{"MRDNRUN1", 8};
inline constexpr std::string_view kMagic{"MRDNRUN2", 8};
inline constexpr std::size_t kRecordHeader = 5;  // type and length
inline constexpr std::size_t kRecordTrailer = 4;  // CRC-32
/// Largest payload read at all: a sidecar is at most 16 MiB, stored compressed.
inline constexpr std::uint32_t kMaximumPayload = 17u << 20;
/// Largest sidecar content an entry may say it holds.
inline constexpr std::uint32_t kMaximumContent = 16u << 20;
/// Contents beyond this size may unpack to at most kMaximumRatio times their
/// packed size: zlib's own limit is near 1032, real sidecars stay far below.
inline constexpr std::uint32_t kRatioFreeContent = 1u << 20;
inline constexpr std::uint64_t kMaximumRatio = 256;

enum class RecordType : char {
    header = 'H',    ///< kind, start time, process id, the run undone (undo runs)
    entry = 'E',     ///< one sidecar about to be replaced
    done = 'D',      ///< the entry's sidecar was replaced
    dropped = 'X',   ///< the entry's save failed; the sidecar was not replaced
    undone = 'U',    ///< an undo run put all the run's sidecars back it could
    finished = 'F',  ///< the run ended normally
};

/// Little-endian fields appended to a payload.
class Writer {
public:
    void u8(std::uint8_t v) { out_.push_back(static_cast<char>(v)); }
    void u16(std::uint16_t v) { little(v, 2); }
    void u32(std::uint32_t v) { little(v, 4); }
    void i64(std::int64_t v) { little(static_cast<std::uint64_t>(v), 8); }
    void raw(std::string_view bytes) { out_.append(bytes); }
    /// A length-prefixed text (at most 65535 bytes).
    void text(std::string_view bytes) {
        u16(static_cast<std::uint16_t>(bytes.size()));
        raw(bytes);
    }
    const std::string& bytes() const { return out_; }

private:
    void little(std::uint64_t v, int count) {
        for (int i = 0; i < count; ++i)
            out_.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    }
    std::string out_;
};

/// Reads the fields back; every read past the end sets failed() and yields 0 or "".
class Reader {
public:
    explicit Reader(std::string_view in) : in_(in) {}
    std::uint8_t u8() { return static_cast<std::uint8_t>(little(1)); }
    std::uint16_t u16() { return static_cast<std::uint16_t>(little(2)); }
    std::uint32_t u32() { return static_cast<std::uint32_t>(little(4)); }
    std::int64_t i64() { return static_cast<std::int64_t>(little(8)); }
    std::string_view raw(std::size_t count) {
        if (failed_ || in_.size() - pos_ < count) {
            failed_ = true;
            return {};
        }
        std::string_view part = in_.substr(pos_, count);
        pos_ += count;
        return part;
    }
    std::string_view text() { return raw(u16()); }
    std::string_view rest() { return raw(in_.size() - pos_); }
    bool failed() const { return failed_; }

private:
    std::uint64_t little(int count) {
        std::string_view part = raw(static_cast<std::size_t>(count));
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < part.size(); ++i)
            v |= static_cast<std::uint64_t>(static_cast<unsigned char>(part[i])) << (8 * i);
        return v;
    }
    std::string_view in_;
    std::size_t pos_ = 0;
    bool failed_ = false;
};

/// type, length, payload and the CRC-32 of those.
std::string frame(RecordType type, std::string_view payload);
std::uint32_t checksum(std::string_view bytes);
std::uint32_t readLittle32(std::string_view bytes);

/// zlib, as fast as it goes: sidecars are text and shrink to a third or less.
std::string compress(std::string_view bytes);
/// Exactly `size` bytes, or a damage error; never more than `size` are made,
/// and nothing is unpacked when `size` is beyond what `packed` could honestly hold.
Result<std::string> decompress(std::string_view packed, std::uint32_t size);

Error damaged(std::string message);

}  // namespace meridane::journal::format
