// SPDX-License-Identifier: GPL-3.0-or-later
#include "sidecar/SidecarGPS.h"

#include "base/Diagnostics.h"
#include "base/NumberText.h"
#include "sidecar/internal/AtomicSave.h"
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
struct Property {
    const char* name;
    std::optional<std::string> existing;
    std::string expected;
    bool matches;
    /// The old value shown in the change line when the property is absent.
    std::string absentText;

    std::string changeLine() const { return std::string(name) + ": " + existing.value_or(absentText) + kArrow + expected; }
};

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
    auto& document = sidecar->document();
    if (!document)
        return document.error();
    auto description = xmp::findDescriptionElement(document.value());
    if (!description)
        return xmpError("Invalid XMP structure: missing rdf:Description");

    auto latText = xmp::getElementValue("exif:GPSLatitude", *description);
    auto lonText = xmp::getElementValue("exif:GPSLongitude", *description);
    auto latRefText = xmp::getElementValue("exif:GPSLatitudeRef", *description);
    auto lonRefText = xmp::getElementValue("exif:GPSLongitudeRef", *description);

    const std::string latLetter = expectedLatitudeRef(latitude);
    const std::string lonLetter = expectedLongitudeRef(longitude);
    const std::string expectedLat = expectedCoordinateText(latitude, latLetter);
    const std::string expectedLon = expectedCoordinateText(longitude, lonLetter);

    const ParsedGPS parsedLat = gpstext::parseXmpGPS(latText);
    const ParsedGPS parsedLon = gpstext::parseXmpGPS(lonText);
    const std::string normalizedLatRef = gpstext::normalizeHemisphereRef(latRefText);
    const std::string normalizedLonRef = gpstext::normalizeHemisphereRef(lonRefText);
    const std::string effectiveLatRef = normalizedLatRef.empty() ? parsedLat.ref : normalizedLatRef;
    const std::string effectiveLonRef = normalizedLonRef.empty() ? parsedLon.ref : normalizedLonRef;
    const auto signedLat = gpstext::applyHemisphere(parsedLat.value, effectiveLatRef);
    const auto signedLon = gpstext::applyHemisphere(parsedLon.value, effectiveLonRef);

    Property properties[] = {
        {"exif:GPSLatitude", latText, expectedLat,
         gpstext::canonicalGPSText(latText) == gpstext::canonicalGPSText(expectedLat),
         formatFixed8(std::fabs(latitude))},
        {"exif:GPSLongitude", lonText, expectedLon,
         gpstext::canonicalGPSText(lonText) == gpstext::canonicalGPSText(expectedLon),
         formatFixed8(std::fabs(longitude))},
        {"exif:GPSLatitudeRef", latRefText, latLetter, effectiveLatRef == latLetter, "(empty)"},
        {"exif:GPSLongitudeRef", lonRefText, lonLetter, effectiveLonRef == lonLetter, "(empty)"},
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

    const bool dryRun = options.dryRun;
    SidecarUpdateOutcome outcome;
    for (const auto& property : properties) {
        if (!property.matches) {
            outcome.changes.push_back(property.changeLine());
            if (!dryRun)
                xmp::setElementValue(property.expected, property.name, *description);
        }
        // Every property ends up an element; an attribute of the same name
        // would say it a second time, perhaps naming another place.
        if (auto attribute = description->attribute(property.name)) {
            outcome.changes.push_back(std::string(property.name) + " attribute: " + *attribute + kArrow + "(removed)");
            if (!dryRun)
                description->removeAttribute(property.name);
        }
    }
    outcome.written = true;

    if (dryRun) {
        diag::debug("Dry run \u2014 would save XMP: ", name);
        return outcome;
    }

    diag::debug("Saving XMP atomically: ", name);
    const xmp::XmlDocument& changed = document.value();
    SidecarFile::State& file = sidecar->state();
    if (!file.forSaving)
        return xmpError("XMP sidecar was read without being opened for saving");
    Status saved = saveWithOptions(changed.serializePretty(), file, SavedContent::updatedSidecar, options);
    if (!saved)
        return saved.error();
    return outcome;
}

}  // namespace meridane
