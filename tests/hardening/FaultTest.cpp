// SPDX-License-Identifier: GPL-3.0-or-later
// Real faults under the real program: full volumes, a file-size limit,
// read-only places, immutable, unreadable and huge sidecars, things on the
// sidecar's or the temporary file's name, folders vanishing mid-run. Each ends
// in its row with nothing else changed and a healthy pair elsewhere updated.
// As root, volumes are private tmpfs mounts and permissions faults run as "nobody".
#include "HardeningSupport.h"

#include <gmock/gmock.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace meridane::hardening {
namespace {
namespace fs = std::filesystem;
using ::testing::StartsWith;

struct Fault {
    const char* name;
    /// Prepares photos/ (holding the pair IMG_0001); returns why it cannot here, or "".
    std::function<std::string(const fs::path& photos, RunOptions& options)> make;
    const char* resultCase;
    std::string message;  ///< its start
};

TEST(Faults, EndInTheirRowAndChangeNothingElse) {
    const fs::path kSidecar = "IMG_0001.xmp";
    const auto linkSidecarTo = [&](const fs::path& p, const char* target) {
        fs::remove(p / kSidecar);
        fs::create_symlink(target, p / kSidecar);
        return "";
    };
    const Fault faults[] = {
        {"full volume", [](const fs::path& p, RunOptions&) {
             return mount(p, "size=2m").empty() ? (writePair(p / "IMG_0001"), "") : "cannot mount";
         }, "failed", "Insufficient disk space. Available: "},
        {"no inodes", [](const fs::path& p, RunOptions&) {
             const std::string why = mount(p, "size=200m,nr_inodes=8");
             for (int i = why.empty() ? (writePair(p / "IMG_0001"), 0) : -1;
                  i >= 0 && ::close(::open((p / std::to_string(i)).c_str(), O_CREAT | O_WRONLY, 0644)) == 0; ++i) {
             }
             return why;
         }, "failed", "Could not create \u201C.IMG_0001.xmp.tmp\u201D: No space left on device"},
        // The run's journal is the first file a save writes: no entry, no save.
        {"write stopped halfway", [](const fs::path&, RunOptions& o) { o.fileSizeLimit = 200; return ""; }, "failed",
         "Could not keep the sidecar's earlier content in the run's journal (write "},
        {"read-only folder", [](const fs::path& p, RunOptions& o) { o = asUnprivilegedUser(); ::chmod(p.c_str(), 0555); return ""; },
         "failed", "Cannot write to folder <photos>: permission denied"},
        {"read-only mount", [](const fs::path& p, RunOptions&) { return mount(p, "", true); }, "failed",
         "Cannot write to folder <photos>: read-only file system"},
        {"loop of links", [&](const fs::path& p, RunOptions&) {
             fs::create_symlink(kSidecar, p / "other.xmp");
             return linkSidecarTo(p, "other.xmp");
         }, "failed", "Could not read \u201CIMG_0001.xmp\u201D: Too many levels of symbolic links"},
        {"unreadable sidecar", [&](const fs::path& p, RunOptions& o) { o = asUnprivilegedUser(); ::chmod((p / kSidecar).c_str(), 0); return ""; },
         "failed", "Permission denied for XMP sidecar"},
        // A member of a shared folder's group may write the sidecar but not give a file its owner.
        {"another user's sidecar in a shared folder", [&](const fs::path& p, RunOptions& o) {
             o = asUnprivilegedUser();
             if (!o.uid)
                 return "needs root to run as another user";
             ::chmod(p.c_str(), 0777);
             ::chmod((p / kSidecar).c_str(), 0666);
             return "";
         }, "failed", "Cannot keep the XMP sidecar's owner (root); not replaced"},
        {"immutable sidecar", [&](const fs::path& p, RunOptions&) { return setImmutable(p / kSidecar, true) ? "" : "no immutable flag here"; },
         "failed", "Could not replace \u201CIMG_0001.xmp\u201D with \u201C.IMG_0001.xmp.tmp\u201D: Operation not permitted"},
        {"dangling link", [&](const fs::path& p, RunOptions&) { return linkSidecarTo(p, "gone.xmp"); },
         "skippedMissing", "No XMP sidecar file"},
        {"folder on the temporary name", [](const fs::path& p, RunOptions&) { fs::create_directories(p / ".IMG_0001.xmp.tmp/mine"); return ""; },
         "failed", "Could not create \u201C.IMG_0001.xmp.tmp\u201D: File exists"},
    };
    for (const Fault& fault : faults) {
        SCOPED_TRACE(fault.name);
        testing::TempDir dir;
        const fs::path photos = dir / "photos";
        writePair(photos / "IMG_0001");
        writePair(dir / "healthy/IMG_0001");
        RunOptions options;
        if (const std::string why = fault.make(photos, options); !why.empty()) {
            std::cout << "[ skipped  ] " << fault.name << ": " << why << "\n";
            continue;
        }
        if (options.uid)  // the other user's own pair: a save keeps a sidecar's owner or fails
            for (const fs::path& p : {dir / "healthy", dir / "healthy/IMG_0001.xmp"}) {
                ASSERT_EQ(::chown(p.c_str(), *options.uid, *options.gid), 0);
            }
        const Tree before = snapshot(photos);
        RunResult run;
        const auto rows = runCli({photos.string(), (dir / "healthy").string()}, run, options);
        ASSERT_EQ(rows.size(), 2u) << run.out << run.err;
        const bool first = rows[0].file.starts_with(photos.string());
        EXPECT_EQ(rows[first ? 0 : 1].resultCase, fault.resultCase);
        std::string expected = fault.message;
        if (const auto at = expected.find("<photos>"); at != std::string::npos)
            expected.replace(at, 8, photos.string());
        EXPECT_THAT(rows[first ? 0 : 1].message, StartsWith(expected));
        auto changed = differences(before, snapshot(photos));
        if (fault.message.starts_with("Could not replace"))  // validated, it waits for the next save to clear it
            std::erase(changed, "added: .IMG_0001.xmp.tmp");
        EXPECT_EQ(changed, std::vector<std::string>{});
        // A fault in one folder stops nothing else (a size limit holds for both).
        EXPECT_EQ(rows[first ? 1 : 0].resultCase, options.fileSizeLimit ? "failed" : "updated");
        setImmutable(photos / "IMG_0001.xmp", false);
    }
}

TEST(Faults, FoldersVanishingDuringARunCorruptNothing) {
    testing::TempDir dir;
    for (int n = 0; n < 48; ++n)
        writePair(dir / std::to_string(n / 4) / std::to_string(n % 4));
    const std::string old = testing::readFile(dir / "0/0.xmp");
    const pid_t pid = testing::spawnQuiet({cliPath().string(), "--write", dir.path().string()});
    std::error_code ec;  // the program may add a temporary file while a folder goes
    for (int f = 11; f >= 0; f -= 2) {
        fs::remove_all(dir / std::to_string(f), ec);
        ::usleep(2000);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "died of signal " << WTERMSIG(status);
    const std::string fresh = testing::readFile(dir / "0/0.xmp");
    ASSERT_NE(fresh, old);
    for (const auto& [name, entry] : snapshot(dir.path()))
        EXPECT_TRUE(!name.ends_with(".xmp") || entry == "f420 " + old || entry == "f420 " + fresh) << name;
}

}  // namespace
}  // namespace meridane::hardening
