// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/internal/MediaFileProcessor.h"

#include "access/SidecarAccess.h"
#include "base/Diagnostics.h"
#include "base/FileName.h"
#include "engine/MediaIntake.h"
#include "engine/ProcessingOptions.h"
#include "base/UnicodeText.h"
#include "engine/FolderAccessPrompt.h"
#include "engine/internal/SidecarLookup.h"
#include "imagemeta/ImageMetadata.h"
#include "sidecar/SidecarGPS.h"

#include <sys/stat.h>

#include <cerrno>

#include <memory>
#include <string>
#include <utility>

namespace meridane {
namespace {

constexpr std::string_view kDryRunPrefix = "[DRY RUN] would update: ";

// Only a name that is not there counts as absent: a folder that cannot be
// searched or a path too long to open is the open's failure to report.
bool fileIsAbsent(const std::filesystem::path& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) != 0 && errno == ENOENT;
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

ProcessingResult comparisonResult(SidecarComparison comparison) {
    using Verdict = SidecarComparison::Verdict;
    switch (comparison.verdict) {
    case Verdict::noGPS:
        return ProcessingResult::skippedMissing("No GPS data in XMP sidecar");
    case Verdict::alreadyCorrect:
        return ProcessingResult::alreadyCorrect();
    case Verdict::withinTolerance:
        return ProcessingResult::withinTolerance(std::move(comparison.formatNotes));
    case Verdict::differentPlace:
    case Verdict::proceed:
        break;
    }
    return ProcessingResult::skippedDifferentGPS(std::move(comparison.differences));
}

}  // namespace

MediaFileProcessor::MediaFileProcessor(FolderAccessPrompt* prompt)
    : requestAccess_([prompt](const std::filesystem::path& sidecar, SidecarUse use) {
          FolderPrompt ask;
          if (prompt)
              ask = [prompt](const std::filesystem::path& folder) { return prompt->promptForFolderAccess(folder); };
          return requestSidecarAccess(sidecar, use, ask);
      }) {}

MediaFileProcessor::MediaFileProcessor(SidecarAccessRequest requestAccess) : requestAccess_(std::move(requestAccess)) {}

std::string MediaFileProcessor::sidecarName(std::string_view imageName, SidecarNaming naming) {
    if (naming == SidecarNaming::full)
        return std::string(imageName) + ".xmp";
    const auto dot = imageName.rfind('.');
    // A leading dot starts a name, not an extension (".heic" has none).
    std::string stem(dot == std::string_view::npos || dot == 0 ? imageName : imageName.substr(0, dot));
    return stem + ".xmp";
}

std::filesystem::path MediaFileProcessor::sidecarPath(const std::filesystem::path& filePath, SidecarNaming naming) {
    return filePath.parent_path() / sidecarName(fileNameOf(filePath), naming);
}

ProcessingResult MediaFileProcessor::processFile(const std::filesystem::path& filePath,
                                                 std::optional<Coordinate> knownCoordinate) const {
    const std::string name = filePath.filename().native();
    // One snapshot for every decision about this file and for its row.
    const ProcessingOptionValues options = processingOptions::current();

    if (!isSupportedMediaFile(filePath)) {
        const std::string extension = pathExtension(filePath);
        diag::debug(name, " unsupported extension ", extension);
        return ProcessingResult::unsupportedFile("Unsupported extension: " + extension);
    }
    diag::debug("Processing ", name);

    // The camera filter and the position come from one decode of the image.
    ImageMetadataReader image(filePath);
    // A file that is no readable image at all gets that reason, not a
    // verdict on a camera or a position it never showed.
    if (options.appleOnly || !knownCoordinate) {
        // Likewise an Exif block that gave nothing: with no camera and no
        // position read, "non-Apple" or "no GPS" would be guesses.
        std::optional<std::string> reason = image.unreadableReason();
        if (!reason)
            reason = image.damagedMetadataReason();
        if (reason) {
            diag::debug("Failed: cannot read image ", name, ": ", *reason);
            return ProcessingResult::failed("Cannot read image: " + *reason);
        }
    }
    if (options.appleOnly) {
        const std::optional<DeviceData> device = image.deviceData();
        if (device && !device->isAppleDevice()) {
            diag::debug("Skipping non-Apple: ", name);
            return ProcessingResult::skippedNonApple(device, "Non-Apple source");
        }
    }

    std::optional<Coordinate> position = knownCoordinate ? knownCoordinate : image.position();
    if (!position) {
        if (options.silentlyIgnoreSkipped) {
            diag::debug("Skipped missing GPS: ", name);
            return ProcessingResult::skippedMissing("No GPS available");
        }
        diag::debug("Failed: no GPS for ", name);
        return ProcessingResult::failed("No GPS available");
    }

    const std::filesystem::path sidecar = sidecarPath(filePath, options.sidecarNaming);
    // A dry run only reads the sidecar: a read-only card is no obstacle.
    Result<ScopedAccess> granted = requestAccess_(sidecar, options.dryRun ? SidecarUse::read : SidecarUse::write);
    if (!granted) {
        std::error_code ec;
        const std::filesystem::path fullPath = std::filesystem::absolute(sidecar, ec);
        diag::debug("Permission not granted for XMP sidecar: ", (ec ? sidecar : fullPath).native());
        return ProcessingResult::failed(granted.error().message);
    }
    ScopedAccess access = stoppingOnce(std::move(granted).value());
    std::filesystem::path scopedSidecar = access.scopedPath;

    // One read for the comparison and the update; a write run holds the
    // sidecar's lock from the read to the rename. A sidecar that another
    // program changed meanwhile is read and decided again, once.
    const SidecarWriteOptions writeOptions{options.dryRun, options.alwaysOverwrite, {}, log_,
                                           options.coordinateFormat};
    std::optional<Result<SidecarUpdateOutcome>> updated;
    for (int attempt = 1; !updated; ++attempt) {
        Result<SidecarFile> sidecarFile = SidecarFile::open(scopedSidecar, {.forSaving = !options.dryRun});
        // Whether the sidecar exists is asked only when it could not be
        // opened: an opened file exists, and one stat less per file counts.
        if (attempt == 1 && !sidecarFile && fileIsAbsent(scopedSidecar)) {
            // Another name that differs only in letter case is the sidecar,
            // as a case-insensitive file system would take it.
            const std::filesystem::path folder = scopedSidecar.parent_path();
            const std::string wanted = scopedSidecar.filename().native();
            const std::vector<std::string> variants =
                caseVariantsIn(listings_ ? *listings_->sidecarNamesIn(folder) : listSidecarNames(folder), wanted);
            if (variants.empty()) {
                diag::debug("Skipping ", name, " - no XMP sidecar file exists");
                access.stop();
                return ProcessingResult::skippedMissing("No XMP sidecar file");
            }
            if (variants.size() > 1) {
                const std::string names = text::joined(variants, ", ");
                diag::debug("Failed ", name, ": several XMP sidecars differ only in letter case: ", names);
                access.stop();
                return ProcessingResult::failed("Several XMP sidecars differ only in letter case: " + names);
            }
            diag::debug("XMP sidecar of ", name, " found as ", variants.front());
            scopedSidecar = folder / variants.front();
            sidecarFile = SidecarFile::open(scopedSidecar, {.forSaving = !options.dryRun});
        }
        SidecarComparison comparison = precheckSidecarGPS(filePath, position->latitude, position->longitude,
                                                          sidecarFile, options.alwaysOverwrite,
                                                          options.coordinateFormat);
        if (comparison.verdict != SidecarComparison::Verdict::proceed) {
            access.stop();
            return comparisonResult(std::move(comparison));
        }
        Result<SidecarUpdateOutcome> outcome =
            updateSidecarGPS(sidecarFile, position->latitude, position->longitude, writeOptions);
        if (!outcome && outcome.error().domain == ErrorDomain::xmp && outcome.error().code == kSidecarChanged &&
            attempt == 1) {
            diag::debug("XMP sidecar changed while ", name, " was being updated; reading it again");
            continue;
        }
        updated.emplace(std::move(outcome));
    }
    Result<SidecarUpdateOutcome>& outcome = *updated;
    access.stop();
    if (!outcome) {
        const std::string& description = outcome.error().message;
        diag::debug("Failed ", name, ": ", description);
        return ProcessingResult::failed(description);
    }
    if (!outcome->written) {
        diag::debug("Already correct ", name);
        return ProcessingResult::alreadyCorrect();
    }
    if (options.dryRun) {
        std::vector<std::string> prefixed;
        prefixed.reserve(outcome->changes.size());
        for (const std::string& change : outcome->changes)
            prefixed.push_back(std::string(kDryRunPrefix) + change);
        if (diag::isListening())
            diag::debug("Dry run \u2014 would update ", name, ": ", text::joined(prefixed, "; "));
        return ProcessingResult::updated(std::move(prefixed), true);
    }
    if (diag::isListening())
        diag::debug("Updated ", name, ": ", text::joined(outcome->changes, "; "));
    return ProcessingResult::updated(std::move(outcome.value().changes));
}

}  // namespace meridane
