// SPDX-License-Identifier: GPL-3.0-or-later
// Counts what one metadata lookup costs in file reads, so a benchmark can
// show that a photo's metadata is read without reading the picture.
#pragma once

#include "base/Coordinate.h"
#include "base/DeviceData.h"

#include <cstdint>
#include <filesystem>
#include <optional>

namespace meridane {

struct ReadStats {
    std::uint64_t bytesRead = 0;    ///< bytes delivered by read calls
    std::uint64_t readCalls = 0;
};

/// As readImageGPS and readDeviceData, adding their reads to *stats.
std::optional<Coordinate> readImageGPS(const std::filesystem::path& imagePath, ReadStats* stats);
std::optional<DeviceData> readDeviceData(const std::filesystem::path& imagePath, ReadStats* stats);

}  // namespace meridane
