// SPDX-License-Identifier: GPL-3.0-or-later
#include "imagemeta/internal/TiffReader.h"

#include "base/Utf8Text.h"

#include <algorithm>
#include <array>
#include <bit>
#include <bitset>
#include <optional>
#include <set>
#include <vector>

namespace meridane::imagemeta {
namespace {

// Real directories hold a few dozen entries and values of a few dozen bytes;
// a dump lists at most this many elements of one value.
constexpr std::size_t kMaxEntries = 1024;
constexpr std::uint64_t kMaxValueBytes = 4096;
constexpr std::uint32_t kMaxListElements = 256;

constexpr std::uint16_t kExifPointer = 0x8769;
constexpr std::uint16_t kGpsPointer = 0x8825;

enum Type : std::uint16_t {
    byteType = 1, ascii, shortType, longType, rational, sbyte, undefined, sshort, slong, srational, floatType,
    doubleType, ifd
};

unsigned typeSize(std::uint16_t type) {
    static constexpr std::array<unsigned, 14> sizes = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
    return type < sizes.size() ? sizes[type] : 0;
}

std::string typeName(std::uint16_t type) {
    static constexpr std::array<const char*, 14> names = {
        "", "Byte", "Ascii", "Short", "Long", "Rational", "SByte", "Undefined", "SShort", "SLong", "SRational",
        "Float", "Double", "Ifd"};
    return type > 0 && type < names.size() ? names[type] : "Type " + std::to_string(type);
}

std::string gpsTagName(std::uint16_t tag) {
    static constexpr std::array<const char*, 32> names = {
        "GPSVersionID", "GPSLatitudeRef", "GPSLatitude", "GPSLongitudeRef", "GPSLongitude", "GPSAltitudeRef",
        "GPSAltitude", "GPSTimeStamp", "GPSSatellites", "GPSStatus", "GPSMeasureMode", "GPSDOP", "GPSSpeedRef",
        "GPSSpeed", "GPSTrackRef", "GPSTrack", "GPSImgDirectionRef", "GPSImgDirection", "GPSMapDatum",
        "GPSDestLatitudeRef", "GPSDestLatitude", "GPSDestLongitudeRef", "GPSDestLongitude", "GPSDestBearingRef",
        "GPSDestBearing", "GPSDestDistanceRef", "GPSDestDistance", "GPSProcessingMethod", "GPSAreaInformation",
        "GPSDateStamp", "GPSDifferential", "GPSHPositioningError"};
    if (tag < names.size())
        return names[tag];
    static constexpr char hex[] = "0123456789abcdef";
    return {'0', 'x', hex[tag >> 12], hex[(tag >> 8) & 0xF], hex[(tag >> 4) & 0xF], hex[tag & 0xF]};
}

std::string deviceTagName(std::uint16_t tag) {
    return tag == tag::make ? "Make" : tag == tag::model ? "Model" : "Software";
}

/// An EXIF ASCII value: up to its first NUL; bytes that are not UTF-8 are
/// taken as Latin-1, as older cameras write them.
std::string exifText(const std::vector<std::uint8_t>& bytes) {
    std::string text(bytes.begin(), bytes.end());
    if (auto nul = text.find('\0'); nul != std::string::npos)
        text.resize(nul);
    if (utf8::isValid(text))
        return text;
    std::string converted;
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            converted += c;
        } else {
            converted += static_cast<char>(0xC0 | (byte >> 6));
            converted += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return converted;
}

struct RawEntry {
    std::uint16_t tag = 0;
    std::uint16_t type = 0;
    std::uint32_t count = 0;
    std::array<std::uint8_t, 4> field{};  ///< the value itself, or its offset
};

using Directory = std::vector<RawEntry>;

const RawEntry* findEntry(const Directory& directory, std::uint16_t tag) {
    for (const RawEntry& entry : directory)
        if (entry.tag == tag)
            return &entry;
    return nullptr;
}

Error damage(std::string message) { return Error{ErrorDomain::exif, 0, std::move(message)}; }

class Decoder {
public:
    Decoder(BlockBytes& block, bool bigEndian) : block_(block), bigEndian_(bigEndian) {}

    std::uint64_t unsignedAt(const std::uint8_t* p, int bytes) const {
        std::uint64_t value = 0;
        for (int i = 0; i < bytes; ++i)
            value |= std::uint64_t{p[bigEndian_ ? bytes - 1 - i : i]} << (8 * i);
        return value;
    }

