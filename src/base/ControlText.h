// SPDX-License-Identifier: GPL-3.0-or-later
// Texts that reach a terminal or a report line: control characters written
// as \xHH, so a file name or a camera's Make cannot add lines, move the
// cursor or retitle the terminal.
#pragma once

#include <string>
#include <string_view>

namespace meridane::text {

/// The text with each control character (U+0000–U+001F, U+007F–U+009F) as
/// "\x" and two upper-case hex digits of its code point. A byte 0x80–0x9F
/// outside a well-formed UTF-8 sequence is a control in 8-bit terminals and
/// is written the same way; other bytes pass unchanged.
std::string escapedControls(std::string_view text);

}  // namespace meridane::text
