// SPDX-License-Identifier: GPL-3.0-or-later
// The write runs kept for undo, as the front ends list, choose and forget
// them. Each run's journal is read as untrusted input.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace meridane {
namespace journal {
class RunStore;
}

struct KeptRun {
    std::string id;
    std::chrono::system_clock::time_point started;
    std::string undoes;    ///< set for an undo run: the run it undid
    std::string undoneBy;  ///< the last undo that put back all it could; empty while none did
    std::vector<std::filesystem::path> folders;  ///< the first few
    std::size_t sidecars = 0;  ///< replaced by the run
    bool finished = false;     ///< false when the run was killed or is still going
    bool damaged = false;
    std::uint64_t bytes = 0;
    std::size_t folderCount = 0;
    /// Undone by `undoneBy`, and that undo not taken back in turn.
    bool fullyUndone = false;
    /// An undo of this run stopped or was killed before it was done; the
    /// next undo of the run finishes it.
    bool partlyUndone = false;
    /// This undo run stopped or was killed before its run was fully undone.
    bool unfinishedUndo = false;
};

/// One history remembers what it has read of each journal until the journal
/// changes: keep one to ask it again and again.
class RunHistory {
public:
    /// $XDG_STATE_HOME/meridane/runs, or ~/.local/state/meridane/runs.
    static std::filesystem::path defaultFolder();

    explicit RunHistory(std::filesystem::path folder = defaultFolder());
    const std::filesystem::path& folder() const { return folder_; }

    /// Oldest first.
    std::vector<KeptRun> list() const;
    /// The most recent run that replaced sidecars and is not fully undone
    /// (the command line's plain undo: right after a complete undo, that
    /// undo), never an unfinished undo: its run is the one to undo instead.
    std::optional<KeptRun> latestUndoable() const;
    /// What the window's Undo offers: the newest write run not fully undone,
    /// never an undo run.
    std::optional<KeptRun> latestUndoableWrite() const;
    /// What the window's Redo offers: the newest complete undo of a write
    /// run, when nothing has been written or undone since it but redos;
    /// undoing it puts its write run back.
    std::optional<KeptRun> latestRedoable() const;
    /// Files in the runs folder that are no run's journal, by name.
    std::vector<std::string> unknownFiles() const;
    std::optional<KeptRun> find(const std::string& id) const;
    std::uint64_t totalBytes() const;
    std::size_t keptCount() const;
    /// Removes every run not in use by another process; returns how many,
    /// and sets `inUse`, when given, to how many stayed.
    std::size_t forgetAll(std::size_t* inUse = nullptr) const;

private:
    std::filesystem::path folder_;
    std::shared_ptr<const journal::RunStore> store_;
};

/// One line of --list-runs: id, time, what it was, sidecars, undone or not, folders.
std::string runListLine(const KeptRun& run);
/// The line of --list-runs for a file that is no run's journal.
std::string unknownFileLine(const std::string& name);
/// "812 bytes", "4.2 KB", "1.3 MB", "2.0 GB" (1 KB = 1024 bytes), the same in every locale.
std::string byteSizeText(std::uint64_t bytes);

}  // namespace meridane
