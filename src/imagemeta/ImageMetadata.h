// What the pipeline needs from an image's embedded metadata: the position at
// which it was taken and the camera identity. Reads only the metadata, never
// the picture; never modifies the image; never fails outward.
#pragma once

#include "core/ProcessingResult.h"

#include <filesystem>
#include <optional>

namespace meridane {

/// Signed decimal degrees, or none (with its diagnostic lines).
std::optional<Coordinate> readImageGPS(const std::filesystem::path& imageURL);

/// Make, model and software; none only when the image or its properties
/// cannot be opened.
std::optional<DeviceData> readDeviceData(const std::filesystem::path& imageURL);

}  // namespace meridane
