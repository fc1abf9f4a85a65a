// Real file-system faults under the real command-line program: a full volume,
// a volume out of inodes, a file-size limit that stops a write halfway, a
// read-only folder, a read-only or unreadable sidecar, an immutable sidecar, a
// sidecar that is a folder or a dangling link, a folder that disappears, and
// things already sitting on the temporary file's name. Each must end in its
// documented outcome or a clear failure text, with nothing else on disk
// changed. As root, permission faults run as "nobody" and volume faults on
// tmpfs mounts private to this process; what cannot run here is skipped with
// the reason.
#include "HardeningSupport.h"

#include "base/Diagnostics.h"
#include "LegacySidecarCalls.h"
#include "sidecar/internal/FileSystem.h"
#include "sidecar/SidecarGPS.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <functional>

namespace meridane::hardening {
namespace {
namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::StartsWith;

constexpr double kLatitude = 48.25;
constexpr double kLongitude = 2.75;

/// A folder holding IMG_0001.DNG and its sidecar, which a write run updates
/// (the sidecar names the right place but lacks the hemisphere letters), and
/// a second, healthy pair elsewhere that must be updated whatever the fault.
class FaultLibrary {
public:
    explicit FaultLibrary(const fs::path& root) : root_(root) {
        fs::create_directories(folder());
        fs::create_directories(root / "healthy");
        writeGpsImage(image(), kLatitude, kLongitude);
        writeBytes(sidecar(), oldSidecar());
        writeGpsImage(root / "healthy" / "IMG_0002.DNG", kLatitude, kLongitude);
        writeBytes(root / "healthy" / "IMG_0002.xmp", oldSidecar());
    }

    static std::string oldSidecar() { return phoneSidecar("48.25000000", "2.75000000", "N", "E"); }

    fs::path folder() const { return root_ / "photos"; }
    fs::path image() const { return folder() / "IMG_0001.DNG"; }
    fs::path sidecar() const { return folder() / "IMG_0001.xmp"; }
    fs::path temporary() const { return folder() / ".IMG_0001.xmp.tmp"; }
    const fs::path& root() const { return root_; }

    /// Runs `meridane-cli --write` over the library and returns its rows.
    std::vector<CliRow> run(const RunOptions& options = {}) {
        last = runProcess({cliPath().string(), "--write", "--json", root_.string()}, options);
        EXPECT_TRUE(last.started);
        EXPECT_EQ(last.signal, 0) << "the program died of a signal";
        EXPECT_FALSE(last.timedOut);
        return parseJsonRows(last.out);
    }

    /// The healthy pair was updated: a fault in one folder never stops the run.
    void expectHealthyPairUpdated(const std::vector<CliRow>& rows) const {
        auto healthy = rowFor(rows, "IMG_0002.DNG");
        ASSERT_TRUE(healthy) << last.out << last.err;
        EXPECT_EQ(healthy->resultCase, "updated") << healthy->message;
        EXPECT_THAT(readBytes(root_ / "healthy" / "IMG_0002.xmp"), HasSubstr("48.25000000N"));
    }

