// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/RunCommands.h"

#include "base/ControlText.h"
#include "engine/RunHistory.h"

#include <string>

namespace meridane::cli {
namespace {

void write(std::FILE* stream, const std::string& text) { std::fwrite(text.data(), 1, text.size(), stream); }

}  // namespace

int listRuns(const std::filesystem::path& folder, std::FILE* out) {
    const RunHistory history(folder);
    const std::vector<KeptRun> runs = history.list();
    for (const KeptRun& run : runs)
        write(out, runListLine(run) + "\n");
    for (const std::string& name : history.unknownFiles())
        write(out, unknownFileLine(name) + "\n");
    write(out, std::to_string(runs.size()) + (runs.size() == 1 ? " run kept, " : " runs kept, ") +
                   byteSizeText(history.totalBytes()) + " in " + text::escapedControls(folder.native()) + "\n");
    std::fflush(out);
    return 0;
}

int forgetRuns(const std::filesystem::path& folder, std::FILE* out) {
    const std::size_t removed = RunHistory(folder).forgetAll();
    write(out, "Forgot " + std::to_string(removed) + (removed == 1 ? " run" : " runs") + "\n");
    std::fflush(out);
    return 0;
}

}  // namespace meridane::cli
