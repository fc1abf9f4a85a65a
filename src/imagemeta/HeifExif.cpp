// SPDX-License-Identifier: GPL-3.0-or-later
#include "imagemeta/internal/HeifExif.h"

#include "imagemeta/internal/TiffReader.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <unordered_set>

namespace meridane::imagemeta {
namespace {

// Bounds that keep a hostile file from driving the walk: real files have a
// handful of top-level boxes, a few dozen 'meta' children, 'iinf', 'iref'
// and 'iloc' boxes of a few KiB (40 KiB for a 200-megapixel photo of 800
// tiles), fewer than a thousand extents and references.
constexpr int kMaxTopLevelBoxes = 1024;
constexpr int kMaxChildBoxes = 1024;
constexpr std::size_t kMaxItemTableSize = std::size_t{1} << 20;
constexpr std::size_t kMaxExifItems = 4096;
constexpr std::uint64_t kMaxExtents = 4096;
constexpr std::uint64_t kMaxReferences = 4096;
// A 'meta' box up to this size is read in one go; a larger one (a big idat or
// property box) is read box by box.
constexpr std::uint64_t kMetaReadAtOnce = 64 * 1024;

constexpr std::uint32_t fourcc(std::string_view code) {
    return (std::uint32_t(std::uint8_t(code[0])) << 24) | (std::uint32_t(std::uint8_t(code[1])) << 16) |
           (std::uint32_t(std::uint8_t(code[2])) << 8) | std::uint32_t(std::uint8_t(code[3]));
}

std::string fourccText(std::uint32_t code) {
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        char c = static_cast<char>((code >> shift) & 0xFF);
        text += (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    return text;
}

constexpr std::string_view kExtentBeyondEnd = "Exif item extent lies beyond the end of the file";

Error structureError(std::string message) { return Error{ErrorDomain::heif, kHeifStructure, std::move(message)}; }

std::string boxName(std::uint32_t type) {
    std::string name = fourccText(type);
    name.insert(name.begin(), '\'');
    name.push_back('\'');
    return name;
}

/// Big-endian reading within a span that never steps past its end.
class Cursor {
public:
    explicit Cursor(std::span<const std::uint8_t> data) : data_(data) {}

    bool read(int bytes, std::uint64_t& value) {
        value = 0;
        if (bytes < 0 || static_cast<std::size_t>(bytes) > data_.size() - pos_)
            return false;
        for (int i = 0; i < bytes; ++i)
            value = (value << 8) | data_[pos_++];
        return true;
    }
    template <typename T>
    bool read(T& value) {
        std::uint64_t wide = 0;
        if (!read(static_cast<int>(sizeof(T)), wide))
            return false;
        value = static_cast<T>(wide);
        return true;
    }
    bool skip(std::size_t bytes) {
        if (bytes > data_.size() - pos_)
            return false;
        pos_ += bytes;
        return true;
    }
    std::size_t pos() const { return pos_; }

private:
    std::span<const std::uint8_t> data_;
    std::size_t pos_ = 0;
};

struct Box {
    std::uint32_t type = 0;
    std::uint64_t start = 0;    ///< offset of the header
    std::uint64_t payload = 0;  ///< offset of the first byte after the header
    std::uint64_t end = 0;      ///< one past the last byte
    std::uint64_t payloadSize() const { return end - payload; }
};

/// Reads a box header from `header` (the bytes at `offset`, up to 16) for a
/// box that must end by `limit`. Size 0 means "to the end of the container",
/// size 1 a 64-bit size after the type.
/// `parent` names the container in messages (0: the file).
Result<Box> parseBoxHeader(std::span<const std::uint8_t> header, std::uint64_t offset, std::uint64_t limit,
                           std::uint32_t parent) {
    const std::string where = parent == 0 ? std::string("the file") : boxName(parent);
    Cursor c(header);
    std::uint32_t size32 = 0;
    Box box;
    if (!c.read(size32) || !c.read(box.type))
        return structureError("truncated box header at offset " + std::to_string(offset) + " in " + where);
    std::uint64_t size = size32;
    std::uint64_t headerSize = 8;
    if (size32 == 1) {
        if (!c.read(size))
            return structureError("truncated box header at offset " + std::to_string(offset) + " in " + where);
        headerSize = 16;
    } else if (size32 == 0) {
        size = limit - offset;
    }
    if (size < headerSize)
        return structureError("box " + boxName(box.type) + " at offset " + std::to_string(offset) +
                              " in " + where + " is smaller than its header");
    if (size > limit - offset) {
        Error error = structureError("box " + boxName(box.type) + " at offset " + std::to_string(offset) +
                                     " extends past the end of " + where);
        if (parent == 0)
            error.code = kHeifTruncated;
        return error;
    }
    box.start = offset;
    box.payload = offset + headerSize;
    box.end = offset + size;
    return box;
}

/// The file's bytes as the walk needs them: the head read up front, one
/// kept window (the 'meta' box), and single reads for everything else.
class ByteSource {
public:
    ByteSource(ImageFile& file, std::span<const std::uint8_t> head) : file_(file), head_(head) {}

    std::uint64_t size() const { return file_.size(); }

    Status keep(std::uint64_t offset, std::size_t length) {
        if (holds(0, head_.size(), offset, length))
            return Done{};
        Status status = file_.readAt(offset, length, kept_);
        if (!status)
            return status;
        keptOffset_ = offset;
        return Done{};
    }

    Result<std::span<const std::uint8_t>> view(std::uint64_t offset, std::size_t length,
                                               std::vector<std::uint8_t>& scratch) {
        if (holds(0, head_.size(), offset, length))
            return head_.subspan(static_cast<std::size_t>(offset), length);
        if (holds(keptOffset_, kept_.size(), offset, length))
            return std::span<const std::uint8_t>(kept_).subspan(static_cast<std::size_t>(offset - keptOffset_),
                                                                length);
        Status status = file_.readAt(offset, length, scratch);
        if (!status)
            return status.error();
        return std::span<const std::uint8_t>(scratch);
    }

    Result<Box> boxAt(std::uint64_t offset, std::uint64_t limit, std::uint32_t parent) {
        const std::string where = parent == 0 ? std::string("the file") : boxName(parent);
        std::uint64_t available = limit - offset;
        if (available < 8)
            return structureError("truncated box header at offset " + std::to_string(offset) + " in " + where);
        std::vector<std::uint8_t> scratch;
        auto header = view(offset, static_cast<std::size_t>(std::min<std::uint64_t>(16, available)), scratch);
        if (!header)
            return structureError("cannot read box header at offset " + std::to_string(offset) + ": " +
                                  header.error().message);
        return parseBoxHeader(header.value(), offset, limit, parent);
    }

private:
    ImageFile& file_;
    std::span<const std::uint8_t> head_;
    std::vector<std::uint8_t> kept_;
    std::uint64_t keptOffset_ = 0;
};

/// A small item-description box ('pitm', 'iinf', 'iref', 'iloc') in memory.
struct LoadedBox {
    std::vector<std::uint8_t> scratch;
    std::span<const std::uint8_t> payload;
};

Result<LoadedBox> loadPayload(ByteSource& source, const Box& box) {
    if (box.payloadSize() > kMaxItemTableSize)
        return structureError("box " + boxName(box.type) + " of " + std::to_string(box.payloadSize()) +
                              " bytes is too large");
    LoadedBox loaded;
    auto bytes = source.view(box.payload, static_cast<std::size_t>(box.payloadSize()), loaded.scratch);
    if (!bytes)
        return structureError("cannot read box " + boxName(box.type) + ": " + bytes.error().message);
    loaded.payload = bytes.value();
    return loaded;
}

/// Calls visit(box, payload) for each child box in an in-memory payload,
/// starting at `from`; at most `maxCount` children.
template <typename Visit>
Status forEachChild(std::span<const std::uint8_t> payload, std::size_t from, std::uint64_t maxCount,
                    std::uint32_t parentType, Visit visit) {
    // The payload is at most kMaxItemTableSize bytes and every box at least
    // 8, which bounds the walk.
    std::size_t pos = from;
    for (std::uint64_t i = 0; i < maxCount && pos < payload.size(); ++i) {
        auto header = payload.subspan(pos, std::min<std::size_t>(16, payload.size() - pos));
        auto child = parseBoxHeader(header, pos, payload.size(), parentType);
        if (!child)
            return child.error();
        auto body = payload.subspan(static_cast<std::size_t>(child->payload),
                                    static_cast<std::size_t>(child->payloadSize()));
        Status status = visit(child.value(), body);
        if (!status)
            return status;
        pos = static_cast<std::size_t>(child->end);
    }
    return Done{};
}

struct FullBoxHeader {
    std::uint8_t version = 0;
    std::uint32_t flags = 0;
};

bool readFullBoxHeader(Cursor& c, FullBoxHeader& header) {
    std::uint32_t word = 0;
    if (!c.read(word))
        return false;
    header.version = static_cast<std::uint8_t>(word >> 24);
    header.flags = word & 0xFFFFFF;
    return true;
}

Result<std::uint32_t> parsePrimaryItem(std::span<const std::uint8_t> payload) {
    Cursor c(payload);
    FullBoxHeader header;
    std::uint64_t id = 0;
    if (!readFullBoxHeader(c, header) || !c.read(header.version == 0 ? 2 : 4, id))
        return structureError("truncated 'pitm' box");
    return static_cast<std::uint32_t>(id);
}

struct ItemList {
    bool hasPrimary = false;
    std::vector<std::uint32_t> exifItems;  ///< in the order the list names them
};

Result<ItemList> parseItemInfo(std::span<const std::uint8_t> payload, std::uint32_t primary) {
    Cursor c(payload);
    FullBoxHeader header;
    std::uint64_t count = 0;
    if (!readFullBoxHeader(c, header) || !c.read(header.version == 0 ? 2 : 4, count))
        return structureError("truncated 'iinf' box");
    ItemList list;
    Status status = forEachChild(payload, c.pos(), count, fourcc("iinf"),
                                 [&](const Box& box, std::span<const std::uint8_t> body) -> Status {
        if (box.type != fourcc("infe"))
            return Done{};
        Cursor entry(body);
        FullBoxHeader infe;
        if (!readFullBoxHeader(entry, infe))
            return structureError("truncated 'infe' box");
        if (infe.version < 2) {
            // Versions 0 and 1 carry no item type; such an item is never Exif.
            std::uint16_t id = 0;
            if (!entry.read(id))
                return structureError("truncated 'infe' box");
            list.hasPrimary = list.hasPrimary || id == primary;
            return Done{};
        }
        std::uint64_t id = 0;
        std::uint16_t protection = 0;
        std::uint32_t type = 0;
        if (!entry.read(infe.version == 2 ? 2 : 4, id) || !entry.read(protection) || !entry.read(type))
            return structureError("truncated 'infe' box");
        list.hasPrimary = list.hasPrimary || id == primary;
        if (type == fourcc("Exif") && list.exifItems.size() < kMaxExifItems)
            list.exifItems.push_back(static_cast<std::uint32_t>(id));
        return Done{};
    });
    if (!status)
        return status.error();
    return list;
}

/// Picks the Exif item that describes the primary image ('cdsc' reference
/// to it); failing that, an Exif item that describes no image in particular.
Result<std::optional<std::uint32_t>> chooseExifItem(std::optional<std::span<const std::uint8_t>> iref,
                                                    const std::vector<std::uint32_t>& exifItems,
                                                    std::uint32_t primary) {
    const std::unordered_set<std::uint32_t> isExif(exifItems.begin(), exifItems.end());
    std::unordered_set<std::uint32_t> describesPrimary;
    std::unordered_set<std::uint32_t> describesSomething;
    if (iref) {
        Cursor c(*iref);
        FullBoxHeader header;
        if (!readFullBoxHeader(c, header))
            return structureError("truncated 'iref' box");
        const int idSize = header.version == 0 ? 2 : 4;
        std::uint64_t references = 0;
        Status status = forEachChild(*iref, c.pos(), UINT64_MAX, fourcc("iref"),
                                     [&](const Box& box, std::span<const std::uint8_t> body) -> Status {
            Cursor ref(body);
            std::uint64_t from = 0;
            std::uint16_t count = 0;
            if (!ref.read(idSize, from) || !ref.read(count))
                return structureError("truncated reference in 'iref' box");
            references += std::max<std::uint16_t>(count, 1);
            if (references > kMaxReferences)
                return structureError("'iref' box with more than " + std::to_string(kMaxReferences) + " references");
            if (box.type != fourcc("cdsc") || !isExif.count(static_cast<std::uint32_t>(from)))
                return Done{};
            describesSomething.insert(static_cast<std::uint32_t>(from));
            for (std::uint16_t i = 0; i < count; ++i) {
                std::uint64_t to = 0;
                if (!ref.read(idSize, to))
                    return structureError("truncated reference in 'iref' box");
                if (to == primary)
                    describesPrimary.insert(static_cast<std::uint32_t>(from));
            }
            return Done{};
        });
        if (!status)
            return status.error();
    }
    for (std::uint32_t id : exifItems)
        if (describesPrimary.count(id))
            return std::optional<std::uint32_t>(id);
    for (std::uint32_t id : exifItems)
        if (!describesSomething.count(id))
            return std::optional<std::uint32_t>(id);
    return std::optional<std::uint32_t>();
}

struct Extent {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
};

struct ItemLocation {
    int constructionMethod = 0;
    std::uint16_t dataReference = 0;
    std::uint64_t baseOffset = 0;
    std::vector<Extent> extents;
};

bool isFieldSize(int size) { return size == 0 || size == 4 || size == 8; }

/// The location of `item`, none when the box does not list it.
Result<std::optional<ItemLocation>> parseItemLocation(std::span<const std::uint8_t> payload, std::uint32_t item) {
    Cursor c(payload);
    FullBoxHeader header;
    std::uint8_t sizes = 0;
    std::uint8_t moreSizes = 0;
    if (!readFullBoxHeader(c, header) || !c.read(sizes) || !c.read(moreSizes))
        return structureError("truncated 'iloc' box");
    if (header.version > 2)
        return structureError("'iloc' box of unknown version " + std::to_string(header.version));
    const int offsetSize = sizes >> 4;
    const int lengthSize = sizes & 0xF;
    const int baseOffsetSize = moreSizes >> 4;
    const int indexSize = header.version >= 1 ? (moreSizes & 0xF) : 0;
    if (!isFieldSize(offsetSize) || !isFieldSize(lengthSize) || !isFieldSize(baseOffsetSize) ||
        !isFieldSize(indexSize))
        return structureError("'iloc' box with a field size other than 0, 4 or 8");
    std::uint64_t count = 0;
    if (!c.read(header.version < 2 ? 2 : 4, count))
        return structureError("truncated 'iloc' box");
    std::uint64_t extents = 0;
    for (std::uint64_t i = 0; i < count; ++i) {
        std::uint64_t id = 0;
        ItemLocation location;
        std::uint16_t extentCount = 0;
        if (!c.read(header.version < 2 ? 2 : 4, id))
            return structureError("truncated 'iloc' box");
        if (header.version >= 1) {
            std::uint16_t method = 0;
            if (!c.read(method))
                return structureError("truncated 'iloc' box");
            location.constructionMethod = method & 0xF;
        }
        if (!c.read(location.dataReference) || !c.read(baseOffsetSize, location.baseOffset) ||
            !c.read(extentCount))
            return structureError("truncated 'iloc' box");
        // Without a length field, an extent runs to the end of the data: an
        // item can have only one such extent, and the entry consumes no bytes.
        if (lengthSize == 0 && extentCount > 1)
            return structureError("'iloc' box with several extents of an item but no extent lengths");
        extents += extentCount;
        if (extents > kMaxExtents)
            return structureError("'iloc' box with more than " + std::to_string(kMaxExtents) + " extents");
        const bool wanted = id == item;
        for (std::uint16_t e = 0; e < extentCount; ++e) {
            Extent extent;
            if (!c.skip(static_cast<std::size_t>(indexSize)) || !c.read(offsetSize, extent.offset) ||
                !c.read(lengthSize, extent.length))
                return structureError("truncated 'iloc' box");
            if (wanted)
                location.extents.push_back(extent);
        }
        if (wanted)
            return std::optional<ItemLocation>(std::move(location));
    }
    return std::optional<ItemLocation>();
}

/// Where an Exif item's extents lie in the file; the error text says why
/// they cannot be used.
Result<std::vector<FileRange>> itemRanges(std::uint64_t fileSize, const ItemLocation& location,
                                          std::optional<Box> idat) {
    auto problem = [](std::string text) { return Error{ErrorDomain::heif, kHeifExifLocation, std::move(text)}; };
    if (location.dataReference != 0)
        return problem("Exif item stored in another file");
    if (location.constructionMethod > 1)
        return problem("Exif item with construction method " + std::to_string(location.constructionMethod) +
                       " is not supported");
    if (location.extents.empty())
        return problem("Exif item has no data");
    // Offsets count from the file's start (method 0) or from the start of the
    // 'idat' box's data (method 1).
    std::uint64_t areaStart = 0;
    std::uint64_t areaSize = fileSize;
    if (location.constructionMethod == 1) {
        if (!idat)
            return problem("Exif item stored in a missing 'idat' box");
        areaStart = idat->payload;
        areaSize = idat->payloadSize();
    }
    std::vector<FileRange> ranges;
    for (const Extent& extent : location.extents) {
        std::uint64_t offset = location.baseOffset + extent.offset;
        if (offset < location.baseOffset || offset > areaSize)
            return problem(std::string(kExtentBeyondEnd));
        // Length 0 means "all the rest".
        std::uint64_t length = extent.length == 0 ? areaSize - offset : extent.length;
        if (length > areaSize - offset)
            return problem(std::string(kExtentBeyondEnd));
        ranges.push_back({areaStart + offset, length});
    }
    return ranges;
}

bool isHeifBrand(std::uint32_t brand) {
    static constexpr std::array<std::string_view, 23> brands = {
        "heic", "heix", "heim", "heis", "hevc", "hevx", "hevm", "hevs", "heif", "mif1", "mif2", "mif3",
        "msf1", "miaf", "MiHA", "MiHB", "MiHE", "avif", "avis", "avio", "vvic", "vvis", "jpeg"};
    return std::any_of(brands.begin(), brands.end(), [brand](std::string_view b) { return fourcc(b) == brand; });
}

}  // namespace

bool isHeifFile(std::span<const std::uint8_t> head) {
    Cursor c(head);
    std::uint32_t size = 0;
    std::uint32_t type = 0;
    if (!c.read(size) || !c.read(type) || type != fourcc("ftyp") || size < 16)
        return false;
    // Major brand, minor version, then compatible brands to the box's end.
    std::size_t end = std::min<std::size_t>(size, head.size());
    for (std::size_t pos = 8; pos + 4 <= end; pos += 4) {
        if (pos == 12)
            continue;
        Cursor brandCursor(head.subspan(pos, 4));
        std::uint32_t brand = 0;
        if (brandCursor.read(brand) && isHeifBrand(brand))
            return true;
    }
    return false;
}

Result<HeifExifLookup> findPrimaryExif(ImageFile& file, std::span<const std::uint8_t> head) {
    ByteSource source(file, head);

    // The 'meta' box is a top-level box, usually right after 'ftyp'; others
    // ('mdat' with the picture) are skipped by their headers alone.
    std::optional<Box> meta;
    std::uint64_t offset = 0;
    for (int i = 0; offset < source.size(); ++i) {
        if (i == kMaxTopLevelBoxes)
            return structureError("too many top-level boxes");
        auto box = source.boxAt(offset, source.size(), 0);
        if (!box)
            return box.error();
        if (box->type == fourcc("meta")) {
            meta = box.value();
            break;
        }
        offset = box->end;
    }
    if (!meta)
        return structureError("no 'meta' box");
    if (meta->end - meta->start <= kMetaReadAtOnce) {
        Status status = source.keep(meta->start, static_cast<std::size_t>(meta->end - meta->start));
        if (!status)
            return structureError("cannot read 'meta' box: " + status.error().message);
    }

    // 'meta' is a full box: version and flags, then its children.
    std::optional<Box> pitm, iinf, iref, iloc, idat;
    std::uint64_t child = meta->payload + 4;
    if (child > meta->end)
        return structureError("truncated 'meta' box");
    for (int i = 0; child < meta->end; ++i) {
        if (i == kMaxChildBoxes)
            return structureError("too many boxes in 'meta'");
        auto box = source.boxAt(child, meta->end, fourcc("meta"));
        if (!box)
            return box.error();
        for (auto [slot, type] : {std::pair{&pitm, "pitm"}, {&iinf, "iinf"}, {&iref, "iref"}, {&iloc, "iloc"},
                                  {&idat, "idat"}})
            if (box->type == fourcc(type) && !*slot)
                *slot = box.value();
        child = box->end;
    }
    if (!pitm)
        return structureError("no primary item ('pitm' box)");
    if (!iinf)
        return structureError("no item list ('iinf' box)");
    if (!iloc)
        return structureError("no item locations ('iloc' box)");

    auto pitmBytes = loadPayload(source, *pitm);
    if (!pitmBytes)
        return pitmBytes.error();
    auto primary = parsePrimaryItem(pitmBytes->payload);
    if (!primary)
        return primary.error();

    auto iinfBytes = loadPayload(source, *iinf);
    if (!iinfBytes)
        return iinfBytes.error();
    auto items = parseItemInfo(iinfBytes->payload, primary.value());
    if (!items)
        return items.error();
    if (!items->hasPrimary)
        return structureError("primary item " + std::to_string(primary.value()) + " is not in the item list");

    HeifExifLookup lookup;
    if (items->exifItems.empty())
        return lookup;

    std::optional<LoadedBox> irefBytes;
    if (iref) {
        auto loaded = loadPayload(source, *iref);
        if (!loaded)
            return loaded.error();
        irefBytes = std::move(loaded.value());
    }
    auto chosen = chooseExifItem(irefBytes ? std::optional(irefBytes->payload) : std::nullopt, items->exifItems,
                                 primary.value());
    if (!chosen)
        return chosen.error();
    if (!chosen.value())
        return lookup;

    auto ilocBytes = loadPayload(source, *iloc);
    if (!ilocBytes)
        return ilocBytes.error();
    auto location = parseItemLocation(ilocBytes->payload, *chosen.value());
    if (!location)
        return location.error();
    if (!location.value()) {
        lookup.exifProblem = "Exif item " + std::to_string(*chosen.value()) + " has no location";
        return lookup;
    }
    auto ranges = itemRanges(source.size(), *location.value(), idat);
    if (!ranges) {
        lookup.exifProblem = ranges.error().message;
        lookup.truncated = location.value()->constructionMethod == 0 &&
                           ranges.error().message == kExtentBeyondEnd;
    }
    else
        lookup.exifItem = std::move(ranges.value());
    return lookup;
}

Result<BlockBytes> tiffBlockOfExifItem(BlockBytes& item) {
    auto headerError = [](std::string text) { return Error{ErrorDomain::heif, kHeifExifHeader, std::move(text)}; };
    std::vector<std::uint8_t> bytes;
    if (item.size() < 4)
        return headerError("Exif item shorter than its header offset");
    if (Status status = item.read(0, 4, bytes); !status)
        return status.error();
    std::uint32_t headerOffset = 0;
    Cursor(bytes).read(headerOffset);
    if (headerOffset > item.size() - 4)
        return headerError("Exif item's TIFF header offset " + std::to_string(headerOffset) + " points past its end");
    BlockBytes block = item.from(4 + std::uint64_t{headerOffset});
    if (Status status = block.read(0, static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), 10)), bytes);
        !status)
        return status.error();
    bool tiffHeader = hasTiffHeader(bytes);
    // Some writers store the offset as 0 and keep the "Exif\0\0" prefix.
    static constexpr std::uint8_t exifPrefix[] = {'E', 'x', 'i', 'f', 0, 0};
    if (!tiffHeader && bytes.size() >= 6 && std::equal(exifPrefix, exifPrefix + 6, bytes.begin())) {
        block = block.from(6);
        tiffHeader = hasTiffHeader(std::span(bytes).subspan(6));
    }
    if (block.size() < 8 || !tiffHeader)
        return headerError("Exif item holds no TIFF header");
    return block;
}

}  // namespace meridane::imagemeta