    RunResult last;

private:
    fs::path root_;
};

RunOptions asUnprivilegedUser() {
    RunOptions options;
    if (runningAsRoot()) {
        options.uid = unprivilegedUid();
        options.gid = unprivilegedGid();
    }
    return options;
}

std::string describe(const std::vector<CliRow>& rows) {
    std::string text;
    for (const CliRow& row : rows)
        text += row.path + ": " + row.resultCase + " " + row.message + "\n";
    return text;
}

// ---- full volumes ---------------------------------------------------------------

TEST(FileSystemFault, FullVolumeFailsBeforeWritingAnything) {
    WorkDir work;
    ScopedTmpfs volume(work / "small", "size=2m");
    if (!volume.mounted())
        GTEST_SKIP() << "cannot mount a small volume here (" << volume.error()
                     << "); the free-space seam covers this in the sidecar tests";
    FaultLibrary library(work / "small");
    const Tree before = snapshot(library.folder());

    const auto rows = library.run();

    auto row = rowFor(rows, "IMG_0001.DNG");
    ASSERT_TRUE(row) << describe(rows);
    EXPECT_EQ(row->resultCase, "failed");
    EXPECT_THAT(row->message, StartsWith("Insufficient disk space. Available: "));
    EXPECT_THAT(row->message, HasSubstr("MB, Required: 100MB"));
    EXPECT_EQ(differences(before, snapshot(library.folder())), std::vector<std::string>{});
    EXPECT_EQ(library.last.exitCode, 1);
}

TEST(FileSystemFault, VolumeOutOfInodesFailsWithTheSystemsReason) {
    WorkDir work;
    const fs::path where = work / "inodes";
    ScopedTmpfs volume(where, "size=200m,nr_inodes=64");
    if (!volume.mounted())
        GTEST_SKIP() << "cannot mount a volume here: " << volume.error();
    FaultLibrary library(where);
    // Use up every inode left, so that the temporary file cannot be created
    // although the volume reports plenty of free bytes.
    for (int i = 0;; ++i) {
        const fs::path filler = where / ("filler" + std::to_string(i));
        const int fd = ::open(filler.c_str(), O_CREAT | O_WRONLY, 0644);
        if (fd < 0)
            break;
        ::close(fd);
    }
    const Tree before = snapshot(library.folder());

    const auto rows = library.run();

    auto row = rowFor(rows, "IMG_0001.DNG");
    ASSERT_TRUE(row) << describe(rows);
    EXPECT_EQ(row->resultCase, "failed");
    EXPECT_EQ(row->message, "Could not create \u201C.IMG_0001.xmp.tmp\u201D: No space left on device");
    EXPECT_EQ(differences(before, snapshot(library.folder())), std::vector<std::string>{});
}

TEST(FileSystemFault, WriteStoppedHalfwayByTheKernelLeavesTheSidecar) {
    WorkDir work;
    FaultLibrary library(work / "library");
    const Tree before = snapshot(library.folder());
    RunOptions options;
    options.fileSizeLimit = 200;  // the new document is several times larger

    const auto rows = library.run(options);

    auto row = rowFor(rows, "IMG_0001.DNG");
    ASSERT_TRUE(row) << describe(rows) << library.last.err;
    EXPECT_EQ(row->resultCase, "failed");
    EXPECT_EQ(row->message, "Could not write \u201C.IMG_0001.xmp.tmp\u201D: File too large");
    EXPECT_EQ(readBytes(library.sidecar()), FaultLibrary::oldSidecar());
    // A partly written temporary file is not left behind to fill the disk further.
    EXPECT_EQ(differences(before, snapshot(library.folder())), std::vector<std::string>{});
}

// ---- read-only places -------------------------------------------------------

TEST(FileSystemFault, ReadOnlyFolderIsRefusedWithoutTouchingIt) {
    WorkDir work;
    FaultLibrary library(work / "library");
    if (runningAsRoot())
        giveToUnprivilegedUser(work.path());
    ::chmod(library.folder().c_str(), 0555);
    const Tree before = snapshot(library.folder());

    const auto rows = library.run(asUnprivilegedUser());

    auto row = rowFor(rows, "IMG_0001.DNG");
    ASSERT_TRUE(row) << describe(rows) << library.last.err;
    EXPECT_EQ(row->resultCase, "failed");
    EXPECT_EQ(row->message, "Permission denied for XMP sidecar");
    EXPECT_EQ(differences(before, snapshot(library.folder())), std::vector<std::string>{});
    library.expectHealthyPairUpdated(rows);
}

TEST(FileSystemFault, ReadOnlyMountIsRefusedWithoutTouchingIt) {
    WorkDir work;
    FaultLibrary library(work / "library");
    ScopedReadOnlyBind readOnly(library.folder());
    if (!readOnly.mounted() || !readOnly.error().empty())
        GTEST_SKIP() << "cannot mount a folder read-only here: " << readOnly.error();
    const Tree before = snapshot(library.folder());

    const auto rows = library.run();

    auto row = rowFor(rows, "IMG_0001.DNG");
    ASSERT_TRUE(row) << describe(rows);
    EXPECT_EQ(row->resultCase, "failed");
    EXPECT_EQ(row->message, "Permission denied for XMP sidecar");
    EXPECT_EQ(differences(before, snapshot(library.folder())), std::vector<std::string>{});
    library.expectHealthyPairUpdated(rows);
}

TEST(FileSystemFault, ReadOnlySidecarInAWritableFolderIsReplacedAndStaysReadOnly) {
    // The folder decides whether a file may be replaced; the new sidecar keeps
    // the old one's permission bits, so it is read-only again afterwards.
    WorkDir work;
    FaultLibrary library(work / "library");
    if (runningAsRoot())
        giveToUnprivilegedUser(work.path());
    ::chmod(library.sidecar().c_str(), 0444);

    const auto rows = library.run(asUnprivilegedUser());

    auto row = rowFor(rows, "IMG_0001.DNG");
    ASSERT_TRUE(row) << describe(rows) << library.last.err;
    EXPECT_EQ(row->resultCase, "updated") << row->message;
    EXPECT_THAT(readBytes(library.sidecar()), HasSubstr("<exif:GPSLatitude>48.25000000N</exif:GPSLatitude>"));
    struct stat st {};
    ASSERT_EQ(::stat(library.sidecar().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0444u);
    EXPECT_FALSE(fs::exists(library.temporary()));
}

TEST(FileSystemFault, UnreadableSidecarIsRefusedWithoutTouchingIt) {
    WorkDir work;
    FaultLibrary library(work / "library");
    if (runningAsRoot())
        giveToUnprivilegedUser(work.path());
    ::chmod(library.sidecar().c_str(), 0000);
    const Tree before = snapshot(library.folder());

    const auto rows = library.run(asUnprivilegedUser());

    auto row = rowFor(rows, "IMG_0001.DNG");
    ASSERT_TRUE(row) << describe(rows) << library.last.err;
    EXPECT_EQ(row->resultCase, "failed");
    EXPECT_EQ(row->message, "Permission denied for XMP sidecar");
    EXPECT_EQ(differences(before, snapshot(library.folder())), std::vector<std::string>{});
}

/// Sets or clears the immutable flag; false when the file system does not have it.
bool setImmutable(const fs::path& path, bool on) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
    if (fd < 0)
        return false;
    int flags = 0;
    bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (done) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        done = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return done;
}

TEST(FileSystemFault, ImmutableSidecarFailsAtTheReplacementAndStaysAsItWas) {
    WorkDir work;
    FaultLibrary library(work / "library");
    if (!setImmutable(library.sidecar(), true))
        GTEST_SKIP() << "the immutable flag cannot be set here (needs root on ext4, xfs, btrfs or tmpfs)";
    struct Unset {
        fs::path path;
        ~Unset() { setImmutable(path, false); }
    } unset{library.sidecar()};

    const auto rows = library.run();

    auto row = rowFor(rows, "IMG_0001.DNG");
    ASSERT_TRUE(row) << describe(rows);
    EXPECT_EQ(row->resultCase, "failed");
    EXPECT_EQ(row->message,
              "Could not replace \u201CIMG_0001.xmp\u201D with \u201C.IMG_0001.xmp.tmp\u201D: Operation not permitted");
    EXPECT_EQ(readBytes(library.sidecar()), FaultLibrary::oldSidecar());
    // The validated new document waits beside it and the next save clears it.
    EXPECT_TRUE(fs::is_regular_file(library.temporary()));
    setImmutable(library.sidecar(), false);
    const auto again = library.run();
    EXPECT_EQ(rowFor(again, "IMG_0001.DNG")->resultCase, "updated");
    EXPECT_FALSE(fs::exists(library.temporary()));
}

// ---- the sidecar's name taken by something else ------------------------------

TEST(FileSystemFault, SidecarThatIsAFolderFailsClearly) {
    WorkDir work;
    FaultLibrary library(work / "library");
    fs::remove(library.sidecar());
    fs::create_directory(library.sidecar());
    writeBytes(library.sidecar() / "inside.txt", "keep");
    const Tree before = snapshot(library.folder());

    const auto rows = library.run();

    auto row = rowFor(rows, "IMG_0001.DNG");
    ASSERT_TRUE(row) << describe(rows);
    EXPECT_EQ(row->resultCase, "failed");
    EXPECT_EQ(row->message, "Could not read \u201CIMG_0001.xmp\u201D: Is a directory");
    EXPECT_EQ(differences(before, snapshot(library.folder())), std::vector<std::string>{});
    library.expectHealthyPairUpdated(rows);
}

TEST(FileSystemFault, DanglingLinkIsAMissingSidecarAndNothingIsCreated) {
    WorkDir work;
    FaultLibrary library(work / "library");
    fs::remove(library.sidecar());
    fs::create_symlink("gone/IMG_0001.xmp", library.sidecar());
    const Tree before = snapshot(library.root());

    const auto rows = library.run();

    auto row = rowFor(rows, "IMG_0001.DNG");
    ASSERT_TRUE(row) << describe(rows);
    EXPECT_EQ(row->resultCase, "skippedMissing");
    EXPECT_EQ(row->message, "No XMP sidecar file");
    const auto changed = differences(before, snapshot(library.root()));
    ASSERT_EQ(changed.size(), 1u);  // the healthy pair
    EXPECT_EQ(changed.front(), "changed: healthy/IMG_0002.xmp");
}

// ---- the temporary file's name taken ------------------------------------------

TEST(FileSystemFault, StaleTemporaryFileIsReplacedByTheNewSave) {
    WorkDir work;
    FaultLibrary library(work / "library");
    writeBytes(library.temporary(), "half a document from a run that was killed <x:xmpmeta");

    const auto rows = library.run();

    EXPECT_EQ(rowFor(rows, "IMG_0001.DNG")->resultCase, "updated");
    EXPECT_FALSE(fs::exists(library.temporary()));
    EXPECT_THAT(readBytes(library.sidecar()), HasSubstr("48.25000000N"));
}

TEST(FileSystemFault, FolderOnTheTemporaryNameFailsAndIsLeftAlone) {
    WorkDir work;
    FaultLibrary library(work / "library");
    fs::create_directory(library.temporary());
    writeBytes(library.temporary() / "user-file.txt", "mine");
    const Tree before = snapshot(library.folder());

    const auto rows = library.run();

    auto row = rowFor(rows, "IMG_0001.DNG");
    ASSERT_TRUE(row) << describe(rows);
    EXPECT_EQ(row->resultCase, "failed");
    EXPECT_EQ(row->message, "Could not create \u201C.IMG_0001.xmp.tmp\u201D: File exists");
    EXPECT_EQ(differences(before, snapshot(library.folder())), std::vector<std::string>{});
}

TEST(FileSystemFault, LinkOnTheTemporaryNameIsRemovedNotWrittenThrough) {
    WorkDir work;
    FaultLibrary library(work / "library");
    const fs::path victim = work / "victim.txt";
    writeBytes(victim, "a file elsewhere that must not change");
    fs::create_symlink(victim, library.temporary());

    const auto rows = library.run();

    EXPECT_EQ(rowFor(rows, "IMG_0001.DNG")->resultCase, "updated");
    EXPECT_EQ(readBytes(victim), "a file elsewhere that must not change");
    EXPECT_FALSE(fs::exists(fs::symlink_status(library.temporary())));
}

TEST(FileSystemFault, FifoOnTheTemporaryNameNeitherBlocksNorSurvives) {
    WorkDir work;
    FaultLibrary library(work / "library");
    ASSERT_EQ(::mkfifo(library.temporary().c_str(), 0644), 0);

    RunOptions options;
    options.timeout = std::chrono::seconds(20);
    const auto rows = library.run(options);

    EXPECT_EQ(rowFor(rows, "IMG_0001.DNG")->resultCase, "updated");
    EXPECT_FALSE(fs::exists(fs::symlink_status(library.temporary())));
}

// ---- a folder that disappears --------------------------------------------------

/// Passes every call on to the real system, but first runs `hook` when the
/// named operation is reached (once).
class HookedFileSystem : public sidecar::FileSystem {
public:
    std::string trigger;
    std::function<void()> hook;

