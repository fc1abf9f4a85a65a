// SPDX-License-Identifier: GPL-3.0-or-later
// One raw metadata value as an image stores it (a number, a rational, a
// text, a list of these, or something else), before any interpretation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace meridane {

/// An EXIF rational exactly as stored; a zero denominator makes it no number.
struct Rational {
    std::int64_t numerator = 0;
    std::int64_t denominator = 1;
    bool operator==(const Rational&) const = default;
};

struct MetadataValue {
    /// A value that no rule reads as a number or a text (undefined bytes, a
    /// comment, ...), kept so that a dump can still name it.
    struct Opaque {
        std::string typeName;
        std::size_t size = 0;
        bool operator==(const Opaque&) const = default;
    };
    using List = std::vector<MetadataValue>;
    using Variant = std::variant<double, float, std::int64_t, Rational, std::string, List, Opaque>;

    Variant value;

    MetadataValue() : value(std::int64_t{0}) {}
    MetadataValue(double v) : value(v) {}                          // NOLINT(google-explicit-constructor)
    MetadataValue(float v) : value(v) {}                           // NOLINT(google-explicit-constructor)
    MetadataValue(std::int64_t v) : value(v) {}                    // NOLINT(google-explicit-constructor)
    MetadataValue(int v) : value(std::int64_t{v}) {}               // NOLINT(google-explicit-constructor)
    MetadataValue(Rational v) : value(v) {}                        // NOLINT(google-explicit-constructor)
    MetadataValue(std::string v) : value(std::move(v)) {}          // NOLINT(google-explicit-constructor)
    MetadataValue(const char* v) : value(std::string(v)) {}        // NOLINT(google-explicit-constructor)
    MetadataValue(List v) : value(std::move(v)) {}                 // NOLINT(google-explicit-constructor)
    MetadataValue(Opaque v) : value(std::move(v)) {}               // NOLINT(google-explicit-constructor)

    bool operator==(const MetadataValue&) const = default;
};

/// One line of text for a dump: numbers as written in diagnostics, rationals
/// as n/d, texts quoted with control characters escaped, lists in brackets.
std::string describeValue(const MetadataValue& value);

}  // namespace meridane
