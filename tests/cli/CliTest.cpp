// SPDX-License-Identifier: GPL-3.0-or-later
// meridane-cli as a user runs it: a separate process over real files, its output and exit status.
#include "ImageBuilder.h"
#include "SidecarBuilder.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <climits>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace meridane {
namespace {

namespace fs = std::filesystem;
using namespace testing;

class Cli : public ::testing::Test {
protected:
    /// With its own home and state folder; through bash when a script is given, the command line as "$@".
    RunResult run(const std::vector<std::string>& arguments, RunOptions options = {}, const std::string& script = {}) {
        std::vector<std::string> argv = {MERIDANE_CLI_PATH};
        if (!script.empty())
            argv.insert(argv.begin(), {"/bin/bash", "-c", script, "bash"});
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        options.environment = {"HOME=" + dir_.path().string(), "LANG=C.UTF-8",
                               "XDG_STATE_HOME=" + (dir_ / "state").string()};
        return runProcess(argv, options);
    }

    fs::path photo(const std::string& stem, const std::optional<std::string>& sidecar, const TiffImage& image = cameraTiff()) {
        return writePhoto(photos() / stem, sidecar, image);
    }
    fs::path photos() const { return dir_ / "photos"; }
    void manyPhotos(int count) {
        const fs::path first = photo("IMG_0000", kNeedsLettersXml);
        for (int i = 1; i < count; ++i) {  // links: many files, made in no time
            fs::create_hard_link(first, photos() / ("IMG_" + std::to_string(i) + ".HEIC"));
            fs::create_hard_link(photos() / "IMG_0000.xmp", photos() / ("IMG_" + std::to_string(i) + ".xmp"));
        }
    }
    TempDir dir_;
};

// The report's entries after its header, each with its "• " lines, sorted:
// the two files of a group finish in either order.
std::vector<std::string> entries(const std::string& out) {
    std::vector<std::string> result;
    size_t start = out.find('\n') + 1;
    for (size_t end; start < out.size() && (end = out.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = out.substr(start, end - start);
        if (line.starts_with("\u2022 ") && !result.empty())
            result.back() += "\n" + line;
        else
            result.push_back(line);
    }
    std::sort(result.begin(), result.end());
    return result;
}

TEST_F(Cli, ReportsEveryFileAfterAHeaderAndFailsWhenOneFailedOrTwoOnAUsageError) {
    photo("IMG_0001", kNeedsLettersXml);
    const RunResult usage = run({"--write", "--frobnicate", photos()});  // the other usage errors: parsed in-process
    EXPECT_EQ(usage.exitCode, 2);
    EXPECT_TRUE(usage.out.empty() && usage.err.ends_with("Try 'meridane-cli --help' for more information.\n"));
    photo("IMG_0002", kCorrectXml);
    photo("IMG_0003", kElsewhereXml);
    photo("IMG_0004", std::nullopt);
    photo("IMG_0005", kCorrectXml, cameraTiff("Apple", "iPhone", {}, {}));
    photo("DSC_0006", kCorrectXml, cameraTiff("Canon", "Canon EOS R5", {}, std::pair{1.0, 2.0}));
    const RunResult result = run({photos()});
    EXPECT_EQ(result.exitCode, 1) << "IMG_0005 has no position";
    EXPECT_TRUE(result.out.starts_with("Results \u2014 ")) << result.out;
    EXPECT_NE(result.out.find(" +0000 \u2014 Settings: DryRun=true ForceOverwrite=false AppleOnly=true SilentSkip=false\n"),
              std::string::npos);
    EXPECT_EQ(entries(result.out),
              (std::vector<std::string>{
                  "DSC_0006.HEIC: Skipped (non-Apple): Canon Canon EOS R5 - Non-Apple source",
                  "IMG_0001.HEIC: [Dry Run] Would Update:\n"
                  "\u2022 [DRY RUN] would update: exif:GPSLatitude: 37.7749 \u2192 37.77490000N\n"
                  "\u2022 [DRY RUN] would update: exif:GPSLongitude: 122.4194 \u2192 122.41940000W",
                  "IMG_0002.HEIC: Already correct",
                  "IMG_0003.HEIC: Skipped (GPS differs):\n\u2022 Latitude: 48.85837000N \u2192 37.77490000N\n"
                  "\u2022 Longitude: 2.29450000E \u2192 122.41940000W",
                  "IMG_0004.HEIC: Skipped (missing): No XMP sidecar file",
                  "IMG_0005.HEIC: Failed: No GPS available"}));
    EXPECT_EQ(readFile(photos() / "IMG_0001.xmp"), kNeedsLettersXml) << "a dry run or a usage error writes nothing";
    EXPECT_NE(result.err.find(" ms \u2014 1 would update, 1 already correct, 1 skipped: missing, 1 skipped: other "
                              "camera, 1 skipped: GPS differs, 1 failed\n"),
              std::string::npos)
        << result.err;
    const RunResult written = run({"--write", "--sidecar-name=stem", "--coordinate-format=decimal", photos()});
    EXPECT_NE(written.err.find(" ms \u2014 1 updated, 1 already correct, 1 skipped: missing"), std::string::npos) << written.err;
}

// A path that cannot be read is status 1, named with its controls escaped, after the others are done.
TEST_F(Cli, JsonLeavesOutTheRowsSilentSkipHidesAndUnreadablePathsAreStatusOneAfterTheOthers) {
    photo("IMG_0001", std::nullopt);  // the rows show only when the long-named sidecars are found
    photo("IMG_0002", std::nullopt);
    writeFile(photos() / "IMG_0001.HEIC.xmp", kCorrectXml);
    writeFile(photos() / "IMG_0002.heic.XMP", kElsewhereXml);
    const RunResult result = run({"--json", "--silently-ignore-skipped", "--sidecar-name=full", photos(),
                                  (dir_ / "no\x1B]0;x\x07pe").string()});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out.find("alreadyCorrect"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("\"case\":\"skippedDifferentGPS\""), std::string::npos) << result.out;
    EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), 1) << result.out;
    EXPECT_NE(result.err.find("meridane-cli: cannot access '" + (dir_ / "no\\x1B]0;x\\x07pe").string() + "'"),
              std::string::npos)
        << result.err;
    EXPECT_EQ(result.err.find_first_of("\x1B\x07"), std::string::npos) << result.err;
}

