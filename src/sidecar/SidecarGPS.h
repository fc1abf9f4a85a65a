// What a sidecar says about the position, measured against the image's, and
// bringing its four GPS properties in line: compare first, then update and
// save through the atomic save, or only report under dry run.
#pragma once

#include "base/Error.h"
#include "base/GPSDifference.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace meridane {

/// Position tolerance in degrees, per coordinate, inclusive.
inline constexpr double kPositionTolerance = 0.0001;

/// The two options the sidecar code obeys, taken once per file by the caller.
struct SidecarWriteOptions {
    bool dryRun = true;
    bool alwaysOverwrite = false;
};

/// How the comparison ends a file, or that it goes on to the update.
struct SidecarComparison {
    enum class Verdict {
        proceed,          ///< go on to updateSidecarGPS
        noGPS,            ///< the sidecar holds no GPS property at all
        alreadyCorrect,   ///< same place, same text
        withinTolerance,  ///< same place; formatNotes say how the text differs
        differentPlace,   ///< another place; differences list how
    };
    Verdict verdict = Verdict::proceed;
    std::vector<std::string> formatNotes;
    std::vector<GPSDifference> differences;
};

/// Compares the sidecar with the image's position. A sidecar that cannot be
/// read or parsed goes on (the update reports why). sidecarBytes, when
/// given, receives the bytes read whenever the file goes on, so that the
/// update need not read them again.
SidecarComparison precheckSidecarGPS(const std::filesystem::path& imagePath, double latitude, double longitude,
                                     const std::filesystem::path& sidecarPath, bool alwaysOverwrite,
                                     std::optional<std::string>* sidecarBytes = nullptr);

struct SidecarUpdateOutcome {
    bool written = false;              ///< saved, or would be saved under dry run
    std::vector<std::string> changes;  ///< one line per changed property, in order

    bool operator==(const SidecarUpdateOutcome&) const = default;
};

/// Errors: domain XMP code 1, the parser's and file system's errors, and the
/// save's errors, each unchanged. sidecarBytes: the sidecar's bytes as the
/// comparison just read them, used instead of reading the file again.
Result<SidecarUpdateOutcome> updateSidecarGPS(const std::filesystem::path& sidecarPath, double latitude,
                                              double longitude, const SidecarWriteOptions& options,
                                              std::optional<std::string> sidecarBytes = std::nullopt);

}  // namespace meridane
