// SPDX-License-Identifier: GPL-3.0-or-later
#include "imagemeta/internal/MetadataValue.h"

#include "base/NumberText.h"

#include <array>
#include <type_traits>

namespace meridane {
namespace {

// A dump stays one readable line even for a hostile text.
constexpr std::size_t kMaxTextBytes = 256;

std::string quoted(const std::string& text) {
    static constexpr std::array<char, 16> hex = {'0', '1', '2', '3', '4', '5', '6', '7',
                                                 '8', '9', 'A', 'B', 'C', 'D', 'E', 'F'};
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size(); ++i) {
        // Cut at the first character that starts at or after the limit.
        if (i >= kMaxTextBytes && (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            out += "…";
            break;
        }
        auto c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 0xF];
        } else {
            out += static_cast<char>(c);
        }
    }
    out += '"';
    return out;
}

}  // namespace

std::string describeValue(const MetadataValue& value) {
    return std::visit(
        [](const auto& v) -> std::string {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, double>)
                return formatDiagnosticDouble(v);
            else if constexpr (std::is_same_v<T, float>)
                return formatDiagnosticDouble(static_cast<double>(v));
            else if constexpr (std::is_same_v<T, std::int64_t>)
                return std::to_string(v);
            else if constexpr (std::is_same_v<T, Rational>)
                return std::to_string(v.numerator) + "/" + std::to_string(v.denominator);
            else if constexpr (std::is_same_v<T, std::string>)
                return quoted(v);
            else if constexpr (std::is_same_v<T, MetadataValue::List>) {
                std::string text = "(";
                for (std::size_t i = 0; i < v.size(); ++i) {
                    if (i > 0)
                        text += ", ";
                    text += describeValue(v[i]);
                }
                return text + ")";
            } else
                return "<" + v.typeName + ", " + std::to_string(v.size) + " bytes>";
        },
        value.value);
}

}  // namespace meridane
