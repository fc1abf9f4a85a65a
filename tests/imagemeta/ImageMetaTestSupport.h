// Builds the images the reader tests need: Exif TIFF blocks with chosen
// entries (encoded by Exiv2), and HEIF containers laid out in every way the
// format allows (iloc versions, base offsets, idat, 64-bit sizes, ...).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace Exiv2 {
class ExifData;
}

namespace meridane::testing {

using Bytes = std::vector<std::uint8_t>;

/// A little-endian TIFF block holding what `fill` puts into the Exif data.
Bytes encodeTiff(const std::function<void(Exiv2::ExifData&)>& fill);

/// Convenience for the common case: camera identity and a position as the
/// three rationals a phone writes (values in degrees, minutes, seconds).
Bytes tiffWithGps(double latitude, const char* latitudeRef, double longitude, const char* longitudeRef);

/// An Exif item's payload: the 4-byte offset of the TIFF header, then that
/// many bytes of prefix ("Exif\0\0" when prefix is empty), then the block.
Bytes exifItemPayload(const Bytes& tiff, std::optional<std::string> prefix = std::nullopt);

struct HeifItem {
    std::uint32_t id = 0;
    std::string type;  ///< "hvc1", "grid", "Exif", ...
    Bytes data;
    bool inIdat = false;  ///< stored in the 'idat' box (construction method 1)
    int extents = 1;      ///< the data split into this many extents
    // Damage for the bad-input tests: what the 'iloc' entry claims instead
    // of the truth.
    std::optional<std::uint64_t> claimedOffset;  ///< absolute extent offset (base offset 0)
    std::optional<std::uint64_t> claimedLength;
    std::optional<int> claimedConstructionMethod;
    std::uint16_t claimedDataReference = 0;
};

struct HeifReference {
    std::string type;  ///< "cdsc", "dimg", "thmb"
    std::uint32_t from = 0;
    std::vector<std::uint32_t> to;
};

/// Which encoding choices the container uses; every combination is valid.
struct HeifLayout {
    int ilocVersion = 1;      ///< 0, 1 or 2
    int offsetSize = 4;       ///< 4 or 8
    int lengthSize = 4;       ///< 4 or 8
    int baseOffsetSize = 4;   ///< 0, 4 or 8
    int indexSize = 0;        ///< 0, 4 or 8 (versions 1 and 2 only)
    bool baseOffsets = true;  ///< item position in base_offset, else in the extent offset
    bool mdatFirst = false;   ///< 'mdat' before 'meta'
    bool largeSizes = false;  ///< 64-bit sizes on the top-level boxes
    bool lastBoxSizeZero = false;  ///< the last top-level box says "to the end of the file"
    int infeVersion = 2;      ///< 2 (16-bit ids) or 3 (32-bit ids)
    int irefVersion = 0;      ///< 0 (16-bit ids) or 1
    std::string name;         ///< for test names
    /// libheif 1.15 rejects extent indexes and a 'meta' box of size 0.
    bool libheifReadsIt = true;
};

inline void PrintTo(const HeifLayout& layout, std::ostream* os) { *os << layout.name; }

struct HeifFile {
    std::string majorBrand = "heic";
    std::vector<std::string> compatibleBrands = {"mif1", "heic"};
    std::uint32_t primary = 1;
    std::vector<HeifItem> items;
    std::vector<HeifReference> references;
    Bytes properties;  ///< a whole 'iprp' box, copied from a real file; may be empty
};

std::string buildHeif(const HeifFile& file, const HeifLayout& layout = {});

/// The items, references and properties of a small file heif-enc wrote
/// (tests/data/imagemeta/no-exif.heic), ready to get an Exif item added.
HeifFile encodedHeifWithoutExif();

/// Adds an Exif item with `payload` that describes `describes`.
void addExif(HeifFile& file, std::uint32_t id, Bytes payload, std::uint32_t describes, bool inIdat = false,
             int extents = 1);

/// A box: 32-bit size, type, payload.
std::string box(const std::string& type, const std::string& payload);

std::string asString(const Bytes& bytes);

/// The Exif bytes libheif hands out for the primary image, or none.
std::optional<Bytes> libheifPrimaryExif(const std::filesystem::path& path);

}  // namespace meridane::testing
