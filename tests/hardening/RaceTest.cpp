// Real races: two write runs over one tree at once, and another program that
// edits sidecars or swaps their links while a write run is held right after
// flushing its temporary file (the test builds' pause).
#include "HardeningSupport.h"
#include "SidecarBuilder.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <set>
#include <thread>

namespace meridane::hardening {
namespace {
namespace fs = std::filesystem;

const std::string kOld = testing::sidecarXml("48.85837000", "2.29448100", "N", "E");

fs::path library(const testing::TempDir& dir, int pairs) {
    for (int i = 0; i < pairs; ++i)
        writePair(dir / "photos" / ("IMG_" + std::to_string(1000 + i)));
    return dir / "photos";
}

TEST(Races, TwoWriteRunsOverOneTreeUpdateEachSidecarOnce) {
    testing::TempDir dir;
    const bool fast = mount(dir / "photos", "size=300m").empty();  // no disk flushes: more rounds
    const fs::path photos = library(dir, 200);
    for (int round = 0; round < (fast ? 10 : 3); ++round) {
        SCOPED_TRACE(round);
        for (int i = 0; i < 200; ++i)
            testing::writeFile(photos / ("IMG_" + std::to_string(1000 + i) + ".xmp"), kOld);
        std::vector<CliRow> rows[2];
        RunResult runs[2];
        std::thread other([&] { rows[1] = runCli({photos.string()}, runs[1]); });
        rows[0] = runCli({photos.string()}, runs[0]);
        other.join();
        std::map<std::string, std::string> cases;
        for (const auto& list : rows)
            for (const CliRow& row : list)
                cases[fs::path(row.file).filename().string()] += row.resultCase + " ";
        ASSERT_EQ(cases.size(), 200u) << runs[0].err << runs[1].err;
        const std::string fresh = testing::readFile(photos / "IMG_1000.xmp");
        EXPECT_NE(fresh.find("48.85837000N"), std::string::npos);
        for (const auto& [file, both] : cases) {
            EXPECT_TRUE(both == "updated alreadyCorrect " || both == "alreadyCorrect updated ") << file << ": " << both;
            EXPECT_EQ(testing::readFile(photos / fs::path(file).replace_extension(".xmp")), fresh) << file;
        }
    }
}

TEST(Races, AnotherProgramsEditsAreKeptAndSwappedLinksFailTheFile) {
    testing::TempDir dir;
    const fs::path photos = library(dir, 30);
    const std::string edited = testing::sidecarXml("48.85837", "2.294481", "N", "E", "<xmp:Rating>5</xmp:Rating>");
    fs::create_directories(dir / "store");
    for (int i = 0; i < 30; ++i) {
        const std::string name = "IMG_" + std::to_string(1000 + i) + ".xmp";
        testing::writeFile((i % 3 == 1 ? dir / "store" : photos) / name, kOld);
        testing::writeFile(dir / ("victim" + std::to_string(i)), "mine");
        if (i % 3 == 1 && fs::remove(photos / name))
            fs::create_symlink(dir / "store" / name, photos / name);
    }
    int toTest[2], toSave[2];
    ASSERT_EQ(::pipe(toTest), 0);
    ASSERT_EQ(::pipe(toSave), 0);
    std::thread otherProgram([&] {
        std::set<std::string> seen;
        std::string line;
        for (char c; ::read(toTest[0], &c, 1) == 1;) {
            if (c != '\n') {
                line += c;
                continue;
            }
            const fs::path sidecar = line;
            const int i = std::stoi(sidecar.stem().string().substr(4)) - 1000;
            if (seen.insert(line).second && i % 3 == 0)
                testing::writeFile(sidecar, edited);
            if (seen.count(line) && i % 3 == 1 && fs::is_symlink(sidecar)) {
                fs::remove(sidecar);
                fs::create_symlink(dir / ("victim" + std::to_string(i)), sidecar);
            }
            line.clear();
            (void)::write(toSave[1], "g", 1);
        }
    });
    RunOptions options;
    options.environment = {"MERIDANE_TEST_SAVE_PAUSE_FDS=" + std::to_string(toTest[1]) + "," + std::to_string(toSave[0])};
    RunResult run;
    const auto rows = runCli({photos.string()}, run, options);
    ::close(toTest[1]);
    otherProgram.join();
    for (int fd : {toTest[0], toSave[0], toSave[1]})
        ::close(fd);
    ASSERT_EQ(rows.size(), 30u) << run.err;
    for (const CliRow& row : rows) {
        const fs::path sidecar = fs::path(row.file).replace_extension(".xmp");
        const int i = std::stoi(sidecar.stem().string().substr(4)) - 1000;
        SCOPED_TRACE(sidecar.filename().string());
        EXPECT_EQ(testing::readFile(dir / ("victim" + std::to_string(i))), "mine");
        if (i % 3 == 1) {
            EXPECT_EQ(row.message, "XMP sidecar was moved or relinked while it was being updated");
            EXPECT_EQ(testing::readFile(dir / "store" / sidecar.filename()), kOld);
            continue;
        }
        EXPECT_EQ(row.resultCase, "updated");
        const std::string now = testing::readFile(sidecar);
        EXPECT_NE(now.find("48.85837000N"), std::string::npos);
        EXPECT_EQ(now.find("<xmp:Rating>5</xmp:Rating>") != std::string::npos, i % 3 == 0);
    }
}

}  // namespace
}  // namespace meridane::hardening
