// The texts of results as the window shows them and the clipboard and CLI
// carry them: one row's report text, its line, and the whole report.
#pragma once

#include "core/ProcessingOptions.h"
#include "core/ProcessingResult.h"

#include <chrono>
#include <string>
#include <vector>

namespace meridane {

/// dryRun is the front end's current value, not the one in force when the
/// file was processed.
std::string reportText(const ProcessingResult& result, bool dryRun);

/// File name + ": " + reportText.
std::string resultLine(const ProcessingResultDetail& detail, bool dryRun);

/// Header line with the UTC time and settings, then one line per entry;
/// joined with single newlines, no newline at the end.
std::string allResultsReport(const std::vector<const ProcessingResultDetail*>& visible,
                             const ProcessingOptionValues& options, std::chrono::system_clock::time_point now);

}  // namespace meridane
