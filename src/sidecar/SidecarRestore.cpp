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

std::optional<xmp::XmlElement> descriptionOf(const std::optional<xmp::XmlDocument>& document) {
    return document ? xmp::findDescriptionElement(*document) : std::nullopt;
}

std::optional<xmp::XmlDocument> parsed(const std::string& bytes) {
    auto document = xmp::XmlDocument::parse(bytes);
    if (!document)
        return std::nullopt;
    return std::move(document).value();
}

}  // namespace

Status restoreSidecarBytes(SidecarFile& sidecar, const std::string& bytes, const SidecarWriteOptions& options) {
    SidecarFile::State& file = sidecar.state();
    if (!file.forSaving)
        return Error{ErrorDomain::xmp, kXmpInvalid, "XMP sidecar was read without being opened for saving"};
    diag::debug("Restoring XMP: " + sidecar.path().filename().string());
    return saveWithOptions(bytes, file, SavedContent::restoredSidecar, options);
}

std::vector<std::string> gpsChangeLines(const std::string& fromBytes, const std::string& toBytes) {
    const std::optional<xmp::XmlDocument> fromDocument = parsed(fromBytes), toDocument = parsed(toBytes);
    const std::optional<xmp::XmlElement> from = descriptionOf(fromDocument), to = descriptionOf(toDocument);
    std::vector<std::string> lines;
    if (!from || !to)
        return lines;
    for (const char* name : kProperties) {
        const auto before = xmp::getElementValue(name, *from), after = xmp::getElementValue(name, *to);
        if (before != after)
            lines.push_back(std::string(name) + ": " + before.value_or("(empty)") + kArrow + after.value_or("(empty)"));
        const auto attributeBefore = from->attribute(name), attributeAfter = to->attribute(name);
        if (attributeBefore != attributeAfter)
            lines.push_back(std::string(name) + " attribute: " + attributeBefore.value_or("(removed)") + kArrow +
                            attributeAfter.value_or("(removed)"));
    }
    return lines;
}

}  // namespace meridane
