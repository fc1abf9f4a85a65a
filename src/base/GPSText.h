// SPDX-License-Identifier: GPL-3.0-or-later
// The one place that turns a sidecar's GPS text into numbers and hemisphere
// letters. Stateless; callable from any thread.
#pragma once

#include "base/NumberText.h"

#include <cmath>
#include <optional>
#include <string>
#include <string_view>

namespace meridane {

/// How a coordinate is written into a sidecar: the program's own decimal form
/// ("30.58036667N") or the XMP standard's degrees and decimal minutes
/// ("30,34.822000N"), which every XMP reader converts to Exif.
enum class CoordinateFormat { decimal, dm };

struct ParsedGPS {
    std::optional<double> value;  ///< never signed by the letter
    std::string ref;              ///< "N", "S", "E", "W" or empty

    bool operator==(const ParsedGPS&) const = default;
};

namespace gpstext {

ParsedGPS parseXmpGPS(std::optional<std::string_view> text);
std::optional<double> parseDMS(std::string_view text);
/// strtod syntax in the C locale (hex, inf, nan included); the whole text
/// must be the number.
std::optional<double> parseNumber(std::string_view text);
std::string normalizeHemisphereRef(std::optional<std::string_view> text);
std::optional<double> applyHemisphere(std::optional<double> value, std::string_view ref);
std::string canonicalGPSText(std::optional<std::string_view> text);
bool hasTrailingHemisphere(std::optional<std::string_view> text);

}  // namespace gpstext

/// "S" below zero, otherwise "N" (zero of either sign is north).
inline std::string expectedLatitudeRef(double latitude) { return latitude < 0 ? "S" : "N"; }
/// "E" at zero or above, otherwise "W".
inline std::string expectedLongitudeRef(double longitude) { return longitude >= 0 ? "E" : "W"; }

/// The absolute value in degrees and minutes with six decimals, the point
/// always ".": 30.58036667 gives "30,34.822000".
std::string formatDegreesMinutes(double value);

/// The text written for a coordinate: the absolute value with eight decimals
/// followed directly by the letter ("%.8f%@"), e.g. 37.77490000N, or under
/// `dm` degrees and decimal minutes, e.g. 37,46.494000N.
inline std::string expectedCoordinateText(double value, std::string_view ref,
                                          CoordinateFormat format = CoordinateFormat::decimal) {
    if (format == CoordinateFormat::dm)
        return formatDegreesMinutes(value).append(ref);
    return formatFixed8(std::fabs(value)).append(ref);
}

}  // namespace meridane
