// SPDX-License-Identifier: GPL-3.0-or-later
// What the pipeline needs from an image's embedded metadata: the position at
// which it was taken and the camera identity. Reads only the metadata, never
// the picture; never modifies the image; never fails outward.
#pragma once

#include "base/Coordinate.h"
#include "base/DeviceData.h"
#include "imagemeta/internal/ImageProperties.h"
#include "imagemeta/internal/MetadataValue.h"
#include "imagemeta/ReadStats.h"

#include <filesystem>
#include <optional>
#include <string>

namespace meridane {

/// Signed decimal degrees, or none (with its diagnostic lines). A position
/// that is no place on Earth (not finite, latitude beyond ±90, longitude
/// beyond ±180) counts as none.
std::optional<Coordinate> readImageGPS(const std::filesystem::path& imagePath);

/// Make, model and software; none only when the image or its properties
/// cannot be opened.
std::optional<DeviceData> readDeviceData(const std::filesystem::path& imagePath);

/// One image whose metadata is decoded at most once, however many readings
/// are taken from it: a caller that needs both the camera identity and the
/// position pays for one decode. Each reading writes exactly the lines the
/// matching free function writes, a failure to open the image included, so
/// asking for both still reports that failure once per reading.
class ImageMetadataReader {
public:
    /// Touches nothing until the first reading.
    explicit ImageMetadataReader(std::filesystem::path imagePath, ReadStats* stats = nullptr);

    /// As readImageGPS.
    std::optional<Coordinate> position();
    /// As readDeviceData.
    std::optional<DeviceData> deviceData();
    /// Why the file cannot be read as an image at all, in words ("file is
    /// empty", "file is truncated", "file not found", "not a regular file",
    /// ...); none when it can, whatever metadata it holds. Writes no line.
    std::optional<std::string> unreadableReason();
    /// Why the image's Exif block, which it has, gave nothing at all (a
    /// damaged offset, say); none when any of it was read, or there is none.
    std::optional<std::string> damagedMetadataReason();

private:
    const imagemeta::PropertiesRead& decoded();

    std::filesystem::path imagePath_;
    ReadStats* stats_;
    std::optional<imagemeta::PropertiesRead> decoded_;
};

/// Decimal degrees of one raw latitude or longitude: a number; a list of one
/// to three values (degrees, minutes, seconds); or a text, read as a number
/// (a comma taken for a point) or in the "deg" form. A rational with a zero
/// denominator is not a number (NaN).
std::optional<double> coordinateValue(const std::optional<MetadataValue>& raw);
std::optional<double> coordinateValue(const MetadataValue* raw);

}  // namespace meridane
