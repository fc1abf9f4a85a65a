// SPDX-License-Identifier: GPL-3.0-or-later
// The three metadata dictionaries of an image's first picture (GPS, TIFF and
// Exif) and how one file is turned into them: the Exif block of an HEIF
// container, a JPEG, or the TIFF structure of a DNG itself, the format
// decided by content, read by the bounded TIFF reader.
#pragma once

#include "imagemeta/internal/MetadataValue.h"
#include "imagemeta/ReadStats.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace meridane::imagemeta {

struct PropertyEntry {
    std::uint16_t tag = 0;  ///< EXIF tag number
    std::string name;       ///< its name, for dumps
    MetadataValue value;
};

/// One sub-dictionary, in the order the file lists its entries.
struct PropertyDictionary {
    std::vector<PropertyEntry> entries;

    /// The first entry with this tag, or none.
    const MetadataValue* find(std::uint16_t tag) const;
};

namespace tag {
inline constexpr std::uint16_t gpsLatitudeRef = 0x0001;
inline constexpr std::uint16_t gpsLatitude = 0x0002;
inline constexpr std::uint16_t gpsLongitudeRef = 0x0003;
inline constexpr std::uint16_t gpsLongitude = 0x0004;
inline constexpr std::uint16_t make = 0x010F;
inline constexpr std::uint16_t model = 0x0110;
inline constexpr std::uint16_t software = 0x0131;
}  // namespace tag

struct ImageProperties {
    std::optional<PropertyDictionary> gps;   ///< the GPS IFD
    std::optional<PropertyDictionary> tiff;  ///< IFD0 (only Make, Model and Software are kept)
    std::optional<PropertyDictionary> exif;  ///< the Exif IFD (likewise)
};

/// How far reading got: the file could not be opened as an image at all, it
/// could be opened but yields no properties, or the properties were read.
enum class PropertiesStage { cannotOpen, noProperties, read };

struct PropertiesRead {
    PropertiesStage stage = PropertiesStage::cannotOpen;
    ImageProperties properties;
    /// Why the next stage was not reached, or, with the properties read, why
    /// the Exif block was left out; empty when nothing went wrong.
    std::string problem;
    /// Why the file is no image that can be read at all, in words for a row
    /// ("file is empty", "file is truncated", "not a regular file"); empty
    /// when it is one, however little metadata it holds.
    std::string unreadable;
};

PropertiesRead readImageProperties(const std::filesystem::path& path, ReadStats* stats = nullptr);

class ImageFile;
/// As above, for a file already open.
PropertiesRead readImageProperties(ImageFile& file);

/// One line listing every entry: {GPSLatitudeRef = "N"; GPSLatitude = (37/1, 30/1, 0/1)}.
std::string describeDictionary(const PropertyDictionary& dictionary);

}  // namespace meridane::imagemeta
