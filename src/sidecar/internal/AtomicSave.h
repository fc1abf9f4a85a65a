// Saving a changed sidecar: free-space check, hidden temporary file beside
// the sidecar, read back and validated, then one rename over the old file.
// Every save runs on the one serial write executor, so saves never overlap.
#pragma once

#include "base/Error.h"
#include "xmp/XmlDocument.h"

#include <cstdint>
#include <filesystem>

namespace meridane {

inline constexpr std::uint64_t kRequiredFreeBytes = 104'857'600;  // 100 MB
inline constexpr std::uint64_t kMinimumSidecarBytes = 100;

/// "." + sidecar file name + ".tmp", in the sidecar's folder.
std::filesystem::path temporaryFileFor(const std::filesystem::path& sidecarPath);

/// Runs on the calling thread; callers go through the write queue.
Status saveXMPAtomically(const xmp::XmlDocument& document, const std::filesystem::path& sidecarPath);

/// The eight checks, in order; the first failure is returned.
Status validateTempFile(const std::filesystem::path& tempPath, std::uint64_t previousSize);

}  // namespace meridane
