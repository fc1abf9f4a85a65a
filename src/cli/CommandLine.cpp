// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/CommandLine.h"

namespace meridane::cli {

ParsedCommandLine parseCommandLine(const std::vector<std::string>& arguments) {
    ParsedCommandLine parsed;
    CliOptions& options = parsed.options;
    bool optionsEnded = false;
    for (const std::string& argument : arguments) {
        if (optionsEnded || argument == "-" || argument.empty() || argument.front() != '-') {
            options.paths.emplace_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
        } else if (argument == "--write") {
            options.processing.dryRun = false;
        } else if (argument == "--always-overwrite") {
            options.processing.alwaysOverwrite = true;
        } else if (argument == "--any-camera") {
            options.processing.appleOnly = false;
        } else if (argument == "--silently-ignore-skipped") {
            options.processing.silentlyIgnoreSkipped = true;
        } else if (argument.starts_with("--coordinate-format=")) {
            const std::string value = argument.substr(20);
            if (value == "decimal" || value == "dm") {
                options.processing.coordinateFormat = value == "dm" ? CoordinateFormat::dm : CoordinateFormat::decimal;
            } else {
                parsed.action = ParsedCommandLine::Action::usageError;
                parsed.error = "--coordinate-format= takes decimal or dm, not '" + value + "'";
                return parsed;
            }
        } else if (argument.starts_with("--sidecar-name=")) {
            const std::string value = argument.substr(15);
            if (value == "stem" || value == "full") {
                options.processing.sidecarNaming = value == "full" ? SidecarNaming::full : SidecarNaming::stem;
            } else {
                parsed.action = ParsedCommandLine::Action::usageError;
                parsed.error = "--sidecar-name= takes stem or full, not '" + value + "'";
                return parsed;
            }
        } else if (argument == "--debug") {
            options.debug = true;
        } else if (argument == "--json") {
            options.json = true;
        } else if (argument == "--undo" || argument.starts_with("--undo=")) {
            options.command = CliOptions::Command::undo;
            options.undoRun = argument.size() > 6 ? argument.substr(7) : std::string();
            if (argument.size() > 6 && options.undoRun.empty()) {
                parsed.action = ParsedCommandLine::Action::usageError;
                parsed.error = "--undo= needs the id of a run (see --list-runs)";
                return parsed;
            }
        } else if (argument == "--list-runs") {
            options.command = CliOptions::Command::listRuns;
        } else if (argument == "--forget-runs") {
            options.command = CliOptions::Command::forgetRuns;
        } else if (argument == "--help" || argument == "-h") {
            parsed.action = ParsedCommandLine::Action::help;
            return parsed;
        } else if (argument == "--version") {
            parsed.action = ParsedCommandLine::Action::version;
            return parsed;
        } else {
            parsed.action = ParsedCommandLine::Action::usageError;
            parsed.error = "unknown option '" + argument + "'";
            return parsed;
        }
    }
    if (options.command != CliOptions::Command::process) {
        if (!options.paths.empty()) {
            parsed.action = ParsedCommandLine::Action::usageError;
            parsed.error = "--undo, --list-runs and --forget-runs take no path";
        }
        return parsed;
    }
    if (options.paths.empty()) {
        parsed.action = ParsedCommandLine::Action::usageError;
        parsed.error = "no path given";
    }
    return parsed;
}

std::string usageText() {
    return "Usage: meridane-cli [OPTION]... PATH...\n"
           "  or:  meridane-cli --undo[=RUN] | --list-runs | --forget-runs\n"
           "Copies each photo's own GPS position into the XMP sidecar beside it\n"
           "(IMG_0001.HEIC and IMG_0001.xmp). Folders are searched recursively for\n"
           "HEIC, HEIF and DNG files. Sidecars are never created and images never\n"
           "touched. Without --write nothing is written: the report says what would be.\n"
           "\n"
           "Options:\n"
           "  --write                    write the sidecars (the default is a dry run)\n"
           "  --always-overwrite         update sidecars even when they name another place\n"
           "  --any-camera               also process photos from non-Apple cameras\n"
           "  --silently-ignore-skipped  treat photos without GPS as skipped, and leave\n"
           "                             skipped and correct files out of the report\n"
           "  --coordinate-format=FORM   the form written: decimal (30.58036667N, the\n"
           "                             default) or dm, the XMP standard's degrees and\n"
           "                             decimal minutes (30,34.822000N)\n"
           "  --sidecar-name=NAMING      stem: IMG_0001.HEIC's sidecar is IMG_0001.xmp (the\n"
           "                             default); full: IMG_0001.HEIC.xmp. A name that\n"
           "                             differs only in letter case is found too\n"
           "  --debug                    write the diagnostic lines to standard error\n"
           "  --json                     one JSON object per result line instead of the report\n"
           "  --undo                     put back the sidecars of the most recent write run\n"
           "                             not yet undone (an undo is a run too: undo it again)\n"
           "  --undo=RUN                 undo the run RUN instead\n"
           "  --list-runs                list the kept runs and the space they take\n"
           "  --forget-runs              remove every kept run\n"
           "  -h, --help                 show this help and exit\n"
           "      --version              show the version and exit\n"
           "\n"
           "Ctrl+C (SIGINT) or SIGTERM starts no new file, lets the saves under way finish\n"
           "and prints the report of what was done; a second one ends at once.\n"
           "\n"
           "Exit status: 0 when every file was done and none failed, 1 when a file failed,\n"
           "a path could not be read or the report could not be written (the run then\n"
           "stops), 2 for a usage error, 130 or 143 when stopped by SIGINT or SIGTERM.\n"
           "\n"
           "Every write run keeps a journal of the sidecars it replaces in\n"
           "$XDG_STATE_HOME/meridane/runs (~/.local/state/meridane/runs): the last 50 runs,\n"
           "or those of the last 90 days when they are more, within 512 MiB. An undo puts\n"
           "back each sidecar that still holds exactly what the run wrote; the others are\n"
           "reported and left alone.\n";
}

std::string versionText() { return std::string("meridane-cli ") + MERIDANE_VERSION + "\n"; }

}  // namespace meridane::cli
