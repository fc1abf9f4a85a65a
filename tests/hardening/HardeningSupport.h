// Tools for the tests that attack the program from outside: real image and
// sidecar files on disk, the command-line program run as a child process
// (killed, limited, or with lower privileges), and exact pictures of a tree.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace meridane::hardening {

// ---- Fixtures ---------------------------------------------------------------

/// Writes a one-pixel DNG whose EXIF names an Apple camera and this position.
void writeGpsImage(const std::filesystem::path& path, double latitude, double longitude);

/// A sidecar as a phone exports it, GPS properties as elements, with a comment,
/// a second namespace and the xpacket wrapper, so a rewrite has something to
/// lose. `latitude` and `longitude` are the texts written (e.g. "37.5", which
/// lacks the hemisphere letter and is therefore rewritten).
std::string phoneSidecar(const std::string& latitude, const std::string& longitude, const std::string& latitudeRef,
                         const std::string& longitudeRef);

std::string readBytes(const std::filesystem::path& path);
void writeBytes(const std::filesystem::path& path, const std::string& bytes);

/// A folder under the system's temporary directory that other users may enter
/// (0755), removed with its contents at the end, read-only parts included.
class WorkDir {
public:
    WorkDir();
    ~WorkDir();
    WorkDir(const WorkDir&) = delete;
    WorkDir& operator=(const WorkDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// ---- Tree pictures ----------------------------------------------------------

struct TreeEntry {
    char type = '?';          ///< 'f' file, 'd' folder, 'l' symbolic link, '?' other
    mode_t mode = 0;          ///< permission bits
    std::string content;      ///< file bytes, or the link's target text
    ino_t inode = 0;

    bool operator==(const TreeEntry& other) const {
        return type == other.type && mode == other.mode && content == other.content;
    }
};

/// Every entry below `root` (never following links), by path relative to it.
using Tree = std::map<std::string, TreeEntry>;
Tree snapshot(const std::filesystem::path& root);

/// Lines naming every entry that was added, removed or changed.
std::vector<std::string> differences(const Tree& before, const Tree& after);

// ---- Child processes --------------------------------------------------------

struct RunOptions {
    std::chrono::milliseconds timeout{30'000};
    /// Run as this user and group (only when the test runs as root).
    std::optional<uid_t> uid;
    std::optional<gid_t> gid;
    /// RLIMIT_FSIZE for the child, with SIGXFSZ ignored so a write fails with EFBIG.
    std::optional<std::uint64_t> fileSizeLimit;
    /// Extra environment entries, "NAME=value".
    std::vector<std::string> environment;
};

struct RunResult {
    bool started = false;
    bool timedOut = false;
    int exitCode = -1;        ///< when it exited
    int signal = 0;           ///< when a signal ended it
    std::string out;
    std::string err;
    std::chrono::milliseconds elapsed{0};
    long maxResidentKiB = 0;  ///< peak memory of the child
};

/// Runs a program to its end (or kills it at the timeout), collecting its output.
RunResult runProcess(const std::vector<std::string>& argv, const RunOptions& options = {});

/// Starts a program with its output thrown away; the caller waits for it.
pid_t spawnQuiet(const std::vector<std::string>& argv);

/// The command-line program built beside the tests.
std::filesystem::path cliPath();

/// One result line of `meridane-cli --json`.
struct CliRow {
    std::string path;
    std::string resultCase;   ///< "updated", "failed", ...
    std::string message;      ///< the failure text or skip reason, when there is one
    std::vector<std::string> changes;
};
std::vector<CliRow> parseJsonRows(const std::string& output);
std::optional<CliRow> rowFor(const std::vector<CliRow>& rows, const std::string& fileName);

// ---- Privileges and mounts --------------------------------------------------

/// True when this process has its own mount table (set up by the test main as
/// root), so tests may mount small or read-only file systems freely.
bool havePrivateMounts();
/// Called first thing in main, before any thread exists.
void enterPrivateMountNamespace();

bool runningAsRoot();
/// The user tests drop to when they run as root ("nobody").
uid_t unprivilegedUid();
gid_t unprivilegedGid();
/// chown -R to that user (root only).
void giveToUnprivilegedUser(const std::filesystem::path& root);

/// Mounts a tmpfs with these mount options ("size=2m", "size=200m,nr_inodes=40")
/// on `where`; unmounted by the destructor.
class ScopedTmpfs {
public:
    ScopedTmpfs(const std::filesystem::path& where, const std::string& options);
    ~ScopedTmpfs();
    ScopedTmpfs(const ScopedTmpfs&) = delete;
    ScopedTmpfs& operator=(const ScopedTmpfs&) = delete;
    bool mounted() const { return mounted_; }
    const std::string& error() const { return error_; }
    /// Makes it read-only (or writable again) in place.
    bool remount(bool readOnly);

private:
    std::filesystem::path where_;
    std::string options_;
    bool mounted_ = false;
    std::string error_;
};

/// A read-only bind mount of a folder over itself; undone by the destructor.
class ScopedReadOnlyBind {
public:
    explicit ScopedReadOnlyBind(const std::filesystem::path& folder);
    ~ScopedReadOnlyBind();
    ScopedReadOnlyBind(const ScopedReadOnlyBind&) = delete;
    ScopedReadOnlyBind& operator=(const ScopedReadOnlyBind&) = delete;
    bool mounted() const { return mounted_; }
    const std::string& error() const { return error_; }

private:
    std::filesystem::path folder_;
    bool mounted_ = false;
    std::string error_;
};

}  // namespace meridane::hardening