    Result<std::optional<std::uint64_t>> availableCapacity(const fs::path& folder) override {
        fire("capacity");
        return sidecar::FileSystem::availableCapacity(folder);
    }
    Result<int> createExclusive(const fs::path& path, mode_t mode) override {
        fire("create");
        return sidecar::FileSystem::createExclusive(path, mode);
    }
    Result<std::string> readFile(const fs::path& path) override {
        // The update reads the sidecar once before it saves; the validation
        // reads the temporary file.
        if (path.filename().string().ends_with(".tmp"))
            fire("validate");
        return sidecar::FileSystem::readFile(path);
    }
    Status rename(const fs::path& from, const fs::path& to) override {
        fire("rename");
        return sidecar::FileSystem::rename(from, to);
    }

private:
    void fire(const std::string& operation) {
        if (operation == trigger && hook) {
            auto once = std::move(hook);
            hook = nullptr;
            once();
        }
    }
};

struct VanishCase {
    const char* name;
    const char* trigger;
    const char* message;
};

void PrintTo(const VanishCase& c, std::ostream* os) { *os << c.name; }

class FolderDeletedMidSave : public ::testing::TestWithParam<VanishCase> {};

TEST_P(FolderDeletedMidSave, FailsWithTheSystemsReasonAndCreatesNothing) {
    WorkDir work;
    FaultLibrary library(work / "library");
    HookedFileSystem hooked;
    hooked.trigger = GetParam().trigger;
    const fs::path folder = library.folder();
    hooked.hook = [folder] { fs::remove_all(folder); };
    sidecar::ScopedFileSystemOverride override(hooked);
    ScopedProcessingOptions options(ProcessingOptionValues{.dryRun = false});
    diag::ScopedSink quiet([](std::string_view) {});

    const auto outcome = testing::legacyUpdate(library.sidecar(), kLatitude, kLongitude);

    ASSERT_FALSE(outcome);
    EXPECT_EQ(outcome.error().message, GetParam().message);
    EXPECT_FALSE(fs::exists(folder)) << "the folder was created again";
}

INSTANTIATE_TEST_SUITE_P(
    Moments, FolderDeletedMidSave,
    ::testing::Values(
        VanishCase{"BeforeTheSpaceCheck", "capacity",
                   "Could not determine the free space for \u201CIMG_0001.xmp\u201D: No such file or directory"},
        VanishCase{"BeforeTheTemporaryFile", "create",
                   "Could not create \u201C.IMG_0001.xmp.tmp\u201D: No such file or directory"},
        VanishCase{"DuringTheValidation", "validate", "Temp file is not valid XML: Could not read "
                                                      "\u201C.IMG_0001.xmp.tmp\u201D: No such file or directory"},
        VanishCase{"BeforeTheReplacement", "rename",
                   "Could not replace \u201CIMG_0001.xmp\u201D with \u201C.IMG_0001.xmp.tmp\u201D: No such file "
                   "or directory"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FileSystemFault, FoldersDeletedWhileARunIsUnderWayNeverCorruptTheRest) {
    // A real race: folders vanish while the program works through them. Every
    // sidecar that is still there afterwards is either old or new, every file
    // gets one row, and the program ends normally.
    WorkDir work;
    const fs::path root = work / "library";
    const std::string oldText = FaultLibrary::oldSidecar();
    constexpr int kFolders = 12, kPairs = 4;
    for (int f = 0; f < kFolders; ++f) {
        const fs::path dir = root / ("day" + std::to_string(f));
        fs::create_directories(dir);
        for (int i = 0; i < kPairs; ++i) {
            writeGpsImage(dir / ("IMG_" + std::to_string(i) + ".DNG"), kLatitude, kLongitude);
            writeBytes(dir / ("IMG_" + std::to_string(i) + ".xmp"), oldText);
        }
    }
    const pid_t pid = spawnQuiet({cliPath().string(), "--write", root.string()});
    ASSERT_GT(pid, 0);
    for (int f = kFolders - 1; f >= 0; f -= 2) {
        std::error_code ec;
        fs::remove_all(root / ("day" + std::to_string(f)), ec);
        ::usleep(2000);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "the program died of signal " << WTERMSIG(status);
    EXPECT_LE(WEXITSTATUS(status), 1);

    const std::string newText = readBytes(root / "day0" / "IMG_0.xmp");  // never deleted
    ASSERT_NE(newText, oldText) << "the first folder was not updated";
    for (const auto& [name, entry] : snapshot(root)) {
        const bool temporary = fs::path(name).filename().string().front() == '.';
        if (!name.ends_with(".xmp") || temporary)
            continue;
        ASSERT_EQ(entry.type, 'f') << name;
        EXPECT_TRUE(entry.content == oldText || entry.content == newText) << name << " is neither old nor new";
    }
}

// ---- the free-space seam, for machines without mount privileges ----------------

class TightSpace : public sidecar::FileSystem {
public:
    Result<std::optional<std::uint64_t>> availableCapacity(const fs::path&) override {
        return std::optional<std::uint64_t>(104'857'599);
    }
};

TEST(FileSystemFault, OneByteShortOfTheRequiredSpaceWritesNothing) {
    WorkDir work;
    FaultLibrary library(work / "library");
    const Tree before = snapshot(library.folder());
    TightSpace tight;
    sidecar::ScopedFileSystemOverride override(tight);
    ScopedProcessingOptions options(ProcessingOptionValues{.dryRun = false});
    diag::ScopedSink quiet([](std::string_view) {});

    const auto outcome = testing::legacyUpdate(library.sidecar(), kLatitude, kLongitude);

    ASSERT_FALSE(outcome);
    EXPECT_EQ(outcome.error().message, "Insufficient disk space. Available: 99MB, Required: 100MB");
    EXPECT_EQ(differences(before, snapshot(library.folder())), std::vector<std::string>{});
}

}  // namespace
}  // namespace meridane::hardening
