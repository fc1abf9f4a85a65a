// SPDX-License-Identifier: GPL-3.0-or-later
// SIGKILL at random moments of write runs and undos over 24 pairs (some sidecars behind links):
// each sidecar stays byte for byte old or new, only hidden temporary files are added, and undoing
// a killed run puts back what it replaced. MERIDANE_CRASH_KILLS (default 200) and MERIDANE_CRASH_SEED
// tune it. A kill leaves the page cache intact, so the flush order is checked under strace.
#include "HardeningSupport.h"
#include "SidecarBuilder.h"

#include <QStandardPaths>
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <random>
#include <regex>
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
    /// After an undo: the first sidecar that is not as it was, if any, with
    /// what it holds and what it held (mode, then bytes or link target).
    std::string notUndone() const {
        for (const auto& [name, entry] : snapshot(dir.path())) {
            if (!pristine.count(name) && !name.ends_with(".xmp.tmp"))
                return name + " (added)";
            if (pristine.count(name) && entry != pristine.at(name))
                return name + "\nnow: " + entry + "\nwas: " + pristine.at(name);
        }
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

/// Kills `pid` with SIGKILL after `delay` and returns its wait status.
int killAfter(pid_t pid, std::chrono::microseconds delay) {
    std::this_thread::sleep_for(delay);
    ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

/// The runs' journals go to `state`, which every child inherits.
struct CrashConsistency : ::testing::Test {
    const char* seedText = std::getenv("MERIDANE_CRASH_SEED");  // else a fresh one, named by each failure
    const unsigned seed = seedText ? static_cast<unsigned>(std::atol(seedText)) : std::random_device{}();
    std::mt19937 random{seed};
    testing::TempDir state;
    Library library;
    RunResult run;
    CrashConsistency() { ::setenv("XDG_STATE_HOME", state.path().c_str(), 1); }
    ~CrashConsistency() override { ::unsetenv("XDG_STATE_HOME"); }
};

TEST_F(CrashConsistency, SigkillAtRandomMomentsNeverLeavesAMissingOrPartialSidecar) {
    const char* killsText = std::getenv("MERIDANE_CRASH_KILLS");
    const int kills = killsText ? std::atoi(killsText) : 200;
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
        const int status = killAfter(pid, std::chrono::microseconds(delay(random)));
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

/// The calls of one traced run, in the order they were made: "open NAME",
/// "flush" (of the run's journal, when it has returned) and "replace NAME".
std::vector<std::string> tracedCalls(const fs::path& trace) {
    static const std::regex open(R"re(^openat\([^"]*"([^"/]+\.xmp)", O_RDONLY)re");
    static const std::regex flush(R"re(^f(data)?sync\(\d+<[^>]*/runs/[^>]*>\) = 0)re");
    static const std::regex replace(R"re(^renameat2?\([^"]*"\.([^"]+\.xmp)\.tmp", [^"]*"([^"]+\.xmp)")re");
    std::map<std::string, std::string> pending;  // by thread: a call that has not returned yet
    std::vector<std::string> calls;
    std::ifstream in(trace);
    for (std::string line; std::getline(in, line);) {
        const std::string thread = line.substr(0, line.find(' '));
        // strace pads short process ids: "5270  renameat2(…".
        std::string call = line.substr(std::min(line.find_first_not_of(' ', line.find(' ')), line.size()));
        const bool resumed = call.starts_with("<... ");
        if (resumed) {
            call = pending[thread] + call.substr(call.find('>') + 1);
        } else if (const auto cut = call.find(" <unfinished ...>"); cut != std::string::npos) {
            pending[thread] = call.substr(0, cut);
        }
        std::smatch m;
        if (std::regex_search(call, m, open) && line.find("<unfinished") == std::string::npos)
            calls.push_back("open " + m[1].str());
        else if (std::regex_search(call, m, flush))
            calls.push_back("flush");
        else if (std::regex_search(call, m, replace) && m[1] == m[2] && !resumed)
            calls.push_back("replace " + m[1].str());
    }
    return calls;
}

TEST_F(CrashConsistency, EachJournalEntryIsFlushedBeforeItsSidecarIsReplaced) {
    const std::string strace = QStandardPaths::findExecutable("strace").toStdString();
    if (strace.empty() || testing::runProcess({strace, "-qq", "-o", "/dev/null", "/bin/true"}).exitCode != 0)
        GTEST_SKIP() << "strace is not installed or may not trace here";
    testing::TempDir dir;
    for (int n = 0; n < 8; ++n)
        writePair(dir / "photos" / ("IMG_" + std::to_string(1000 + n)), kPhotos[n % 3]);
    RunOptions options;
    // LeakSanitizer's end-of-run check traces the process itself, which a
    // process already under strace cannot: the sanitized build skips it here.
    options.environment = {"ASAN_OPTIONS=detect_leaks=0"};
    run = testing::runProcess(
        {strace, "-f", "-y", "-qq", "-o", (dir / "trace").string(), "-e",
         "trace=openat,fsync,fdatasync,rename,renameat,renameat2", cliPath().string(), "--write",
         (dir / "photos").string()},
        options);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::vector<std::string> calls = tracedCalls(dir / "trace");
    int replaced = 0;
    for (size_t i = 0; i < calls.size(); ++i) {
        if (!calls[i].starts_with("replace "))
            continue;
        ++replaced;
        const std::string name = calls[i].substr(8);
        // Its entry is made after the sidecar was read: a flush must come between that read and the replacement.
        bool flushed = false;
        for (size_t j = i; j-- > 0 && calls[j] != "open " + name;)
            flushed = flushed || calls[j] == "flush";
        EXPECT_TRUE(flushed) << name << " was replaced before its journal entry was flushed";
    }
    EXPECT_EQ(replaced, 8) << testing::readFile(dir / "trace");
}

TEST_F(CrashConsistency, AnUndoKilledAtRandomMomentsIsFinishedByTheNextPlainUndo) {
    int partly = 0;
    for (int k = 1; k <= 15; ++k) {
        library.restore();
        runCli(library.arguments(), run);
        library.finished = snapshot(library.dir.path());
        const pid_t pid = testing::spawnQuiet({cliPath().string(), "--undo"});
        std::uniform_int_distribution<long> delay(0, run.elapsed.count() * 800);
        const int status = killAfter(pid, std::chrono::microseconds(delay(random)));
        RunResult undo;
        // An undo that got to note itself in the write run's journal is done,
        // even when the kill came before it exited: the next plain undo takes
        // it back instead of finishing it.
        runCli({"--list-runs"}, undo);
        const bool noted = std::regex_search(undo.out, std::regex("write run .*undone by"));
        if (!WIFSIGNALED(status) || noted) {  // it ended first: there is nothing to finish
            ASSERT_EQ(library.notUndone(), "") << "kill " << k << ", seed " << seed << "\n" << undo.out;
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
}

}  // namespace
}  // namespace meridane::hardening
