// SPDX-License-Identifier: GPL-3.0-or-later
// Kills the real program with SIGKILL at random moments of write runs over 24
// pairs (some sidecars behind links) and checks after every kill that each
// sidecar is byte for byte what it was or the finished new document, and that
// nothing but a hidden temporary file was added, which the next run clears,
// and that undoing the killed run (when it kept a journal) puts back every
// sidecar it replaced. MERIDANE_CRASH_KILLS (default 200) and MERIDANE_CRASH_SEED tune it.
#include "HardeningSupport.h"
#include "SidecarBuilder.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <random>
#include <thread>

namespace meridane::hardening {
namespace {
namespace fs = std::filesystem;

struct Library {
    testing::TempDir dir;
    Tree pristine, finished;

    Library() {
        fs::create_directories(dir / "linked");
        for (int n = 0; n < 24; ++n) {
            const Photo& p = kPhotos[n % 3];
            const std::string stem = "roll" + std::to_string(n / 6) + "/IMG_" + std::to_string(1000 + n);
            const std::string ns = p.latitudeRef, ew = p.longitudeRef;
            writePair(dir / stem, p, n % 4 == 0   ? std::string()
                                     : n % 4 == 1 ? testing::sidecarXml("1.5N", "2.5E", "N", "E")
                                     : n % 4 == 2 ? testing::sidecarXml(p.latitude, p.longitude, ns, ew)
                                                  : testing::sidecarXml("0,30.0" + ns, "0,45.0" + ew));
            fs::path sidecar = dir / (stem + ".xmp");
            if (n % 6 == 5) {  // the link must stay a link, its target replaced
                fs::rename(sidecar, dir / "linked" / sidecar.filename());
                fs::create_symlink("../linked/" + sidecar.filename().string(), sidecar);
                sidecar = dir / "linked" / sidecar.filename();
            }
            ::chmod(sidecar.c_str(), n % 5 == 0 ? 0600 : 0644);
        }
        pristine = snapshot(dir.path());
    }
    std::vector<std::string> arguments() const { return {"--always-overwrite", dir.path().string()}; }
    void restore() {
        for (const auto& [name, entry] : snapshot(dir.path()))
            if (!pristine.count(name))
                fs::remove(dir / name);
            else if (entry != pristine.at(name))
                testing::writeFile(dir / name, pristine.at(name).substr(pristine.at(name).find(' ') + 1));
    }
    /// The first problem, if any; how many sidecars are new and how many temporary files there are.
    std::string inspect(int& fresh, int& temporary) const {
        fresh = temporary = 0;
        const Tree now = snapshot(dir.path());
        for (const auto& [name, entry] : pristine) {
            if (!now.count(name) || (now.at(name) != entry && now.at(name) != finished.at(name)))
                return "neither old nor new: " + name;
            fresh += entry != finished.at(name) && now.at(name) == finished.at(name);
        }
        for (const auto& [name, entry] : now) {
            const std::string file = fs::path(name).filename().string();
            if (pristine.count(name))
                continue;
            if (entry[0] != 'f' || !file.ends_with(".xmp.tmp") || file[0] != '.')
                return "unexpected: " + name;
            ++temporary;
        }
        return "";
    }
    /// After an undo: the first sidecar that is not as it was, if any.
    std::string notUndone() const {
        for (const auto& [name, entry] : snapshot(dir.path()))
            if (pristine.count(name) ? entry != pristine.at(name) : !name.ends_with(".xmp.tmp"))
                return name;
        return "";
    }
};

/// The journal the run of process `pid` kept, if it kept one.
std::string runOf(const fs::path& runs, pid_t pid) {
    for (const auto& item : fs::directory_iterator(runs))
        if (item.path().stem().string().ends_with("-" + std::to_string(pid)))
            return item.path().stem().string();
    return "";
}

TEST(CrashConsistency, SigkillAtRandomMomentsNeverLeavesAMissingOrPartialSidecar) {
    const char* killsText = std::getenv("MERIDANE_CRASH_KILLS");
    const char* seedText = std::getenv("MERIDANE_CRASH_SEED");
    const int kills = killsText ? std::atoi(killsText) : 200;
    const unsigned seed = seedText ? static_cast<unsigned>(std::atol(seedText)) : std::random_device{}();
    std::mt19937 random(seed);
    testing::TempDir state;  // the runs' journals, inherited by every child
    ::setenv("XDG_STATE_HOME", state.path().c_str(), 1);
    Library library;
    RunResult run;
    ASSERT_EQ(runCli(library.arguments(), run).size(), 24u) << run.err;
    library.finished = snapshot(library.dir.path());
    int fresh = 0, temporary = 0, midRun = 0, undone = 0;
    ASSERT_EQ(library.inspect(fresh, temporary), "");
    const int changing = fresh;
    ASSERT_GE(changing, 12);
    std::uniform_int_distribution<long> delay(0, run.elapsed.count() * 1250);  // µs, past the usual end
    std::vector<std::string> argv = library.arguments();
    argv.insert(argv.begin(), {cliPath().string(), "--write"});
    for (int k = 1; k <= kills; ++k) {
        library.restore();
        const pid_t pid = testing::spawnQuiet(argv);
        std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
        ::kill(pid, SIGKILL);
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        ASSERT_TRUE(WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) == 0)) << status;
        ASSERT_EQ(library.inspect(fresh, temporary), "") << "kill " << k << ", seed " << seed;
        midRun += fresh > 0 && fresh < changing;
        if (const std::string killed = runOf(state / "meridane/runs", pid); !killed.empty()) {
            RunResult undo;
            runCli({"--undo=" + killed}, undo);
            ASSERT_EQ(library.notUndone(), "") << "kill " << k << ", seed " << seed << "\n" << undo.out << undo.err;
            undone += fresh > 0;
        } else {
            ASSERT_EQ(fresh, 0) << "a sidecar was replaced without a journal; kill " << k;
        }
        if (temporary > 0 || k % 25 == 0) {  // the next run finishes the job and clears what was left
            runCli(library.arguments(), run);
            ASSERT_EQ(library.inspect(fresh, temporary), "");
            EXPECT_EQ(fresh * 100 + temporary, changing * 100) << "kill " << k;
        }
    }
    EXPECT_GT(midRun, kills / 10) << "the kills must land inside runs (seed " << seed << ")";
    EXPECT_GT(undone, kills / 10) << "killed runs that replaced sidecars must have been undone";
    runCli({"--forget-runs"}, run);
    EXPECT_TRUE(fs::is_empty(state / "meridane/runs")) << run.out;
}

