// SPDX-License-Identifier: GPL-3.0-or-later
// A position on Earth as the image gives it and the sidecar should carry it.
#pragma once

namespace meridane {

/// Signed decimal degrees, north and east positive.
struct Coordinate {
    double latitude = 0;
    double longitude = 0;
    bool operator==(const Coordinate&) const = default;
};

}  // namespace meridane
