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
        } else if (argument == "--debug") {
            options.debug = true;
        } else if (argument == "--json") {
            options.json = true;
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
    if (options.paths.empty()) {
        parsed.action = ParsedCommandLine::Action::usageError;
        parsed.error = "no path given";
    }
    return parsed;
}

std::string usageText() {
    return "Usage: meridane-cli [OPTION]... PATH...\n"
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
           "  --debug                    write the diagnostic lines to standard error\n"
           "  --json                     one JSON object per result line instead of the report\n"
           "  -h, --help                 show this help and exit\n"
           "      --version              show the version and exit\n"
           "\n"
           "Ctrl+C (SIGINT) or SIGTERM starts no new file, lets the saves under way finish\n"
           "and prints the report of what was done; a second one ends at once.\n"
           "\n"
           "Exit status: 0 when every file was done and none failed, 1 when a file failed\n"
           "or a path could not be read, 2 for a usage error, 130 or 143 when stopped by\n"
           "SIGINT or SIGTERM.\n";
}

std::string versionText() { return std::string("meridane-cli ") + MERIDANE_VERSION + "\n"; }

}  // namespace meridane::cli