TEST(CrashConsistency, AnUndoKilledAtRandomMomentsIsFinishedByTheNextPlainUndo) {
    const char* seedText = std::getenv("MERIDANE_CRASH_SEED");
    const unsigned seed = seedText ? static_cast<unsigned>(std::atol(seedText)) : std::random_device{}();
    std::mt19937 random(seed);
    testing::TempDir state;
    ::setenv("XDG_STATE_HOME", state.path().c_str(), 1);
    Library library;
    RunResult run;
    int partly = 0;
    for (int k = 1; k <= 15; ++k) {
        library.restore();
        runCli(library.arguments(), run);
        library.finished = snapshot(library.dir.path());
        const pid_t pid = testing::spawnQuiet({cliPath().string(), "--undo"});
        std::uniform_int_distribution<long> delay(0, run.elapsed.count() * 800);
        std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
        ::kill(pid, SIGKILL);
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        RunResult undo;
        if (!WIFSIGNALED(status)) {  // it ended first: there is nothing to finish
            ASSERT_EQ(library.notUndone(), "");
            runCli({"--forget-runs"}, undo);
            continue;
        }
        partly += library.notUndone() != "" && snapshot(library.dir.path()) != library.finished;
        runCli({"--undo"}, undo);
        ASSERT_EQ(library.notUndone(), "") << "kill " << k << ", seed " << seed << "\n" << undo.out << undo.err;
        // Finished, the undo is what a plain undo takes back.
        runCli({"--undo"}, undo);
        ASSERT_EQ(snapshot(library.dir.path()), library.finished) << "kill " << k << ", seed " << seed << "\n" << undo.err;
        runCli({"--forget-runs"}, undo);
    }
    EXPECT_GT(partly, 0) << "some kills must land inside the undo (seed " << seed << ")";
    ::unsetenv("XDG_STATE_HOME");
}

}  // namespace
}  // namespace meridane::hardening
