// SPDX-License-Identifier: GPL-3.0-or-later
#include "sidecar/SidecarGPS.h"

#include "base/Diagnostics.h"
#include "base/FileName.h"
#include "base/NumberText.h"
#include "base/UnicodeText.h"
#include "base/GPSText.h"
#include "xmp/XMPXML.h"

#include <cmath>
#include <string>
#include <vector>

namespace meridane {
namespace {


constexpr const char* kGPSPropertyNames[] = {"exif:GPSLatitude", "exif:GPSLongitude", "exif:GPSLatitudeRef",
                                             "exif:GPSLongitudeRef"};
constexpr const char* kAbsentText = "(empty)";

/// Stands in for a coordinate the sidecar lacks, so that it is never within tolerance.
constexpr double kMissingCoordinate = 9000000000.0;

std::string orNil(const std::optional<std::string>& text) { return text ? *text : std::string("nil"); }

/// What the sidecar says about one coordinate, measured against the image.
struct AxisCheck {
    std::optional<std::string> text;
    std::optional<std::string> rawRef;
    ParsedGPS parsed;
    std::string effectiveRef;
    std::optional<double> signedValue;
    bool withinTolerance = false;
    std::string expectedRef;
    bool compatible = false;
    std::string expectedText;

    AxisCheck(std::optional<std::string> text_, std::optional<std::string> rawRef_, ParsedGPS parsed_,
              double imageValue, std::string expectedRef_, CoordinateFormat format)
        : text(std::move(text_)), rawRef(std::move(rawRef_)), parsed(std::move(parsed_)),
          expectedRef(std::move(expectedRef_)) {
        effectiveRef = gpstext::normalizeHemisphereRef(rawRef);
        if (effectiveRef.empty())
            effectiveRef = parsed.ref;
        signedValue = gpstext::applyHemisphere(parsed.value, effectiveRef);
        const double difference = std::fabs(signedValue.value_or(kMissingCoordinate) - imageValue);
        withinTolerance = difference <= kPositionTolerance;  // false for NaN
        compatible = effectiveRef == expectedRef || (effectiveRef.empty() && withinTolerance);
        expectedText = expectedCoordinateText(imageValue, expectedRef, format);
    }

