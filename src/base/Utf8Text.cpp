// SPDX-License-Identifier: GPL-3.0-or-later
#include "base/Utf8Text.h"

namespace meridane::utf8 {
namespace {

unsigned char byteAt(std::string_view text, std::size_t i) { return static_cast<unsigned char>(text[i]); }

bool isContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

template <typename Replace>
std::string rewriteInvalid(std::string_view text, Replace replace) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t length = sequenceLength(text.substr(i));
        if (length == 0) {
            replace(out, byteAt(text, i));
            ++i;
        } else {
            out.append(text.substr(i, length));
            i += length;
        }
    }
    return out;
}

}  // namespace

std::size_t sequenceLength(std::string_view text) {
    if (text.empty())
        return 0;
    const unsigned char lead = byteAt(text, 0);
    if (lead < 0x80)
        return 1;
    std::size_t length = 0;
    unsigned char low = 0x80;  // allowed range of the second byte (RFC 3629)
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;  // no overlong forms
        if (lead == 0xED)
            high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        if (lead == 0xF4)
            high = 0x8F;  // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (text.size() < length)
        return 0;
    const unsigned char second = byteAt(text, 1);
    if (second < low || second > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (!isContinuation(byteAt(text, i)))
            return 0;
    return length;
}

bool isValid(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t length = sequenceLength(text.substr(i));
        if (length == 0)
            return false;
        i += length;
    }
    return true;
}

std::string withReplacementCharacters(std::string_view text) {
    return rewriteInvalid(text, [](std::string& out, unsigned char) { out.append("\xEF\xBF\xBD"); });
}

std::string withPercentEscapes(std::string_view text) {
    return rewriteInvalid(text, [](std::string& out, unsigned char c) {
        static constexpr char hex[] = "0123456789ABCDEF";
        out.push_back('%');
        out.push_back(hex[c >> 4]);
        out.push_back(hex[c & 0x0F]);
    });
}

}  // namespace meridane::utf8
