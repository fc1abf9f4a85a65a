// SPDX-License-Identifier: GPL-3.0-or-later
// Finds the Exif block of a JPEG file (some files named .heic are JPEGs) by
// walking its segment headers up to the picture data.
#pragma once

#include "base/Error.h"
#include "imagemeta/internal/ImageFile.h"

#include <cstdint>
#include <optional>
#include <span>

namespace meridane::imagemeta {

bool isJpegFile(std::span<const std::uint8_t> head);

/// Where the TIFF block of the first "Exif" APP1 segment lies; none when
/// the segments before the picture data hold none.
Result<std::optional<FileRange>> findJpegExif(ImageFile& file, std::span<const std::uint8_t> head);

}  // namespace meridane::imagemeta
