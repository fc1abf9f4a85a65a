// SPDX-License-Identifier: GPL-3.0-or-later
#include "base/DeviceData.h"

#include "base/UnicodeText.h"

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

}  // namespace meridane