    bool textMatchesExpected() const {
        return gpstext::canonicalGPSText(text) == gpstext::canonicalGPSText(expectedText);
    }
};

/// Whether one of the four properties holds a struct or an array: the
/// update fails such a sidecar with its own message.
bool holdsNonTextGPS(const xmp::XmpPacket& packet) {
    for (const char* name : kGPSPropertyNames)
        if (const xmp::Property* property = xmp::findProperty(name, packet);
            property && property->shape != xmp::Property::Shape::simple &&
            property->shape != xmp::Property::Shape::qualified)
            return true;
    return false;
}

}  // namespace

SidecarComparison precheckSidecarGPS(const std::filesystem::path& imagePath, double latitude, double longitude,
                                     const Result<SidecarFile>& sidecar, bool alwaysOverwrite,
                                     CoordinateFormat format) {
    using Verdict = SidecarComparison::Verdict;
    const std::string_view imageName = fileNameOf(imagePath);

    // A sidecar that cannot be read or understood goes on to the update,
    // which reports the failure as the file's result.
    if (!sidecar)
        return {};
    const auto& document = sidecar->document();
    if (!document)
        return {};
    const xmp::XmpPacket& packet = document.value();
    const xmp::Description* description = xmp::findDescriptionElement(packet);
    if (!description || holdsNonTextGPS(packet))
        return {};

    if (const xmp::Property* gpsNamed = xmp::firstGPSNamedProperty(packet)) {
        diag::debug("Found GPS  ", packet.nameOf(*gpsNamed));
    } else {
        diag::debug("No GPS data found in XMP");
        diag::debug("Skipping ", imageName, " - XMP contains no GPS data");
        return {Verdict::noGPS, {}, {}};
    }

    auto latText = xmp::getElementValue("exif:GPSLatitude", packet, *description);
    auto lonText = xmp::getElementValue("exif:GPSLongitude", packet, *description);
    auto latRef = xmp::getElementValue("exif:GPSLatitudeRef", packet, *description);
    auto lonRef = xmp::getElementValue("exif:GPSLongitudeRef", packet, *description);
    if (diag::isListening()) {
        diag::debug("Raw XMP GPS values:");
        diag::debug("  existingLat raw: '" + orNil(latText) + "'");
        diag::debug("  existingLon raw: '" + orNil(lonText) + "'");
        diag::debug("  existingLatRef raw: '" + orNil(latRef) + "'");
        diag::debug("  existingLonRef raw: '" + orNil(lonRef) + "'");
    }

    ParsedGPS parsedLat = gpstext::parseXmpGPS(latText);
    ParsedGPS parsedLon = gpstext::parseXmpGPS(lonText);
    const AxisCheck lat(latText, latRef, std::move(parsedLat), latitude, expectedLatitudeRef(latitude), format);
    const AxisCheck lon(lonText, lonRef, std::move(parsedLon), longitude, expectedLongitudeRef(longitude), format);
    const bool coordinatesMatch = lat.withinTolerance && lon.withinTolerance && lat.compatible && lon.compatible;

    if (diag::isListening()) {
        diag::debug(imageName, " XMP pre-check:");
        diag::debug("  existing: lat=" + orNil(latText) + " lon=" + orNil(lonText) + " latRef=" + orNil(latRef) +
                    " lonRef=" + orNil(lonRef));
        diag::debug("  parsed:   lat=(" + formatDiagnosticDouble(lat.parsed.value) + "," + lat.parsed.ref +
                    ") lon=(" + formatDiagnosticDouble(lon.parsed.value) + "," + lon.parsed.ref + ")");
        diag::debug("  existing decimal: lat=" + formatDiagnosticDouble(lat.signedValue) +
                    " lon=" + formatDiagnosticDouble(lon.signedValue));
        diag::debug("  target decimal:   lat=" + formatDiagnosticDouble(latitude) +
                    " lon=" + formatDiagnosticDouble(longitude));
        diag::debug(std::string("  matches:  numeric lat=") + formatFlag(lat.withinTolerance) +
                    " lon=" + formatFlag(lon.withinTolerance));
        diag::debug("  refs:     effective lat=" + lat.effectiveRef + " lon=" + lon.effectiveRef +
                    ", compatible lat=" + formatFlag(lat.compatible) + " lon=" + formatFlag(lon.compatible));
        diag::debug(std::string("  coordinatesMatch=") + formatFlag(coordinatesMatch) +
                    " (will skip only if false AND not alwaysOverwrite)");
    }

    auto proceeding = [&imageName] {
        diag::debug("Proceeding with update check for ", imageName, " (exceeds tolerance or overwrite)");
    };
    if (alwaysOverwrite) {
        proceeding();
        return {};
    }

    if (coordinatesMatch) {
        if (!gpstext::hasTrailingHemisphere(latText) || !gpstext::hasTrailingHemisphere(lonText)) {
            diag::debug("Within tolerance, but XMP text is missing trailing hemisphere ref \u2014 will update ",
                        imageName);
            proceeding();
            return {};
        }

        std::vector<std::string> notes;
        if (!lat.textMatchesExpected())
            notes.push_back("Latitude format: " + orNil(latText) + " \u2192 " + lat.expectedText);
        if (!lon.textMatchesExpected())
            notes.push_back("Longitude format: " + orNil(lonText) + " \u2192 " + lon.expectedText);
        if (notes.empty()) {
            diag::debug("Within tolerance and text matches \u2014 not updating ", imageName);
            return {Verdict::alreadyCorrect, {}, {}};
        }
        if (diag::isListening())
            diag::debug("Within tolerance \u2014 not updating ", imageName, ". Differences: ", text::joined(notes, "; "));
        return {Verdict::withinTolerance, std::move(notes), {}};
    }

    // A row quotes what the sidecar holds; "(empty)" stands for a property it lacks.
    std::vector<GPSDifference> rows;
    if (!lat.withinTolerance)
        rows.push_back({"Latitude", latText.value_or(kAbsentText), lat.expectedText});
    if (!lon.withinTolerance)
        rows.push_back({"Longitude", lonText.value_or(kAbsentText), lon.expectedText});
    if (lat.withinTolerance && !lat.effectiveRef.empty() && lat.effectiveRef != lat.expectedRef)
        rows.push_back({"LatitudeRef", lat.effectiveRef, lat.expectedRef});
    if (lon.withinTolerance && !lon.effectiveRef.empty() && lon.effectiveRef != lon.expectedRef)
        rows.push_back({"LongitudeRef", lon.effectiveRef, lon.expectedRef});

    if (diag::isListening()) {
        std::vector<std::string> rowTexts;
        for (const auto& row : rows)
            rowTexts.push_back(row.field + ": " + row.currentValue + " \u2192 " + row.newValue);
        diag::debug("Skipped (GPS coordinates differ) for ", imageName, ": ", text::joined(rowTexts, "; "));
    }
    return {Verdict::differentPlace, {}, std::move(rows)};
}

}  // namespace meridane
