// Brings a sidecar's four GPS properties in line with the image's position
// and saves it through the atomic save, or only reports under dry run.
#pragma once

#include "core/Error.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace meridane {

struct SidecarUpdateOutcome {
    bool written = false;              ///< saved, or would be saved under dry run
    std::vector<std::string> changes;  ///< one line per changed property, in order

    bool operator==(const SidecarUpdateOutcome&) const = default;
};

/// Errors: domain "XMP" code 1, the parser's and file system's errors, and
/// the save's errors, each unchanged.
/// sidecarBytes: the sidecar's bytes as the comparison just read them, used
/// instead of reading the file again; none reads it.
Result<SidecarUpdateOutcome> updateSidecarGPS(const std::filesystem::path& sidecarURL, double latitude,
                                              double longitude, std::optional<std::string> sidecarBytes = std::nullopt);

}  // namespace meridane
