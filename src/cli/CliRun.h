// SPDX-License-Identifier: GPL-3.0-or-later
// meridane-cli's work, apart from main() so that the benchmark and the tests
// run exactly what the command runs: one batch run over the paths, the report
// (or JSON lines) on standard output, progress and a summary on standard error.
#pragma once

#include "cli/CommandLine.h"

#include <cstdio>

namespace meridane::cli {

struct CliOutput {
    std::FILE* out = stdout;
    std::FILE* err = stderr;
    /// Show the one-line progress display (on when standard error is a terminal).
    bool progress = false;
};

/// Runs one batch over the options' paths and writes the outputs. Needs a
/// QCoreApplication; runs its event loop until the batch has finished.
/// Returns the exit status: 0 when no result failed and every path could be
/// read and the whole report was written, 1 otherwise (a report that cannot
/// be written stops the run); 128 + the signal when SIGINT or SIGTERM stopped it.
int runCommandLine(const CliOptions& options, const CliOutput& output);

/// Whether to draw the progress line: standard error is a terminal, and the
/// rows do not go into a pipe, which mostly ends on that same terminal.
bool showsProgress(int outFd, int errFd);

/// The whole command: parses, answers --help, --version and usage errors
/// (status 2, nothing processed), then makes the application and runs.
int cliMain(int argc, char** argv);

}  // namespace meridane::cli
