// Kills the real command-line program with SIGKILL at random moments of write
// runs over a library of image+sidecar pairs, and checks after every kill that
// each sidecar is byte for byte either what it was or the finished new
// document: never missing, never partial. The only thing a kill may leave is
// a hidden temporary file beside a sidecar, which the next run clears.
//
// MERIDANE_CRASH_KILLS (default 200) and MERIDANE_CRASH_SEED tune a run.
#include "HardeningSupport.h"

#include "base/NumberText.h"
#include "xmp/XmlDocument.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <random>
#include <set>
#include <thread>

namespace meridane::hardening {
namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;

int envInt(const char* name, int fallback) {
    const char* value = std::getenv(name);
    return value && *value ? std::atoi(value) : fallback;
}

std::string fixed8(double value) { return formatFixed8(std::fabs(value)); }

/// One sidecar of the library: where it is, and what a finished run makes of it.
struct SidecarFile {
    fs::path path;     ///< the regular file (a link's target for linked sidecars)
    std::string old;   ///< bytes before any run
    std::string next;  ///< bytes after a run that was not interrupted
};

class CrashLibrary {
public:
    explicit CrashLibrary(const fs::path& root) : root_(root) {
        // Four folders of six pairs. Positions lie on quarter degrees, which the
        // image's rationals hold exactly, so "already correct" texts are exact.
        for (int folder = 0; folder < 4; ++folder) {
            const fs::path dir = root / ("roll" + std::to_string(folder));
            fs::create_directories(dir);
            for (int i = 0; i < 6; ++i) {
                const int n = folder * 6 + i;
                const double lat = (n % 2 ? -1.0 : 1.0) * (10.0 + n + 0.25 * (n % 4));
                const double lon = (n % 3 ? -1.0 : 1.0) * (20.0 + 2 * n + 0.75);
                const std::string base = "IMG_" + std::to_string(1000 + n);
                writeGpsImage(dir / (base + ".DNG"), lat, lon);
                const std::string latRef = lat < 0 ? "S" : "N";
                const std::string lonRef = lon < 0 ? "W" : "E";
                std::string sidecar;
                switch (n % 4) {
                case 0:  // the right place without its letters: rewritten
                    sidecar = phoneSidecar(fixed8(lat), fixed8(lon), latRef, lonRef);
                    break;
                case 1:  // another place: rewritten because the run forces it
                    sidecar = phoneSidecar("1.5N", "2.5E", "N", "E");
                    break;
                case 2:  // already correct: never written
                    sidecar = phoneSidecar(fixed8(lat) + latRef, fixed8(lon) + lonRef, latRef, lonRef);
                    break;
                default:  // degrees and minutes, no reference elements: rewritten
                    sidecar = phoneSidecar("0,30.0" + latRef, "0,45.0" + lonRef, "", "");
                    break;
                }
                fs::path sidecarPath = dir / (base + ".xmp");
                if (folder == 3 && i % 2 == 0) {
                    // Linked sidecars: the link must stay a link, its target replaced.
                    const fs::path targets = root / "linked";
                    fs::create_directories(targets);
                    const fs::path target = targets / (base + ".xmp");
                    writeBytes(target, sidecar);
                    fs::create_symlink(fs::path("..") / "linked" / (base + ".xmp"), sidecarPath);
                    sidecarPath = target;
                } else {
                    writeBytes(sidecarPath, sidecar);
                }
                ::chmod(sidecarPath.c_str(), n % 5 == 0 ? 0600 : 0644);
                sidecars_.push_back({sidecarPath, sidecar, {}});
            }
        }
        pristine_ = snapshot(root);
    }

    const fs::path& root() const { return root_; }
    const std::vector<SidecarFile>& sidecars() const { return sidecars_; }
    const Tree& pristine() const { return pristine_; }

    void recordFinished() {
        for (SidecarFile& s : sidecars_)
            s.next = readBytes(s.path);
    }

    /// Back to the state before any run: old bytes, no temporary files.
    void restore() {
        for (const SidecarFile& s : sidecars_) {
            fs::remove(s.path.parent_path() / ("." + s.path.filename().string() + ".tmp"));
            if (readBytes(s.path) != s.old)
                writeBytes(s.path, s.old);
        }
    }

