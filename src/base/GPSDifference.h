// SPDX-License-Identifier: GPL-3.0-or-later
// One way in which a sidecar's position disagrees with the image's.
#pragma once

#include <string>

namespace meridane {

struct GPSDifference {
    std::string field;  ///< "Latitude", "Longitude", "LatitudeRef" or "LongitudeRef"
    std::string currentValue;
    std::string newValue;

    bool operator==(const GPSDifference&) const = default;
};

}  // namespace meridane
