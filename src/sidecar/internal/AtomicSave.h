// Saving a changed sidecar: free-space check, hidden temporary file beside
// the sidecar, read back and validated, then one rename over the old file,
// every step relative to the folder held open since the read. Saves of one
// process run one at a time (the write queue); saves of one sidecar by
// several processes are kept apart by the sidecar's lock.
#pragma once

#include "base/Error.h"
#include "sidecar/SidecarGPS.h"
#include "sidecar/internal/SidecarFileState.h"
#include "xmp/XmlDocument.h"

#include <cstdint>
#include <string>

namespace meridane {

inline constexpr std::uint64_t kRequiredFreeBytes = 104'857'600;  // 100 MB
inline constexpr std::uint64_t kMinimumSidecarBytes = 100;

/// "." + sidecar file name + ".tmp".
std::string temporaryNameFor(const std::string& sidecarName);

/// Runs on the calling thread; callers go through the write queue.
/// `beforeReplace`, when given, is called with the validated new document
/// in place, just before the final check and the rename; its error stops the
/// save with the sidecar untouched.
Status saveXMPAtomically(const xmp::XmlDocument& document, SidecarFile::State& sidecar,
                         const SidecarReplaceHook& beforeReplace = {});

/// The eight checks, in order; the first failure is returned.
Status validateTempFile(int folder, const std::string& tempName, std::uint64_t previousSize);

}  // namespace meridane
