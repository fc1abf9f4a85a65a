// SPDX-License-Identifier: GPL-3.0-or-later
#include "journal/RunJournal.h"

#include "journal/RunStore.h"
#include "journal/internal/RecordFormat.h"

#include <QByteArrayView>
#include <QCryptographicHash>

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iterator>
#include <optional>
#include <utility>
#include <vector>

namespace meridane::journal {
namespace {

using format::RecordType;

Error unwritable(const std::string& what, int code) {
    return Error{ErrorDomain::journal, kJournalUnwritable,
                 "Could not keep the sidecar's earlier content in the run's journal (" + what + ": " +
                     std::strerror(code) + ")"};
}

Error notPrivate(const std::filesystem::path& folder, const std::string& why) {
    return Error{ErrorDomain::journal, kJournalUnwritable,
                 "Could not keep the sidecar's earlier content in the run's journal (" + folder.string() + " " + why +
                     ")"};
}

Status syncFolder(int fd, const std::filesystem::path& folder) {
    if (::fsync(fd) != 0)
        return unwritable("flush " + folder.string(), errno);
    return Done{};
}

/// Closes the descriptor when it goes.
struct FolderFd {
    int fd = -1;
    FolderFd() = default;
    FolderFd(const FolderFd&) = delete;
    FolderFd& operator=(const FolderFd&) = delete;
    ~FolderFd() { reset(-1); }
    void reset(int other) {
        if (fd >= 0)
            ::close(fd);
        fd = other;
    }
    int release() { return std::exchange(fd, -1); }
};

}  // namespace

Digest contentHash(std::string_view bytes) {
    const QByteArray hash = QCryptographicHash::hash(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())),
                                                     QCryptographicHash::Sha256);
    Digest digest{};
    std::memcpy(digest.data(), hash.constData(), digest.size());
    return digest;
}

std::filesystem::path defaultRunsFolder() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && state[0] == '/')
        return std::filesystem::path(state) / "meridane" / "runs";
    const char* home = std::getenv("HOME");
    if (!home || home[0] != '/')
        if (const passwd* user = ::getpwuid(::getuid()))
            home = user->pw_dir;
    return std::filesystem::path(home ? home : "/") / ".local" / "state" / "meridane" / "runs";
}

