// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers of the sidecar tests.
#pragma once

#include "SidecarBuilder.h"
#include "TestSupport.h"
#include "base/Diagnostics.h"
#include "sidecar/SidecarGPS.h"
#include "xmp/XMPXML.h"

#include <gtest/gtest.h>

#include <array>
#include <ostream>

namespace meridane {

inline void PrintTo(const Error& error, std::ostream* os) {
    *os << "Error{" << domainName(error.domain) << ", " << error.code << ", \"" << error.message << "\"}";
}

}  // namespace meridane

namespace meridane::testing {

/// The image position of every case.
inline constexpr double kLat = 37.7749, kLon = -122.4194;

/// A folder holding IMG_0001.xmp.
struct SidecarFolder {
    TempDir dir;
    std::filesystem::path sidecar = dir / "IMG_0001.xmp";

    explicit SidecarFolder(const std::string& xml = kNeedsLettersXml) {
        writeFile(sidecar, xml);
    }
    Result<SidecarFile> open(bool forSaving = true) const {
        return SidecarFile::open(sidecar, {.forSaving = forSaving, .lockWait = std::chrono::milliseconds(200)});
    }
    /// Reads, compares and updates as the pipeline does, quietly.
    Result<SidecarUpdateOutcome> update(bool dryRun = false, bool alwaysOverwrite = false,
                                        SidecarReplaceHook hook = {},
                                        CoordinateFormat format = CoordinateFormat::decimal,
                                        ReplacementLog* log = nullptr) const {
        diag::ScopedSink quiet([](std::string_view) {});
        auto file = open(!dryRun);
        return updateSidecarGPS(file, kLat, kLon,
                                {.dryRun = dryRun, .alwaysOverwrite = alwaysOverwrite, .beforeReplace = std::move(hook),
                                 .log = log, .coordinateFormat = format});
    }
};

/// The four GPS property texts of a sidecar's bytes ("-" for absent).
inline std::array<std::string, 4> gpsOf(const std::string& bytes) {
    diag::ScopedSink quiet([](std::string_view) {});
    std::array<std::string, 4> values{"-", "-", "-", "-"};
    const auto packet = xmp::XmpPacket::parse(bytes);
    const char* names[] = {"exif:GPSLatitude", "exif:GPSLongitude", "exif:GPSLatitudeRef", "exif:GPSLongitudeRef"};
    for (size_t i = 0; packet && i < 4; ++i)
        values[i] = xmp::propertyText(names[i], packet.value()).value_or("-");
    return values;
}

/// An access control list granting user 65534 read access (acl_ea format).
inline constexpr unsigned char kAcl[] = {2, 0, 0, 0, 1, 0, 6, 0, 0xff, 0xff, 0xff, 0xff, 2, 0, 4, 0, 0xfe, 0xff, 0, 0, 4, 0,
                                         4, 0, 0xff, 0xff, 0xff, 0xff, 0x10, 0, 4, 0, 0xff, 0xff, 0xff, 0xff, 0x20, 0, 0,
                                         0, 0xff, 0xff, 0xff, 0xff};

inline const std::array<std::string, 4> kExpectedGps = {"37.77490000N", "122.41940000W", "N", "W"};

}  // namespace meridane::testing
