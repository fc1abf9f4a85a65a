// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/RunHistory.h"

#include "base/ControlText.h"
#include "engine/Report.h"
#include "journal/RunStore.h"

#include <algorithm>
#include <unordered_map>

namespace meridane {
namespace {

KeptRun kept(journal::RunSummary summary) {
    return KeptRun{.id = std::move(summary.id),
                   .started = summary.started,
                   .undoes = std::move(summary.undoes),
                   .undoneBy = std::move(summary.undoneBy),
                   .folders = std::move(summary.folders),
                   .sidecars = summary.sidecars,
                   .finished = summary.finished,
                   .damaged = summary.damaged,
                   .bytes = summary.bytes,
                   .folderCount = summary.folderCount};
}

std::optional<KeptRun> kept(std::optional<journal::RunSummary> summary) {
    if (!summary)
        return std::nullopt;
    return kept(std::move(*summary));
}

/// Sets what the runs say of each other: undone by an undo not taken back,
/// undos left unfinished and the runs they left partly undone.
void relate(std::vector<KeptRun>& runs) {
    std::unordered_map<std::string, std::size_t> byId;
    for (std::size_t i = 0; i < runs.size(); ++i)
        byId.emplace(runs[i].id, i);
    auto find = [&](const std::string& id) -> KeptRun* {
        const auto at = byId.find(id);
        return at == byId.end() ? nullptr : &runs[at->second];
    };
    for (KeptRun& run : runs) {
        // Undone, undone undo (a redo), undone redo... until a run not undone
        // or no longer kept; a crafted ring ends after a bound.
        bool undone = false, ended = false;
        const KeptRun* at = &run;
        for (int depth = 0; depth < journal::RunStore::kUndoChain && !at->undoneBy.empty(); ++depth) {
            const KeptRun* by = find(at->undoneBy);
            if (!by) {  // undone by a run no longer kept
                run.fullyUndone = !undone;
                ended = true;
                break;
            }
            undone = !undone;
            at = by;
        }
        if (!ended)
            run.fullyUndone = undone;
    }
    for (KeptRun& run : runs) {
        if (run.undoes.empty())
            continue;
        if (KeptRun* target = find(run.undoes); target && !target->fullyUndone && !run.fullyUndone) {
            run.unfinishedUndo = true;
            target->partlyUndone = true;
        }
    }
}

}  // namespace

std::filesystem::path RunHistory::defaultFolder() { return journal::defaultRunsFolder(); }

RunHistory::RunHistory(std::filesystem::path folder)
    : folder_(std::move(folder)), store_(std::make_shared<const journal::RunStore>(folder_)) {}

std::vector<KeptRun> RunHistory::list() const {
    std::vector<KeptRun> runs;
    for (journal::RunSummary& summary : store_->list())
        runs.push_back(kept(std::move(summary)));
    relate(runs);
    return runs;
}

std::vector<std::string> RunHistory::unknownFiles() const { return store_->unknownFiles(); }

std::optional<KeptRun> RunHistory::latestUndoable() const {
    std::optional<KeptRun> run = kept(store_->latestUndoable());
    if (!run)
        return run;
    // The same run, with what the others say of it.
    for (KeptRun& listed : list())
        if (listed.id == run->id)
            return std::move(listed);
    return run;
}

std::optional<KeptRun> RunHistory::latestUndoableWrite() const {
    std::vector<KeptRun> runs = list();
    for (auto run = runs.rbegin(); run != runs.rend(); ++run) {
        if (run->undoes.empty() && !run->fullyUndone && run->sidecars > 0 && !run->damaged)
            return std::move(*run);
    }
    return std::nullopt;
}

std::optional<KeptRun> RunHistory::latestRedoable() const {
    std::vector<KeptRun> runs = list();
    auto isUndo = [&](const std::string& id) {
        return std::any_of(runs.begin(), runs.end(), [&](const KeptRun& run) { return run.id == id && !run.undoes.empty(); });
    };
    for (auto run = runs.rbegin(); run != runs.rend(); ++run) {
        if (run->fullyUndone || run->sidecars == 0)
            continue;  // an undone run, or one that changed nothing, is not the last action
        if (!run->undoes.empty() && isUndo(run->undoes))
            continue;  // a redo: the undo before it may be redone in turn
        if (!run->undoes.empty() && !run->damaged && !run->unfinishedUndo)
            return std::move(*run);
        return std::nullopt;
    }
    return std::nullopt;
}

std::optional<KeptRun> RunHistory::find(const std::string& id) const {
    // With what the other runs say of it.
    for (KeptRun& run : list())
        if (run.id == id)
            return std::move(run);
    return std::nullopt;
}
std::uint64_t RunHistory::totalBytes() const { return store_->totalBytes(); }
std::size_t RunHistory::keptCount() const { return store_->count(); }
std::size_t RunHistory::forgetAll(std::size_t* inUse) const { return store_->forgetAll(inUse); }

std::string runListLine(const KeptRun& run) {
    std::string line = text::escapedControls(run.id) + "  " + utcTimeText(run.started) + "  ";
    if (run.undoes.empty())
        line += "write run";
    else
        line += (run.unfinishedUndo ? "unfinished undo of " : "undo of ") + text::escapedControls(run.undoes);
    line += "  " + std::to_string(run.sidecars) + (run.sidecars == 1 ? " sidecar" : " sidecars");
    if (run.fullyUndone)
        line += "  undone by " + text::escapedControls(run.undoneBy);
    else if (run.partlyUndone)
        line += "  partly undone";
    else if (!run.undoneBy.empty())
        line += "  undo taken back";
    else
        line += "  not undone";
    if (!run.finished)
        line += " (interrupted)";
    if (run.damaged)
        line += " (damaged)";
    constexpr std::size_t kShownFolders = 3;
    for (std::size_t i = 0; i < run.folders.size() && i < kShownFolders; ++i)
        line += (i ? ", " : "  ") + text::escapedControls(run.folders[i].native());
    const std::size_t folders = std::max(run.folderCount, run.folders.size());
    if (folders > kShownFolders)
        line += " and " + std::to_string(folders - kShownFolders) + (folders - kShownFolders == 1 ? " more folder" : " more folders");
    return line;
}

std::string unknownFileLine(const std::string& name) {
    return text::escapedControls(name) + "  unknown file, not a run's journal (left alone)";
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
