// SPDX-License-Identifier: GPL-3.0-or-later
// The kept runs: listing them, opening one to undo it (its journal read as
// untrusted input), forgetting them, and the housekeeping that bounds them.
#pragma once

#include "journal/RunJournal.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace meridane::journal {

inline constexpr std::string_view kJournalSuffix = ".journal";

/// What a run's journal says about the run as a whole.
struct RunSummary {
    std::string id;
    std::filesystem::path file;
    RunKind kind = RunKind::write;
    std::chrono::system_clock::time_point started;
    std::string undoes;    ///< undo runs: the run they undid
    std::string undoneBy;  ///< empty while not undone
    std::vector<std::filesystem::path> folders;  ///< of the sidecars, in first-seen order
    std::size_t sidecars = 0;  ///< entries whose save was not dropped
    bool finished = false;     ///< ended normally (not killed)
    bool damaged = false;      ///< some record could not be read
    std::uint64_t bytes = 0;   ///< the journal's size on disk
};

/// One sidecar of an opened run. `damage`, when not empty, says why the
/// entry cannot be used; its paths may then be empty.
struct RunEntry {
    std::uint32_t number = 0;
    std::filesystem::path sidecarPath;
    std::filesystem::path replacedPath;  ///< the sidecar itself unless it was a link
    Digest oldHash{}, newHash{};
    std::uint32_t oldSize = 0;
    bool replaced = false;  ///< the run noted the rename (unnoted after a kill)
    std::string damage;
    std::uint64_t offset = 0;  ///< of the record, for oldBytes
    std::uint32_t length = 0;  ///< whole record
};

/// A run opened for undo: its journal is locked for as long as this lives,
/// so no two undos of one run overlap.
class OpenedRun {
public:
    static Result<OpenedRun> open(const std::filesystem::path& file);
    OpenedRun(OpenedRun&&) noexcept;
    OpenedRun& operator=(OpenedRun&&) noexcept;
    ~OpenedRun();

    const RunSummary& summary() const { return summary_; }
    /// Entries whose save was not dropped, in the order of the run.
    const std::vector<RunEntry>& entries() const { return entries_; }
    /// The sidecar's bytes before the run, checked against the entry's hash.
    /// Safe from several threads at once.
    Result<std::string> oldBytes(const RunEntry& entry) const;
    Status markUndone(const std::string& undoRunId);
    /// Lets go of the journal and its lock, so that another undo can open it
    /// at once; entries() stays, oldBytes() no longer reads.
    void close();

private:
    OpenedRun() = default;
    int fd_ = -1;
    RunSummary summary_;
    std::vector<RunEntry> entries_;
};

class RunStore {
public:
    explicit RunStore(std::filesystem::path folder) : folder_(std::move(folder)) {}
    const std::filesystem::path& folder() const { return folder_; }

    /// Every kept run, oldest first. A journal too damaged to say anything
    /// is listed with `damaged` set.
    std::vector<RunSummary> list() const;
    std::uint64_t totalBytes() const;
    std::size_t count() const;
    /// The most recent run not yet undone, or the run of that id.
    std::optional<RunSummary> latestUndoable() const;
    std::optional<RunSummary> find(const std::string& id) const;
    /// Removes every kept run that no process is writing or undoing; returns how many.
    std::size_t forgetAll() const;

    /// Keeps the newest kKeepRuns runs, or those of the last kKeepDays days
    /// when they are more, within kMaximumBytes; the oldest go first. `keep`
    /// (the run being written) and runs in use are never removed.
    void prune(const std::string& keep, std::chrono::system_clock::time_point now =
                                            std::chrono::system_clock::now()) const;

    static constexpr std::size_t kKeepRuns = 50;
    static constexpr std::chrono::hours kKeepDays{24 * 90};
    static constexpr std::uint64_t kMaximumBytes = 512ull << 20;

private:
    std::filesystem::path folder_;
};

}  // namespace meridane::journal
