// SPDX-License-Identifier: GPL-3.0-or-later
// The write runs kept for undo, as the front ends list, choose and forget
// them. Each run's journal is read as untrusted input.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace meridane {

struct KeptRun {
    std::string id;
    std::chrono::system_clock::time_point started;
    std::string undoes;    ///< set for an undo run: the run it undid
    std::string undoneBy;  ///< empty while not undone
    std::vector<std::filesystem::path> folders;
    std::size_t sidecars = 0;  ///< replaced by the run
    bool finished = false;     ///< false when the run was killed or is still going
    bool damaged = false;
    std::uint64_t bytes = 0;
};

class RunHistory {
public:
    /// $XDG_STATE_HOME/meridane/runs, or ~/.local/state/meridane/runs.
    static std::filesystem::path defaultFolder();

    explicit RunHistory(std::filesystem::path folder = defaultFolder());
    const std::filesystem::path& folder() const { return folder_; }

    /// Oldest first.
    std::vector<KeptRun> list() const;
    /// The most recent run that replaced sidecars and is not undone yet
    /// (the command line's plain undo: right after an undo, that undo).
    std::optional<KeptRun> latestUndoable() const;
    /// What the window's Undo offers: the newest write run not undone, never
    /// an undo run.
    std::optional<KeptRun> latestUndoableWrite() const;
    /// What the window's Redo offers: the newest undo run, when nothing has
    /// been written or undone since it; undoing it puts its write run back.
    std::optional<KeptRun> latestRedoable() const;
    std::optional<KeptRun> find(const std::string& id) const;
    std::uint64_t totalBytes() const;
    std::size_t keptCount() const;
    /// Removes every run not in use by another process; returns how many.
    std::size_t forgetAll() const;

private:
    std::filesystem::path folder_;
};

/// One line of --list-runs: id, time, what it was, sidecars, undone or not, folders.
std::string runListLine(const KeptRun& run);
/// "812 bytes", "4.2 KB", "1.3 MB", "2.0 GB" (1 KB = 1024 bytes), the same in every locale.
std::string byteSizeText(std::uint64_t bytes);

}  // namespace meridane
