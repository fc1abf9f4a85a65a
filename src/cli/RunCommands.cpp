// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/RunCommands.h"

#include "cli/ReportStream.h"

#include "base/ControlText.h"
#include "engine/RunHistory.h"

#include <string>
#include <string_view>

namespace meridane::cli {
namespace {

int finish(ReportStream& out, std::FILE* err, std::string_view what) {
    if (out.flush())
        return 0;
    const std::string message = "meridane-cli: cannot write " + std::string(what) + ": " + out.reason() + "\n";
    std::fwrite(message.data(), 1, message.size(), err);
    return 1;
}

}  // namespace

int listRuns(const std::filesystem::path& folder, std::FILE* stream, std::FILE* err) {
    ReportStream out(stream);
    const RunHistory history(folder);
    const std::vector<KeptRun> runs = history.list();
    for (const KeptRun& run : runs)
        out.write(runListLine(run) + "\n");
    for (const std::string& name : history.unknownFiles())
        out.write(unknownFileLine(name) + "\n");
    out.write(std::to_string(runs.size()) + (runs.size() == 1 ? " run kept, " : " runs kept, ") +
              byteSizeText(history.totalBytes()) + " in " + text::escapedControls(folder.native()) + "\n");
    return finish(out, err, "the list");
}

int forgetRuns(const std::filesystem::path& folder, std::FILE* stream, std::FILE* err) {
    ReportStream out(stream);
    // A run being written or undone by another process stays; say so.
    std::size_t kept = 0;
    const std::size_t removed = RunHistory(folder).forgetAll(&kept);
    out.write("Forgot " + std::to_string(removed) + (removed == 1 ? " run" : " runs") +
              (kept == 0 ? "" : "; " + std::to_string(kept) + (kept == 1 ? " run in use was kept" : " runs in use were kept")) +
              "\n");
    return finish(out, err, "what was forgotten");
}

}  // namespace meridane::cli
