#include "core/MediaFileProcessor.h"

#include "access/SidecarAccess.h"
#include "core/Diagnostics.h"
#include "core/MediaIntake.h"
#include "core/ProcessingOptions.h"
#include "core/UnicodeText.h"
#include "imagemeta/ImageMetadata.h"
#include "sidecar/SidecarPrecheck.h"
#include "sidecar/SidecarUpdate.h"

#include <sys/stat.h>

#include <memory>
#include <string>
#include <utility>

namespace meridane {
namespace {

constexpr std::string_view kDryRunPrefix = "[DRY RUN] would update: ";

bool fileExists(const std::filesystem::path& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0;
}

// Ends the access exactly once, whichever of the comparison and this file's
// own paths gets there first.
ScopedAccess stoppingOnce(ScopedAccess access) {
    auto stopped = std::make_shared<bool>(false);
    auto inner = std::move(access.stop);
    access.stop = [stopped, inner = std::move(inner)] {
        if (*stopped)
            return;
        *stopped = true;
        if (inner)
            inner();
    };
    return access;
}

}  // namespace

MediaFileProcessor::MediaFileProcessor(FolderAccessPrompt* prompt)
    : requestAccess_([prompt](const std::filesystem::path& sidecar) { return requestSidecarAccess(sidecar, prompt); }) {}

MediaFileProcessor::MediaFileProcessor(SidecarAccessRequest requestAccess) : requestAccess_(std::move(requestAccess)) {}

std::filesystem::path MediaFileProcessor::sidecarURL(const std::filesystem::path& fileURL) {
    const std::string name = fileURL.filename().native();
    const std::string extension = pathExtension(fileURL);
    std::string stem = name;
    if (!extension.empty() || (name.size() > 1 && name.back() == '.'))
        stem.resize(name.size() - extension.size() - 1);
    return fileURL.parent_path() / (stem + ".xmp");
}

ProcessingResult MediaFileProcessor::processFile(const std::filesystem::path& fileURL,
                                                 std::optional<Coordinate> knownCoordinate) const {
    const std::string name = fileURL.filename().native();

    if (!isSupportedMediaFile(fileURL)) {
        const std::string extension = pathExtension(fileURL);
        diag::debug(name + " unsupported extension " + extension);
        return ProcessingResult::unsupportedFile("Unsupported extension: " + extension);
    }
    diag::debug("Processing " + name);

    // The camera filter and the position come from one decode of the image.
    ImageMetadataReader image(fileURL);
    if (ProcessingOptions::appleOnly()) {
        const std::optional<DeviceData> device = image.deviceData();
        if (device && !device->isAppleDevice()) {
            diag::debug("Skipping non-Apple: " + name);
            return ProcessingResult::skippedNonApple(device, "Non-Apple source");
        }
    }

    std::optional<Coordinate> position = knownCoordinate ? knownCoordinate : image.position();
    if (!position) {
        if (ProcessingOptions::silentlyIgnoreSkipped()) {
            diag::debug("Skipped missing GPS: " + name);
            return ProcessingResult::skippedMissing("No GPS available");
        }
        diag::debug("Failed: no GPS for " + name);
        return ProcessingResult::failed("No GPS available");
    }

    const std::filesystem::path sidecar = sidecarURL(fileURL);
    std::optional<ScopedAccess> granted = requestAccess_(sidecar);
    if (!granted) {
        std::error_code ec;
        const std::filesystem::path fullPath = std::filesystem::absolute(sidecar, ec);
        diag::debug("Permission not granted for XMP sidecar: " + (ec ? sidecar : fullPath).native());
        return ProcessingResult::failed("Permission denied for XMP sidecar");
    }
    ScopedAccess access = stoppingOnce(std::move(*granted));
    const std::filesystem::path scopedSidecar = access.scopedURL;

    if (!fileExists(scopedSidecar)) {
        diag::debug("Skipping " + name + " - no XMP sidecar file exists");
        access.stop();
        return ProcessingResult::skippedMissing("No XMP sidecar file");
    }

    // The comparison hands on the bytes it read, so the sidecar is read once;
    // each step still parses its own document.
    std::optional<std::string> sidecarBytes;
    if (std::optional<ProcessingResult> decided = precheckSidecarGPS(
            fileURL, position->latitude, position->longitude, scopedSidecar, access, &sidecarBytes)) {
        access.stop();
        return std::move(*decided);
    }

    Result<SidecarUpdateOutcome> outcome =
        updateSidecarGPS(scopedSidecar, position->latitude, position->longitude, std::move(sidecarBytes));
    access.stop();
    if (!outcome) {
        const std::string& description = outcome.error().message;
        diag::debug("Failed " + name + ": " + description);
        return ProcessingResult::failed(description);
    }
    if (!outcome->written) {
        diag::debug("Already correct " + name);
        return ProcessingResult::alreadyCorrect();
    }
    if (ProcessingOptions::dryRun()) {
        std::vector<std::string> prefixed;
        prefixed.reserve(outcome->changes.size());
        for (const std::string& change : outcome->changes)
            prefixed.push_back(std::string(kDryRunPrefix) + change);
        diag::debug("Dry run \u2014 would update " + name + ": " + text::joined(prefixed, "; "));
        return ProcessingResult::updated(std::move(prefixed));
    }
    diag::debug("Updated " + name + ": " + text::joined(outcome->changes, "; "));
    return ProcessingResult::updated(std::move(outcome.value().changes));
}

}  // namespace meridane