    Result<Directory> directory(std::uint64_t offset, const std::string& name) {
        if (offset > block_.size() || block_.size() - offset < 2)
            return damage(name + " at offset " + std::to_string(offset) + " lies beyond the end of the data");
        if (Status status = block_.read(offset, 2, bytes_); !status)
            return status.error();
        const auto count = static_cast<std::size_t>(unsignedAt(bytes_.data(), 2));
        if (count > kMaxEntries)
            return damage(name + " lists " + std::to_string(count) + " entries, more than " +
                          std::to_string(kMaxEntries));
        if (block_.size() - offset - 2 < count * 12)
            return damage(name + " at offset " + std::to_string(offset) + " is cut short");
        if (Status status = block_.read(offset + 2, count * 12, bytes_); !status)
            return status.error();
        Directory entries(count);
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint8_t* p = bytes_.data() + 12 * i;
            entries[i].tag = static_cast<std::uint16_t>(unsignedAt(p, 2));
            entries[i].type = static_cast<std::uint16_t>(unsignedAt(p + 2, 2));
            entries[i].count = static_cast<std::uint32_t>(unsignedAt(p + 4, 4));
            std::copy(p + 8, p + 12, entries[i].field.begin());
        }
        return entries;
    }

    /// The entry's value; fails only when the file cannot deliver it. A value
    /// that lies outside the block or is too large to be a real one is kept
    /// unread, by its type and size, so that a dump can still name it.
    Result<MetadataValue> value(const RawEntry& entry) {
        const std::uint64_t size = std::uint64_t{typeSize(entry.type)} * entry.count;
        if (entry.type == undefined || typeSize(entry.type) == 0 || size > kMaxValueBytes)
            return MetadataValue(MetadataValue::Opaque{typeName(entry.type), static_cast<std::size_t>(size)});
        if (size <= 4) {
            bytes_.assign(entry.field.begin(), entry.field.begin() + static_cast<std::ptrdiff_t>(size));
        } else {
            const std::uint64_t offset = unsignedAt(entry.field.data(), 4);
            if (offset > block_.size() || size > block_.size() - offset)
                return MetadataValue(MetadataValue::Opaque{typeName(entry.type) + " beyond the end of the data",
                                                           static_cast<std::size_t>(size)});
            if (Status status = block_.read(offset, static_cast<std::size_t>(size), bytes_); !status)
                return status.error();
        }
        if (entry.type == ascii)
            return MetadataValue(exifText(bytes_));
        const std::uint32_t shown = std::min(entry.count, kMaxListElements);
        if (shown == 1)
            return element(entry.type, bytes_.data());
        MetadataValue::List list;
        for (std::uint32_t i = 0; i < shown; ++i)
            list.push_back(element(entry.type, bytes_.data() + i * typeSize(entry.type)));
        return MetadataValue(std::move(list));
    }

private:
    MetadataValue element(std::uint16_t type, const std::uint8_t* p) const {
        // A rational is two 32-bit numbers, numerator first, in either byte order.
        if (type == rational || type == srational) {
            const std::uint64_t numerator = unsignedAt(p, 4), denominator = unsignedAt(p + 4, 4);
            if (type == rational)
                return Rational{static_cast<std::int64_t>(numerator), static_cast<std::int64_t>(denominator)};
            return Rational{static_cast<std::int32_t>(numerator), static_cast<std::int32_t>(denominator)};
        }
        const std::uint64_t bits = unsignedAt(p, static_cast<int>(typeSize(type)));
        switch (type) {
        case sbyte: return std::int64_t{static_cast<std::int8_t>(bits)};
        case sshort: return std::int64_t{static_cast<std::int16_t>(bits)};
        case slong: return std::int64_t{static_cast<std::int32_t>(bits)};
        case floatType: return std::bit_cast<float>(static_cast<std::uint32_t>(bits));
        case doubleType: return std::bit_cast<double>(bits);
        default: return static_cast<std::int64_t>(bits);  // Byte, Short, Long, Ifd
        }
    }

