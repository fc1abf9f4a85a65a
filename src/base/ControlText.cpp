// SPDX-License-Identifier: GPL-3.0-or-later
#include "base/ControlText.h"

#include "base/Utf8Text.h"

namespace meridane::text {
namespace {

void appendEscape(std::string& out, unsigned value) {
    static constexpr char hex[] = "0123456789ABCDEF";
    out.append("\\x");
    out.push_back(hex[(value >> 4) & 0x0F]);
    out.push_back(hex[value & 0x0F]);
}

bool isC0OrDelete(unsigned char c) { return c < 0x20 || c == 0x7F; }

}  // namespace

std::string escapedControls(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            if (isC0OrDelete(lead))
                appendEscape(out, lead);
            else
                out.push_back(static_cast<char>(lead));
            ++i;
            continue;
        }
        const std::size_t length = utf8::sequenceLength(text.substr(i));
        if (length == 0) {
            if (lead < 0xA0)
                appendEscape(out, lead);
            else
                out.push_back(static_cast<char>(lead));
            ++i;
            continue;
        }
        const auto second = static_cast<unsigned char>(text[i + 1]);
        if (lead == 0xC2 && second < 0xA0)
            appendEscape(out, second);  // U+0080–U+009F
        else
            out.append(text.substr(i, length));
        i += length;
    }
    return out;
}

}  // namespace meridane::text
