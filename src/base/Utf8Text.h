// SPDX-License-Identifier: GPL-3.0-or-later
// File names on Linux are bytes, not always UTF-8. These helpers tell valid
// UTF-8 apart and make a text safe where only UTF-8 may go (JSON, settings keys).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace meridane::utf8 {

/// Length of the well-formed UTF-8 sequence at the start of text (1 to 4),
/// or 0 when it does not start with one (overlong forms, surrogates and
/// values above U+10FFFF are not well-formed).
std::size_t sequenceLength(std::string_view text);

bool isValid(std::string_view text);

/// The text with each byte that is not part of a well-formed sequence
/// replaced by U+FFFD.
std::string withReplacementCharacters(std::string_view text);

/// The text with each such byte written as "%XX" (upper-case hex).
std::string withPercentEscapes(std::string_view text);

}  // namespace meridane::utf8
