// SPDX-License-Identifier: GPL-3.0-or-later
#include "base/NumberText.h"

#include <array>
#include <charconv>
#include <cmath>

namespace meridane {

std::string formatDiagnosticDouble(double value) {
    if (std::isnan(value))
        return "nan";
    if (std::isinf(value))
        return value < 0 ? "-inf" : "inf";
    // Plain digits for everyday magnitudes (100000.0, not 1e+05), exponent
    // form only for the very small and the very large, as Swift prints them.
    const double magnitude = std::fabs(value);
    const bool plain = magnitude == 0 || (magnitude >= 1e-4 && magnitude < 1e16);
    std::array<char, 400> buffer{};
    auto [end, ec] = plain ? std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                           std::chars_format::fixed)
                           : std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    std::string text(buffer.data(), ec == std::errc() ? end : buffer.data());
    if (text.find_first_of(".e") == std::string::npos)
        text += ".0";
    return text;
}

std::string formatDiagnosticDouble(std::optional<double> value) {
    return value ? formatDiagnosticDouble(*value) : std::string("nil");
}

std::string formatFixed8(double value) {
    if (std::isnan(value))
        return std::signbit(value) ? "-nan" : "nan";
    if (std::isinf(value))
        return value < 0 ? "-inf" : "inf";
    // Large enough for the widest double in fixed notation.
    std::array<char, 400> buffer{};
    auto [end, ec] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                   std::chars_format::fixed, 8);
    return ec == std::errc() ? std::string(buffer.data(), end) : std::string();
}

}  // namespace meridane
