// SPDX-License-Identifier: GPL-3.0-or-later
// meridane-cli's commands on the kept runs: --list-runs and --forget-runs.
#pragma once

#include <cstdio>
#include <filesystem>

namespace meridane::cli {

/// One line per kept run, oldest first, then the space they take. Status 0,
/// or 1 (with the reason on err) when out could not take them.
int listRuns(const std::filesystem::path& folder, std::FILE* out, std::FILE* err);
/// Removes every kept run not in use and says how many went, and how many
/// stayed; status as above.
int forgetRuns(const std::filesystem::path& folder, std::FILE* out, std::FILE* err);

}  // namespace meridane::cli
