#include "engine/ProcessingResult.h"

#include <array>

namespace meridane {

std::string_view ProcessingResult::caseName(Case c) {
    static constexpr std::array<std::string_view, 9> names = {
        "updated",        "withinTolerance",     "fileNotFound", "unsupportedFile", "skippedMissing",
        "skippedNonApple", "skippedDifferentGPS", "failed",       "alreadyCorrect"};
    return names.at(static_cast<size_t>(c));
}

}  // namespace meridane
