// SPDX-License-Identifier: GPL-3.0-or-later
// The kept runs: listing them, opening one to undo it (its journal read as
// untrusted input), forgetting them, and the housekeeping that bounds them.
#pragma once

#include "journal/RunJournal.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace meridane::journal {

inline constexpr std::string_view kJournalSuffix = ".journal";

/// Whether `name` is "<run id>.journal", the only name a run's journal has.
bool isJournalName(std::string_view name);

/// What a run's journal says about the run as a whole.
struct RunSummary {
    std::string id;
    std::filesystem::path file;
    RunKind kind = RunKind::write;
    std::chrono::system_clock::time_point started;
    std::string undoes;    ///< undo runs: the run they undid
    std::string undoneBy;  ///< the undo that put back all it could; empty while not fully undone
    /// Of the sidecars, the first few in first-seen order, and how many there are.
    std::vector<std::filesystem::path> folders;
    std::size_t folderCount = 0;
    std::size_t sidecars = 0;  ///< entries whose save was not dropped
    bool finished = false;     ///< ended normally (not killed)
    bool damaged = false;      ///< some record could not be read
    std::uint64_t bytes = 0;   ///< the journal's size on disk
    std::string_view version;  ///< its magic
    std::uint32_t lastEntry = 0;   ///< the highest entry number in it
    std::uint64_t intactEnd = 0;   ///< where its last whole record ends
    bool tailCutShort = false;     ///< a record after intactEnd was cut short (a kill, a full disk)

    static constexpr std::size_t kKeptFolders = 3;
    /// Folders beyond this many are not counted: the count says "at least".
    static constexpr std::size_t kCountedFolders = 1u << 16;
};

/// One sidecar of an opened run. `damage`, when not empty, says why the
/// entry cannot be used; its paths may then be empty.
struct RunEntry {
    std::uint32_t number = 0;
    std::filesystem::path sidecarPath;
    std::filesystem::path replacedPath;  ///< the sidecar itself unless it was a link
    Digest oldHash{}, newHash{};
    std::uint32_t oldSize = 0;
    /// The sidecar's folder when the run wrote it (journals since the folder was recorded).
    bool folderKnown = false;
    std::uint64_t folderDevice = 0, folderInode = 0;
    bool replaced = false;  ///< the run noted the rename (unnoted after a kill)
    std::string damage;
    std::uint64_t offset = 0;  ///< of the record, for oldBytes
    std::uint32_t length = 0;  ///< whole record
};

/// A run opened for undo: its journal is locked for as long as this lives,
/// so no two undos of one run overlap. It keeps a small index of the entries
/// and reads each again when asked, so that its memory stays some 24 bytes
/// an entry whatever the paths and contents.
class OpenedRun {
public:
    static Result<OpenedRun> open(const std::filesystem::path& file);
    /// The journal open at `lockedFd`, whose lock the caller holds already;
    /// reads through a copy of the descriptor.
    static Result<OpenedRun> ofLocked(int lockedFd, const std::filesystem::path& file);
    OpenedRun(OpenedRun&&) noexcept;
    OpenedRun& operator=(OpenedRun&&) noexcept;
    ~OpenedRun();

    const RunSummary& summary() const { return summary_; }
    /// Entries whose save was not dropped, in the order of the run.
    std::size_t entryCount() const { return index_.size(); }
    /// Entry `i`, read again from the journal. Safe from several threads at once.
    RunEntry entry(std::size_t i) const;
    /// The first `most` intact entries with no note of their save (a kill
    /// came between the entry and its note), from the index alone.
    std::vector<std::size_t> unnotedEntries(std::size_t most) const;
    /// The sidecar's bytes before the run, checked against the entry's hash.
    /// Safe from several threads at once.
    Result<std::string> oldBytes(const RunEntry& entry) const;
    Status markUndone(const std::string& undoRunId);
    /// Lets go of the journal and its lock, so that another undo can open it
    /// at once; entry() and oldBytes() no longer read.
    void close();

    /// Where an entry's record lies and what the first reading found: 16
    /// bytes, so that the index of a million entries stays small.
    struct Indexed {
        std::uint64_t offset : 48 = 0;  ///< journals are far below 256 TiB
        std::uint64_t damage : 8 = 0;
        std::uint64_t replaced : 1 = 0;
        std::uint32_t length = 0;
        std::uint32_t number = 0;
    };

private:
    OpenedRun() = default;
    int fd_ = -1;
    RunSummary summary_;
    std::deque<Indexed> index_;  // grows without copying itself
};

/// Copies share what they have read: a journal is read again only once it
/// has changed (it only grows), so that asking several questions of the
/// runs, as a menu does after every run, reads each journal once.
class RunStore {
public:
    explicit RunStore(std::filesystem::path folder);
    const std::filesystem::path& folder() const { return folder_; }

    /// Every kept run, oldest first. A journal too damaged to say anything
    /// is listed with `damaged` set.
    std::vector<RunSummary> list() const;
    /// The names of the other files in the folder (a backup tool's copies,
    /// say): never undone, pruned or forgotten.
    std::vector<std::string> unknownFiles() const;
    std::uint64_t totalBytes() const;
    std::size_t count() const;
    /// The most recent run not fully undone; for an undo whose run is not
    /// fully undone either, that run (undoing it finishes the undo).
    std::optional<RunSummary> latestUndoable() const;
    /// The newest undo of the run `id` that stopped or was killed before it
    /// was done, while that run is not fully undone.
    std::optional<RunSummary> unfinishedUndoOf(const std::string& id) const;
    std::optional<RunSummary> find(const std::string& id) const;
    /// Undone by an undo that put back all it could, and that undo not taken
    /// back in turn (an undo undone is a redo).
    bool fullyUndone(const RunSummary& run) const;
    static constexpr int kUndoChain = 64;
    /// Removes every kept run that no process is writing or undoing; returns
    /// how many, and sets `inUse`, when given, to how many stayed.
    std::size_t forgetAll(std::size_t* inUse = nullptr) const;

    /// Keeps the newest kKeepRuns runs, or those of the last kKeepDays days
    /// when they are more, within kMaximumBytes; the oldest go first. `keep`
    /// (the run being written) and runs in use are never removed.
    void prune(const std::string& keep, std::chrono::system_clock::time_point now =
                                            std::chrono::system_clock::now()) const;

    static constexpr std::size_t kKeepRuns = 50;
    static constexpr std::chrono::hours kKeepDays{24 * 90};
    static constexpr std::uint64_t kMaximumBytes = 512ull << 20;

private:
    struct Summaries;
    std::filesystem::path folder_;
    std::shared_ptr<Summaries> summaries_;
};

}  // namespace meridane::journal
