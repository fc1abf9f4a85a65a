// SPDX-License-Identifier: GPL-3.0-or-later
// The texts of results as the window shows them and the clipboard and CLI
// carry them: one row's report text, its line, and the whole report. Control
// characters in names and payloads are written as \xHH, so every result is
// one entry whose only line breaks are its own.
#pragma once

#include "engine/ProcessingOptions.h"
#include "engine/ProcessingResult.h"

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace meridane {

/// "2025-03-14 10:15:30 +0000": a time in UTC as reports and run lists show it.
std::string utcTimeText(std::chrono::system_clock::time_point time);

/// An updated row reads as a dry run when the run that made it was one.
std::string reportText(const ProcessingResult& result);

/// The last path component as reports show it (control characters escaped).
std::string fileNameText(const std::filesystem::path& filePath);

/// fileNameText + ": " + reportText.
std::string resultLine(const ProcessingResultDetail& detail);

/// The report's first line: the UTC time and the settings (for an undo:
/// "Undo of run " + the run's id instead of the settings).
std::string reportHeader(const ProcessingOptionValues& options, std::chrono::system_clock::time_point now,
                         const std::string& undoneRun = {});

/// Header line with the UTC time and settings (for an undo: "Undo of run " +
/// the run's id instead of the settings), then one line per entry; joined
/// with single newlines, no newline at the end.
std::string allResultsReport(const std::vector<const ProcessingResultDetail*>& visible,
                             const ProcessingOptionValues& options, std::chrono::system_clock::time_point now,
                             const std::string& undoneRun = {});

}  // namespace meridane
