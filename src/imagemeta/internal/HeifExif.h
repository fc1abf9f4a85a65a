// Finds the Exif item of an HEIF/HEIC file's primary image by reading only
// the boxes that describe items and then the item's own bytes, never the
// coded picture.
#pragma once

#include "base/Error.h"
#include "imagemeta/internal/ImageFile.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace meridane::imagemeta {

/// How much of a file's start is read at once: the type box and, for the
/// files phones write, the whole 'meta' box.
inline constexpr std::size_t kHeadSize = 8192;

/// Upper bound of an Exif block (real ones hold a few KiB, 64 KiB at most in
/// JPEG); a larger size field is treated as damage, not as a reason to allocate.
inline constexpr std::size_t kMaxExifSize = std::size_t{4} << 20;

/// True when the file starts with an 'ftyp' box naming a brand of the HEIF
/// family (heic, heix, mif1, msf1, avif, ...), whatever the file's name says.
bool isHeifFile(std::span<const std::uint8_t> head);

struct HeifExifLookup {
    /// The primary image's Exif item exactly as stored (the 4-byte offset of
    /// the TIFF header first); none when the image has no Exif item.
    std::optional<std::vector<std::uint8_t>> exifItem;
    /// Why an Exif item that exists could not be read; empty otherwise.
    std::string exifProblem;
};

/// Walks the container from `head` (the file's first bytes). Fails, with a
/// reason, when the item structure itself cannot be read; a damaged Exif
/// item alone only sets exifProblem.
Result<HeifExifLookup> findPrimaryExif(ImageFile& file, std::span<const std::uint8_t> head);

/// The TIFF block inside an Exif item: skips the 4-byte offset and the bytes
/// it names (usually "Exif\0\0").
Result<std::span<const std::uint8_t>> tiffBlockOfExifItem(std::span<const std::uint8_t> item);

}  // namespace meridane::imagemeta