// A folder of mode 000 (seen as another user when the tests run as root) and a path longer than the
// system opens: each a failed row with its path and the reason.
TEST_F(Cli, FoldersTheWalkCannotReadAndPathsTooLongToOpenAreFailedRows) {
    photo("IMG_0001", kCorrectXml);
    fs::create_directories(photos() / "locked");
    writeFile(photos() / "locked/IMG_0002.HEIC", "x");
    fs::permissions(photos() / "locked", fs::perms::none);
    std::vector<std::string> names;
    for (size_t length = photos().native().size(); length <= PATH_MAX; length += 201)
        names.emplace_back(200, static_cast<char>('a' + length % 26));
    makeNestedFolders(photos(), names, {{"IMG_0001.HEIC", readFile(photos() / "IMG_0001.HEIC")},
                                        {"IMG_0001.xmp", readFile(photos() / "IMG_0001.xmp")}});
    fs::permissions(photos(), fs::perms::all);  // the other user's photos
    RunOptions asOtherUser;
    if (::geteuid() == 0)
        asOtherUser.uid = asOtherUser.gid = 65534;
    const RunResult result = run({photos()}, asOtherUser);
    fs::permissions(photos() / "locked", fs::perms::owner_all);
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_EQ(entries(result.out),
              (std::vector<std::string>{
                  "IMG_0001.HEIC: Already correct",
                  "IMG_0001.HEIC: Failed: Cannot read image: path longer than the system allows (4096 bytes)",
                  "locked: Failed: Cannot read folder " + (photos() / "locked").string() + ": permission denied"}))
        << result.out;
    EXPECT_NE(result.err.find("1 already correct, 2 failed"), std::string::npos) << result.err;
    for (const fs::path& entry : fs::directory_iterator(photos()))
        if (entry.filename().native().size() == 200) {  // too deep for the folder's own removal
            EXPECT_EQ(runProcess({"/bin/rm", "-rf", entry.string()}).exitCode, 0);
        }
}

