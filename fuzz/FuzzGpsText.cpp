// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz target: the GPS text operations on arbitrary text. Besides not
// crashing, every letter they report is one of the four hemisphere letters,
// and the program's own coordinate text always reads back as its value.
#include "base/Diagnostics.h"
#include "base/GPSText.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace {

bool isHemisphere(const std::string& ref) { return ref.empty() || ref == "N" || ref == "S" || ref == "E" || ref == "W"; }

void require(bool condition) {
    if (!condition)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace gpstext = meridane::gpstext;
    static meridane::diag::ScopedSink quiet([](std::string_view) {});
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const meridane::ParsedGPS parsed = gpstext::parseXmpGPS(text);
    require(isHemisphere(parsed.ref));
    require(isHemisphere(gpstext::normalizeHemisphereRef(text)));
    (void)gpstext::parseDMS(text);
    (void)gpstext::parseNumber(text);
    (void)gpstext::canonicalGPSText(text);
    (void)gpstext::hasTrailingHemisphere(text);
    const auto signedValue = gpstext::applyHemisphere(parsed.value, parsed.ref);
    if (parsed.value && signedValue)
        require(std::isnan(*parsed.value) || std::fabs(*signedValue) == std::fabs(*parsed.value));

    // Any value the reader can produce, written as the program writes it,
    // reads back as that value to within the eight decimals it keeps.
    double value = 0;
    if (size >= sizeof value) {
        std::memcpy(&value, data, sizeof value);
        if (std::isfinite(value) && std::fabs(value) <= 180) {
            const std::string letter = value < 0 ? "S" : "N";
            const std::string written = meridane::expectedCoordinateText(value, letter);
            const meridane::ParsedGPS back = gpstext::parseXmpGPS(written);
            require(back.value.has_value());
            require(std::fabs(*back.value - std::fabs(value)) <= 5.000001e-9);
            require(back.ref == letter);
            require(gpstext::hasTrailingHemisphere(written));
            require(gpstext::canonicalGPSText(written) == written);
        }
    }
    return 0;
}
