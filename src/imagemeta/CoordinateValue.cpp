// SPDX-License-Identifier: GPL-3.0-or-later
#include "imagemeta/ImageMetadata.h"

#include "base/UnicodeText.h"
#include "base/GPSText.h"

#include <algorithm>
#include <limits>
#include <type_traits>

namespace meridane {
namespace {

std::optional<double> fromText(const std::string& raw) {
    const std::string text = text::trimmed(raw);
    if (text.empty())
        return std::nullopt;
    std::string decimal = text;
    std::replace(decimal.begin(), decimal.end(), ',', '.');
    if (auto number = gpstext::parseNumber(decimal))
        return number;
    if (text::lowerCased(text).find("deg") != std::string::npos)
        return gpstext::parseDMS(text);
    return std::nullopt;
}

std::optional<double> fromList(const MetadataValue::List& list) {
    if (list.empty())
        return std::nullopt;
    // An element that is no number counts as 0.
    double degrees = coordinateValue(&list[0]).value_or(0);
    if (list.size() == 1)
        return degrees;
    double minutes = coordinateValue(&list[1]).value_or(0);
    if (list.size() == 2)
        return degrees + minutes / 60;
    double seconds = coordinateValue(&list[2]).value_or(0);
    return degrees + minutes / 60 + seconds / 3600;
}

}  // namespace

std::optional<double> coordinateValue(const MetadataValue* raw) {
    if (!raw)
        return std::nullopt;
    return std::visit(
        [](const auto& v) -> std::optional<double> {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, double>)
                return v;
            else if constexpr (std::is_same_v<T, float> || std::is_same_v<T, std::int64_t>)
                return static_cast<double>(v);
            else if constexpr (std::is_same_v<T, Rational>)
                // In double precision: a float quotient would already change
                // the eighth decimal that sidecar texts carry.
                return v.denominator == 0 ? std::numeric_limits<double>::quiet_NaN()
                                          : static_cast<double>(v.numerator) / static_cast<double>(v.denominator);
            else if constexpr (std::is_same_v<T, MetadataValue::List>)
                return fromList(v);
            else if constexpr (std::is_same_v<T, std::string>)
                return fromText(v);
            else
                return std::nullopt;
        },
        raw->value);
}

std::optional<double> coordinateValue(const std::optional<MetadataValue>& raw) {
    return coordinateValue(raw ? &*raw : nullptr);
}

}  // namespace meridane
