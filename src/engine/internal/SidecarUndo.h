// SPDX-License-Identifier: GPL-3.0-or-later
// One sidecar of an undone run: put back its bytes from before the run when
// it still holds exactly what the run wrote, through the atomic save.
#pragma once

#include "engine/ProcessingResult.h"
#include "journal/RunStore.h"
#include "sidecar/SidecarGPS.h"

namespace meridane {

inline constexpr const char* kChangedSinceRun = "changed since the run";
inline constexpr const char* kSidecarMissing = "sidecar missing";
inline constexpr const char* kOtherFolder = "The sidecar's folder is not the folder the run wrote in";

/// Never fails: every problem becomes the row's result. `log` journals the
/// restore, so that the undo can be undone in turn.
ProcessingResult undoSidecar(const journal::OpenedRun& run, const journal::RunEntry& entry, ReplacementLog* log);

}  // namespace meridane
