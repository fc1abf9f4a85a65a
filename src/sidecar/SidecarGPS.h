// SPDX-License-Identifier: GPL-3.0-or-later
// What a sidecar says about the position, measured against the image's, and
// bringing its four GPS properties in line: compare first, then update and
// save through the atomic save, or only report under dry run.
#pragma once

#include "base/Error.h"
#include "base/GPSDifference.h"
#include "base/GPSText.h"
#include "sidecar/SidecarFile.h"

#include <filesystem>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace meridane {

/// Position tolerance in degrees, per coordinate, inclusive.
inline constexpr double kPositionTolerance = 0.0001;

/// What a save is about to replace: handed to SidecarWriteOptions::beforeReplace
/// once the new document is written and validated, just before the rename.
struct SidecarReplacement {
    const std::filesystem::path& sidecarPath;  ///< as the caller gave it
    const std::filesystem::path& replacedPath; ///< the file replaced (a link's target)
    const std::string& oldBytes;               ///< its content, as read and still on disk
    const std::string& newBytes;               ///< what replaces it
};

/// May stop the save (its error becomes the save's) with the sidecar untouched.
using SidecarReplaceHook = std::function<Status(const SidecarReplacement&)>;

/// Keeps what saves replace, so that a run can be undone (the run journal).
/// A save records its replacement as soon as the new bytes are known, before
/// it waits for the write queue, so that the entries of the files in flight
/// can share one flush; the entry must be durable before the rename.
class ReplacementLog {
public:
    virtual ~ReplacementLog() = default;
    /// Its error fails the save before anything is written.
    virtual Result<std::uint32_t> record(const SidecarReplacement& replacement) = 0;
    /// Called just before the rename; its error stops the save.
    virtual Status makeDurable(std::uint32_t entry) = 0;
    /// Whether the save replaced the sidecar.
    virtual void settle(std::uint32_t entry, bool replaced) = 0;
};

/// The options the sidecar code obeys, taken once per file by the caller.
struct SidecarWriteOptions {
    bool dryRun = true;
    bool alwaysOverwrite = false;
    SidecarReplaceHook beforeReplace;
    ReplacementLog* log = nullptr;
    /// The form a coordinate is written in.
    CoordinateFormat coordinateFormat = CoordinateFormat::decimal;
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

/// Compares the sidecar, as read, with the image's position; a text is
/// correct when it is the one `format` writes. A sidecar that could not be
/// read or parsed, or whose GPS property is a struct or an array, goes on
/// (the update reports why).
SidecarComparison precheckSidecarGPS(const std::filesystem::path& imagePath, double latitude, double longitude,
                                     const Result<SidecarFile>& sidecar, bool alwaysOverwrite,
                                     CoordinateFormat format = CoordinateFormat::decimal);

struct SidecarUpdateOutcome {
    bool written = false;              ///< saved, or would be saved under dry run
    std::vector<std::string> changes;  ///< one line per changed property, in order

    bool operator==(const SidecarUpdateOutcome&) const = default;
};

/// Updates the sidecar as read (the same read the comparison saw); a save
/// needs it opened forSaving. Errors: domain XMP code 1, the read's error,
/// the parser's error and the save's errors, each unchanged. A save that
/// finds the file changed since the read fails with kSidecarChanged; the
/// caller reads it again and decides afresh.
Result<SidecarUpdateOutcome> updateSidecarGPS(Result<SidecarFile>& sidecar, double latitude, double longitude,
                                              const SidecarWriteOptions& options);

/// Puts a sidecar's earlier bytes back over the file read (opened forSaving),
/// through the same save as an update: temporary file, read back and checked
/// for size, well-formed XML and the XMP structure (not for GPS properties,
/// which a restored sidecar may lack), then one rename.
Status restoreSidecarBytes(SidecarFile& sidecar, const std::string& bytes, const SidecarWriteOptions& options);

/// The GPS properties that differ between two sidecar texts, one line each
/// in the form of an update's change lines: "exif:GPSLatitude: 52.45960556N →
/// 52.4596055555556"; "(empty)" stands for an absent property.
std::vector<std::string> gpsChangeLines(const std::string& fromBytes, const std::string& toBytes);

}  // namespace meridane
