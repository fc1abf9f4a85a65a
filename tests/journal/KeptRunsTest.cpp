// SPDX-License-Identifier: GPL-3.0-or-later
// The runs folder as a store: what --list-runs says of its files, the
// folders it makes, and journal entries too absurd to unpack.
#include "SidecarBuilder.h"
#include "TestSupport.h"
#include "engine/RunHistory.h"
#include "journal/RunJournal.h"
#include "journal/RunStore.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <sys/stat.h>
#include <unistd.h>

namespace meridane {
namespace {
namespace fs = std::filesystem;

/// A finished write run of one replaced sidecar; returns its journal.
fs::path keptRun(const fs::path& runs, const fs::path& sidecar, std::string_view oldBytes = "old") {
    journal::RunWriter writer(runs, {journal::RunKind::write, std::chrono::system_clock::now(), ::getpid(), ""});
    const auto entry = writer.record({.sidecarPath = sidecar, .replacedPath = sidecar, .oldBytes = oldBytes, .newBytes = "new"});
    EXPECT_TRUE(entry) << entry.error().message;
    if (!entry)
        return {};
    EXPECT_TRUE(writer.makeDurable(entry.value()));
    writer.settle(entry.value(), true);
    EXPECT_TRUE(writer.finish());
    return writer.file();
}

TEST(KeptRuns, OtherFilesInTheRunsFolderAreListedApartEscapedAndNeverUndone) {
    testing::TempDir runs;
    const fs::path journal = keptRun(runs.path(), "/photos/\x1b]0;title\x07/a.xmp");
    ASSERT_FALSE(journal.empty());
    // A backup tool's copies: they sort after every run's id.
    fs::copy_file(journal, runs / (journal.stem().string() + " (copy).journal"));
    fs::copy_file(journal, runs / "\x1b[2Jzz.journal");
    const RunHistory history(runs.path());
    EXPECT_EQ(history.latestUndoable().value_or(KeptRun{}).id, journal.stem().string());
    EXPECT_EQ(history.list().size(), 1u);
    const std::vector<std::string> unknown = history.unknownFiles();
    ASSERT_EQ(unknown.size(), 2u);
    EXPECT_EQ(unknownFileLine(unknown[0]), "\\x1B[2Jzz.journal  unknown file, not a run's journal (left alone)");
    const std::string line = runListLine(history.list()[0]);
    EXPECT_NE(line.find("  write run  1 sidecar  not undone  /photos/\\x1B]0;title\\x07"), std::string::npos) << line;
    EXPECT_EQ(history.forgetAll(), 1u);
    EXPECT_EQ(history.unknownFiles().size(), 2u);
}

TEST(KeptRuns, TheStateFoldersMadeArePrivateWhateverTheUmaskAndALinkedRunsFolderKeepsNoJournal) {
    testing::TempDir home;
    const mode_t saved = ::umask(0);
    const fs::path journal = keptRun(home / "state/meridane/runs", "/photos/a.xmp");
    ::umask(0277);  // a umask that would leave the owner unable to write
    const fs::path second = keptRun(home / "other/runs", "/photos/a.xmp");
    ::umask(saved);
    EXPECT_FALSE(journal.empty());
    EXPECT_FALSE(second.empty());
    for (const char* folder : {"state", "state/meridane", "state/meridane/runs", "other", "other/runs"})
        EXPECT_EQ(fs::symlink_status(home / folder).permissions(), fs::perms::owner_all) << folder;
    // Others lose their access to a folder that was there; its owner keeps theirs.
    fs::permissions(home / "other/runs", fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_all);
    {
        journal::RunWriter writer(home / "other/runs", {journal::RunKind::write, std::chrono::system_clock::now(), ::getpid(), ""});
        (void)writer.record({.sidecarPath = "/photos/b.xmp", .replacedPath = "/photos/b.xmp", .oldBytes = "o", .newBytes = "n"});
    }
    EXPECT_EQ(fs::symlink_status(home / "other/runs").permissions(), fs::perms::owner_read | fs::perms::owner_exec);
    fs::permissions(home / "other/runs", fs::perms::owner_all);

    const fs::path linked = home / "linked", given = home / "given";
    fs::create_directory_symlink(home / "state/meridane/runs", linked);
    std::vector<std::pair<fs::path, std::string>> cases = {{linked, "is a symbolic link"}};
    if (::geteuid() == 0) {
        fs::create_directory(given);
        ASSERT_EQ(::chown(given.c_str(), 65534, 65534), 0);
        cases.emplace_back(given, "belongs to another user");
    } else {
        std::cout << "[ skipped  ] another user's folder: needs root to give a folder away\n";
    }
    for (const auto& [runs, why] : cases) {
        SCOPED_TRACE(why);
        journal::RunWriter writer(runs, {journal::RunKind::write, std::chrono::system_clock::now(), ::getpid(), ""});
        const fs::path sidecar = "/photos/a.xmp";
        const auto entry = writer.record({.sidecarPath = sidecar, .replacedPath = sidecar, .oldBytes = "o", .newBytes = "n"});
        ASSERT_FALSE(entry);
        EXPECT_EQ(entry.error().message,
                  "Could not keep the sidecar's earlier content in the run's journal (" + runs.string() + " " + why + ")");
    }
}

std::string littleEndian32(std::uint64_t value) {
    std::string bytes;
    for (int i = 0; i < 4; ++i)
        bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
}

/// A record as a journal frames it: type, little-endian length, payload, CRC-32.
std::string framed(char type, const std::string& payload) {
    const std::string record = type + littleEndian32(payload.size()) + payload;
    return record + littleEndian32(::crc32(0, reinterpret_cast<const Bytef*>(record.data()), static_cast<uInt>(record.size())));
}

std::string packed(const std::string& bytes, int level) {
    uLongf size = ::compressBound(static_cast<uLong>(bytes.size()));
    std::string out(size, '\0');
    EXPECT_EQ(::compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(bytes.data()),
                          static_cast<uLong>(bytes.size()), level), Z_OK);
    out.resize(size);
    return out;
}

TEST(KeptRuns, AJournalOfTheFirstFormatIsReadAndUndoneWithoutAFolderToCompare) {
    testing::TempDir runs;
    const std::string old = testing::sidecarXml("1.5N", "2.5E", "N", "E");
    const journal::Digest oldHash = journal::contentHash(old), newHash = journal::contentHash("new");
    const std::string sidecar = "/photos/roll/a.xmp";
    std::string entry = littleEndian32(1) + littleEndian32(old.size());
    entry += std::string(reinterpret_cast<const char*>(oldHash.data()), oldHash.size());
    entry += std::string(reinterpret_cast<const char*>(newHash.data()), newHash.size());
    entry += std::string(1, static_cast<char>(sidecar.size())) + std::string(1, '\0') + sidecar + std::string(2, '\0') +
             packed(old, 1);
    const std::string header = std::string("\x01", 1) + std::string(8, '\0') + std::string(4, '\0') + std::string(2, '\0');
    const fs::path file = runs / "20240101T000000.000000Z-7.journal";
    testing::writeFile(file, "MRDNRUN1" + framed('H', header) + framed('E', entry) + framed('D', littleEndian32(1)) +
                                 framed('F', ""));
    auto opened = journal::OpenedRun::open(file);
    ASSERT_TRUE(opened);
    EXPECT_FALSE(opened->summary().damaged);
    ASSERT_EQ(opened->entryCount(), 1u);
    const journal::RunEntry read = opened->entry(0);
    EXPECT_EQ(read.sidecarPath, sidecar);
    EXPECT_TRUE(read.replaced);
    EXPECT_FALSE(read.folderKnown);
    const Result<std::string> bytes = opened->oldBytes(read);
    ASSERT_TRUE(bytes) << bytes.error().message;
    EXPECT_EQ(bytes.value(), old);
}

TEST(KeptRuns, AnEntryClaimingFarMoreThanItsPackedBytesCouldHoldIsDamaged) {
    testing::TempDir runs;
    // Packed as hard as zlib packs: some 16 KB claiming 16 MiB.
    const std::string zeros(16u << 20, '\0'), zerosPacked = packed(zeros, 9);
    const fs::path crafted = keptRun(runs.path(), "/photos/a.xmp");
    std::string journal = testing::readFile(crafted);
    std::string entry = littleEndian32(2) + littleEndian32(16u << 20) + std::string(64 + 16, '\0');
    entry += std::string("\x0D\0/photos/b.xmp", 15) + std::string(2, '\0') + zerosPacked;
    testing::writeFile(crafted, journal + framed('E', entry));
    auto opened = journal::OpenedRun::open(crafted);
    ASSERT_TRUE(opened);
    ASSERT_EQ(opened->entryCount(), 2u);
    const Result<std::string> bytes = opened->oldBytes(opened->entry(1));
    ASSERT_FALSE(bytes);
    EXPECT_EQ(bytes.error().message, "The run's journal entry is damaged: its stored content claims to unpack to 16777216 bytes from " +
                                         std::to_string(zerosPacked.size()));
    // What a run packs itself unpacks, even 16 MiB of one byte.
    auto real = journal::OpenedRun::open(keptRun(runs.path(), "/photos/b.xmp", zeros));
    ASSERT_TRUE(real);
    const Result<std::string> unpacked = real->oldBytes(real->entry(0));
    ASSERT_TRUE(unpacked) << unpacked.error().message;
    EXPECT_EQ(unpacked.value(), zeros);
}

}  // namespace
}  // namespace meridane
