#include "ImageMetaTestSupport.h"

#include "TestSupport.h"

#include <exiv2/exiv2.hpp>
#include <libheif/heif.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <stdexcept>

namespace meridane::testing {
namespace {

std::string bigEndian(std::uint64_t value, int bytes) {
    std::string out;
    for (int i = bytes - 1; i >= 0; --i)
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
    return out;
}

std::string u16(std::uint64_t v) { return bigEndian(v, 2); }
std::string u32(std::uint64_t v) { return bigEndian(v, 4); }

std::string fullBox(const std::string& type, int version, const std::string& payload) {
    return box(type, bigEndian(static_cast<std::uint64_t>(version) << 24, 4) + payload);
}

std::string topLevelBox(const std::string& type, const std::string& payload, bool large, bool sizeZero) {
    if (sizeZero)
        return u32(0) + type + payload;
    if (large)
        return u32(1) + type + bigEndian(16 + payload.size(), 8) + payload;
    return box(type, payload);
}

std::uint64_t readBig(const Bytes& data, std::size_t pos, int bytes) {
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value = (value << 8) | data.at(pos + static_cast<std::size_t>(i));
    return value;
}

struct RawBox {
    std::string type;
    std::size_t start = 0;
    std::size_t payload = 0;
    std::size_t end = 0;
};

/// Boxes of a well-formed file (the fixture), 32-bit sizes only.
std::vector<RawBox> children(const Bytes& data, std::size_t from, std::size_t to) {
    std::vector<RawBox> boxes;
    for (std::size_t pos = from; pos + 8 <= to;) {
        auto size = static_cast<std::size_t>(readBig(data, pos, 4));
        RawBox b{std::string(data.begin() + static_cast<long>(pos) + 4, data.begin() + static_cast<long>(pos) + 8),
                 pos, pos + 8, pos + size};
        boxes.push_back(b);
        pos += size;
    }
    return boxes;
}

struct Chunk {
    std::size_t offset;  ///< within the item's data
    std::size_t length;
};

std::vector<Chunk> split(std::size_t size, int parts) {
    std::vector<Chunk> chunks;
    std::size_t done = 0;
    for (int i = 0; i < parts; ++i) {
        std::size_t length = (i == parts - 1) ? size - done : size / static_cast<std::size_t>(parts);
        chunks.push_back({done, length});
        done += length;
    }
    return chunks;
}

}  // namespace

std::string box(const std::string& type, const std::string& payload) {
    return u32(8 + payload.size()) + type + payload;
}

std::string asString(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

Bytes encodeTiff(const std::function<void(Exiv2::ExifData&)>& fill) {
    Exiv2::ExifData data;
    fill(data);
    Exiv2::Blob blob;
    Exiv2::ExifParser::encode(blob, Exiv2::littleEndian, data);
    return Bytes(blob.begin(), blob.end());
}

Bytes tiffWithGps(double latitude, const char* latitudeRef, double longitude, const char* longitudeRef) {
    auto rationals = [](double value) {
        // Degrees and minutes whole, seconds in millionths: what phones write.
        double degrees = std::floor(value);
        double minutes = std::floor((value - degrees) * 60);
        double seconds = ((value - degrees) * 60 - minutes) * 60;
        auto micro = static_cast<long long>(std::llround(seconds * 1e6));
        return std::to_string(static_cast<long long>(degrees)) + "/1 " +
               std::to_string(static_cast<long long>(minutes)) + "/1 " + std::to_string(micro) + "/1000000";
    };
    return encodeTiff([&](Exiv2::ExifData& exif) {
        exif["Exif.Image.Make"] = "Apple";
        exif["Exif.Image.Model"] = "iPhone 15 Pro";
        exif["Exif.Image.Software"] = "17.4";
        exif["Exif.GPSInfo.GPSLatitudeRef"] = latitudeRef;
        Exiv2::URationalValue lat;
        lat.read(rationals(latitude));
        exif.add(Exiv2::ExifKey("Exif.GPSInfo.GPSLatitude"), &lat);
        exif["Exif.GPSInfo.GPSLongitudeRef"] = longitudeRef;
        Exiv2::URationalValue lon;
        lon.read(rationals(longitude));
        exif.add(Exiv2::ExifKey("Exif.GPSInfo.GPSLongitude"), &lon);
    });
}

Bytes exifItemPayload(const Bytes& tiff, std::optional<std::string> prefix) {
    std::string head = prefix.value_or(std::string("Exif\0\0", 6));
    std::string out = u32(head.size()) + head + asString(tiff);
    return Bytes(out.begin(), out.end());
}

std::string buildHeif(const HeifFile& file, const HeifLayout& layout) {
    const bool wideIds = layout.infeVersion >= 3 || layout.ilocVersion == 2;
    // Version 0 of 'iloc' has no construction method: everything goes to mdat.
    const bool idatAllowed = layout.ilocVersion >= 1;
    std::string ftypPayload = file.majorBrand + u32(0);
    for (const auto& brand : file.compatibleBrands)
        ftypPayload += brand;
    const std::string ftyp = box("ftyp", ftypPayload);

    // Where each item's data goes: mdat or idat, in item order.
    std::string mdatData;
    std::string idatData;
    std::vector<std::size_t> itemStart;
    for (const auto& item : file.items) {
        std::string& area = item.inIdat && idatAllowed ? idatData : mdatData;
        itemStart.push_back(area.size());
        area += asString(item.data);
    }

    auto metaFor = [&](std::uint64_t mdatDataStart) {
        std::string hdlr = fullBox("hdlr", 0, u32(0) + "pict" + std::string(12, '\0') + std::string(1, '\0'));
        std::string pitm = fullBox("pitm", wideIds ? 1 : 0, wideIds ? u32(file.primary) : u16(file.primary));
        std::string infes;
        for (const auto& item : file.items) {
            std::string id = layout.infeVersion >= 3 ? u32(item.id) : u16(item.id);
            infes += fullBox("infe", layout.infeVersion, id + u16(0) + item.type + std::string(1, '\0'));
        }
        std::string iinf = fullBox("iinf", layout.infeVersion >= 3 ? 1 : 0,
                                   (layout.infeVersion >= 3 ? u32(file.items.size()) : u16(file.items.size())) + infes);
        std::string refs;
        for (const auto& ref : file.references) {
            std::string payload = (layout.irefVersion == 1 ? u32(ref.from) : u16(ref.from)) + u16(ref.to.size());
            for (auto to : ref.to)
                payload += layout.irefVersion == 1 ? u32(to) : u16(to);
            refs += box(ref.type, payload);
        }
        std::string iref = refs.empty() ? std::string() : fullBox("iref", layout.irefVersion, refs);

        const int v = layout.ilocVersion;
        std::string iloc = std::string(1, static_cast<char>((layout.offsetSize << 4) | layout.lengthSize)) +
                           std::string(1, static_cast<char>((layout.baseOffsetSize << 4) |
                                                            (v >= 1 ? layout.indexSize : 0)));
        iloc += v == 2 ? u32(file.items.size()) : u16(file.items.size());
        for (std::size_t i = 0; i < file.items.size(); ++i) {
            const auto& item = file.items[i];
            iloc += v == 2 ? u32(item.id) : u16(item.id);
            if (v >= 1)
                iloc += u16(item.claimedConstructionMethod.value_or(item.inIdat && idatAllowed ? 1 : 0));
            iloc += u16(item.claimedDataReference);
            std::uint64_t position =
                item.claimedOffset.value_or((item.inIdat && idatAllowed ? 0 : mdatDataStart) + itemStart[i]);
            const bool useBase = layout.baseOffsets && layout.baseOffsetSize > 0 && !item.claimedOffset;
            iloc += bigEndian(useBase ? position : 0, layout.baseOffsetSize);
            auto chunks = split(item.data.size(), item.extents);
            iloc += u16(chunks.size());
            for (std::size_t c = 0; c < chunks.size(); ++c) {
                if (v >= 1)
                    iloc += bigEndian(c + 1, layout.indexSize);
                iloc += bigEndian((useBase ? 0 : position) + chunks[c].offset, layout.offsetSize);
                iloc += bigEndian(item.claimedLength.value_or(chunks[c].length), layout.lengthSize);
            }
        }
        std::string children = hdlr + pitm + fullBox("iloc", v, iloc) + iinf + iref + asString(file.properties);
        if (!idatData.empty())
            children += box("idat", idatData);
        const bool metaIsLast = layout.mdatFirst;
        return topLevelBox("meta", u32(0) + children, layout.largeSizes, layout.lastBoxSizeZero && metaIsLast);
    };
    auto mdatBox = [&] {
        return topLevelBox("mdat", mdatData, layout.largeSizes, layout.lastBoxSizeZero && !layout.mdatFirst);
    };
    const std::size_t mdatHeader = layout.largeSizes && !(layout.lastBoxSizeZero && !layout.mdatFirst) ? 16 : 8;
    if (layout.mdatFirst)
        return ftyp + mdatBox() + metaFor(ftyp.size() + mdatHeader);
    const std::size_t metaSize = metaFor(0).size();
    return ftyp + metaFor(ftyp.size() + metaSize + mdatHeader) + mdatBox();
}

HeifFile encodedHeifWithoutExif() {
    const std::string text = readFile(testDataDir() / "imagemeta" / "no-exif.heic");
    const Bytes data(text.begin(), text.end());
    HeifFile file;
    file.majorBrand = text.substr(8, 4);
    file.compatibleBrands.clear();
    auto top = children(data, 0, data.size());
    for (std::size_t p = 16; p < top.at(0).end; p += 4)
        file.compatibleBrands.push_back(text.substr(p, 4));
    auto meta = std::find_if(top.begin(), top.end(), [](const RawBox& b) { return b.type == "meta"; });
    if (meta == top.end())
        throw std::runtime_error("fixture without meta");
    std::map<std::uint32_t, std::pair<int, Bytes>> located;  // id -> construction method, data
    RawBox idat;
    auto metaChildren = children(data, meta->payload + 4, meta->end);
    for (const auto& b : metaChildren)
        if (b.type == "idat")
            idat = b;
    for (const auto& b : metaChildren) {
        if (b.type == "pitm") {
            file.primary = static_cast<std::uint32_t>(readBig(data, b.payload + 4, 2));
        } else if (b.type == "iprp") {
            file.properties.assign(data.begin() + static_cast<long>(b.start), data.begin() + static_cast<long>(b.end));
        } else if (b.type == "iinf") {
            for (const auto& infe : children(data, b.payload + 6, b.end)) {
                HeifItem item;
                item.id = static_cast<std::uint32_t>(readBig(data, infe.payload + 4, 2));
                item.type = text.substr(infe.payload + 8, 4);
                file.items.push_back(std::move(item));
            }
        } else if (b.type == "iref") {
            for (const auto& ref : children(data, b.payload + 4, b.end)) {
                HeifReference r{ref.type, static_cast<std::uint32_t>(readBig(data, ref.payload, 2)), {}};
                auto count = readBig(data, ref.payload + 2, 2);
                for (std::size_t i = 0; i < count; ++i)
                    r.to.push_back(static_cast<std::uint32_t>(readBig(data, ref.payload + 4 + 2 * i, 2)));
                file.references.push_back(r);
            }
        } else if (b.type == "iloc") {
            // heif-enc writes version 1 with 4-byte offsets, lengths and base offsets.
            std::size_t pos = b.payload + 6;
            auto count = readBig(data, pos, 2);
            pos += 2;
            for (std::size_t i = 0; i < count; ++i) {
                auto id = static_cast<std::uint32_t>(readBig(data, pos, 2));
                int method = static_cast<int>(readBig(data, pos + 2, 2) & 0xF);
                auto base = readBig(data, pos + 6, 4);
                auto extents = readBig(data, pos + 10, 2);
                pos += 12;
                Bytes bytes;
                for (std::size_t e = 0; e < extents; ++e, pos += 8) {
                    auto start = (method == 1 ? idat.payload : 0) + base + readBig(data, pos, 4);
                    auto length = readBig(data, pos + 4, 4);
                    bytes.insert(bytes.end(), data.begin() + static_cast<long>(start),
                                 data.begin() + static_cast<long>(start + length));
                }
                located[id] = {method, bytes};
            }
        }
    }
    for (auto& item : file.items) {
        item.inIdat = located.at(item.id).first == 1;
        item.data = located.at(item.id).second;
    }
    return file;
}

void addExif(HeifFile& file, std::uint32_t id, Bytes payload, std::uint32_t describes, bool inIdat, int extents) {
    HeifItem item;
    item.id = id;
    item.type = "Exif";
    item.data = std::move(payload);
    item.inIdat = inIdat;
    item.extents = extents;
    file.items.push_back(std::move(item));
    file.references.push_back(HeifReference{"cdsc", id, {describes}});
}

std::optional<Bytes> libheifPrimaryExif(const std::filesystem::path& path) {
    std::unique_ptr<heif_context, decltype(&heif_context_free)> context(heif_context_alloc(), heif_context_free);
    if (heif_context_read_from_file(context.get(), path.c_str(), nullptr).code != heif_error_Ok)
        return std::nullopt;
    heif_image_handle* raw = nullptr;
    if (heif_context_get_primary_image_handle(context.get(), &raw).code != heif_error_Ok)
        return std::nullopt;
    std::unique_ptr<heif_image_handle, decltype(&heif_image_handle_release)> handle(raw, heif_image_handle_release);
    heif_item_id id = 0;
    if (heif_image_handle_get_list_of_metadata_block_IDs(handle.get(), "Exif", &id, 1) < 1)
        return std::nullopt;
    Bytes bytes(heif_image_handle_get_metadata_size(handle.get(), id));
    if (heif_image_handle_get_metadata(handle.get(), id, bytes.data()).code != heif_error_Ok)
        return std::nullopt;
    return bytes;
}

}  // namespace meridane::testing
