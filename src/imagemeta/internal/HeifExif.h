// SPDX-License-Identifier: GPL-3.0-or-later
// Finds the Exif item of an HEIF/HEIC file's primary image by reading only
// the boxes that describe items, never the coded picture; the item's bytes
// stay in the file, where the TIFF reader reads the few it needs.
#pragma once

#include "base/Error.h"
#include "imagemeta/internal/BlockBytes.h"
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

/// What the walk may read after the head: a few thousand box headers and
/// four item tables of at most 1 MiB each.
inline constexpr std::uint64_t kMaxHeifWalkBytes = std::uint64_t{5} << 20;
inline constexpr std::uint64_t kMaxHeifWalkCalls = 4096;

/// The code of a HEIF error whose cause is a file cut short.
inline constexpr int kHeifTruncated = 100;

/// True when the file starts with an 'ftyp' box naming a brand of the HEIF
/// family (heic, heix, mif1, msf1, avif, ...), whatever the file's name says.
bool isHeifFile(std::span<const std::uint8_t> head);

struct HeifExifLookup {
    /// Where the primary image's Exif item lies in the file, extent by
    /// extent (the 4-byte offset of the TIFF header first); none when the
    /// image has no Exif item.
    std::optional<std::vector<FileRange>> exifItem;
    /// Why an Exif item that exists could not be located; empty otherwise.
    std::string exifProblem;
    /// The Exif item lies beyond the end of the file: the file was cut short.
    bool truncated = false;
};

/// Walks the container from `head` (the file's first bytes). Fails, with a
/// reason, when the item structure itself cannot be read (code
/// kHeifTruncated when a top-level box goes past the end of the file); a
/// damaged Exif item alone only sets exifProblem.
Result<HeifExifLookup> findPrimaryExif(ImageFile& file, std::span<const std::uint8_t> head);

/// The TIFF block inside an Exif item: skips the 4-byte offset and the bytes
/// it names (usually "Exif\0\0").
Result<BlockBytes> tiffBlockOfExifItem(BlockBytes& item);

}  // namespace meridane::imagemeta
