// SPDX-License-Identifier: GPL-3.0-or-later
// The images the tests read: TIFF blocks with chosen entries, types and byte
// order (a TIFF block is a readable DNG), HEIF containers in each layout the
// format allows. Standard library only, so that the benchmarks use it too.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace meridane::testing {

using Bytes = std::string;

namespace tiff {
enum Type : std::uint16_t { byte = 1, ascii, shortType, longType, rational, sbyte, undefined, sshort, slong, srational,
                            floatType, doubleType };
}

/// A directory entry, its value as (bits, width) units for either byte order;
/// claimedOffset (damage) stands for the value's offset, the value left out.
struct TiffEntry {
    std::uint16_t tag = 0, type = 0;
    std::uint32_t count = 0;
    std::vector<std::pair<std::uint64_t, int>> units;
    std::optional<std::uint32_t> claimedOffset;
};

TiffEntry asciiEntry(std::uint16_t tag, std::string_view text);  ///< a NUL is added
TiffEntry numberEntry(std::uint16_t tag, std::uint16_t type, std::vector<double> values);  ///< rational: n, d, n, d...
TiffEntry rawEntry(std::uint16_t tag, std::uint16_t type, std::uint32_t count, Bytes bytes = {});

struct TiffImage {
    bool bigEndian = false;
    std::vector<TiffEntry> ifd0, exif, gps;  ///< IFD0 points to the other two when they have entries
    std::uint64_t pictureBytes = 0;          ///< zeros after the metadata, as a raw picture
};

Bytes buildTiff(const TiffImage& image);

/// As phones write it: DNG version, camera identity, and the position as
/// degrees, minutes and seconds (in millionths) with the hemisphere letters.
TiffImage cameraTiff(std::optional<std::string> make = "Apple", std::optional<std::string> model = "iPhone 15 Pro",
                     std::optional<std::string> software = "17.4",
                     std::optional<std::pair<double, double>> position = std::pair{37.7749, -122.4194});

struct HeifItem {
    std::uint32_t id = 0;
    std::string type;  ///< "hvc1", "Exif", ...
    Bytes data;
    bool inIdat = false;  ///< stored in the 'idat' box (construction method 1)
    int extents = 1;      ///< the data split into this many extents
};

struct HeifReference {
    std::string type;  ///< "cdsc", "dimg", "thmb"
    std::uint32_t from = 0;
    std::vector<std::uint32_t> to;
};

/// Which encoding choices the container uses; every combination is valid.
struct HeifLayout {
    std::string name = "default";
    int ilocVersion = 1;  ///< 0, 1 or 2; with 2, every box that names items uses 32-bit ids
    int offsetSize = 4, lengthSize = 4, baseOffsetSize = 4;  ///< 4 or 8; base offsets also 0
    int indexSize = 0;                                       ///< 0, 4 or 8 (versions 1 and 2 only)
    bool baseOffsets = true;  ///< item position in base_offset, else in the extent offset
    bool mdatFirst = false, largeSizes = false;  ///< 'mdat' before 'meta'; 64-bit top-level box sizes
    bool lastBoxSizeZero = false;  ///< the last top-level box says "to the end of the file"
    bool libheifReadsIt = true;    ///< libheif 1.15 rejects extent indexes and a 'meta' box of size 0
};

/// A still image: picture items (each with the size and decoder configuration
/// properties a reader wants) and metadata items.
struct HeifFile {
    std::uint32_t primary = 1;
    std::vector<HeifItem> items = {{1, "hvc1", Bytes(32, 'P')}};
    std::vector<HeifReference> references;
};

Bytes buildHeif(const HeifFile& file, const HeifLayout& layout = {});

/// The 4-byte offset of the TIFF header, that many bytes of prefix, the block.
Bytes exifItemPayload(const Bytes& tiff, const std::string& prefix = std::string("Exif\0\0", 6));

/// Adds an Exif item with `payload` that describes item `describes`.
void addExif(HeifFile& file, std::uint32_t id, Bytes payload, std::uint32_t describes, bool inIdat = false,
             int extents = 1);

Bytes box(const std::string& type, const Bytes& payload);  ///< 32-bit size, type, payload
Bytes bigEndian(std::uint64_t value, int width);

}  // namespace meridane::testing
