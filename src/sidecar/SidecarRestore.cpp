// SPDX-License-Identifier: GPL-3.0-or-later
// Putting a sidecar's earlier bytes back, and the change lines that say what
// that changed in its GPS properties.
#include "sidecar/SidecarGPS.h"

#include "base/Diagnostics.h"
#include "sidecar/internal/AtomicSave.h"
#include "xmp/XMPXML.h"

namespace meridane {
namespace {

constexpr const char* kArrow = " \u2192 ";
constexpr const char* kProperties[] = {"exif:GPSLatitude", "exif:GPSLongitude", "exif:GPSLatitudeRef",
                                       "exif:GPSLongitudeRef"};

std::optional<xmp::XmpPacket> parsed(const std::string& bytes) {
    auto packet = xmp::XmpPacket::parse(bytes, xmp::XmpPacket::Detail::gpsProperties);
    if (!packet)
        return std::nullopt;
    return std::move(packet).value();
}

}  // namespace

Status restoreSidecarBytes(SidecarFile& sidecar, const std::string& bytes, const SidecarWriteOptions& options) {
    SidecarFile::State& file = sidecar.state();
    if (!file.forSaving)
        return Error{ErrorDomain::xmp, kXmpInvalid, "XMP sidecar was read without being opened for saving"};
    diag::debug("Restoring XMP: ", sidecar.path().filename().native());
    return saveWithOptions(bytes, file, SavedContent::restoredSidecar, options);
}

std::vector<std::string> gpsChangeLines(const std::string& fromBytes, const std::string& toBytes) {
    const std::optional<xmp::XmpPacket> from = parsed(fromBytes), to = parsed(toBytes);
    std::vector<std::string> lines;
    if (!from || !to || from->descriptions().empty() || to->descriptions().empty())
        return lines;
    for (const char* name : kProperties) {
        const auto before = xmp::propertyText(name, *from), after = xmp::propertyText(name, *to);
        if (before != after)
            lines.push_back(std::string(name) + ": " + before.value_or("(empty)") + kArrow + after.value_or("(empty)"));
    }
    return lines;
}

}  // namespace meridane
