// Temporary bridge for tests written against the old comparison/update calls
// (options read from the process, a ProcessingResult from the comparison).
#pragma once

#include "access/SidecarAccess.h"
#include "engine/ProcessingOptions.h"
#include "engine/ProcessingResult.h"
#include "sidecar/SidecarGPS.h"

namespace meridane::testing {

inline std::optional<ProcessingResult> legacyPrecheck(const std::filesystem::path& image, double latitude,
                                                      double longitude, const std::filesystem::path& sidecar,
                                                      ScopedAccess& access,
                                                      std::optional<std::string>* bytes = nullptr) {
    SidecarComparison c = precheckSidecarGPS(image, latitude, longitude, sidecar,
                                             processingOptions::current().alwaysOverwrite, bytes);
    using Verdict = SidecarComparison::Verdict;
    if (c.verdict == Verdict::proceed)
        return std::nullopt;
    if (access.stop)
        access.stop();
    switch (c.verdict) {
    case Verdict::noGPS: return ProcessingResult::skippedMissing("No GPS data in XMP sidecar");
    case Verdict::alreadyCorrect: return ProcessingResult::alreadyCorrect();
    case Verdict::withinTolerance: return ProcessingResult::withinTolerance(c.formatNotes);
    default: return ProcessingResult::skippedDifferentGPS(c.differences);
    }
}

inline Result<SidecarUpdateOutcome> legacyUpdate(const std::filesystem::path& sidecar, double latitude,
                                                 double longitude, std::optional<std::string> bytes = std::nullopt) {
    const ProcessingOptionValues o = processingOptions::current();
    return updateSidecarGPS(sidecar, latitude, longitude, {o.dryRun, o.alwaysOverwrite}, std::move(bytes));
}

}  // namespace meridane::testing