Result<int> openRunsFolder(const std::filesystem::path& folder) {
    if (!folder.is_absolute())
        return notPrivate(folder, "is not an absolute path");
    FolderFd parent;
    parent.reset(::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (parent.fd < 0)
        return unwritable("open /", errno);
    std::vector<std::filesystem::path> names(std::next(folder.begin()), folder.end());
    while (!names.empty() && names.back().empty())  // a trailing slash
        names.pop_back();
    std::filesystem::path walked("/");
    for (std::size_t i = 0; i < names.size(); ++i) {
        const bool last = i + 1 == names.size();
        walked /= names[i];
        // Made one by one: a folder made for our state is nobody else's business.
        const bool created = ::mkdirat(parent.fd, names[i].c_str(), 0700) == 0;
        if (!created && errno != EEXIST)
            return unwritable("create " + walked.string(), errno);
        const int fd = ::openat(parent.fd, names[i].c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (last ? O_NOFOLLOW : 0));
        if (fd < 0 && last && (errno == ELOOP || errno == ENOTDIR)) {
            struct stat st {};
            const bool link = ::fstatat(parent.fd, names[i].c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
            return notPrivate(walked, link ? "is a symbolic link" : "is not a folder");
        }
        if (fd < 0)
            return unwritable("open " + walked.string(), errno);
        if (created) {
            // The umask may have taken more than group and other bits away.
            (void)::fchmod(fd, 0700);
            if (Status synced = syncFolder(parent.fd, walked.parent_path()); !synced) {
                ::close(fd);
                return synced.error();
            }
        }
        parent.reset(fd);
    }
    struct stat st {};
    if (::fstat(parent.fd, &st) != 0)
        return unwritable("open " + walked.string(), errno);
    if (st.st_uid != ::geteuid())
        return notPrivate(walked, "belongs to another user");
    // The sidecars' earlier contents are nobody else's business; what the
    // user allows themselves (a runs folder made read-only) is theirs.
    if ((st.st_mode & 077) != 0)
        (void)::fchmod(parent.fd, st.st_mode & 0700);
    if (::fstat(parent.fd, &st) != 0 || (st.st_mode & 022) != 0)
        return notPrivate(walked, "may be written by other users");
    return parent.release();
}

std::string runId(std::chrono::system_clock::time_point started, pid_t pid) {
    using namespace std::chrono;
    const auto micros = duration_cast<microseconds>(started.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(micros / 1'000'000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%04d%02d%02dT%02d%02d%02d.%06ldZ-%ld", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<long>(micros % 1'000'000),
                  static_cast<long>(pid));
    return text;
}

RunWriter::RunWriter(std::filesystem::path runsFolder, RunHeader header)
    : folder_(std::move(runsFolder)), header_(std::move(header)), id_(runId(header_.started, header_.pid)) {
    if (header_.kind == RunKind::undo && !header_.undoes.empty())
        if (std::optional<RunSummary> earlier = RunStore(folder_).unfinishedUndoOf(header_.undoes)) {
            continued_ = earlier->id;
            id_ = continued_;
        }
}

RunWriter::~RunWriter() { (void)finish(); }

Status RunWriter::createLocked() {
    Result<int> opened = openRunsFolder(folder_);
    if (!opened)
        return opened.error();
    FolderFd folder;
    folder.reset(opened.value());
    if (!continued_.empty()) {
        if (continueLocked(folder.fd))
            return Done{};
        continued_.clear();  // busy or damaged meanwhile: this undo keeps its own journal
    }
    // Two runs of one process within a microsecond get the next free name.
    auto started = header_.started;
    for (int attempt = 0; attempt < 100; ++attempt, started += std::chrono::microseconds(1)) {
        id_ = runId(started, header_.pid);
        file_ = folder_ / (id_ + std::string(kJournalSuffix));
        fd_ = ::openat(folder.fd, file_.filename().c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC | O_NOFOLLOW,
                       0600);
        if (fd_ >= 0 || errno != EEXIST)
            break;
    }
    if (fd_ < 0)
        return unwritable("create " + file_.string(), errno);
    // Housekeeping leaves a locked run alone, and one still without its
    // header: it holds the lock for a moment only, so this waits for it.
    (void)::flock(fd_, LOCK_EX);

    format::Writer header;
    header.u8(static_cast<std::uint8_t>(header_.kind));
    header.i64(std::chrono::duration_cast<std::chrono::microseconds>(header_.started.time_since_epoch()).count());
    header.u32(static_cast<std::uint32_t>(header_.pid));
    header.text(header_.undoes);
    std::string start(format::kMagic);
    start += format::frame(RecordType::header, header.bytes());
    if (Status written = appendLocked(start); !written)
        return written;
    // The new file's name must survive a crash as surely as its entries.
    if (Status synced = syncFolder(folder.fd, folder_); !synced)
        return synced;
    RunStore(folder_).prune(id_);
    return Done{};
}

bool RunWriter::continueLocked(int folder) {
    const std::filesystem::path file = folder_ / (continued_ + std::string(kJournalSuffix));
    const int fd = ::openat(folder, file.filename().c_str(), O_RDWR | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat st {};
    std::optional<OpenedRun> opened;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
        if (Result<OpenedRun> read = OpenedRun::ofLocked(fd, file))
            opened.emplace(std::move(read).value());
    RunSummary earlier;
    earlier.damaged = true;
    if (opened)
        earlier = opened->summary();
    // Only an undo of the same run, whole up to its last complete record:
    // what a kill cut short at its end goes, so that new records follow on.
    if (earlier.damaged || earlier.kind != RunKind::undo || earlier.undoes != header_.undoes ||
        !earlier.undoneBy.empty() || earlier.version != format::kMagic ||
        ::ftruncate(fd, static_cast<off_t>(earlier.intactEnd)) != 0) {
        ::close(fd);
        return false;
    }
    // Entries a kill left without a note of their save: a few, those in
    // flight; many only in a crafted journal, and then the rest are left be.
    constexpr std::size_t kMostUnsettled = 4096;
    for (const std::size_t i : opened->unnotedEntries(kMostUnsettled))
        if (RunEntry entry = opened->entry(i); entry.damage.empty())
            unsettled_[entry.replacedPath] = entry.number;
    fd_ = fd;
    file_ = file;
    nextEntry_ = earlier.lastEntry + 1;
    durableThrough_ = earlier.lastEntry;
    return true;
}

Status RunWriter::appendLocked(std::string_view record) {
    while (!record.empty()) {
        const ssize_t written = ::write(fd_, record.data(), record.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            broken_ = unwritable("write " + file_.string(), written < 0 ? errno : EIO);
            return broken_;
        }
        record.remove_prefix(static_cast<std::size_t>(written));
    }
    return Done{};
}

Status RunWriter::flushLocked() {
    if (::fdatasync(fd_) != 0) {
        broken_ = unwritable("flush " + file_.string(), errno);
        return broken_;
    }
    ++flushes_;
    durableThrough_ = nextEntry_ - 1;
    unflushed_ = 0;
    flushed_.notify_all();
    return Done{};
}

Result<std::uint32_t> RunWriter::record(const Replacement& replacement) {
    // Built before taking the lock: compressing and hashing are the costly part.
    format::Writer payload;
    const Digest oldHash = contentHash(replacement.oldBytes);
    const Digest newHash = contentHash(replacement.newBytes);
    payload.u32(0);  // the entry number, set below
    payload.u32(static_cast<std::uint32_t>(replacement.oldBytes.size()));
    payload.raw(std::string_view(reinterpret_cast<const char*>(oldHash.data()), oldHash.size()));
    payload.raw(std::string_view(reinterpret_cast<const char*>(newHash.data()), newHash.size()));
    payload.i64(static_cast<std::int64_t>(replacement.folderDevice));
    payload.i64(static_cast<std::int64_t>(replacement.folderInode));
    payload.text(replacement.sidecarPath.native());
    payload.text(replacement.replacedPath == replacement.sidecarPath ? std::string() : replacement.replacedPath.native());
    payload.raw(format::compress(replacement.oldBytes));
    std::string bytes = payload.bytes();

    std::lock_guard lock(mutex_);
    if (!broken_)
        return broken_.error();
    if (finished_)
        return Error{ErrorDomain::journal, kJournalUnwritable, "The run's journal is already closed"};
    if (fd_ < 0)
        if (Status created = createLocked(); !created) {
            broken_ = created;
            return created.error();
        }
    const std::uint32_t entry = nextEntry_;
    format::Writer number;
    number.u32(entry);
    bytes.replace(0, 4, number.bytes());
    if (Status appended = appendLocked(format::frame(RecordType::entry, bytes)); !appended)
        return appended.error();
    // The earlier save of this file never took effect (the file is being
    // put back from the same state again): it is dropped, so that the file
    // counts, and is undone, once.
    if (const auto earlier = unsettled_.find(replacement.replacedPath); earlier != unsettled_.end()) {
        format::Writer note;
        note.u32(earlier->second);
        unsettled_.erase(earlier);
        if (Status noted = appendLocked(format::frame(RecordType::dropped, note.bytes())); !noted)
            return noted.error();
    }
    ++nextEntry_;
    ++unflushed_;
    flushed_.notify_all();  // a save waiting for this file's entry may flush now
    return entry;
}

Status RunWriter::makeDurable(std::uint32_t entry) {
    std::unique_lock lock(mutex_);
    if (!broken_)
        return broken_;
    if (entry <= durableThrough_)
        return Done{};
    flushed_.wait_for(lock, kGroupWait, [&] { return entry <= durableThrough_ || unflushed_ >= inFlight_; });
    if (entry <= durableThrough_)
        return Done{};
    return flushLocked();
}

void RunWriter::settle(std::uint32_t entry, bool replaced) {
    std::lock_guard lock(mutex_);
    // Counted even when a later write broke the journal: its entry is on disk,
    // and a journal with a replaced sidecar in it is never removed.
    replaced_ += replaced;
    if (fd_ < 0 || !broken_)
        return;
    format::Writer payload;
    payload.u32(entry);
    (void)appendLocked(format::frame(replaced ? RecordType::done : RecordType::dropped, payload.bytes()));
}

void RunWriter::fileStarted() {
    std::lock_guard lock(mutex_);
    ++inFlight_;
}

void RunWriter::fileEnded() {
    std::lock_guard lock(mutex_);
    if (inFlight_ > 0)
        --inFlight_;
    flushed_.notify_all();
}

Status RunWriter::finish() {
    std::lock_guard lock(mutex_);
    if (finished_)
        return Done{};
    finished_ = true;
    if (fd_ < 0)
        return Done{};
    if (replaced_ == 0 && continued_.empty()) {
        ::unlink(file_.c_str());
        ::close(fd_);
        fd_ = -1;
        file_.clear();
        return Done{};
    }
    Status ended = broken_;
    if (ended)
        ended = appendLocked(format::frame(RecordType::finished, {}));
    if (ended)
        ended = flushLocked();
    // Closing lets go of the lock: the run can be undone the moment it ends,
    // while a worker may still hold this writer for a little longer.
    ::close(fd_);
    fd_ = -1;
    return ended;
}

std::string RunWriter::id() const {
    std::lock_guard lock(mutex_);
    return id_;
}

bool RunWriter::continuesEarlierUndo() const {
    std::lock_guard lock(mutex_);
    return !continued_.empty();
}

std::size_t RunWriter::replacedCount() const {
    std::lock_guard lock(mutex_);
    return replaced_;
}

std::size_t RunWriter::flushCount() const {
    std::lock_guard lock(mutex_);
    return flushes_;
}

std::filesystem::path RunWriter::file() const {
    std::lock_guard lock(mutex_);
    return file_;
}

}  // namespace meridane::journal