    BlockBytes& block_;
    bool bigEndian_;
    std::vector<std::uint8_t> bytes_;
};

/// Reads into `out` the first entry of each tag that `wanted` accepts, in
/// directory order; entries without values count as absent.
template <typename Wanted>
Status collect(Decoder& decoder, const Directory& directory, Wanted wanted, bool gpsNames, PropertyDictionary& out) {
    std::bitset<65536> seen;
    for (const RawEntry& entry : directory) {
        if (entry.count == 0 || !wanted(entry.tag) || seen.test(entry.tag))
            continue;
        seen.set(entry.tag);
        auto value = decoder.value(entry);
        if (!value)
            return value.error();
        out.entries.push_back({entry.tag, gpsNames ? gpsTagName(entry.tag) : deviceTagName(entry.tag),
                               std::move(value.value())});
    }
    return Done{};
}

bool isDeviceTag(std::uint16_t tag) { return tag == tag::make || tag == tag::model || tag == tag::software; }
bool isPositionTag(std::uint16_t tag) { return tag >= tag::gpsLatitudeRef && tag <= tag::gpsLongitude; }
bool anyTag(std::uint16_t) { return true; }

bool isText(const PropertyDictionary& dictionary, std::uint16_t tag) {
    const MetadataValue* value = dictionary.find(tag);
    return value && std::holds_alternative<std::string>(value->value);
}

/// Whether the value is of a kind that always gives a coordinate, so that
/// the position cannot end incomplete.
bool isNumeric(const MetadataValue* value) {
    return value && !std::holds_alternative<std::string>(value->value) &&
           !std::holds_alternative<MetadataValue::Opaque>(value->value);
}

}  // namespace

bool hasTiffHeader(std::span<const std::uint8_t> bytes) {
    static constexpr std::uint8_t little[] = {'I', 'I', 42, 0};
    static constexpr std::uint8_t big[] = {'M', 'M', 0, 42};
    return bytes.size() >= 4 && (std::equal(little, little + 4, bytes.begin()) || std::equal(big, big + 4, bytes.begin()));
}

Result<TiffRead> readTiff(BlockBytes& block) {
    std::vector<std::uint8_t> header;
    if (block.size() < 8)
        return damage("no TIFF header");
    if (Status status = block.read(0, 8, header); !status)
        return status.error();
    if (!hasTiffHeader(header))
        return damage("no TIFF header");
    Decoder decoder(block, header[0] == 'M');
    const std::uint64_t ifd0Offset = decoder.unsignedAt(header.data() + 4, 4);
    auto ifd0 = decoder.directory(ifd0Offset, "IFD0");
    if (!ifd0)
        return ifd0.error();

    TiffRead result;
    std::set<std::uint64_t> visited = {ifd0Offset};
    // A directory the pointer entry leads to, or none; damage only adds to
    // the problem text, a file that cannot deliver its bytes fails the read.
    auto subDirectory = [&](std::uint16_t pointer, const std::string& name) -> Result<std::optional<Directory>> {
        const RawEntry* entry = findEntry(ifd0.value(), pointer);
        if (!entry)
            return std::optional<Directory>();
        std::string problem;
        const std::uint64_t offset = decoder.unsignedAt(entry->field.data(), 4);
        if ((entry->type != longType && entry->type != ifd) || entry->count != 1) {
            problem = name + " pointer is no offset";
        } else if (!visited.insert(offset).second) {
            problem = name + " at offset " + std::to_string(offset) + " is a directory read already";
        } else {
            auto directory = decoder.directory(offset, name);
            if (directory)
                return std::optional<Directory>(std::move(directory.value()));
            if (directory.error().domain != ErrorDomain::exif)
                return directory.error();
            problem = directory.error().message;
        }
        result.problem += (result.problem.empty() ? "" : "; ") + problem;
        return std::optional<Directory>();
    };

    PropertyDictionary tiff;
    if (Status status = collect(decoder, ifd0.value(), isDeviceTag, false, tiff); !status)
        return status.error();
    if (!isText(tiff, tag::make) || !isText(tiff, tag::model) || !isText(tiff, tag::software)) {
        auto exif = subDirectory(kExifPointer, "Exif directory");
        if (!exif)
            return exif.error();
        if (exif.value()) {
            PropertyDictionary& dictionary = result.properties.exif.emplace();
            if (Status status = collect(decoder, *exif.value(), isDeviceTag, false, dictionary); !status)
                return status.error();
        }
    }
    result.properties.tiff = std::move(tiff);

    auto gps = subDirectory(kGpsPointer, "GPS directory");
    if (!gps)
        return gps.error();
    if (gps.value()) {
        PropertyDictionary& dictionary = result.properties.gps.emplace();
        if (Status status = collect(decoder, *gps.value(), isPositionTag, true, dictionary); !status)
            return status.error();
        // The rest is read only for the dump that an incomplete position gets.
        if (!isNumeric(dictionary.find(tag::gpsLatitude)) || !isNumeric(dictionary.find(tag::gpsLongitude))) {
            dictionary.entries.clear();
            if (Status status = collect(decoder, *gps.value(), anyTag, true, dictionary); !status)
                return status.error();
        }
    }
    return result;
}

}  // namespace meridane::imagemeta
