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
              double imageValue, std::string expectedRef_)
        : text(std::move(text_)), rawRef(std::move(rawRef_)), parsed(std::move(parsed_)),
          expectedRef(std::move(expectedRef_)) {
        effectiveRef = gpstext::normalizeHemisphereRef(rawRef);
        if (effectiveRef.empty())
            effectiveRef = parsed.ref;
        signedValue = gpstext::applyHemisphere(parsed.value, effectiveRef);
        const double difference = std::fabs(signedValue.value_or(kMissingCoordinate) - imageValue);
        withinTolerance = difference <= kPositionTolerance;  // false for NaN
        compatible = effectiveRef == expectedRef || (effectiveRef.empty() && withinTolerance);
        expectedText = expectedCoordinateText(imageValue, expectedRef);
    }

    bool textMatchesExpected() const {
        return gpstext::canonicalGPSText(text) == gpstext::canonicalGPSText(expectedText);
    }
};

std::optional<xmp::NameView> firstGPSNamedChild(const xmp::XmlElement& description) {
    for (xmp::XmlNode child = description.firstChild(); child; child = child.nextSibling()) {
        if (!child.isElement())
            continue;
        auto name = child.nameView();
        if (name && name->contains("GPS"))
            return name;
    }
    return std::nullopt;
}

}  // namespace

SidecarComparison precheckSidecarGPS(const std::filesystem::path& imagePath, double latitude, double longitude,
                                     const Result<SidecarFile>& sidecar, bool alwaysOverwrite) {
    using Verdict = SidecarComparison::Verdict;
    const std::string_view imageName = fileNameOf(imagePath);

    // A sidecar that cannot be read or understood goes on to the update,
    // which reports the failure as the file's result.
    if (!sidecar)
        return {};
    const auto& document = sidecar->document();
    if (!document)
        return {};
    auto description = xmp::findDescriptionElement(document.value());
    if (!description)
        return {};

    if (auto gpsName = firstGPSNamedChild(*description)) {
        diag::debug("Found GPS  ", gpsName->prefix, gpsName->prefix.empty() ? "" : ":", gpsName->local);
    } else {
        diag::debug("No GPS data found in XMP");
        diag::debug("Skipping ", imageName, " - XMP contains no GPS data");
        return {Verdict::noGPS, {}, {}};
    }

    auto latText = xmp::getElementValue("exif:GPSLatitude", *description);
    auto lonText = xmp::getElementValue("exif:GPSLongitude", *description);
    auto latRef = xmp::getElementValue("exif:GPSLatitudeRef", *description);
    auto lonRef = xmp::getElementValue("exif:GPSLongitudeRef", *description);
    if (diag::isListening()) {
        diag::debug("Raw XMP GPS values:");
        diag::debug("  existingLat raw: '" + orNil(latText) + "'");
        diag::debug("  existingLon raw: '" + orNil(lonText) + "'");
        diag::debug("  existingLatRef raw: '" + orNil(latRef) + "'");
        diag::debug("  existingLonRef raw: '" + orNil(lonRef) + "'");
    }

    ParsedGPS parsedLat = gpstext::parseXmpGPS(latText);
    ParsedGPS parsedLon = gpstext::parseXmpGPS(lonText);
    const AxisCheck lat(latText, latRef, std::move(parsedLat), latitude, expectedLatitudeRef(latitude));
    const AxisCheck lon(lonText, lonRef, std::move(parsedLon), longitude, expectedLongitudeRef(longitude));
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

    std::vector<GPSDifference> rows;
    if (!lat.withinTolerance)
        rows.push_back({"Latitude", latText.value_or(formatFixed8(std::fabs(latitude))), lat.expectedText});
    if (!lon.withinTolerance)
        rows.push_back({"Longitude", lonText.value_or(formatFixed8(std::fabs(longitude))), lon.expectedText});
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
