// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/RunHistory.h"

#include "base/ControlText.h"
#include "engine/Report.h"
#include "journal/RunStore.h"

namespace meridane {
namespace {

KeptRun kept(journal::RunSummary summary) {
    return KeptRun{std::move(summary.id),      summary.started,         std::move(summary.undoes),
                   std::move(summary.undoneBy), std::move(summary.folders), summary.sidecars,
                   summary.finished,            summary.damaged,         summary.bytes};
}

std::optional<KeptRun> kept(std::optional<journal::RunSummary> summary) {
    if (!summary)
        return std::nullopt;
    return kept(std::move(*summary));
}

}  // namespace

std::filesystem::path RunHistory::defaultFolder() { return journal::defaultRunsFolder(); }

RunHistory::RunHistory(std::filesystem::path folder) : folder_(std::move(folder)) {}

std::vector<KeptRun> RunHistory::list() const {
    std::vector<KeptRun> runs;
    for (journal::RunSummary& summary : journal::RunStore(folder_).list())
        runs.push_back(kept(std::move(summary)));
    return runs;
}

std::optional<KeptRun> RunHistory::latestUndoable() const { return kept(journal::RunStore(folder_).latestUndoable()); }
std::optional<KeptRun> RunHistory::latestUndoableWrite() const {
    std::vector<KeptRun> runs = list();
    for (auto run = runs.rbegin(); run != runs.rend(); ++run) {
        if (run->undoes.empty() && run->undoneBy.empty() && run->sidecars > 0 && !run->damaged)
            return std::move(*run);
    }
    return std::nullopt;
}

std::optional<KeptRun> RunHistory::latestRedoable() const {
    std::vector<KeptRun> runs = list();
    for (auto run = runs.rbegin(); run != runs.rend(); ++run) {
        if (!run->undoneBy.empty() || run->sidecars == 0)
            continue;  // an undone run, or one that changed nothing, is not the last action
        if (!run->undoes.empty() && !run->damaged)
            return std::move(*run);
        return std::nullopt;
    }
    return std::nullopt;
}

std::optional<KeptRun> RunHistory::find(const std::string& id) const { return kept(journal::RunStore(folder_).find(id)); }
std::uint64_t RunHistory::totalBytes() const { return journal::RunStore(folder_).totalBytes(); }
std::size_t RunHistory::keptCount() const { return journal::RunStore(folder_).count(); }
std::size_t RunHistory::forgetAll() const { return journal::RunStore(folder_).forgetAll(); }

std::string runListLine(const KeptRun& run) {
    std::string line = run.id + "  " + utcTimeText(run.started) + "  ";
    line += run.undoes.empty() ? "write run" : "undo of " + text::escapedControls(run.undoes);
    line += "  " + std::to_string(run.sidecars) + (run.sidecars == 1 ? " sidecar" : " sidecars");
    line += run.undoneBy.empty() ? "  not undone" : "  undone";
    if (!run.finished)
        line += " (interrupted)";
    if (run.damaged)
        line += " (damaged)";
    constexpr std::size_t kShownFolders = 3;
    for (std::size_t i = 0; i < run.folders.size() && i < kShownFolders; ++i)
        line += (i ? ", " : "  ") + text::escapedControls(run.folders[i].native());
    if (run.folders.size() > kShownFolders)
        line += " and " + std::to_string(run.folders.size() - kShownFolders) + " more folders";
    return line;
}

std::string byteSizeText(std::uint64_t bytes) {
    if (bytes < 1024)
        return std::to_string(bytes) + " bytes";
    const char* units[] = {"KB", "MB", "GB", "TB"};
    std::uint64_t scale = 1024;
    int unit = 0;
    while (unit < 3 && bytes >= scale * 1024) {
        scale *= 1024;
        ++unit;
    }
    const std::uint64_t tenths = (bytes * 10 + scale / 2) / scale;
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " " + units[unit];
}

}  // namespace meridane
