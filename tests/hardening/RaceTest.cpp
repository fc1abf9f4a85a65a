// SPDX-License-Identifier: GPL-3.0-or-later
// Real races: two write runs over one tree, and another program editing
// sidecars (once, or at every try) or swapping their links while a write run
// is held after flushing its temporary file (the test builds' pause).
#include "HardeningSupport.h"
#include "SidecarBuilder.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <functional>
#include <map>
#include <set>
#include <thread>

namespace meridane::hardening {
namespace {
namespace fs = std::filesystem;

std::string name(int i, const char* extension) { return "IMG_" + std::to_string(1000 + i) + extension; }
int indexOf(const fs::path& file) { return std::stoi(file.stem().string().substr(4)) - 1000; }

// Two runs of 200 files on a busy machine may take far longer than the
// default allows; a hang still shows.
const RunOptions kLoaded = [] { RunOptions options; options.timeout = std::chrono::minutes(2); return options; }();

/// How a run ended, for a failure message: a run without rows may have been
/// killed at the timeout or never started.
std::string ending(const RunResult& run) {
    return "started " + std::to_string(run.started) + ", exit " + std::to_string(run.exitCode) + ", signal " +
           std::to_string(run.signal) + ", " + std::to_string(run.elapsed.count()) + " ms\n" + run.err;
}

/// A write run over `photos` that the test build holds right after each flush
/// of a temporary file while `edit` runs on the sidecar's path, as another
/// program would.
std::vector<CliRow> runWhileEditing(const fs::path& photos, const std::function<void(const std::string&)>& edit,
                                    RunResult& run) {
    int toTest[2], toSave[2];
    if (::pipe(toTest) + ::pipe(toSave) != 0)
        return {};
    std::thread otherProgram([&] {
        std::string line;
        for (char c; ::read(toTest[0], &c, 1) == 1; line = c == '\n' ? "" : line + c) {
            if (c != '\n')
                continue;
            edit(line);
            (void)::write(toSave[1], "g", 1);
        }
    });
    RunOptions options = kLoaded;
    options.environment = {"MERIDANE_TEST_SAVE_PAUSE_FDS=" + std::to_string(toTest[1]) + "," + std::to_string(toSave[0])};
    const auto rows = runCli({photos.string()}, run, options);
    ::close(toTest[1]);
    otherProgram.join();
    for (int fd : {toTest[0], toSave[0], toSave[1]})
        ::close(fd);
    return rows;
}

TEST(Races, TwoWriteRunsOverOneTreeUpdateEachSidecarOnce) {
    testing::TempDir dir;
    const bool fast = mount(dir / "photos", "size=300m").empty();  // no disk flushes: more rounds
    for (int round = 0; round < (fast ? 10 : 3); ++round) {
        SCOPED_TRACE(round);
        fs::remove_all(dir / "photos/IMG_0");
        for (int i = 0; i < 200; ++i)
            writePair(dir / "photos/IMG_0" / name(i, ""));
        std::vector<CliRow> rows[2];
        RunResult runs[2];
        std::thread other([&] { rows[1] = runCli({(dir / "photos").string()}, runs[1], kLoaded); });
        rows[0] = runCli({(dir / "photos").string()}, runs[0], kLoaded);
        other.join();
        std::map<fs::path, std::string> cases;
        for (const CliRow& row : rows[0])
            cases[row.file] += row.resultCase + " ";
        for (const CliRow& row : rows[1])
            cases[row.file] += row.resultCase;
        ASSERT_EQ(cases.size(), 200u) << ending(runs[0]) << ending(runs[1]);
        const std::string fresh = testing::readFile(dir / "photos/IMG_0/IMG_1000.xmp");
        EXPECT_NE(fresh.find("48.85837000N"), std::string::npos);
        for (const auto& [file, both] : cases) {
            EXPECT_TRUE(both == "updated alreadyCorrect" || both == "alreadyCorrect updated") << file << ": " << both;
            EXPECT_EQ(testing::readFile(fs::path(file).replace_extension(".xmp")), fresh) << file;
        }
    }
}

// Also on a volume whose clock counts whole seconds: there an edit of the same
// size within the second of the read leaves the sidecar's status as it was.
TEST(Races, AnotherProgramsEditsAreKeptAndSwappedLinksFailTheFile) {
    const std::string old = testing::sidecarXml("48.85837", "2.294481", "N", "E", "<xmp:Rating>1</xmp:Rating>");
    std::string edited = old;
    edited.replace(edited.find("Rating>1<"), 9, "Rating>5<");
    for (const bool coarseClock : {false, true}) {
        SCOPED_TRACE(coarseClock ? "coarse clock" : "fine clock");
        testing::TempDir dir;
        const fs::path photos = dir / "photos";
        if (const std::string why = coarseClock ? mountCoarseClockVolume(photos) : ""; !why.empty()) {
            std::cout << "[ skipped  ] a volume whose clock counts whole seconds: " << why << "\n";
            continue;
        }
        fs::create_directories(dir / "store");
        for (int i = 0; i < 30; ++i) {
            writePair(photos / name(i, ""), kPhotos[0], old);
            testing::writeFile(dir / name(i, ".victim"), "mine");
            if (i % 3 == 1) {  // a link into a store of sidecars
                fs::copy_file(photos / name(i, ".xmp"), dir / "store" / name(i, ".xmp"));
                fs::remove(photos / name(i, ".xmp"));
                fs::create_symlink(dir / "store" / name(i, ".xmp"), photos / name(i, ".xmp"));
            }
        }
        std::set<std::string> seen;
        std::map<int, int> tries;
        RunResult run;
        const auto rows = runWhileEditing(photos, [&](const std::string& line) {
            const int i = indexOf(line);
            if (seen.insert(line).second && i % 3 == 0)
                testing::writeFile(line, edited);
            if (i % 3 == 2)  // a different size each time, so that each edit shows
                testing::writeFile(line, edited + std::string(static_cast<size_t>(++tries[i]), ' '));
            if (i % 3 == 1 && fs::remove(line))
                fs::create_symlink(dir / name(i, ".victim"), line);
        }, run);
        ASSERT_EQ(rows.size(), 30u) << ending(run);
        for (const CliRow& row : rows) {
            const int i = indexOf(row.file);
            SCOPED_TRACE(row.file);
            EXPECT_EQ(testing::readFile(dir / name(i, ".victim")), "mine");
            const std::string now = testing::readFile((i % 3 == 1 ? dir / "store" : photos) / name(i, ".xmp"));
            // Edited once: read again and updated; at every try: given up after the second.
            EXPECT_EQ(row.resultCase, i % 3 == 0 ? "updated" : "failed");
            EXPECT_EQ(row.message, i % 3 == 0   ? ""
                                   : i % 3 == 1 ? "XMP sidecar was moved or relinked while it was being updated"
                                                : "XMP sidecar changed while it was being updated");
            EXPECT_EQ(now == old, i % 3 == 1);
            EXPECT_EQ(now.find("<xmp:Rating>5</xmp:Rating>") != std::string::npos, i % 3 != 1)
                << "the other program's edit was lost";
            EXPECT_EQ(now.find("48.85837000N") != std::string::npos, i % 3 == 0);
        }
    }
}

}  // namespace
}  // namespace meridane::hardening
