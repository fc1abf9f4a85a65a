#include "core/ProcessingResult.h"

#include "core/UnicodeText.h"

#include <array>

namespace meridane {

bool DeviceData::isAppleDevice() const {
    if (text::lowerCased(make.value_or("")) == "apple")
        return true;
    const std::string lowerModel = text::lowerCased(model.value_or(""));
    for (const char* family : {"iphone", "ipad", "ipod", "mac"})
        if (lowerModel.find(family) != std::string::npos)
            return true;
    return text::lowerCased(software.value_or("")).find("apple") != std::string::npos;
}

std::string_view ProcessingResult::caseName(Case c) {
    static constexpr std::array<std::string_view, 9> names = {
        "updated",        "withinTolerance",     "fileNotFound", "unsupportedFile", "skippedMissing",
        "skippedNonApple", "skippedDifferentGPS", "failed",       "alreadyCorrect"};
    return names.at(static_cast<size_t>(c));
}

}  // namespace meridane
