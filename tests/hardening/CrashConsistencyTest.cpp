// Kills the real command-line program with SIGKILL at random moments of write
// runs over a library of image+sidecar pairs (some sidecars behind links),
// and checks after every kill that each sidecar is byte for byte either what
// it was or the finished new document, never missing or partial. A kill may
// leave only a hidden temporary file beside a sidecar, which the next run
// clears. MERIDANE_CRASH_KILLS (default 200) and MERIDANE_CRASH_SEED tune it.
#include "HardeningSupport.h"
#include "SidecarBuilder.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <iostream>
#include <random>
#include <thread>

namespace meridane::hardening {
namespace {
namespace fs = std::filesystem;

int envInt(const char* name, int fallback) {
    const char* value = std::getenv(name);
    return value && *value ? std::atoi(value) : fallback;
}

struct Library {
    testing::TempDir dir;
    std::map<std::string, std::pair<std::string, std::string>> sidecars;  ///< relative path: old and new entry
    Tree pristine;

    Library() {
        for (int n = 0; n < 24; ++n) {
            const fs::path folder = dir / ("roll" + std::to_string(n / 6));
            fs::create_directories(folder);
            // Quarter degrees, which the image's rationals hold exactly.
            const double lat = (n % 2 ? -1 : 1) * (10.25 + n), lon = (n % 3 ? -1 : 1) * (20.75 + 2 * n);
            const std::string base = "IMG_" + std::to_string(1000 + n), ns = lat < 0 ? "S" : "N",
                              ew = lon < 0 ? "W" : "E";
            writeGpsImage(folder / (base + ".DNG"), lat, lon);
            const std::string fixed = std::to_string(std::fabs(lat)) + "00", fixedLon = std::to_string(std::fabs(lon)) + "00";
            const std::string xml = n % 4 == 0   ? testing::sidecarXml(fixed, fixedLon, ns, ew)
                                    : n % 4 == 1 ? testing::sidecarXml("1.5N", "2.5E", "N", "E")
                                    : n % 4 == 2 ? testing::sidecarXml(fixed + ns, fixedLon + ew, ns, ew)
                                                 : testing::sidecarXml("0,30.0" + ns, "0,45.0" + ew);
            fs::path sidecar = folder / (base + ".xmp");
            if (n >= 18 && n % 2 == 0) {  // the link must stay a link, its target replaced
                fs::create_directories(dir / "linked");
                fs::create_symlink("../linked/" + base + ".xmp", sidecar);
                sidecar = dir / "linked" / (base + ".xmp");
            }
            testing::writeFile(sidecar, xml);
            ::chmod(sidecar.c_str(), n % 5 == 0 ? 0600 : 0644);
            sidecars[sidecar.lexically_relative(dir.path()).string()] = {};
        }
        pristine = snapshot(dir.path());
        for (auto& [name, entry] : sidecars)
            entry.first = pristine.at(name);
    }
    std::vector<std::string> arguments() const { return {"--any-camera", "--always-overwrite", dir.path().string()}; }
    void restore() {
        for (const auto& [name, entry] : snapshot(dir.path()))
            if (!pristine.count(name))
                fs::remove(dir / name);
        for (const auto& [name, entry] : sidecars)
            testing::writeFile(dir / name, entry.first.substr(entry.first.find(' ') + 1));
    }
    /// Problems found, and how many sidecars are new and how many temporary files there are.
    std::vector<std::string> inspect(int& fresh, int& temporary) const {
        std::vector<std::string> problems;
        fresh = temporary = 0;
        const Tree now = snapshot(dir.path());
        for (const auto& [name, entry] : pristine) {
            const auto found = now.find(name);
            const auto sidecar = sidecars.find(name);
            if (found == now.end())
                problems.push_back("missing: " + name);
            else if (sidecar == sidecars.end() ? found->second != entry
                                               : found->second != sidecar->second.first && found->second != sidecar->second.second)
                problems.push_back("neither old nor new: " + name);
            else if (sidecar != sidecars.end() && sidecar->second.first != sidecar->second.second)
                fresh += found->second == sidecar->second.second;
        }
        for (const auto& [name, entry] : now) {
            const fs::path p(name);
            const std::string file = p.filename().string();
            if (pristine.count(name))
                continue;
            if (entry[0] == 'f' && file.ends_with(".tmp") && sidecars.count((p.parent_path() / file.substr(1, file.size() - 5)).string()))
                ++temporary;
            else
                problems.push_back("unexpected: " + name);
        }
        return problems;
    }
};

TEST(CrashConsistency, SigkillAtRandomMomentsNeverLeavesAMissingOrPartialSidecar) {
    const int kills = envInt("MERIDANE_CRASH_KILLS", 200);
    const unsigned seed = static_cast<unsigned>(envInt("MERIDANE_CRASH_SEED", static_cast<int>(std::random_device{}())));
    std::mt19937 random(seed);
    Library library;
    RunResult run;
    ASSERT_EQ(runCli(library.arguments(), run).size(), 24u) << run.err;
    int fresh = 0, temporary = 0, changing = 0;
    for (auto& [name, entry] : library.sidecars) {
        entry.second = snapshot(library.dir.path()).at(name);
        changing += entry.first != entry.second;
    }
    ASSERT_GT(changing, 12);
    const auto typical = std::chrono::duration_cast<std::chrono::microseconds>(run.elapsed);
    std::uniform_int_distribution<long> delay(0, typical.count() * 5 / 4);

    int midRun = 0;
    for (int k = 1; k <= kills; ++k) {
        library.restore();
        std::vector<std::string> argv = {cliPath().string(), "--write", "--json"};
        for (const std::string& a : library.arguments())
            argv.push_back(a);
        const pid_t pid = testing::spawnQuiet(argv);
        ASSERT_GT(pid, 0);
        std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
        ::kill(pid, SIGKILL);
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        ASSERT_TRUE(WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) == 0)) << status;
        const auto problems = library.inspect(fresh, temporary);
        ASSERT_TRUE(problems.empty()) << "kill " << k << " (seed " << seed << "): " << problems.front();
        midRun += fresh > 0 && fresh < changing;
        if (temporary > 0 || k % 25 == 0) {  // the next run finishes the job and clears what was left
            runCli(library.arguments(), run);
            ASSERT_TRUE(library.inspect(fresh, temporary).empty());
            EXPECT_EQ(fresh, changing);
            EXPECT_EQ(temporary, 0);
        }
    }
    std::cout << "[ crash    ] seed " << seed << ": " << kills << " kills, " << midRun << " between saves; run "
              << typical.count() / 1000 << " ms\n";
    EXPECT_GT(midRun, kills / 10) << "the kills must land inside runs";
}

}  // namespace
}  // namespace meridane::hardening
