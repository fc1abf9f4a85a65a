// SPDX-License-Identifier: GPL-3.0-or-later
#include "TestImages.h"

#include "ImageBuilder.h"

#include <fstream>
#include <stdexcept>

namespace meridane::testing {

void writeTestImage(const std::filesystem::path& path, const TestImage& image) {
    std::optional<std::pair<double, double>> position;
    if (image.position)
        position = std::pair{image.position->latitude, image.position->longitude};
    const Bytes tiff = buildTiff(cameraTiff(image.make, image.model, image.software, position));
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(tiff.data(), static_cast<std::streamsize>(tiff.size()));
    if (!out)
        throw std::runtime_error("cannot write test image " + path.string());
}


}  // namespace meridane::testing
