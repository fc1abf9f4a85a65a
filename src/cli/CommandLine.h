// SPDX-License-Identifier: GPL-3.0-or-later
// The command line of meridane-cli: options, paths, and what to do with them.
#pragma once

#include "engine/ProcessingOptions.h"

#include <filesystem>
#include <string>
#include <vector>

namespace meridane::cli {

struct CliOptions {
    /// What to do: a run over the paths, or one of the commands on kept runs.
    enum class Command { process, undo, listRuns, forgetRuns };
    Command command = Command::process;
    std::string undoRun;  ///< --undo=RUN; empty for the most recent run not undone

    /// The window's defaults: dry run on, always-overwrite off, Apple only on,
    /// silent skip off.
    ProcessingOptionValues processing;
    bool debug = false;
    bool json = false;
    std::vector<std::filesystem::path> paths;
};

struct ParsedCommandLine {
    enum class Action { run, help, version, usageError };
    Action action = Action::run;
    CliOptions options;
    std::string error;  ///< for usageError: what was wrong, one line
};

/// Arguments without the program name, as bytes (paths need not be UTF-8).
ParsedCommandLine parseCommandLine(const std::vector<std::string>& arguments);

std::string usageText();
std::string versionText();

}  // namespace meridane::cli
