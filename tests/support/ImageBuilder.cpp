// SPDX-License-Identifier: GPL-3.0-or-later
#include "ImageBuilder.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace meridane::testing {
namespace {

void put(Bytes& out, std::uint64_t value, int width, bool big) {
    for (int i = 0; i < width; ++i)
        out += static_cast<char>(value >> (8 * (big ? width - 1 - i : i)));
}

/// A directory at `start`, its values right after it; no next directory.
void writeDirectory(Bytes& out, const std::vector<TiffEntry>& entries, std::size_t start, bool big) {
    if (entries.empty())
        return;
    Bytes values;
    const std::size_t valuesAt = start + 2 + 12 * entries.size() + 4;
    put(out, entries.size(), 2, big);
    for (const TiffEntry& entry : entries) {
        put(out, entry.tag, 2, big);
        put(out, entry.type, 2, big);
        put(out, entry.count, 4, big);
        Bytes value;
        for (auto [bits, width] : entry.units)
            put(value, bits, width, big);
        if (value.size() <= 4 && !entry.claimedOffset)
            out += value + Bytes(4 - value.size(), '\0');
        else
            put(out, entry.claimedOffset.value_or(valuesAt + values.size()), 4, big);
        if (value.size() > 4 && !entry.claimedOffset)
            values += value;
    }
    put(out, 0, 4, big);
    out += values;
}

/// Whole degrees and minutes, seconds in millionths, as three rationals.
std::vector<double> degreesMinutesSeconds(double value) {
    const double minutes = std::floor(std::fabs(value) * 60);
    const double millionths = std::round((std::fabs(value) * 60 - minutes) * 60e6);
    return {std::floor(minutes / 60), 1, std::fmod(minutes, 60), 1, millionths, 1e6};
}

Bytes fullBox(const std::string& type, int version, const Bytes& payload) {
    return box(type, bigEndian(static_cast<std::uint64_t>(version) << 24, 4) + payload);
}

Bytes topLevelBox(const std::string& type, const Bytes& payload, bool large, bool sizeZero) {
    if (sizeZero)
        return bigEndian(0, 4) + type + payload;
    return large ? bigEndian(1, 4) + type + bigEndian(16 + payload.size(), 8) + payload : box(type, payload);
}

}  // namespace

TiffEntry asciiEntry(std::uint16_t tag, std::string_view text) {
    return rawEntry(tag, tiff::ascii, static_cast<std::uint32_t>(text.size() + 1), Bytes(text) + '\0');
}

TiffEntry numberEntry(std::uint16_t tag, std::uint16_t type, std::vector<double> values) {
    const bool rational = type == tiff::rational || type == tiff::srational;
    TiffEntry entry{tag, type, static_cast<std::uint32_t>(values.size() / (rational ? 2 : 1)), {}, {}};
    const int width = type == tiff::doubleType ? 8 : type == tiff::byte ? 1 : type == tiff::shortType ? 2 : 4;
    for (double v : values)
        entry.units.emplace_back(type == tiff::floatType    ? std::bit_cast<std::uint32_t>(static_cast<float>(v))
                                 : type == tiff::doubleType ? std::bit_cast<std::uint64_t>(v)
                                                            : static_cast<std::uint64_t>(static_cast<std::int64_t>(v)),
                                 width);
    return entry;
}

TiffEntry rawEntry(std::uint16_t tag, std::uint16_t type, std::uint32_t count, Bytes bytes) {
    TiffEntry entry{tag, type, count, {}, {}};
    for (char c : bytes)
        entry.units.emplace_back(static_cast<std::uint8_t>(c), 1);
    return entry;
}

Bytes buildTiff(const TiffImage& image) {
    const bool big = image.bigEndian;
    std::vector<TiffEntry> ifd0 = image.ifd0;
    if (!image.exif.empty())
        ifd0.push_back(numberEntry(0x8769, tiff::longType, {0}));
    if (!image.gps.empty())
        ifd0.push_back(numberEntry(0x8825, tiff::longType, {0}));
    std::stable_sort(ifd0.begin(), ifd0.end(), [](const TiffEntry& a, const TiffEntry& b) { return a.tag < b.tag; });
    auto sizeOf = [big](const std::vector<TiffEntry>& entries) {
        Bytes scratch;  // where a directory lies does not change its size
        writeDirectory(scratch, entries, 0, big);
        return scratch.size();
    };
    const std::size_t exifAt = 8 + sizeOf(ifd0);
    const std::size_t gpsAt = exifAt + sizeOf(image.exif);
    for (TiffEntry& entry : ifd0)
        if (entry.tag == 0x8769 || entry.tag == 0x8825)
            entry.units = {{entry.tag == 0x8769 ? exifAt : gpsAt, 4}};
    Bytes out = big ? Bytes("MM\0*", 4) : Bytes("II*\0", 4);
    put(out, 8, 4, big);
    writeDirectory(out, ifd0, 8, big);
    writeDirectory(out, image.exif, exifAt, big);
    writeDirectory(out, image.gps, gpsAt, big);
    return out + Bytes(image.pictureBytes, '\0');
}

TiffImage cameraTiff(std::optional<std::string> make, std::optional<std::string> model,
                     std::optional<std::string> software, std::optional<std::pair<double, double>> position) {
    TiffImage image;
    image.ifd0.push_back(numberEntry(0xC612, tiff::byte, {1, 4, 0, 0}));  // DNGVersion
    for (auto [tag, text] : {std::pair{0x010F, &make}, {0x0110, &model}, {0x0131, &software}})
        if (*text)
            image.ifd0.push_back(asciiEntry(static_cast<std::uint16_t>(tag), **text));
    if (position) {
        auto [latitude, longitude] = *position;
        image.gps = {numberEntry(0, tiff::byte, {2, 2, 0, 0}), asciiEntry(1, latitude < 0 ? "S" : "N"),
                     numberEntry(2, tiff::rational, degreesMinutesSeconds(latitude)),
                     asciiEntry(3, longitude < 0 ? "W" : "E"),
                     numberEntry(4, tiff::rational, degreesMinutesSeconds(longitude))};
    }
    return image;
}

