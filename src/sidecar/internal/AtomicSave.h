// SPDX-License-Identifier: GPL-3.0-or-later
// Saving a changed sidecar: free-space check, hidden temporary file beside
// the sidecar, read back and validated, then one swap of names with the old
// file (one rename where the file system cannot swap), every step relative
// to the folder held open since the read. Saves of one process run one at a
// time (the write queue); saves of one sidecar by several processes are kept
// apart by the sidecar's lock.
#pragma once

#include "base/Error.h"
#include "sidecar/SidecarGPS.h"
#include "sidecar/internal/SidecarFileState.h"

#include <cstdint>
#include <string>

namespace meridane {

inline constexpr std::uint64_t kRequiredFreeBytes = 104'857'600;  // 100 MB
inline constexpr std::uint64_t kMinimumSidecarBytes = 100;

/// "." + sidecar file name + ".tmp".
std::string temporaryNameFor(const std::string& sidecarName);

/// How the temporary file is checked: an update's by validateTempFile's
/// eight checks; a restore's to hold exactly the earlier bytes, which need
/// not hold GPS properties nor reach the size of a new document.
enum class SavedContent { updatedSidecar, restoredSidecar };

/// The save of an update and of a restore: `text` is what the sidecar is to
/// hold. Runs on the calling thread; callers go through the write queue.
/// `beforeReplace`, when given, is called with the validated new document
/// in place, just before the final check and the replacement; its error
/// stops the save with the sidecar untouched and the temporary file removed.
Status saveSidecarText(const std::string& text, SidecarFile::State& sidecar, SavedContent content,
                       const SidecarReplaceHook& beforeReplace = {});

/// Refuses a document larger than a read accepts: it could be neither read
/// again nor put back by an undo.
Status checkSavedSize(std::uint64_t size);

/// saveSidecarText on the write queue, with the options' replacement log
/// told before (outside the queue), at the rename, and after.
Status saveWithOptions(const std::string& text, SidecarFile::State& sidecar, SavedContent content,
                       const SidecarWriteOptions& options);

/// The eight checks, in order; the first failure is returned.
Status validateTempFile(int folder, const std::string& tempName, std::uint64_t previousSize,
                        SavedContent content = SavedContent::updatedSidecar);

}  // namespace meridane
