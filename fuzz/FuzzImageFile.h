// SPDX-License-Identifier: GPL-3.0-or-later
// Shared by the image reader's fuzz targets: each input becomes one in-memory
// file, opened by path like any image, so nothing touches the disk; and the
// checks every reading must pass whatever the input.
#pragma once

#include "base/Diagnostics.h"
#include "imagemeta/ImageMetadata.h"
#include "imagemeta/internal/HeifExif.h"
#include "imagemeta/internal/TiffReader.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace meridane::fuzzing {

inline void require(bool condition) {
    if (!condition)
        std::abort();
}

/// The input as a file; the path stays valid until the next input.
inline std::string inputFile(const std::uint8_t* data, std::size_t size) {
    static const int fd = ::memfd_create("meridane-fuzz-image", MFD_CLOEXEC);
    require(fd >= 0 && ::ftruncate(fd, 0) == 0);
    for (std::size_t done = 0; done < size;) {
        const ssize_t n = ::pwrite(fd, data + done, size - done, static_cast<off_t>(done));
        require(n > 0);
        done += static_cast<std::size_t>(n);
    }
    return "/proc/self/fd/" + std::to_string(fd);
}

/// Both readings as the pipeline takes them: a position is only ever a place
/// on Earth, and no file costs more reads than the bounds allow.
inline void readAsThePipelineDoes(const std::string& path) {
    static diag::ScopedSink quiet([](std::string_view line) { require(line.rfind("[DEBUG] ", 0) == 0); });
    ReadStats stats;
    ImageMetadataReader reader(path, &stats);
    (void)reader.deviceData();
    if (auto position = reader.position())
        require(std::fabs(position->latitude) <= 90 && std::fabs(position->longitude) <= 180);
    require(stats.bytesRead <= imagemeta::kHeadSize + imagemeta::kMaxHeifWalkBytes + imagemeta::kMaxTiffReadBytes);
}

}  // namespace meridane::fuzzing
