// SPDX-License-Identifier: GPL-3.0-or-later
// What a run's journal says about the run as a whole, read in one pass with
// memory that does not grow with the journal.
#pragma once

#include "journal/RunStore.h"

#include <filesystem>

namespace meridane::journal {

RunSummary summarizeJournal(int fd, const std::filesystem::path& file);

}  // namespace meridane::journal
