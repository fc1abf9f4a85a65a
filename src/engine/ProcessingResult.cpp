// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/ProcessingResult.h"

#include <array>

namespace meridane {

std::string_view ProcessingResult::caseName(Case c) {
    static constexpr std::array<std::string_view, kCaseCount> names = {
        "updated",         "withinTolerance",     "fileNotFound", "unsupportedFile", "skippedMissing",
        "skippedNonApple", "skippedDifferentGPS", "failed",       "alreadyCorrect",  "restored",
        "notRestored"};
    return names.at(static_cast<size_t>(c));
}

}  // namespace meridane
