// SPDX-License-Identifier: GPL-3.0-or-later
// The atomic save: free space, validation, failed calls, lock, metadata, links.
#include "SidecarTesting.h"
#include "TestFileSystem.h"
#include "sidecar/internal/AtomicSave.h"

#include <gmock/gmock.h>

#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <fcntl.h>
#include <unistd.h>

#include <thread>

namespace meridane::testing {
namespace {
namespace fs = std::filesystem;
using ::testing::StartsWith;

TEST(Save, FreeSpaceCountsTheMarginAndTheNewDocument) {
    constexpr std::uint64_t MB = 1'048'576;
    const std::string big(2'500'000, ' ');
    struct Case {
        std::optional<std::uint64_t> available;
        std::string body;
        std::string failure;  ///< empty: saved
    };
    const Case cases[] = {
        {100 * MB, "", ""},
        {100 * MB - 1, "", "Insufficient disk space. Available: 99MB, Required: 100MB"},
        {std::nullopt, "", "Insufficient disk space. Available: 0MB, Required: 100MB"},
        {101 * MB, "<xmp:Note>" + big + "x</xmp:Note>", "Insufficient disk space. Available: 101MB, Required: 102MB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failure);
        SidecarFolder folder(sidecarXml("37.7749", "122.4194", "N", "W", c.body));
        const std::string before = readFile(folder.sidecar);
        TestFileSystem faulty;
        faulty.capacity = c.available;
        diag::LineCapture capture;
        auto file = folder.open();
        const auto outcome = updateSidecarGPS(file, kLat, kLon, {false, false, {}});
        if (c.failure.empty()) {
            EXPECT_TRUE(outcome);
            EXPECT_TRUE(capture.contains("[DEBUG] Disk space check passed: 100MB available"));
            continue;
        }
        ASSERT_FALSE(outcome);
        EXPECT_EQ(outcome.error(), (Error{ErrorDomain::diskSpace, 1, c.failure}));
        EXPECT_TRUE(capture.contains("[DEBUG] Failed to check disk space: Error Domain=DiskSpace Code=1 \"" +
                                     c.failure + "\""));
        EXPECT_EQ(readFile(folder.sidecar), before);
        EXPECT_EQ(fs::directory_iterator(folder.dir.path())->path(), folder.sidecar) << "something was written";
    }
}

TEST(Save, ValidationRunsItsChecksInOrder) {
    TempDir dir;
    const std::string padding(100, ' ');
    struct Case {
        std::optional<std::string> temp;
        std::string message;  ///< empty: passes
    };
    const Case cases[] = {
        {std::nullopt, "Temp file was not created"},
        {"", "Temp file is empty"},
        {std::string(99, 'x'), "Temp file too small (99 bytes), likely corrupted"},
        {std::string(100, 'x'), "Temp file is not valid XML: XML parse error at line 1: "},
        {"<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><dc:t xmlns:dc=\"d\">t</dc:t></x:xmpmeta>" + padding,
         "Temp file missing required XMP structure (rdf:Description)"},
        {sidecarXml(std::nullopt, "1.5W", "N", "W"), "Temp file missing expected GPS coordinates"},
        {sidecarXml("north", "1.5W", "N", "W"), "Temp file contains unparseable GPS coordinates"},
        {sidecarXml("1.5N", "1.5W", "E", "W"), "Temp file contains invalid GPS hemisphere references"},
        {sidecarXml("1.5N", "1.5W", std::nullopt, "W"), "Temp file contains invalid GPS hemisphere references"},
        {sidecarXml("1.5", "1,30W", "NORTH", "west"), ""},
        {std::string(100, 'x').replace(0, 1, "<"), "Temp file is not valid XML: "},
    };
    auto folder = sidecar::fileSystem().openFolder(dir.path());
    ASSERT_TRUE(folder);
    sidecar::Descriptor held(folder.value());
    diag::ScopedSink quiet([](std::string_view) {});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        fs::remove(dir / "t.tmp");
        if (c.temp)
            writeFile(dir / "t.tmp", *c.temp);
        const Status valid = validateTempFile(held.get(), "t.tmp", 0);
        if (c.message.empty())
            EXPECT_TRUE(valid);
        else
            EXPECT_THAT(valid ? "" : valid.error().message, StartsWith(c.message));
    }
    // The size warning: above half the previous size only, in whole percent.
    for (const auto& [size, line] : std::vector<std::pair<size_t, std::string>>{
             {1500, ""}, {1501, "(50% change)"}, {400, "(60% change)"}}) {
        writeFile(dir / "t.tmp", std::string(size, 'x'));
        diag::LineCapture capture;
        (void)validateTempFile(held.get(), "t.tmp", 1000);
        const std::string warning = "[DEBUG] Warning: Significant size change - Original: 1000 bytes, New: " +
                                    std::to_string(size) + " bytes " + line;
        EXPECT_EQ(capture.contains(warning), !line.empty()) << size;
    }
}

TEST(Save, AFailedCallLeavesTheSidecarAndNoHalfWrittenFile) {
    struct Case {
        const char* call;
        int code, after;
        std::string message;
        bool temporaryStays;  ///< complete and validated: the next save clears it
    };
    const Case cases[] = {
        {"write", ENOSPC, 1, "Could not write \u201C.IMG_0001.xmp.tmp\u201D: No space left on device", false},
        {"sync", EIO, 0, "Could not write \u201C.IMG_0001.xmp.tmp\u201D: Input/output error", false},
        {"exchange", EPERM, 0,
         "Could not replace \u201CIMG_0001.xmp\u201D with \u201C.IMG_0001.xmp.tmp\u201D: Operation not permitted",
         true},
        {"rename", EPERM, 0,
         "Could not replace \u201CIMG_0001.xmp\u201D with \u201C.IMG_0001.xmp.tmp\u201D: Operation not permitted",
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.call);
        SidecarFolder folder;
        const std::string before = readFile(folder.sidecar);
        {
            TestFileSystem faulty;
            faulty.failing = c.call;
            faulty.code = c.code;
            faulty.after = c.after;
            faulty.noExchange = c.call == std::string("rename");
            const auto outcome = folder.update();
            ASSERT_FALSE(outcome);
            EXPECT_EQ(outcome.error().message, c.message);
        }
        EXPECT_EQ(readFile(folder.sidecar), before);
        EXPECT_EQ(fs::exists(folder.dir / ".IMG_0001.xmp.tmp"), c.temporaryStays);
        ASSERT_TRUE(folder.update());
        EXPECT_EQ(gpsOf(readFile(folder.sidecar)), kExpectedGps);
        EXPECT_FALSE(fs::exists(folder.dir / ".IMG_0001.xmp.tmp"));
    }
}

TEST(Save, TheNewFileGetsExactlyTheSidecarsModeOwnerGroupAndAttributes) {
    // The access list is the sidecar's own, or none where the folder's default one would give the new file one.
    for (const bool sidecarHasAcl : {true, false}) {
        SCOPED_TRACE(sidecarHasAcl ? "the sidecar's access list" : "the folder's default access list");
        SidecarFolder folder;
        ::chmod(folder.sidecar.c_str(), 0640);
        ASSERT_TRUE(::geteuid() != 0 || ::chown(folder.sidecar.c_str(), 54321, 54322) == 0);
        if (::setxattr(folder.sidecar.c_str(), "user.xdg.tags", "trip,2024", 9, 0) != 0)
            GTEST_SKIP() << "no extended attributes on " << folder.dir.path();
        const fs::path aclHolder = sidecarHasAcl ? folder.sidecar : folder.dir.path();
        const char* aclName = sidecarHasAcl ? "system.posix_acl_access" : "system.posix_acl_default";
        const bool haveAcl = ::setxattr(aclHolder.c_str(), aclName, kAcl, sizeof kAcl, 0) == 0;
        struct stat before {};
        ::stat(folder.sidecar.c_str(), &before);

        ASSERT_TRUE(folder.update());

        struct stat after {};
        ::stat(folder.sidecar.c_str(), &after);
        EXPECT_NE(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_mode, before.st_mode);
        EXPECT_EQ(after.st_uid, before.st_uid);
        EXPECT_EQ(after.st_gid, before.st_gid);
        char tags[32] = {};
        EXPECT_EQ(::getxattr(folder.sidecar.c_str(), "user.xdg.tags", tags, sizeof tags), 9);
        EXPECT_STREQ(tags, "trip,2024");
        unsigned char copied[64] = {};
        EXPECT_EQ(::getxattr(folder.sidecar.c_str(), "system.posix_acl_access", copied, sizeof copied),
                  sidecarHasAcl && haveAcl ? static_cast<ssize_t>(sizeof kAcl) : -1);
        EXPECT_LT(::getxattr(folder.sidecar.c_str(), sidecar::kTemporaryMark, nullptr, 0), 0);
    }
}

TEST(Save, RefusesWhatItCannotReplaceWithoutLoss) {
    SidecarFolder named;
    named.sidecar = named.dir / (std::string(247, 'n') + ".xmp");
    writeFile(named.sidecar, kNeedsLettersXml);
    const auto tooLong = named.update();
    ASSERT_FALSE(tooLong);
    EXPECT_EQ(tooLong.error().message, "XMP sidecar name is too long for its temporary file (251 bytes; at most 250)");
}

TEST(Save, WaitsForAnotherProgramsSaveAndReadsWhatItLeft) {
    SidecarFolder folder;
    const int held = ::open(folder.sidecar.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    const auto started = std::chrono::steady_clock::now();
    const auto busy = folder.open();
    ASSERT_FALSE(busy);
    EXPECT_EQ(busy.error(), (Error{ErrorDomain::xmp, kSidecarBusy, "XMP sidecar is being saved by another program"}));
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(200));
    EXPECT_TRUE(folder.open(false)) << "reading alone needs no lock";

    // The other program replaces the sidecar and lets go while this one waits.
    std::thread other([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        writeFile(folder.dir / "theirs.tmp", kCorrectXml);
        fs::rename(folder.dir / "theirs.tmp", folder.sidecar);
        ::close(held);
    });
    const auto waited = folder.open();
    other.join();
    ASSERT_TRUE(waited);
    EXPECT_EQ(waited->bytes(), kCorrectXml);
}

TEST(Save, ReplacesOnlyTheFileReadWhereItWasRead) {
    // Each case changes something at the last moment before the rename.
    struct Case {
        const char* name;
        std::function<void(const fs::path& dir)> change;
        std::string message;
        std::string after;  ///< what the link's target holds afterwards; empty: as it was
    };
    const Case cases[] = {
        {"edited in place", [](const fs::path& d) { writeFile(d / "store/IMG_0001.xmp", "rating 5"); },
         "XMP sidecar changed while it was being updated", "rating 5"},
        {"replaced", [](const fs::path& d) {
             writeFile(d / "new.xmp", "rating 5");
             fs::rename(d / "new.xmp", d / "store/IMG_0001.xmp");
         }, "XMP sidecar changed while it was being updated", "rating 5"},
        {"link swapped", [](const fs::path& d) {
             fs::remove(d / "IMG_0001.xmp");
             fs::create_symlink("victim.txt", d / "IMG_0001.xmp");
         }, "XMP sidecar was moved or relinked while it was being updated", ""},
        {"journal refuses", [](const fs::path&) {}, "journal full", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SidecarFolder folder;
        fs::create_directory(folder.dir / "store");
        fs::rename(folder.sidecar, folder.dir / "store/IMG_0001.xmp");
        fs::create_symlink("store/IMG_0001.xmp", folder.sidecar);
        writeFile(folder.dir / "victim.txt", "mine");
        const std::string old = readFile(folder.sidecar);
        std::string handedOver;
        const auto outcome = folder.update(false, false, [&](const SidecarReplacement& r) -> Status {
            handedOver = r.oldBytes;
            c.change(folder.dir.path());
            if (c.message == "journal full")
                return Error{ErrorDomain::xmp, 9, "journal full"};
            return Done{};
        });
        ASSERT_FALSE(outcome);
        EXPECT_EQ(outcome.error().message, c.message);
        EXPECT_EQ(handedOver, old);
        EXPECT_EQ(readFile(folder.dir / "victim.txt"), "mine");
        EXPECT_EQ(readFile(folder.dir / "store/IMG_0001.xmp"), c.after.empty() ? old : c.after);
    }
    SidecarFolder linked;  // and without a change, the link's target is replaced and the link kept
    fs::rename(linked.sidecar, linked.dir / "target.xmp");
    fs::create_symlink("target.xmp", linked.sidecar);
    ASSERT_TRUE(linked.update());
    EXPECT_EQ(fs::read_symlink(linked.sidecar), "target.xmp");
    EXPECT_EQ(gpsOf(readFile(linked.dir / "target.xmp")), kExpectedGps);
}

}  // namespace
}  // namespace meridane::testing