Bytes bigEndian(std::uint64_t value, int width) {
    Bytes out;
    put(out, value, width, true);
    return out;
}

Bytes box(const std::string& type, const Bytes& payload) { return bigEndian(8 + payload.size(), 4) + type + payload; }

Bytes exifItemPayload(const Bytes& tiff, const std::string& prefix) {
    return bigEndian(prefix.size(), 4) + prefix + tiff;
}

void addExif(HeifFile& file, std::uint32_t id, Bytes payload, std::uint32_t describes, bool inIdat, int extents) {
    file.items.push_back({id, "Exif", std::move(payload), inIdat, extents});
    file.references.push_back({"cdsc", id, {describes}});
}

Bytes buildHeif(const HeifFile& file, const HeifLayout& layout) {
    const int v = layout.ilocVersion;
    const bool wideIds = v == 2;  // with 32-bit ids in every box that names items
    Bytes mdatData, idatData;
    std::vector<std::size_t> itemStart;
    for (const HeifItem& item : file.items) {
        Bytes& area = item.inIdat && v >= 1 ? idatData : mdatData;  // version 0 has no construction method
        itemStart.push_back(area.size());
        area += item.data;
    }
    auto id = [wideIds](std::uint32_t value) { return bigEndian(value, wideIds ? 4 : 2); };
    auto meta = [&](std::uint64_t mdatDataStart) {
        Bytes infes, refs, associations, iloc = bigEndian((layout.offsetSize << 4) | layout.lengthSize, 1) +
                                                bigEndian((layout.baseOffsetSize << 4) | layout.indexSize, 1) +
                                                id(static_cast<std::uint32_t>(file.items.size()));
        std::uint32_t pictures = 0;
        for (std::size_t i = 0; i < file.items.size(); ++i) {
            const HeifItem& item = file.items[i];
            const bool inIdat = item.inIdat && v >= 1;
            infes += fullBox("infe", wideIds ? 3 : 2, id(item.id) + bigEndian(0, 2) + item.type + Bytes(1, '\0'));
            if (item.type == "hvc1") {  // with its size and its decoder configuration
                ++pictures;
                associations += id(item.id) + Bytes("\x02\x81\x82", 3);
            }
            const std::uint64_t position = (inIdat ? 0 : mdatDataStart) + itemStart[i];
            const bool useBase = layout.baseOffsets && layout.baseOffsetSize > 0;
            iloc += id(item.id) + (v >= 1 ? bigEndian(inIdat ? 1 : 0, 2) : Bytes()) + bigEndian(0, 2) +
                    bigEndian(useBase ? position : 0, layout.baseOffsetSize) + bigEndian(item.extents, 2);
            const auto parts = static_cast<std::size_t>(item.extents), chunk = item.data.size() / parts;
            const bool fields = layout.indexSize + layout.offsetSize + layout.lengthSize > 0;
            for (std::size_t e = 0; fields && e < parts; ++e)  // the last extent takes the rest
                iloc += bigEndian(e + 1, layout.indexSize) +
                        bigEndian((useBase ? 0 : position) + chunk * e, layout.offsetSize) +
                        bigEndian(e + 1 == parts ? item.data.size() - chunk * e : chunk, layout.lengthSize);
        }
        for (const HeifReference& ref : file.references) {
            Bytes payload = id(ref.from) + bigEndian(ref.to.size(), 2);
            for (std::uint32_t to : ref.to)
                payload += id(to);
            refs += box(ref.type, payload);
        }
        const Bytes ipco = box("ipco", fullBox("ispe", 0, bigEndian(64, 4) + bigEndian(64, 4)) +
                                           box("hvcC", "\x01" + Bytes(22, '\0')));
        Bytes children = fullBox("hdlr", 0, bigEndian(0, 4) + "pict" + Bytes(13, '\0')) +
                         fullBox("pitm", wideIds, id(file.primary)) + fullBox("iloc", v, iloc) +
                         fullBox("iinf", wideIds, id(static_cast<std::uint32_t>(file.items.size())) + infes) +
                         (refs.empty() ? Bytes() : fullBox("iref", wideIds, refs)) +
                         box("iprp", ipco + fullBox("ipma", wideIds, bigEndian(pictures, 4) + associations)) +
                         (idatData.empty() ? Bytes() : box("idat", idatData));
        return topLevelBox("meta", bigEndian(0, 4) + children, layout.largeSizes,
                           layout.lastBoxSizeZero && layout.mdatFirst);
    };
    const Bytes ftyp = box("ftyp", "heic" + bigEndian(0, 4) + "mif1heic");
    const bool mdatSizeZero = layout.lastBoxSizeZero && !layout.mdatFirst;
    const Bytes mdat = topLevelBox("mdat", mdatData, layout.largeSizes, mdatSizeZero);
    const std::size_t mdatHeader = layout.largeSizes && !mdatSizeZero ? 16 : 8;
    if (layout.mdatFirst)
        return ftyp + mdat + meta(ftyp.size() + mdatHeader);
    return ftyp + meta(ftyp.size() + meta(0).size() + mdatHeader) + mdat;
}

}  // namespace meridane::testing
