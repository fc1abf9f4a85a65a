// SPDX-License-Identifier: GPL-3.0-or-later
// One result as one line of JSON, for scripts: path, case name, payload and
// report text. The output is always valid UTF-8: each byte of a name or text
// that is not part of valid UTF-8 becomes U+FFFD, and a path that is not
// valid UTF-8 is also given exactly, as "pathBase64".
#pragma once

#include "engine/ProcessingResult.h"

#include <string>
#include <string_view>

namespace meridane::cli {

/// A JSON string literal, quotes included.
std::string jsonString(std::string_view text);

/// {"path":…,"case":…,"payload":{…},"report":…} without a newline.
std::string jsonLine(const ProcessingResultDetail& detail);

}  // namespace meridane::cli
