// The adapter to Exiv2: decodes a TIFF block held in memory, or reads a file
// of a format Exiv2 recognises by content, into the property dictionaries.
// Exiv2's exceptions and log messages stop here.
#pragma once

#include "base/Error.h"
#include "imagemeta/internal/ImageProperties.h"

#include <cstdint>
#include <filesystem>
#include <span>

namespace meridane::imagemeta {

/// Decodes an Exif TIFF block (header, IFD0 and the IFDs it points to).
Result<ImageProperties> decodeTiffBlock(std::span<const std::uint8_t> block);

/// Reads a still-image file that is not an HEIF container (DNG and other
/// TIFF-based raw formats, JPEG, PNG, WebP, ...).
PropertiesRead readWithExiv2(const std::filesystem::path& path, ReadStats* stats);

}  // namespace meridane::imagemeta
