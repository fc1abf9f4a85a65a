// SPDX-License-Identifier: GPL-3.0-or-later
#include "imagemeta/ImageMetadata.h"

#include "base/Diagnostics.h"
#include "base/NumberText.h"
#include "base/UnicodeText.h"
#include "imagemeta/internal/ImageProperties.h"
#include "imagemeta/ReadStats.h"

#include <cmath>
#include <string>
#include <utility>

namespace meridane {
namespace {

using imagemeta::PropertiesStage;

std::string fileName(const std::filesystem::path& path) { return path.filename().string(); }

/// The lines every reading writes before its own: why the file gave less
/// than the next stage, if it did.
void reportProblem(const imagemeta::PropertiesRead& read, const std::filesystem::path& path) {
    if (read.problem.empty())
        return;
    switch (read.stage) {
    case PropertiesStage::cannotOpen:
        diag::debug("Cannot read image " + path.string() + ": " + read.problem);
        break;
    case PropertiesStage::noProperties:
        diag::debug("Image structure of " + fileName(path) + " unreadable: " + read.problem);
        break;
    case PropertiesStage::read:
        diag::debug("Exif of " + fileName(path) + " unreadable: " + read.problem);
        break;
    }
}

const std::string* textEntry(const std::optional<imagemeta::PropertyDictionary>& dictionary, std::uint16_t tag) {
    if (!dictionary)
        return nullptr;
    const MetadataValue* value = dictionary->find(tag);
    return value ? std::get_if<std::string>(&value->value) : nullptr;
}

std::optional<std::string> deviceField(const imagemeta::ImageProperties& properties, std::uint16_t tag) {
    if (const std::string* text = textEntry(properties.tiff, tag))
        return *text;
    if (const std::string* text = textEntry(properties.exif, tag))
        return *text;
    return std::nullopt;
}

/// Why a position is no place on Earth, or empty when it is one.
std::string placeProblem(double latitude, double longitude) {
    if (!std::isfinite(latitude))
        return "latitude is not a finite number";
    if (!std::isfinite(longitude))
        return "longitude is not a finite number";
    if (std::fabs(latitude) > 90)
        return "latitude beyond ±90";
    if (std::fabs(longitude) > 180)
        return "longitude beyond ±180";
    return {};
}

}  // namespace

ImageMetadataReader::ImageMetadataReader(std::filesystem::path imagePath, ReadStats* stats)
    : imagePath_(std::move(imagePath)), stats_(stats) {}

const imagemeta::PropertiesRead& ImageMetadataReader::decoded() {
    if (!decoded_)
        decoded_ = imagemeta::readImageProperties(imagePath_, stats_);
    return *decoded_;
}

std::optional<Coordinate> ImageMetadataReader::position() {
    const std::filesystem::path& imagePath = imagePath_;
    const std::string name = fileName(imagePath);
    const imagemeta::PropertiesRead& read = decoded();
    reportProblem(read, imagePath);
    if (read.stage == PropertiesStage::cannotOpen) {
        diag::debug("CGImageSourceCreateWithURL failed for " + imagePath.string());
        return std::nullopt;
    }
    if (read.stage == PropertiesStage::noProperties) {
        diag::debug("No properties for " + name);
        return std::nullopt;
    }
    const auto& gps = read.properties.gps;
    if (!gps || gps->entries.empty()) {
        diag::debug("No GPS dictionary for " + name);
        return std::nullopt;
    }
    auto latitude = coordinateValue(gps->find(imagemeta::tag::gpsLatitude));
    auto longitude = latitude ? coordinateValue(gps->find(imagemeta::tag::gpsLongitude)) : std::nullopt;
    if (!latitude || !longitude) {
        diag::debug("GPS lat/lon missing or unparsable in " + name);
        diag::debug("GPS dictionary contents: " + imagemeta::describeDictionary(*gps));
        return std::nullopt;
    }
    // Cameras pad the letter ("S ") or spell it out ("South", "Sud"): other
    // readers go by the first letter, and so does this one.
    auto reference = [&gps](std::uint16_t tag) {
        const MetadataValue* value = gps->find(tag);
        const std::string* text = value ? std::get_if<std::string>(&value->value) : nullptr;
        const std::string letters = text ? text::upperCased(text::trimmed(*text)) : std::string();
        return letters.substr(0, 1);
    };
    if (reference(imagemeta::tag::gpsLatitudeRef) == "S")
        latitude = -std::fabs(*latitude);
    if (reference(imagemeta::tag::gpsLongitudeRef) == "W")
        longitude = -std::fabs(*longitude);
    // A damaged GPS block (zero denominators, absurd degrees) must not reach
    // a sidecar as "nan" or as a place that does not exist.
    if (std::string problem = placeProblem(*latitude, *longitude); !problem.empty()) {
        diag::debug("GPS position of " + name + " is not a place on Earth (" + problem +
                    "): lat=" + formatDiagnosticDouble(*latitude) + " lon=" + formatDiagnosticDouble(*longitude));
        return std::nullopt;
    }
    if (diag::isListening())
        diag::debug(name + " GPS: lat=" + formatDiagnosticDouble(*latitude) + " (" + (*latitude < 0 ? "S" : "N") +
                    ") lon=" + formatDiagnosticDouble(*longitude) + " (" + (*longitude >= 0 ? "E" : "W") + ")");
    return Coordinate{*latitude, *longitude};
}

std::optional<std::string> ImageMetadataReader::unreadableReason() {
    const imagemeta::PropertiesRead& read = decoded();
    if (read.unreadable.empty())
        return std::nullopt;
    return read.unreadable;
}

std::optional<std::string> ImageMetadataReader::damagedMetadataReason() {
    const imagemeta::PropertiesRead& read = decoded();
    const imagemeta::ImageProperties& found = read.properties;
    if (read.stage != PropertiesStage::read || read.problem.empty() || found.tiff || found.exif || found.gps)
        return std::nullopt;
    return read.problem;
}

std::optional<DeviceData> ImageMetadataReader::deviceData() {
    const std::filesystem::path& imagePath = imagePath_;
    const std::string name = fileName(imagePath);
    const imagemeta::PropertiesRead& read = decoded();
    reportProblem(read, imagePath);
    if (read.stage == PropertiesStage::cannotOpen) {
        diag::debug("CGImageSourceCreateWithURL failed for " + imagePath.string());
        return std::nullopt;
    }
    if (read.stage == PropertiesStage::noProperties) {
        diag::debug("CGImageSourceCopyPropertiesAtIndex returned nil for " + name);
        return std::nullopt;
    }
    DeviceData device{deviceField(read.properties, imagemeta::tag::make),
                      deviceField(read.properties, imagemeta::tag::model),
                      deviceField(read.properties, imagemeta::tag::software)};
    auto shown = [](const std::optional<std::string>& field) { return field ? *field : std::string("nil"); };
    if (diag::isListening())
        diag::debug(name + " Device: make=" + shown(device.make) + " model=" + shown(device.model) +
                    " software=" + shown(device.software));
    return device;
}

std::optional<Coordinate> readImageGPS(const std::filesystem::path& imagePath, ReadStats* stats) {
    return ImageMetadataReader(imagePath, stats).position();
}

std::optional<DeviceData> readDeviceData(const std::filesystem::path& imagePath, ReadStats* stats) {
    return ImageMetadataReader(imagePath, stats).deviceData();
}

std::optional<Coordinate> readImageGPS(const std::filesystem::path& imagePath) {
    return readImageGPS(imagePath, nullptr);
}

std::optional<DeviceData> readDeviceData(const std::filesystem::path& imagePath) {
    return readDeviceData(imagePath, nullptr);
}

}  // namespace meridane
