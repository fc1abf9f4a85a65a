// SPDX-License-Identifier: GPL-3.0-or-later
// What a save must not replace or remove, and what it checks before replacing.
#include "SidecarTesting.h"
#include "TestFileSystem.h"
#include "sidecar/internal/AtomicSave.h"

#include <gmock/gmock.h>

#include <grp.h>
#include <pwd.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace meridane::testing {
namespace {
namespace fs = std::filesystem;

const std::string kEdited = sidecarXml("37.7749", "122.4194", "N", "X");  // same size, other bytes

/// A journal that notes each call in `calls`; makeDurable fails with `refusal` when one is set.
struct NotingLog : ReplacementLog {
    std::vector<std::string>& calls;
    std::optional<Error> refusal;
    explicit NotingLog(std::vector<std::string>& c) : calls(c) {}
    Result<std::uint32_t> record(const SidecarReplacement&) override {
        calls.push_back("record");
        return 7u;
    }
    Status makeDurable(std::uint32_t entry) override {
        calls.push_back("durable " + std::to_string(entry));
        return refusal ? Status(*refusal) : Status(Done{});
    }
    void settle(std::uint32_t entry, bool replaced) override {
        calls.push_back("settle " + std::to_string(entry) + (replaced ? " replaced" : " dropped"));
    }
};

/// The error, or an empty one for a success, so that a loop over cases goes on.
template <typename T>
Error errorOf(const Result<T>& result) {
    return result ? Error{} : result.error();
}

/// Whether the test folders' volume keeps user attributes (the marks).
bool keepsMarks() {
    TempDir dir;
    writeFile(dir / "probe", "");
    return ::setxattr((dir / "probe").c_str(), sidecar::kTemporaryMark, "1", 1, 0) == 0;
}

bool temporaryLeft(const SidecarFolder& folder) { return fs::exists(fs::symlink_status(folder.dir / ".IMG_0001.xmp.tmp")); }

TEST(SaveGuard, AnEditTheChecksCannotSeeByTimeIsKept) {
    struct Case {
        const char* name;
        bool coarseClock;
        bool betweenCheckAndReplacement;  ///< else right after the temporary file's flush
        bool replacedByRename;            ///< as `sed -i` does; else written in place
        bool noExchange = false;
    };
    const Case cases[] = {
        {"same tick, in place", true, false, false},
        {"same tick, in place, without swaps", true, false, false, true},
        {"after the check, in place", false, true, false},
        {"after the check, in place, same tick", true, true, false},
        {"after the check, renamed over it", false, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SidecarFolder folder;
        ASSERT_EQ(readFile(folder.sidecar).size(), kEdited.size());
        bool edited = false;
        const auto edit = [&] {
            if (edited)
                return;
            edited = true;
            if (!c.replacedByRename) {
                writeFile(folder.sidecar, kEdited);  // same inode, same size
                return;
            }
            writeFile(folder.dir / "sed.tmp", kEdited);
            fs::rename(folder.dir / "sed.tmp", folder.sidecar);
        };
        TestFileSystem hooked;
        hooked.coarseClock = c.coarseClock;
        hooked.noExchange = c.noExchange;
        if (c.betweenCheckAndReplacement)
            hooked.afterStatus = edit;
        else
            hooked.afterSync = [&](int) { edit(); };
        const auto outcome = folder.update();
        ASSERT_TRUE(edited);
        EXPECT_EQ(errorOf(outcome),
                  (Error{ErrorDomain::xmp, kSidecarChanged, "XMP sidecar changed while it was being updated"}));
        EXPECT_EQ(readFile(folder.sidecar), kEdited);
        EXPECT_FALSE(temporaryLeft(folder));
    }
}

TEST(SaveGuard, TheTemporaryFileIsCheckedAsWritten) {
    // Exactly what a journal kept, however small, is put back; a temporary
    // file that lost its bytes after the flush replaces nothing.
    const std::string tiny = "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF/></x:xmpmeta>\n";
    const std::string small = tiny + std::string(91 - tiny.size(), '\n');
    ASSERT_EQ(small.size(), 91u);
    struct Case {
        const char* name;
        bool restore;
        std::function<void(int)> afterFlush;
        std::string failure;  ///< empty: saved
    };
    const Case cases[] = {
        {"restore of 91 bytes", true, {}, ""},
        {"restore emptied", true, [](int fd) { (void)::ftruncate(fd, 0); }, "Temp file does not hold the bytes written"},
        {"restore shortened", true, [](int fd) { (void)::ftruncate(fd, 50); }, "Temp file does not hold the bytes written"},
        {"update emptied", false, [](int fd) { (void)::ftruncate(fd, 0); }, "Temp file is empty"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SidecarFolder folder;
        const std::string before = readFile(folder.sidecar);
        TestFileSystem hooked;
        hooked.afterSync = c.afterFlush;
        Status saved = Done{};
        if (c.restore) {
            diag::ScopedSink quiet([](std::string_view) {});
            auto file = folder.open();
            ASSERT_TRUE(file);
            saved = restoreSidecarBytes(file.value(), small, {false, false, {}, nullptr});
        } else if (auto outcome = folder.update(); !outcome) {
            saved = outcome.error();
        }
        EXPECT_EQ(saved.ok() ? "" : saved.error().message, c.failure);
        EXPECT_EQ(readFile(folder.sidecar), c.failure.empty() ? small : before);
        // An update's file that failed validation waits for the next save to clear it.
        EXPECT_EQ(temporaryLeft(folder), !c.restore && !c.failure.empty());
    }
}

TEST(SaveGuard, TheJournalEntryIsDurableBeforeTheSidecarIsReplaced) {
    struct Case {
        const char* name;
        bool refused, noExchange;
    };
    for (const Case& c : {Case{"swapped", false, false}, Case{"refused", true, false}, Case{"renamed", false, true}}) {
        SCOPED_TRACE(c.name);
        SidecarFolder folder;
        const std::string before = readFile(folder.sidecar);
        std::vector<std::string> calls;
        TestFileSystem hooked;
        hooked.calls = &calls;
        hooked.noExchange = c.noExchange;
        NotingLog log(calls);
        if (c.refused)
            log.refusal = Error{ErrorDomain::journal, 5, "journal full"};
        const auto outcome = folder.update(false, false, {}, CoordinateFormat::decimal, &log);
        EXPECT_EQ(outcome.ok(), !c.refused);
        EXPECT_THAT(calls, ::testing::ElementsAreArray(
                               c.refused ? std::vector<std::string>{"record", "durable 7", "settle 7 dropped"}
                                         : std::vector<std::string>{"record", "durable 7", "replace", "settle 7 replaced"}));
        EXPECT_EQ(readFile(folder.sidecar) == before, c.refused);
        EXPECT_FALSE(temporaryLeft(folder)) << "a validated file without its journal entry is removed";
    }
}

std::string groupName(gid_t group) {
    const struct group* entry = ::getgrgid(group);
    return entry ? entry->gr_name : std::to_string(group);
}

TEST(SaveGuard, ASidecarWhoseOwnerCannotBeKeptIsNotReplaced) {
    const bool root = ::geteuid() == 0;
    struct Case {
        uid_t owner;          ///< as root; otherwise the sidecar stays this process's
        std::string account;  ///< in the message, as root
    };
    const struct passwd* nobody = ::getpwuid(65534);
    const Case cases[] = {
        {65534, std::string("owner (") + (nobody ? nobody->pw_name : "65534")},
        {54321, "owner (54321"},  // an owner the system has no name for
        {::geteuid(), "group (" + groupName(::getegid())},  // our own file: its group is at stake
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.account);
        SidecarFolder folder;
        if (root) {
            ASSERT_EQ(::chown(folder.sidecar.c_str(), c.owner, ::getegid()), 0);
        }
        const std::string before = readFile(folder.sidecar);
        struct stat st {};
        ASSERT_EQ(::stat(folder.sidecar.c_str(), &st), 0);
        const std::string account = root ? c.account : "group (" + groupName(st.st_gid);
        TestFileSystem hooked;
        hooked.setOwnerResult = [] { return Status(sidecar::systemError(EPERM)); };
        const auto outcome = folder.update();
        EXPECT_EQ(errorOf(outcome).message, "Cannot keep the XMP sidecar's " + account + "); not replaced");
        EXPECT_EQ(readFile(folder.sidecar), before);
        EXPECT_FALSE(temporaryLeft(folder));
    }
}

TEST(SaveGuard, RemovesOnlyTemporaryFilesASaveMade) {
    if (!keepsMarks())
        GTEST_SKIP() << "the test folders' volume keeps no user attributes";
    const Error inTheWay{ErrorDomain::xmp, kTemporaryInTheWay, "A file named .IMG_0001.xmp.tmp is in the way"};
    struct Case {
        const char* name;
        std::function<void(const fs::path&)> make;
        Error refusal;         ///< none: the file is cleared and the sidecar saved
        bool noMarks = false;  ///< a volume without user attributes: the content tells
    };
    int live = -1;  // the lock of a save still writing its temporary file
    const auto marked = [](const fs::path& p) {
        writeFile(p, "left by a save that failed");
        return ::setxattr(p.c_str(), sidecar::kTemporaryMark, "1", 1, 0) == 0;
    };
    const Case cases[] = {
        {"the user's own file", [](const fs::path& p) { writeFile(p, "my notes"); }, inTheWay},
        {"a link", [](const fs::path& p) { fs::create_symlink("IMG_0001.xmp", p); }, inTheWay},
        {"a save's leftover", [&](const fs::path& p) { ASSERT_TRUE(marked(p)); }, {}},
        {"a live save's file", [&](const fs::path& p) {
             ASSERT_TRUE(marked(p));
             live = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
             ASSERT_EQ(::flock(live, LOCK_EX), 0);
         }, Error{ErrorDomain::xmp, kSidecarBusy, "XMP sidecar is being saved by another program"}},
        {"a save stopped before marking it", [](const fs::path& p) { writeFile(p, ""); }, {}},
        {"a save's leftover, no marks", [](const fs::path& p) { writeFile(p, sidecarXml("1", "2", "N", "E")); }, {},
         true},
        {"the user's own file, no marks", [](const fs::path& p) { writeFile(p, "my notes"); }, inTheWay, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SidecarFolder folder;
        const fs::path temp = folder.dir / ".IMG_0001.xmp.tmp";
        c.make(temp);
        const std::string before = readFile(folder.sidecar), tempBefore = readFile(temp);
        TestFileSystem hooked;
        hooked.noMarks = c.noMarks;
        const auto outcome = folder.update();
        if (live >= 0)
            ::close(std::exchange(live, -1));
        EXPECT_EQ(errorOf(outcome), c.refusal);
        if (c.refusal.message.empty()) {
            EXPECT_EQ(gpsOf(readFile(folder.sidecar)), kExpectedGps);
            EXPECT_FALSE(temporaryLeft(folder));
            continue;
        }
        EXPECT_EQ(readFile(folder.sidecar), before);
        EXPECT_TRUE(temporaryLeft(folder));
        EXPECT_EQ(readFile(temp), tempBefore);
    }
}

}  // namespace
}  // namespace meridane::testing