    std::vector<std::string> arguments() const {
        return {cliPath().string(), "--write", "--any-camera", "--always-overwrite", "--json", root_.string()};
    }

private:
    fs::path root_;
    std::vector<SidecarFile> sidecars_;
    Tree pristine_;
};

/// What one look at the library after a kill found.
struct KillOutcome {
    std::vector<std::string> problems;
    int sidecarsNew = 0;     ///< among those a finished run changes
    int sidecarsChanging = 0;
    int temporaryFiles = 0;
};

KillOutcome inspect(const CrashLibrary& library) {
    KillOutcome outcome;
    const Tree now = snapshot(library.root());
    std::set<std::string> sidecarNames;
    for (const SidecarFile& s : library.sidecars())
        sidecarNames.insert(s.path.lexically_relative(library.root()).string());

    for (const auto& [name, before] : library.pristine()) {
        auto found = now.find(name);
        if (found == now.end()) {
            outcome.problems.push_back("missing: " + name);
            continue;
        }
        const TreeEntry& entry = found->second;
        if (entry.type != before.type || entry.mode != before.mode) {
            outcome.problems.push_back("type or permissions changed: " + name);
            continue;
        }
        if (!sidecarNames.count(name)) {
            if (!(entry == before))
                outcome.problems.push_back("changed though not a sidecar: " + name);
            continue;
        }
    }
    for (const SidecarFile& s : library.sidecars()) {
        const std::string name = s.path.lexically_relative(library.root()).string();
        auto found = now.find(name);
        if (found == now.end())
            continue;  // reported above
        const std::string& bytes = found->second.content;
        if (s.old != s.next)
            ++outcome.sidecarsChanging;
        if (bytes == s.next && s.old != s.next)
            ++outcome.sidecarsNew;
        if (bytes != s.old && bytes != s.next) {
            outcome.problems.push_back("neither old nor new (" + std::to_string(bytes.size()) + " bytes): " + name);
            continue;
        }
        if (!xmp::XmlDocument::parse(bytes))
            outcome.problems.push_back("does not parse: " + name);
    }
    for (const auto& [name, entry] : now) {
        if (library.pristine().count(name))
            continue;
        const fs::path p(name);
        const std::string file = p.filename().string();
        const bool temporaryName = file.size() > 5 && file.front() == '.' && file.ends_with(".tmp") &&
                                   sidecarNames.count((p.parent_path() / file.substr(1, file.size() - 5)).string());
        if (temporaryName && entry.type == 'f')
            ++outcome.temporaryFiles;
        else
            outcome.problems.push_back("unexpected new entry: " + name);
    }
    return outcome;
}

TEST(CrashConsistency, SigkillAtRandomMomentsNeverLeavesAMissingOrPartialSidecar) {
    const int kills = envInt("MERIDANE_CRASH_KILLS", 200);
    const unsigned seed = static_cast<unsigned>(envInt("MERIDANE_CRASH_SEED", static_cast<int>(std::random_device{}())));
    std::mt19937 random(seed);
    RecordProperty("seed", static_cast<int>(seed));

    WorkDir work;
    CrashLibrary library(work / "library");

    // Uninterrupted runs: what "new" means, and how long a run takes.
    std::vector<std::chrono::milliseconds> durations;
    for (int i = 0; i < 3; ++i) {
        library.restore();
        const RunResult run = runProcess(library.arguments());
        ASSERT_TRUE(run.started);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        durations.push_back(run.elapsed);
        const auto rows = parseJsonRows(run.out);
        ASSERT_EQ(rows.size(), library.sidecars().size()) << run.out;
        if (i == 0) {
            for (const CliRow& row : rows)
                EXPECT_TRUE(row.resultCase == "updated" || row.resultCase == "alreadyCorrect")
                    << row.path << ": " << row.resultCase << " " << row.message;
            library.recordFinished();
        }
        const KillOutcome finished = inspect(library);
        ASSERT_TRUE(finished.problems.empty()) << finished.problems.front();
        ASSERT_EQ(finished.sidecarsNew, finished.sidecarsChanging);
        ASSERT_EQ(finished.temporaryFiles, 0);
    }
    ASSERT_GT(std::count_if(library.sidecars().begin(), library.sidecars().end(),
                            [](const SidecarFile& s) { return s.old != s.next; }),
              12);
    std::sort(durations.begin(), durations.end());
    const auto typical = std::chrono::duration_cast<std::chrono::microseconds>(durations[1]);
    // Kill anywhere from the program's start to a little past its usual end.
    std::uniform_int_distribution<long> delay(0, typical.count() * 5 / 4);

    int survived = 0, beforeAnySave = 0, midRun = 0, afterAllSaves = 0, withTemporary = 0, recoveries = 0;
    for (int k = 1; k <= kills; ++k) {
        library.restore();
        const pid_t pid = spawnQuiet(library.arguments());
        ASSERT_GT(pid, 0);
        std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
        ::kill(pid, SIGKILL);
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        // Killed, or finished just before the signal; anything else is a crash.
        ASSERT_TRUE((WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) ||
                    (WIFEXITED(status) && WEXITSTATUS(status) == 0))
            << "kill " << k << ": status " << status;

        const KillOutcome outcome = inspect(library);
        if (!outcome.problems.empty()) {
            ADD_FAILURE() << "kill " << k << " (seed " << seed << "): " << outcome.problems.size()
                          << " problems, first: " << outcome.problems.front();
            continue;
        }
        ++survived;
        if (outcome.temporaryFiles > 0)
            ++withTemporary;
        if (outcome.sidecarsNew == 0)
            ++beforeAnySave;
        else if (outcome.sidecarsNew == outcome.sidecarsChanging)
            ++afterAllSaves;
        else
            ++midRun;

        // Now and then, and whenever a temporary file was left, the next run
        // must finish the job and clear what the killed one left.
        if (outcome.temporaryFiles > 0 || k % 25 == 0) {
            ++recoveries;
            const RunResult run = runProcess(library.arguments());
            ASSERT_EQ(run.exitCode, 0) << run.err;
            const KillOutcome after = inspect(library);
            ASSERT_TRUE(after.problems.empty()) << after.problems.front();
            EXPECT_EQ(after.sidecarsNew, after.sidecarsChanging) << "kill " << k;
            EXPECT_EQ(after.temporaryFiles, 0) << "kill " << k << ": the next run left a temporary file";
        }
    }

    std::cout << "[ crash    ] seed " << seed << ": " << survived << " of " << kills
              << " kills survived; run " << typical.count() / 1000 << " ms; killed before any save " << beforeAnySave
              << ", between saves " << midRun << ", after all saves " << afterAllSaves
              << "; a temporary file left " << withTemporary << " times; recovery runs " << recoveries << "\n";
    RecordProperty("kills", kills);
    RecordProperty("survived", survived);
    EXPECT_EQ(survived, kills);
    // The kills must have landed inside runs, not only around them.
    EXPECT_GT(midRun, kills / 10);
}

}  // namespace
}  // namespace meridane::hardening
