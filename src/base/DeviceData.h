// SPDX-License-Identifier: GPL-3.0-or-later
// The camera identity read from an image, and the rule that tells an Apple
// device from any other.
#pragma once

#include <optional>
#include <string>

namespace meridane {

struct DeviceData {
    std::optional<std::string> make;
    std::optional<std::string> model;
    std::optional<std::string> software;

    /// make is "apple" (lower-cased, exactly); else model contains iphone,
    /// ipad, ipod or mac; else software contains apple.
    bool isAppleDevice() const;

    bool operator==(const DeviceData&) const = default;
};

}  // namespace meridane
