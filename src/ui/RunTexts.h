// SPDX-License-Identifier: GPL-3.0-or-later
// Texts of the window that carry counts and times: counts grouped as the
// user's locale writes them, times in the local zone in the locale's short
// form. The report on the clipboard keeps its own fixed forms.
#pragma once

#include "ui/ResultsModel.h"

#include <QString>

#include <chrono>
#include <cstdint>

namespace meridane::ui {

/// 20000 as "20,000" or "20.000", per locale.
QString countText(std::int64_t count);

/// The local time of day ("14:02", "2:02 PM"), with the date when it is not today.
QString localTimeText(std::chrono::system_clock::time_point time,
                      std::chrono::system_clock::time_point now = std::chrono::system_clock::now());

/// The counts per outcome in words, in a fixed order, leaving out the absent:
/// "1 would update, 1 already correct, 2 skipped: missing, 1 failed".
QString outcomeCountsText(const ResultsModel::Counts& counts);

/// "3 files: " + outcomeCountsText, or empty without results.
QString summaryLineText(const ResultsModel::Counts& counts);

/// "Write 12 Changes…" ("Write 1 Change…").
QString writeChangesText(std::int64_t count);

}  // namespace meridane::ui