TEST_F(Cli, ControlCharactersInNamesAndCameraTextsReachNoTerminal) {
    photo("evil\n\x1B]0;owned\x07", kCorrectXml);
    photo("DSC_0002", kCorrectXml, cameraTiff("Can\x1B[2Jon", "R5\r", {}, std::pair{1.0, 2.0}));
    const RunResult result = run({"--debug", photos()});
    for (const std::string* output : {&result.out, &result.err})
        EXPECT_EQ(output->find_first_of("\x1B\x07\r"), std::string::npos) << *output;
    EXPECT_EQ(entries(result.out), (std::vector<std::string>{
                                       "DSC_0002.HEIC: Skipped (non-Apple): Can\\x1B[2Jon R5\\x0D - Non-Apple source",
                                       "evil\\x0A\\x1B]0;owned\\x07.HEIC: Already correct"}));
    EXPECT_NE(result.err.find("[DEBUG] Processing evil\\x0A\\x1B]0;owned\\x07.HEIC\n"), std::string::npos);
    EXPECT_EQ(result.out.find("[DEBUG]"), std::string::npos);
}

// A first SIGINT, a reader that quits (`| head`) or a full disk: the run stops after the files in
// flight, leaves no temporary file and says so; no SIGPIPE in mid-save.
TEST_F(Cli, AnInterruptOrAReportThatCannotBeWrittenStopsTheRun) {
    manyPhotos(2000);
    const RunResult interrupted =
        run({"--debug", photos()}, {.environment = {}, .interruptWhenErrShows = "[DEBUG] Processing"});
    EXPECT_EQ(interrupted.exitCode, 130);
    EXPECT_TRUE(interrupted.out.starts_with("Results \u2014 "));
    const size_t done = entries(interrupted.out).size();
    EXPECT_LT(done, 2000u);
    EXPECT_NE(interrupted.err.find("meridane-cli: stopped by SIGINT after " + std::to_string(done) + " of 2000 files"),
              std::string::npos);
    const std::pair<std::string, std::string> outputs[] = {
        {"\"$@\" | true; exit ${PIPESTATUS[0]}", "Broken pipe"},
        {"exec \"$@\" >/dev/full", "No space left on device"}};
    for (const auto& [script, reason] : outputs) {
        SCOPED_TRACE(script);
        const RunResult result = run({"--write", photos()}, {}, script);
        EXPECT_EQ(result.signal, 0);
        EXPECT_EQ(result.exitCode, 1) << result.err;
        EXPECT_NE(result.err.find("meridane-cli: cannot write the report: " + reason + "; stopped after "),
                  std::string::npos)
            << result.err;
        EXPECT_EQ(result.err.find("Summary: 2000 files"), std::string::npos) << result.err;
        for (const fs::directory_entry& entry : fs::directory_iterator(photos()))
            EXPECT_FALSE(entry.path().filename().native().ends_with(".tmp")) << entry.path();
    }
    const RunResult list = run({"--list-runs"}, {}, outputs[1].first);
    EXPECT_EQ(list.exitCode, 1);
    EXPECT_EQ(list.err, "meridane-cli: cannot write the list: No space left on device\n");
}

// A run another process holds (being written or undone) stays, and --forget-runs says so.
TEST_F(Cli, ForgettingRunsSaysWhichStayedInUse) {
    photo("IMG_1", kNeedsLettersXml);
    ASSERT_EQ(run({"--write", photos()}).exitCode, 0);
    const fs::path runs = dir_ / "state/meridane/runs";
    ASSERT_FALSE(fs::is_empty(runs));
    const int held = ::open(fs::directory_iterator(runs)->path().c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    EXPECT_EQ(run({"--forget-runs"}).out, "Forgot 0 runs; 1 run in use was kept\n");
    ::close(held);
    const RunResult full = run({"--forget-runs"}, {}, "exec \"$@\" >/dev/full");
    EXPECT_EQ(full.exitCode, 1);
    EXPECT_EQ(full.err, "meridane-cli: cannot write what was forgotten: No space left on device\n");
    EXPECT_EQ(run({"--forget-runs"}).out, "Forgot 0 runs\n");
}

}  // namespace
}  // namespace meridane
