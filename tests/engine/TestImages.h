// SPDX-License-Identifier: GPL-3.0-or-later
// Tiny real images for end-to-end tests: a one-pixel TIFF/DNG written on the
// spot, with whichever camera identity and GPS position a case needs, so the
// tests need neither external tools nor large fixtures.
#pragma once

#include "base/Coordinate.h"

#include <filesystem>
#include <optional>
#include <string>

namespace meridane::testing {

struct TestImage {
    std::optional<std::string> make = "Apple";
    std::optional<std::string> model = "iPhone 12 Pro";
    std::optional<std::string> software = "14.3";
    std::optional<Coordinate> position = Coordinate{37.7749, -122.4194};
};

/// Writes a one-pixel DNG (TIFF structure) carrying the image's EXIF tags.
void writeTestImage(const std::filesystem::path& path, const TestImage& image = {});

}  // namespace meridane::testing
