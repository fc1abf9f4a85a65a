// SPDX-License-Identifier: GPL-3.0-or-later
// Reads the few values the pipeline needs from a TIFF block (a DNG, or the
// Exif block of an HEIF or JPEG file): IFD0's camera identity, the Exif
// directory's only when IFD0 lacks it, and the GPS directory. A value is read
// only when its tag is used; counts and sizes are capped, offsets checked
// against the block, and a directory met twice is refused.
#pragma once

#include "base/Error.h"
#include "imagemeta/internal/BlockBytes.h"
#include "imagemeta/internal/ImageProperties.h"

#include <cstdint>
#include <span>
#include <string>

namespace meridane::imagemeta {

/// What reading one TIFF block may cost, whatever the file's size or structure.
inline constexpr std::uint64_t kMaxTiffReadBytes = 64 * 1024;
inline constexpr std::uint64_t kMaxTiffReadCalls = 256;

struct TiffRead {
    ImageProperties properties;
    /// Why the GPS or Exif directory was left out; empty when nothing was.
    std::string problem;
};

/// Whether `bytes` start with a TIFF header's byte order and magic number
/// ("II*\0" or "MM\0*").
bool hasTiffHeader(std::span<const std::uint8_t> bytes);

/// Fails when the block holds no TIFF header, its first directory cannot be
/// read, or the file cannot deliver the bytes.
Result<TiffRead> readTiff(BlockBytes& block);

}  // namespace meridane::imagemeta
