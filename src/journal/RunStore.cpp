// SPDX-License-Identifier: GPL-3.0-or-later
#include "journal/RunStore.h"

#include "journal/internal/RecordFormat.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <mutex>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace meridane::journal {
namespace {

using format::RecordType;

/// Reads a journal's records in order through one buffer, so memory stays
/// within one record (at most kMaximumPayload) whatever the file's size.
class RecordStream {
public:
    explicit RecordStream(int fd) : fd_(fd) {}

    struct Record {
        RecordType type{};
        std::string_view payload;
        std::uint64_t offset = 0;
        std::uint32_t length = 0;
        bool intact = false;  ///< its checksum matches
    };
    enum class Next { record, end, cutShort, unreadable };

    /// The journal's magic, or empty when it has none of those known.
    std::string_view readMagic() {
        if (!fill(format::kMagic.size()))
            return {};
        const std::string_view magic = take(format::kMagic.size());
        for (std::string_view known : {format::kMagic, format::kMagicVersion1})
            if (magic == known)
                return known;
        return {};
    }

    Next next(Record& record) {
        if (!fill(format::kRecordHeader))
            return buffer_.size() == pos_ && !failed_ ? Next::end : Next::cutShort;
        format::Reader header(std::string_view(buffer_).substr(pos_, format::kRecordHeader));
        const auto type = static_cast<RecordType>(header.u8());
        const std::uint32_t size = header.u32();
        if (size > format::kMaximumPayload)
            return Next::unreadable;
        const std::size_t whole = format::kRecordHeader + size + format::kRecordTrailer;
        if (!fill(whole))
            return failed_ ? Next::unreadable : Next::cutShort;
        record.offset = offset_;
        record.length = static_cast<std::uint32_t>(whole);
        const std::string_view bytes = take(whole);
        record.type = type;
        record.payload = bytes.substr(format::kRecordHeader, size);
        record.intact = format::checksum(bytes.substr(0, whole - format::kRecordTrailer)) ==
                        format::readLittle32(bytes.substr(whole - format::kRecordTrailer));
        return Next::record;
    }

private:
    bool fill(std::size_t count) {
        if (buffer_.size() - pos_ >= count)
            return true;
        buffer_.erase(0, pos_);
        pos_ = 0;
        while (buffer_.size() < count) {
            const std::size_t want = std::max<std::size_t>(count - buffer_.size(), 1 << 20);
            const std::size_t had = buffer_.size();
            buffer_.resize(had + want);
            const ssize_t got = ::pread(fd_, buffer_.data() + had, want, static_cast<off_t>(fileOffset_));
            if (got < 0 && errno == EINTR) {
                buffer_.resize(had);
                continue;
            }
            buffer_.resize(had + static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
            if (got <= 0) {
                failed_ = got < 0;
                return false;
            }
            fileOffset_ += static_cast<std::uint64_t>(got);
        }
        return true;
    }
    std::string_view take(std::size_t count) {
        const std::string_view part = std::string_view(buffer_).substr(pos_, count);
        pos_ += count;
        offset_ += count;
        return part;
    }

    int fd_;
    std::string buffer_;
    std::size_t pos_ = 0;
    std::uint64_t fileOffset_ = 0;  ///< of the buffer's end
    std::uint64_t offset_ = 0;      ///< of the next record
    bool failed_ = false;
};

bool isSidecarPath(const std::filesystem::path& path) {
    const std::string& text = path.native();
    return path.is_absolute() && text.find('\0') == std::string::npos && text.size() > 5 &&
           text.ends_with(".xmp") && path.filename().native().size() > 4;
}

bool isTargetPath(const std::filesystem::path& path) {
    return path.empty() || (path.is_absolute() && path.native().find('\0') == std::string::npos);
}

enum Damage : std::uint8_t { kIntact, kCutShort, kBadChecksum, kNoSidecar, kUnreadableAfter };

std::string damageText(std::uint8_t damage, std::uint32_t lastGood) {
    switch (damage) {
    case kCutShort:
        return "The run's journal entry is damaged: it is cut short";
    case kBadChecksum:
        return "The run's journal entry is damaged: its checksum does not match";
    case kNoSidecar:
        return "The run's journal entry is damaged: it names no sidecar a run could have written";
    case kUnreadableAfter:
        return "The run's journal is damaged: the entries after entry " + std::to_string(lastGood) + " cannot be read";
    default:
        return {};
    }
}

struct ParsedEntry {
    RunEntry entry;
    std::uint8_t damage = kIntact;
    bool usable = false;
};

ParsedEntry parseEntry(const RecordStream::Record& record, bool withFolder) {
    ParsedEntry parsed;
    RunEntry& entry = parsed.entry;
    entry.offset = record.offset;
    entry.length = record.length;
    format::Reader reader(record.payload);
    entry.number = reader.u32();
    entry.oldSize = reader.u32();
    const std::string_view oldHash = reader.raw(entry.oldHash.size());
    const std::string_view newHash = reader.raw(entry.newHash.size());
    if (withFolder) {
        entry.folderDevice = static_cast<std::uint64_t>(reader.i64());
        entry.folderInode = static_cast<std::uint64_t>(reader.i64());
        entry.folderKnown = true;
    }
    const std::filesystem::path sidecar(std::string(reader.text()));
    const std::filesystem::path replaced(std::string(reader.text()));
    if (reader.failed() || !record.intact) {
        // Its paths are shown only when they still look like what a run writes.
        if (isSidecarPath(sidecar))
            entry.sidecarPath = sidecar;
        parsed.damage = record.intact ? kCutShort : kBadChecksum;
        entry.damage = damageText(parsed.damage, 0);
        return parsed;
    }
    if (!isSidecarPath(sidecar) || !isTargetPath(replaced) || entry.oldSize > format::kMaximumContent) {
        parsed.damage = kNoSidecar;
        entry.damage = damageText(parsed.damage, 0);
        return parsed;
    }
    std::copy(oldHash.begin(), oldHash.end(), reinterpret_cast<char*>(entry.oldHash.data()));
    std::copy(newHash.begin(), newHash.end(), reinterpret_cast<char*>(entry.newHash.data()));
    entry.sidecarPath = sidecar;
    entry.replacedPath = replaced.empty() ? sidecar : replaced;
    parsed.usable = true;
    return parsed;
}

std::chrono::system_clock::time_point timeOfId(const std::string& id) {
    std::tm utc{};
    long micros = 0;
    if (std::sscanf(id.c_str(), "%4d%2d%2dT%2d%2d%2d.%6ldZ", &utc.tm_year, &utc.tm_mon, &utc.tm_mday, &utc.tm_hour,
                    &utc.tm_min, &utc.tm_sec, &micros) != 7)
        return {};
    utc.tm_year -= 1900;
    utc.tm_mon -= 1;
    return std::chrono::system_clock::from_time_t(::timegm(&utc)) + std::chrono::microseconds(micros);
}

using Indexed = OpenedRun::Indexed;
static_assert(sizeof(Indexed) == 16);

/// Reads the whole journal in one pass. The summary's memory does not grow
/// with the journal; the entries' index, when asked for, is kept in `entries`.
RunSummary scan(int fd, const std::filesystem::path& file, std::deque<Indexed>* entries) {
    RunSummary summary;
    summary.file = file;
    summary.id = file.stem().native();
    summary.started = timeOfId(summary.id);
    struct stat st {};
    if (::fstat(fd, &st) == 0)
        summary.bytes = static_cast<std::uint64_t>(st.st_blocks) * 512;

    RecordStream stream(fd);
    const std::string_view magic = stream.readMagic();
    if (magic.empty()) {
        summary.damaged = true;
        return summary;
    }
    summary.version = magic;
    summary.intactEnd = magic.size();
    const bool withFolder = magic == format::kMagic;
    // The dropped notes and, with entries, every settle note, by entry number.
    std::vector<std::pair<std::uint32_t, bool>> notes;
    std::size_t entryCount = 0, dropped = 0;
    // Told apart by a hash of their path: a few bytes each, however long the paths.
    std::unordered_set<std::size_t> folders;
    auto countFolder = [&](const std::filesystem::path& sidecar) {
        const std::filesystem::path folder = sidecar.parent_path();
        if (folder.empty() || folders.size() >= RunSummary::kCountedFolders ||
            !folders.insert(std::hash<std::string>{}(folder.native())).second)
            return;
        if (summary.folders.size() < RunSummary::kKeptFolders)
            summary.folders.push_back(folder);
    };
    RecordStream::Record record;
    for (bool first = true;; first = false) {
        const RecordStream::Next next = stream.next(record);
        if (next == RecordStream::Next::end || next == RecordStream::Next::cutShort) {
            // A record cut short was never flushed: its sidecar was not replaced.
            summary.tailCutShort = next == RecordStream::Next::cutShort;
            break;
        }
        if (next == RecordStream::Next::unreadable) {
            summary.damaged = true;
            if (entries)
                entries->push_back({.offset = 0,
                                    .damage = kUnreadableAfter,
                                    .replaced = 0,
                                    .length = 0,
                                    .number = entries->empty() ? 0 : entries->back().number});
            ++entryCount;
            break;
        }
        summary.intactEnd = record.offset + record.length;
        format::Reader reader(record.payload);
        if (first) {
            if (record.type != RecordType::header || !record.intact) {
                summary.damaged = true;
            } else {
                summary.kind = reader.u8() == static_cast<std::uint8_t>(RunKind::undo) ? RunKind::undo : RunKind::write;
                summary.started = std::chrono::system_clock::time_point(std::chrono::microseconds(reader.i64()));
                reader.u32();
                summary.undoes = std::string(reader.text());
            }
            continue;
        }
        switch (record.type) {
        case RecordType::entry: {
            ParsedEntry parsed = parseEntry(record, withFolder);
            summary.damaged |= !parsed.usable;
            summary.lastEntry = std::max(summary.lastEntry, parsed.entry.number);
            ++entryCount;
            countFolder(parsed.entry.sidecarPath);
            if (entries)
                entries->push_back({.offset = record.offset,
                                    .damage = parsed.damage,
                                    .replaced = 0,
                                    .length = record.length,
                                    .number = parsed.entry.number});
            break;
        }
        case RecordType::done:
        case RecordType::dropped:
            // A note whose checksum fails says nothing: its entry counts as
            // not settled, and undo decides from the sidecar's bytes.
            if (record.intact) {
                const bool replaced = record.type == RecordType::done;
                dropped += !replaced;
                if (entries)
                    notes.emplace_back(reader.u32(), replaced);
            }
            break;
        case RecordType::undone:
            if (record.intact)
                summary.undoneBy = std::string(reader.text());
            break;
        case RecordType::finished:
            summary.finished = record.intact;
            break;
        default:
            summary.damaged |= !record.intact;
            break;
        }
    }
    summary.folderCount = folders.size();
    if (!entries) {
        // A damaged entry is counted whatever its notes say; only a crafted
        // journal notes one entry dropped twice, and then the count errs low.
        summary.sidecars = entryCount - std::min(entryCount, dropped);
        return summary;
    }
    // The last note of an entry counts, as when it was read in order.
    std::stable_sort(notes.begin(), notes.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    auto noteOf = [&](std::uint32_t number) -> const std::pair<std::uint32_t, bool>* {
        auto after = std::upper_bound(notes.begin(), notes.end(), number,
                                      [](std::uint32_t n, const auto& note) { return n < note.first; });
        return after == notes.begin() || std::prev(after)->first != number ? nullptr : &*std::prev(after);
    };
    std::size_t kept = 0;
    for (std::size_t i = 0; i < entries->size(); ++i) {
        Indexed entry = (*entries)[i];
        const auto* note = entry.damage == kUnreadableAfter ? nullptr : noteOf(entry.number);
        if (entry.damage == kIntact && note && !note->second)
            continue;  // its save failed: the run did not replace this sidecar
        entry.replaced = note && note->second ? 1 : 0;
        (*entries)[kept++] = entry;
    }
    entries->resize(kept);
    summary.sidecars = kept;
    return summary;
}

int openJournal(const std::filesystem::path& file, int flags) {
    const int fd = ::open(file.c_str(), flags | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    struct stat st {};
    if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

struct KeptFile {
    std::string id;
    std::filesystem::path file;
    std::uint64_t bytes = 0;
};

/// The journals in the folder, oldest first, from their names and sizes
/// alone; `others` gets the names of every other file there.
std::vector<KeptFile> keptFiles(const std::filesystem::path& folder, std::vector<std::string>* others = nullptr) {
    std::vector<KeptFile> files;
    std::error_code ec;
    for (const auto& item : std::filesystem::directory_iterator(folder, ec)) {
        const std::filesystem::path& file = item.path();
        struct stat st {};
        const bool journal = isJournalName(file.filename().native()) && ::lstat(file.c_str(), &st) == 0 &&
                             S_ISREG(st.st_mode);
        if (journal)
            files.push_back({file.stem().native(), file, static_cast<std::uint64_t>(st.st_blocks) * 512});
        else if (others)
            others->push_back(file.filename().native());
    }
    std::sort(files.begin(), files.end(), [](const KeptFile& a, const KeptFile& b) { return a.id < b.id; });
    if (others)
        std::sort(others->begin(), others->end());
    return files;
}

}  // namespace

struct RunStore::Summaries {
    struct Known {
        std::uint64_t device = 0, inode = 0, size = 0;
        std::int64_t modified = 0, changed = 0;  // nanoseconds
        RunSummary summary;
    };
    static constexpr std::size_t kMostKnown = 4096;
    std::mutex mutex;
    std::unordered_map<std::string, Known> byFile;

    std::optional<RunSummary> of(const KeptFile& kept) {
        const int fd = openJournal(kept.file, O_RDONLY);
        if (fd < 0)
            return std::nullopt;
        struct stat st {};
        const bool known = ::fstat(fd, &st) == 0;
        const auto nanoseconds = [](const timespec& t) { return std::int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec; };
        const Known key{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
                        static_cast<std::uint64_t>(st.st_size), nanoseconds(st.st_mtim), nanoseconds(st.st_ctim), {}};
        if (known) {
            std::lock_guard lock(mutex);
            if (const auto found = byFile.find(kept.file.native()); found != byFile.end() && sameFile(found->second, key)) {
                ::close(fd);
                return found->second.summary;
            }
        }
        RunSummary run = scan(fd, kept.file, nullptr);
        ::close(fd);
        if (known) {
            std::lock_guard lock(mutex);
            if (byFile.size() >= kMostKnown)
                byFile.clear();  // a folder of countless journals: remember afresh
            Known& entry = byFile[kept.file.native()];
            entry = key;
            entry.summary = run;
        }
        return run;
    }

    static bool sameFile(const Known& a, const Known& b) {
        return a.device == b.device && a.inode == b.inode && a.size == b.size && a.modified == b.modified &&
               a.changed == b.changed;
    }
};

namespace {

/// Whether the process a run's id names ("<time>-<pid>") still lives.
bool creatorLives(const std::filesystem::path& file) {
    const std::string id = file.stem().string();
    const long pid = std::strtol(id.c_str() + id.rfind('-') + 1, nullptr, 10);
    return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

/// Removes a journal unless a process holds it (a run being written or undone).
bool removeUnlessInUse(const std::filesystem::path& file) {
    const int fd = openJournal(file, O_RDONLY);
    if (fd < 0)
        return false;
    // A file shorter than its header, of a process still alive, is a run's
    // journal being created, whose writer has not taken the lock yet.
    struct stat st {};
    const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &st) == 0 &&
                      (static_cast<std::size_t>(st.st_size) >= format::kMagic.size() || !creatorLives(file));
    const bool removed = free && ::unlink(file.c_str()) == 0;
    ::close(fd);
    return removed;
}

}  // namespace

bool isJournalName(std::string_view name) {
    // "20250314T101530.123456Z-4242.journal"
    if (!name.ends_with(kJournalSuffix))
        return false;
    name.remove_suffix(kJournalSuffix.size());
    constexpr std::string_view shape = "ddddddddTdddddd.ddddddZ-";
    if (name.size() <= shape.size() || name.size() > shape.size() + 10)
        return false;
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char want = i < shape.size() ? shape[i] : 'd';
        if (want == 'd' ? !digit(name[i]) : name[i] != want)
            return false;
    }
    return true;
}

Result<OpenedRun> OpenedRun::open(const std::filesystem::path& file) {
    OpenedRun run;
    run.fd_ = openJournal(file, O_RDWR | O_APPEND);
    if (run.fd_ < 0)
        return Error{ErrorDomain::journal, kJournalUnknownRun,
                     "Could not open the run's journal " + file.string() + ": " + std::strerror(errno)};
    if (::flock(run.fd_, LOCK_EX | LOCK_NB) != 0)
        return Error{ErrorDomain::journal, kJournalBusy,
                     "The run is being written or undone by another Meridane process"};
    run.summary_ = scan(run.fd_, file, &run.index_);
    return run;
}

std::vector<std::size_t> OpenedRun::unnotedEntries(std::size_t most) const {
    std::vector<std::size_t> unnoted;
    for (std::size_t i = 0; i < index_.size() && unnoted.size() < most; ++i)
        if (!index_[i].replaced && index_[i].damage == kIntact)
            unnoted.push_back(i);
    return unnoted;
}

Result<OpenedRun> OpenedRun::ofLocked(int lockedFd, const std::filesystem::path& file) {
    OpenedRun run;
    run.fd_ = ::fcntl(lockedFd, F_DUPFD_CLOEXEC, 0);
    if (run.fd_ < 0)
        return Error{ErrorDomain::journal, kJournalUnknownRun,
                     "Could not read the run's journal " + file.string() + ": " + std::strerror(errno)};
    run.summary_ = scan(run.fd_, file, &run.index_);
    return run;
}

OpenedRun::OpenedRun(OpenedRun&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), summary_(std::move(other.summary_)), index_(std::move(other.index_)) {}

OpenedRun& OpenedRun::operator=(OpenedRun&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        summary_ = std::move(other.summary_);
        index_ = std::move(other.index_);
    }
    return *this;
}

OpenedRun::~OpenedRun() { close(); }

void OpenedRun::close() {
    if (fd_ >= 0)
        ::close(std::exchange(fd_, -1));
}

RunEntry OpenedRun::entry(std::size_t i) const {
    const Indexed& at = index_.at(i);
    RunEntry entry;
    entry.number = at.number;
    entry.offset = at.offset;
    entry.length = at.length;
    entry.replaced = at.replaced;
    if (at.damage == kUnreadableAfter) {
        entry.damage = damageText(at.damage, at.number);
        return entry;
    }
    // The paths come before the stored content: a record's first part holds them.
    constexpr std::size_t kPathsPart = format::kRecordHeader + 4 + 4 + 64 + 16 + 2 * (2 + 65535);
    std::string record(std::min<std::size_t>(at.length, kPathsPart), '\0');
    std::size_t got = 0;
    while (got < record.size()) {
        const ssize_t n = fd_ < 0 ? -1 : ::pread(fd_, record.data() + got, record.size() - got, static_cast<off_t>(at.offset + got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            entry.damage = format::damaged("it cannot be read again").message;
            return entry;
        }
        got += static_cast<std::size_t>(n);
    }
    RecordStream::Record part;
    part.type = RecordType::entry;
    part.offset = at.offset;
    part.length = at.length;
    part.payload = std::string_view(record).substr(std::min(record.size(), format::kRecordHeader));
    part.intact = at.damage != kBadChecksum;
    ParsedEntry parsed = parseEntry(part, summary_.version == format::kMagic);
    parsed.entry.replaced = at.replaced;
    // Read again, it must say what it said the first time.
    if (parsed.damage != at.damage)
        parsed.entry.damage = damageText(at.damage == kIntact ? static_cast<std::uint8_t>(kBadChecksum) : at.damage, 0);
    return std::move(parsed.entry);
}

Result<std::string> OpenedRun::oldBytes(const RunEntry& entry) const {
    if (!entry.damage.empty())
        return Error{ErrorDomain::journal, kJournalDamaged, entry.damage};
    std::string record(entry.length, '\0');
    std::size_t got = 0;
    while (got < record.size()) {
        const ssize_t n = ::pread(fd_, record.data() + got, record.size() - got, static_cast<off_t>(entry.offset + got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return format::damaged("it cannot be read again");
        got += static_cast<std::size_t>(n);
    }
    const std::string_view bytes(record);
    if (record.size() < format::kRecordHeader + format::kRecordTrailer ||
        format::checksum(bytes.substr(0, bytes.size() - format::kRecordTrailer)) !=
            format::readLittle32(bytes.substr(bytes.size() - format::kRecordTrailer)))
        return format::damaged("its checksum does not match");
    format::Reader reader(bytes.substr(format::kRecordHeader, bytes.size() - format::kRecordHeader - format::kRecordTrailer));
    reader.raw(8 + 2 * entry.oldHash.size() + (entry.folderKnown ? 16 : 0));
    reader.text();
    reader.text();
    Result<std::string> content = format::decompress(reader.rest(), entry.oldSize);
    if (content && contentHash(content.value()) != entry.oldHash)
        return format::damaged("its stored content does not match its hash");
    return content;
}

Status OpenedRun::markUndone(const std::string& undoRunId) {
    format::Writer payload;
    payload.text(undoRunId);
    const std::string record = format::frame(RecordType::undone, payload.bytes());
    // After a record cut short the note would never be read: it goes first.
    if ((summary_.tailCutShort && ::ftruncate(fd_, static_cast<off_t>(summary_.intactEnd)) != 0) ||
        ::write(fd_, record.data(), record.size()) != static_cast<ssize_t>(record.size()) || ::fdatasync(fd_) != 0)
        return Error{ErrorDomain::journal, kJournalUnwritable,
                     std::string("Could not note the undo in the run's journal: ") + std::strerror(errno)};
    summary_.undoneBy = undoRunId;
    summary_.tailCutShort = false;
    return Done{};
}

RunStore::RunStore(std::filesystem::path folder)
    : folder_(std::move(folder)), summaries_(std::make_shared<Summaries>()) {}

std::vector<RunSummary> RunStore::list() const {
    std::vector<RunSummary> runs;
    for (const KeptFile& kept : keptFiles(folder_))
        if (std::optional<RunSummary> run = summaries_->of(kept))
            runs.push_back(std::move(*run));
    return runs;
}

std::vector<std::string> RunStore::unknownFiles() const {
    std::vector<std::string> others;
    keptFiles(folder_, &others);
    return others;
}

std::uint64_t RunStore::totalBytes() const {
    std::uint64_t total = 0;
    for (const KeptFile& kept : keptFiles(folder_))
        total += kept.bytes;
    return total;
}

std::optional<RunSummary> RunStore::latestUndoable() const {
    // Newest first, reading no more journals than needed: usually one or two.
    const std::vector<KeptFile> files = keptFiles(folder_);
    for (auto kept = files.rbegin(); kept != files.rend(); ++kept) {
        std::optional<RunSummary> run = summaries_->of(*kept);
        if (!run || run->sidecars == 0 || fullyUndone(*run))
            continue;
        if (run->kind == RunKind::undo && !run->undoes.empty()) {
            // Unfinished: the next undo finishes it by undoing its run.
            if (std::optional<RunSummary> undone = find(run->undoes); undone && !fullyUndone(*undone))
                return undone;
        }
        return run;
    }
    return std::nullopt;
}

std::optional<RunSummary> RunStore::unfinishedUndoOf(const std::string& id) const {
    const std::optional<RunSummary> target = find(id);
    if (!target || fullyUndone(*target))
        return std::nullopt;
    const std::vector<KeptFile> files = keptFiles(folder_);
    for (auto kept = files.rbegin(); kept != files.rend() && kept->id > id; ++kept) {
        std::optional<RunSummary> run = summaries_->of(*kept);
        if (run && run->kind == RunKind::undo && run->undoes == id && !run->damaged && !fullyUndone(*run))
            return run;
    }
    return std::nullopt;
}

bool RunStore::fullyUndone(const RunSummary& run) const {
    // Followed run by run: a crafted ring of undos ends after a bound.
    const RunSummary* at = &run;
    std::optional<RunSummary> next;
    bool undone = false;
    for (int depth = 0; depth < kUndoChain && !at->undoneBy.empty(); ++depth) {
        next = find(at->undoneBy);
        if (!next)
            return !undone;
        undone = !undone;
        at = &*next;
    }
    return undone;
}

std::optional<RunSummary> RunStore::find(const std::string& id) const {
    for (const KeptFile& kept : keptFiles(folder_))
        if (kept.id == id)
            return summaries_->of(kept);
    return std::nullopt;
}

std::size_t RunStore::count() const { return keptFiles(folder_).size(); }

std::size_t RunStore::forgetAll(std::size_t* inUse) const {
    std::size_t removed = 0, kept = 0;
    for (const KeptFile& file : keptFiles(folder_))
        (removeUnlessInUse(file.file) ? removed : kept) += 1;
    if (inUse)
        *inUse = kept;
    return removed;
}

void RunStore::prune(const std::string& keep, std::chrono::system_clock::time_point now) const {
    std::vector<KeptFile> files = keptFiles(folder_);
    std::uint64_t total = 0;
    for (const KeptFile& kept : files)
        total += kept.bytes;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const KeptFile& kept = files[i];
        if (kept.id == keep)
            continue;
        const bool beyondCount = files.size() - i > kKeepRuns;
        const bool beyondAge = now - timeOfId(kept.id) > kKeepDays;
        if (((beyondCount && beyondAge) || total > kMaximumBytes) && removeUnlessInUse(kept.file))
            total -= kept.bytes;
    }
}

}  // namespace meridane::journal
