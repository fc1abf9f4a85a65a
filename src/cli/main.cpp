// SPDX-License-Identifier: GPL-3.0-or-later
// meridane-cli: the batch run of the window, from a shell.
#include "cli/CliRun.h"

int main(int argc, char** argv) { return meridane::cli::cliMain(argc, argv); }
