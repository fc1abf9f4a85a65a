// Compares what a sidecar already says with the image's position and decides
// whether the file ends here (no GPS, already correct, within tolerance,
// different place) or goes on to the update.
#pragma once

#include "core/ProcessingResult.h"

#include <filesystem>
#include <optional>
#include <string>

namespace meridane {

/// Position tolerance in degrees, per coordinate, inclusive.
inline constexpr double kPositionTolerance = 0.0001;

/// A result ends the file (the access's stop has then been called once);
/// none lets the file go on to updateSidecarGPS with the access still open.
/// sidecarBytes, when given, receives the sidecar's bytes whenever they were
/// read and the file goes on, so that the update need not read them again.
std::optional<ProcessingResult> precheckSidecarGPS(const std::filesystem::path& imageURL, double latitude,
                                                   double longitude, const std::filesystem::path& sidecarURL,
                                                   ScopedAccess& access,
                                                   std::optional<std::string>* sidecarBytes = nullptr);

}  // namespace meridane
