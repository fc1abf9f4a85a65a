// What the pipeline needs from an image's embedded metadata: the position at
// which it was taken and the camera identity. Reads only the metadata, never
// the picture; never modifies the image; never fails outward.
#pragma once

#include "core/ProcessingResult.h"
#include "imagemeta/MetadataValue.h"

#include <filesystem>
#include <optional>

namespace meridane {

/// Signed decimal degrees, or none (with its diagnostic lines). A position
/// that is no place on Earth (not finite, latitude beyond ±90, longitude
/// beyond ±180) counts as none.
std::optional<Coordinate> readImageGPS(const std::filesystem::path& imageURL);

/// Make, model and software; none only when the image or its properties
/// cannot be opened.
std::optional<DeviceData> readDeviceData(const std::filesystem::path& imageURL);

/// Decimal degrees of one raw latitude or longitude: a number; a list of one
/// to three values (degrees, minutes, seconds); or a text, read as a number
/// (a comma taken for a point) or in the "deg" form. A rational with a zero
/// denominator is not a number (NaN).
std::optional<double> coordinateValue(const std::optional<MetadataValue>& raw);
std::optional<double> coordinateValue(const MetadataValue* raw);

}  // namespace meridane
