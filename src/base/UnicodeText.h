// SPDX-License-Identifier: GPL-3.0-or-later
// Unicode-correct text helpers for UTF-8 std::string values, independent of
// the user's locale.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace meridane::text {

/// Removes Unicode white space and line breaks (category Z, U+0009..U+000D,
/// U+0085) from both ends.
std::string trimmed(std::string_view text);

/// Unicode full upper-case mapping (ß becomes SS), no locale.
std::string upperCased(std::string_view text);

/// Unicode default lower-case mapping, no locale.
std::string lowerCased(std::string_view text);

/// The last user-perceived character (a base character with the combining
/// marks that follow it); empty for the empty text.
std::string lastCharacter(std::string_view text);

/// The text without its last user-perceived character.
std::string withoutLastCharacter(std::string_view text);

/// The parts with the separator between them.
std::string joined(const std::vector<std::string>& parts, std::string_view separator);

}  // namespace meridane::text
