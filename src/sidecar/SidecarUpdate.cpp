// SPDX-License-Identifier: GPL-3.0-or-later
#include "sidecar/SidecarGPS.h"

#include "base/Diagnostics.h"
#include "base/NumberText.h"
#include "sidecar/internal/AtomicSave.h"
#include "sidecar/internal/FileSystem.h"
#include "base/GPSText.h"
#include "xmp/XMPXML.h"

#include <cerrno>
#include <cmath>
#include <optional>

namespace meridane {
namespace {


constexpr const char* kArrow = " \u2192 ";

std::string orNil(const std::optional<std::string>& text) { return text ? *text : std::string("nil"); }

Error xmpError(std::string message) { return Error{ErrorDomain::xmp, kXmpInvalid, std::move(message)}; }

/// One of the four properties: what the sidecar holds and what it should hold.
struct PropertyCheck {
    const char* name;
    std::optional<std::string> existing;
    std::string expected;
    bool matches;

    /// Quotes what the file holds; "(empty)" for a property it lacks.
    std::string changeLine() const {
        return std::string(name) + ": " + existing.value_or("(empty)") + kArrow + expected;
    }
};

/// A GPS property that is not a text cannot be set without losing what it holds.
std::optional<Error> nonTextProperty(const xmp::XmpPacket& packet) {
    for (const char* name : {"exif:GPSLatitude", "exif:GPSLongitude", "exif:GPSLatitudeRef", "exif:GPSLongitudeRef"}) {
        const xmp::Property* property = xmp::findProperty(name, packet);
        if (!property)
            continue;
        if (property->shape == xmp::Property::Shape::structure)
            return xmpError(std::string(name) + " in the XMP sidecar is a structure, not a text; the sidecar was left unchanged");
        if (property->shape == xmp::Property::Shape::array)
            return xmpError(std::string(name) + " in the XMP sidecar is an array, not a text; the sidecar was left unchanged");
    }
    return std::nullopt;
}

}  // namespace

Result<SidecarUpdateOutcome> updateSidecarGPS(Result<SidecarFile>& sidecar, double latitude, double longitude,
                                              const SidecarWriteOptions& options) {
    if (!sidecar) {
        if (sidecar.error().code == ENOENT || sidecar.error().code == ENOTDIR)
            return xmpError("XMP file does not exist and creation is disabled");
        return sidecar.error();
    }
    const std::string name = sidecar->path().filename().string();

    diag::debug("Loading existing XMP: ", name);
    const auto& document = sidecar->document();
    if (!document)
        return document.error();
    const xmp::XmpPacket& packet = document.value();
    const xmp::Description* description = xmp::findDescriptionElement(packet);
    if (!description)
        return xmpError("Invalid XMP structure: missing rdf:Description");
    if (auto refused = nonTextProperty(packet))
        return *refused;

    auto latText = xmp::getElementValue("exif:GPSLatitude", packet, *description);
    auto lonText = xmp::getElementValue("exif:GPSLongitude", packet, *description);
    auto latRefText = xmp::getElementValue("exif:GPSLatitudeRef", packet, *description);
    auto lonRefText = xmp::getElementValue("exif:GPSLongitudeRef", packet, *description);

    const std::string latLetter = expectedLatitudeRef(latitude);
    const std::string lonLetter = expectedLongitudeRef(longitude);
    const std::string expectedLat = expectedCoordinateText(latitude, latLetter, options.coordinateFormat);
    const std::string expectedLon = expectedCoordinateText(longitude, lonLetter, options.coordinateFormat);

    const ParsedGPS parsedLat = gpstext::parseXmpGPS(latText);
    const ParsedGPS parsedLon = gpstext::parseXmpGPS(lonText);
    const std::string normalizedLatRef = gpstext::normalizeHemisphereRef(latRefText);
    const std::string normalizedLonRef = gpstext::normalizeHemisphereRef(lonRefText);
    const std::string effectiveLatRef = normalizedLatRef.empty() ? parsedLat.ref : normalizedLatRef;
    const std::string effectiveLonRef = normalizedLonRef.empty() ? parsedLon.ref : normalizedLonRef;
    const auto signedLat = gpstext::applyHemisphere(parsedLat.value, effectiveLatRef);
    const auto signedLon = gpstext::applyHemisphere(parsedLon.value, effectiveLonRef);

    PropertyCheck properties[] = {
        {"exif:GPSLatitude", latText, expectedLat,
         gpstext::sameCoordinateText(latText, expectedLat, options.coordinateFormat)},
        {"exif:GPSLongitude", lonText, expectedLon,
         gpstext::sameCoordinateText(lonText, expectedLon, options.coordinateFormat)},
        {"exif:GPSLatitudeRef", latRefText, latLetter, effectiveLatRef == latLetter},
        {"exif:GPSLongitudeRef", lonRefText, lonLetter, effectiveLonRef == lonLetter},
    };
    auto& [latProperty, lonProperty, latRefProperty, lonRefProperty] = properties;

    if (diag::isListening()) {
        diag::debug(name + " update comparison:");
        diag::debug("  existing: lat=" + orNil(latText) + " lon=" + orNil(lonText));
        diag::debug("  existing decimal: lat=" + formatDiagnosticDouble(signedLat) +
                    " lon=" + formatDiagnosticDouble(signedLon));
        diag::debug("  target:   lat=" + expectedLat + " lon=" + expectedLon);
        diag::debug("  target decimal: lat=" + formatDiagnosticDouble(latitude) +
                    " lon=" + formatDiagnosticDouble(longitude));
        diag::debug(std::string("  matches:  latText=") + formatFlag(latProperty.matches) +
                    " lonText=" + formatFlag(lonProperty.matches) + " latRef=" + formatFlag(latRefProperty.matches) +
                    " lonRef=" + formatFlag(lonRefProperty.matches));
    }

    const bool allMatch = latProperty.matches && lonProperty.matches && latRefProperty.matches && lonRefProperty.matches;
    if (!options.alwaysOverwrite && allMatch) {
        diag::debug("Will not write ", name, " \u2014 already correct");
        return SidecarUpdateOutcome{};
    }
    if (allMatch)
        return SidecarUpdateOutcome{};

    // Something will be written. A reference that only matched through the
    // letter at the end of its coordinate text (the element missing, or its
    // text no hemisphere at all) is written as well: a sidecar is never saved
    // without both reference properties naming the right hemisphere.
    if (normalizedLatRef != latLetter)
        latRefProperty.matches = false;
    if (normalizedLonRef != lonLetter)
        lonRefProperty.matches = false;

    // A property written twice would leave readers to pick one of two
    // positions; a sidecar that already holds one twice is not guessed at.
    for (const auto& property : properties)
        if (!property.matches && xmp::countProperties(property.name, packet) > 1)
            return xmpError(std::string(property.name) +
                            " appears more than once in the XMP sidecar; the sidecar was left unchanged");

    const bool dryRun = options.dryRun;
    // A dry run works the edit out only where its size decides whether the
    // save could be made: four short properties add far less than this.
    constexpr std::uint64_t kMostAnEditAdds = 64 * 1024;
    const bool makesEdit = !dryRun || sidecar->bytes().size() + kMostAnEditAdds > sidecar::kMaximumSidecarBytes;
    SidecarUpdateOutcome outcome;
    xmp::XmpEdit edit(packet);
    for (const auto& property : properties) {
        if (property.matches)
            continue;
        outcome.changes.push_back(property.changeLine());
        if (makesEdit)
            xmp::setElementValue(property.expected, property.name, packet, *description, edit);
    }
    outcome.written = true;
    std::string updated = makesEdit ? edit.result() : std::string();
    if (Status fits = checkSavedSize(updated.size()); !fits)
        return fits.error();

    if (dryRun) {
        diag::debug("Dry run \u2014 would save XMP: ", name);
        return outcome;
    }

    diag::debug("Saving XMP atomically: ", name);
    SidecarFile::State& file = sidecar->state();
    if (!file.forSaving)
        return xmpError("XMP sidecar was read without being opened for saving");
    Status saved = saveWithOptions(updated, file, SavedContent::updatedSidecar, options);
    if (!saved)
        return saved.error();
    return outcome;
}

}  // namespace meridane
