// SPDX-License-Identifier: GPL-3.0-or-later
// The journal of one write run: for every sidecar the run replaces, its path,
// its bytes before (compressed) and a hash of the bytes written, each entry
// on disk before the rename that replaces its sidecar. One file per run,
// created with the first entry, so a run that writes nothing keeps none.
#pragma once

#include "base/Error.h"

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include <sys/types.h>

namespace meridane::journal {

using Digest = std::array<std::uint8_t, 32>;
/// SHA-256.
Digest contentHash(std::string_view bytes);

enum class RunKind : std::uint8_t { write = 1, undo = 2 };

struct RunHeader {
    RunKind kind = RunKind::write;
    std::chrono::system_clock::time_point started;
    pid_t pid = 0;
    std::string undoes;  ///< for an undo run: the id of the run it undoes
};

/// $XDG_STATE_HOME/meridane/runs, or ~/.local/state/meridane/runs.
std::filesystem::path defaultRunsFolder();

/// The runs folder, opened for adding journals: the folders missing on the
/// way are made one by one, each 0700 whatever the umask; the runs folder
/// itself must be a real folder of this user that no one else may write in.
/// Returns its descriptor.
Result<int> openRunsFolder(const std::filesystem::path& folder);

/// "20250314T101530.123456Z-4242": sortable by time, unique per process.
std::string runId(std::chrono::system_clock::time_point started, pid_t pid);

/// Thread-safe. Entries of the files in flight share one flush: a save that
/// needs its entry on disk waits (briefly) until every other file in flight
/// has recorded its own entry or finished, then one flush covers them all.
class RunWriter {
public:
    /// Nothing is created until the first entry. An undo of a run that an
    /// earlier undo left unfinished (stopped or killed) adds its entries to
    /// that undo's journal, so that one undo run holds all the sidecars put back.
    RunWriter(std::filesystem::path runsFolder, RunHeader header);
    ~RunWriter();
    RunWriter(const RunWriter&) = delete;
    RunWriter& operator=(const RunWriter&) = delete;

    struct Replacement {
        const std::filesystem::path& sidecarPath;   ///< absolute
        const std::filesystem::path& replacedPath;  ///< absolute; the link's target, or the sidecar
        std::string_view oldBytes;
        std::string_view newBytes;
        /// The sidecar's folder (device and inode), so that an undo can tell
        /// when the path has come to lead into another folder.
        std::uint64_t folderDevice = 0;
        std::uint64_t folderInode = 0;
    };
    /// Appends an entry (not yet flushed) and returns its number.
    Result<std::uint32_t> record(const Replacement& replacement);
    /// Returns once the entry is on disk.
    Status makeDurable(std::uint32_t entry);
    /// Whether the entry's sidecar was replaced; not flushed (undo can tell
    /// from the sidecar's bytes when this note was lost).
    void settle(std::uint32_t entry, bool replaced);

    /// A file of the run starts or ends; see the class comment.
    void fileStarted();
    void fileEnded();

    /// Notes that the run ended, or removes the file when no sidecar was
    /// replaced; idempotent.
    Status finish();

    std::string id() const;
    /// Whether this run adds to an earlier undo's journal; that undo may
    /// already have put sidecars back.
    bool continuesEarlierUndo() const;
    std::size_t replacedCount() const;
    std::size_t flushCount() const;
    /// The journal's file; empty until the first entry.
    std::filesystem::path file() const;

    /// How long a save waits for the other files in flight before flushing alone.
    static constexpr std::chrono::milliseconds kGroupWait{100};

private:
    Status createLocked();
    bool continueLocked(int folder);
    Status appendLocked(std::string_view record);
    Status flushLocked();

    mutable std::mutex mutex_;
    std::condition_variable flushed_;
    std::filesystem::path folder_;
    RunHeader header_;
    std::string id_;
    std::filesystem::path file_;
    std::string continued_;  ///< the id of the unfinished undo this run continues
    /// Its entries with no note of their save (a kill came between), by the
    /// file they replace: a new entry for that file drops the earlier one.
    std::map<std::filesystem::path, std::uint32_t> unsettled_;
    int fd_ = -1;
    Status broken_ = Done{};  ///< a failed write leaves the file unusable for this run
    std::uint32_t nextEntry_ = 1;
    std::uint32_t durableThrough_ = 0;
    std::size_t unflushed_ = 0;
    std::size_t inFlight_ = 0;
    std::size_t replaced_ = 0;
    std::size_t flushes_ = 0;
    bool finished_ = false;
};

}  // namespace meridane::journal
