// SPDX-License-Identifier: GPL-3.0-or-later
// The batch run: groups, the walk, refusals, the folder prompt, stopping, lifetime.
#include "engine/BatchRun.h"

#include "ResultPrinting.h"
#include "TestSupport.h"
#include "base/Diagnostics.h"
#include "engine/FolderAccessPrompt.h"
#include "engine/internal/MediaFileProcessor.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

namespace meridane {
namespace {

namespace fs = std::filesystem;
using testing::writeFile;
using Names = std::vector<std::string>;

// Runs the owning thread's event loop until the run is idle again.
bool waitUntilIdle(BatchRun& run) {
    QEventLoop loop;
    const auto quitWhenIdle = [&] {
        if (!run.isProcessing())
            loop.quit();
    };
    QObject::connect(&run, &BatchRun::collectingFinished, &loop, quitWhenIdle);
    QObject::connect(&run, &BatchRun::runFinished, &loop, quitWhenIdle);
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    if (run.isProcessing())
        loop.exec();
    return !run.isProcessing();
}

void pump(int rounds, int milliseconds) {
    for (int round = 0; round < rounds; ++round) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
}

Names names(const std::vector<ProcessingResultDetail>& results) {
    Names out;
    for (const auto& r : results)
        out.push_back(r.filePath.filename().string());
    return out;
}

class BatchRunTest : public ::testing::Test {
protected:
    fs::path media(const std::string& name) { writeFile(dir_ / name, "x"); return dir_ / name; }
    std::vector<fs::path> mediaFiles(int count) {
        std::vector<fs::path> files;
        for (int i = 1; i <= count; ++i)
            files.push_back(media("f" + std::to_string(i) + ".heic"));
        return files;
    }
    bool runToEnd(const std::vector<fs::path>& paths) { return run_.processPaths(paths) && waitUntilIdle(run_); }
    void processWith(std::function<ProcessingResult(const std::string& name)> process) {
        run_.setFileProcessor([process](const fs::path& file, FolderAccessPrompt*) { return process(file.filename().string()); });
    }

    diag::LineCapture capture_;
    ScopedProcessingOptions restoreOptions_{ProcessingOptionValues{}};
    testing::TempDir dir_;
    BatchRun run_;
};

TEST_F(BatchRunTest, TwoFilesAtATimeOffTheOwningThreadGroupAfterGroup) {
    std::mutex mutex;
    Names events;
    std::atomic<int> inFlight{0}, mostInFlight{0};
    std::atomic<bool> onOwner{false};
    QThread* owner = QThread::currentThread();
    const auto note = [&](const std::string& event) { std::lock_guard lock(mutex); events.push_back(event); };
    processWith([&](const std::string& name) {
        mostInFlight = std::max(mostInFlight.load(), ++inFlight);
        onOwner = onOwner || QThread::currentThread() == owner;
        note("start " + name);
        std::this_thread::sleep_for(std::chrono::milliseconds(name[1] % 2 ? 4 : 1));
        note("end " + name);
        --inFlight;
        return ProcessingResult::alreadyCorrect();
    });
    std::int64_t processedWhenFinished = -1;
    QObject::connect(&run_, &BatchRun::runFinished, [&] { processedWhenFinished = run_.processedCount(); });
    ASSERT_TRUE(runToEnd(mediaFiles(7)));

    EXPECT_EQ(mostInFlight.load(), 2);
    EXPECT_FALSE(onOwner.load());
    EXPECT_EQ(processedWhenFinished, 7);
    const auto at = [&](const std::string& e) { return std::find(events.begin(), events.end(), e) - events.begin(); };
    for (int later = 3; later <= 7; ++later)  // every file of the earlier groups has ended
        for (int earlier = 1; earlier <= (later - 1) / 2 * 2; ++earlier)
            EXPECT_LT(at("end f" + std::to_string(earlier) + ".heic"), at("start f" + std::to_string(later) + ".heic"));
    const Names recorded = names(run_.results());
    for (size_t i = 0; i < recorded.size(); ++i)
        EXPECT_EQ((recorded[i][1] - '1') / 2, static_cast<int>(i) / 2) << recorded[i] << " recorded at " << i;
    EXPECT_EQ(run_.currentFile(), "");
    EXPECT_EQ(run_.totalCount(), 7);
}

TEST_F(BatchRunTest, TheWalkKeepsTheDropOrderLogsUnsupportedItemsAndRefusesASecondStartOrStartsNone) {
    processWith([](const std::string&) { return ProcessingResult::alreadyCorrect(); });
    fs::create_directories(dir_ / "folder/sub");
    for (const char* name : {"folder/b.heic", "folder/a.DNG", "folder/sub/c.heif", "folder/x.jpg"})
        writeFile(dir_ / name, "x");
    Names events;
    QObject::connect(&run_, &BatchRun::collectingFinished, [&] { events.push_back(std::to_string(run_.totalCount())); });
    QObject::connect(&run_, &BatchRun::runStarted, [&] { events.push_back("started"); });

    ASSERT_TRUE(run_.processPaths({media("a.txt"), dir_ / "folder", dir_ / "gone.heic", media("c.txt")}));
    EXPECT_TRUE(run_.isCollecting());
    EXPECT_FALSE(run_.processPaths({media("other.heic")}));  // refused during the walk...
    ASSERT_TRUE(waitUntilIdle(run_));
    EXPECT_EQ(events, (Names{"4", "started"}));
    // Groups (a, b), (c, gone): each pair in either order, pairs in order.
    Names recorded = names(run_.results());
    ASSERT_EQ(recorded.size(), 4u);
    std::sort(recorded.begin(), recorded.begin() + 2);
    std::sort(recorded.begin() + 2, recorded.end());
    EXPECT_EQ(recorded, (Names{"a.DNG", "b.heic", "c.heif", "gone.heic"}));
    EXPECT_EQ(capture_.lines(), (Names{"[DEBUG] a.txt is not a supported media file",
                                       "[DEBUG] x.jpg is not a supported media file",
                                       "[DEBUG] Enumerated 3 media files under " + (dir_ / "folder").string(),
                                       "[DEBUG] c.txt is not a supported media file"}));
    // A drop without media files clears the previous run at once and starts nothing.
    fs::create_directories(dir_ / "empty");
    EXPECT_TRUE(run_.processPaths({media("notes.txt"), dir_ / "empty"}));
    EXPECT_TRUE(run_.results().empty());
    ASSERT_TRUE(waitUntilIdle(run_));
    EXPECT_EQ(run_.totalCount(), 0);
    EXPECT_EQ(events, (Names{"4", "started", "0"}));

    processWith([](const std::string&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return ProcessingResult::alreadyCorrect();
    });
    ASSERT_TRUE(run_.processPaths(mediaFiles(3)));
    EXPECT_FALSE(run_.processPaths({media("other.heic")}));  // ...and while files run
    run_.resetRunState();                                     // ignored while running
    ASSERT_TRUE(waitUntilIdle(run_));
    EXPECT_EQ(run_.processedCount(), 3);
}

TEST_F(BatchRunTest, AnExceptionBecomesThatFilesFailureAndSilentSkipHidesOnlySkippedKinds) {
    using R = ProcessingResult;
    processWith([](const std::string& name) -> ProcessingResult {
        if (name == "f1.heic")
            throw std::runtime_error("boom");
        const R shown[] = {R::updated({}), R::skippedDifferentGPS({}), R::fileNotFound("r")};
        const R hidden[] = {R::withinTolerance({}), R::skippedMissing("r"), R::skippedNonApple({}, "r"), R::alreadyCorrect()};
        const int n = name[1] - '2';
        return n < 3 ? shown[n] : hidden[n - 3];
    });
    ASSERT_TRUE(runToEnd(mediaFiles(8)));
    ProcessingOptionValues options = run_.options();
    options.silentlyIgnoreSkipped = true;
    run_.setOptions(options);
    EXPECT_EQ(processingOptions::current(), options);
    std::vector<R::Case> visible;
    for (const ProcessingResultDetail* detail : run_.visibleResults())
        visible.push_back(detail->result.resultCase());
    std::sort(visible.begin(), visible.end());
    EXPECT_EQ(visible, (std::vector<R::Case>{R::Case::updated, R::Case::fileNotFound, R::Case::skippedDifferentGPS,
                                             R::Case::failed}));
}

struct RecordingPrompt : FolderAccessPrompt {
    std::optional<fs::path> promptForFolderAccess(const fs::path&) override {
        threads.push_back(QThread::currentThread());
        return answer;
    }
    std::optional<fs::path> answer;
    std::vector<QThread*> threads;
};

TEST_F(BatchRunTest, FolderQuestionsAreAnsweredOnTheOwningThreadOrNoneWithoutAPrompt) {
    run_.setFileProcessor([](const fs::path& file, FolderAccessPrompt* bridge) {
        const auto answer = bridge->promptForFolderAccess(file.parent_path());
        return ProcessingResult::failed(answer ? answer->string() : "none");
    });
    ASSERT_TRUE(runToEnd(mediaFiles(1)));
    EXPECT_EQ(run_.results().at(0).result, ProcessingResult::failed("none"));

    RecordingPrompt prompt;
    prompt.answer = "/granted";
    run_.setFolderAccessPrompt(&prompt);
    ASSERT_TRUE(runToEnd(mediaFiles(3)));
    EXPECT_EQ(prompt.threads, std::vector<QThread*>(3, QThread::currentThread()));
    EXPECT_EQ(run_.results().at(2).result, ProcessingResult::failed("/granted"));
}

// By name, or through links to one file (d.xmp and e.xmp lead to shared.xmp).
TEST_F(BatchRunTest, ImagesSharingASidecarAreNeverInFlightTogether) {
    for (const char* name : {"a.DNG", "a.dng", "a.HEIC", "b.DNG", "c.dng", "c.heif", "d.heic", "e.heic", "shared.xmp"})
        writeFile(dir_ / name, "");
    fs::create_symlink("shared.xmp", dir_ / "d.xmp");
    fs::create_symlink(dir_ / "shared.xmp", dir_ / "e.xmp");
    std::mutex mutex;
    std::map<fs::path, int> inFlight;
    int overlaps = 0;
    run_.setFileProcessor([&](const fs::path& file, FolderAccessPrompt*) {
        const fs::path sidecar = fs::weakly_canonical(MediaFileProcessor::sidecarPath(file));
        {
            std::lock_guard lock(mutex);
            overlaps += inFlight[sidecar]++ > 0;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::lock_guard lock(mutex);
        --inFlight[sidecar];
        return ProcessingResult::alreadyCorrect();
    });
    ASSERT_TRUE(runToEnd({dir_ / "d.heic", dir_ / "e.heic", dir_.path()}));
    EXPECT_EQ(run_.processedCount(), 10);
    EXPECT_EQ(overlaps, 0);
}

TEST_F(BatchRunTest, StoppingLetsTheFilesInFlightFinishAndStartsNoOther) {
    // f1 is held until the stop has been asked for on f2's result.
    std::mutex mutex;
    std::condition_variable released;
    bool stopped = false;
    processWith([&](const std::string& name) {
        std::unique_lock lock(mutex);
        if (name == "f1.heic")
            released.wait(lock, [&] { return stopped; });
        return ProcessingResult::alreadyCorrect();
    });
    QObject::connect(&run_, &BatchRun::resultRecorded, [&] {
        run_.stopAfterFilesInFlight();
        EXPECT_TRUE(run_.isStopping());
        std::lock_guard lock(mutex);
        stopped = true;
        released.notify_all();
    });
    int finished = 0;
    QObject::connect(&run_, &BatchRun::runFinished, [&] { ++finished; });
    ASSERT_TRUE(runToEnd(mediaFiles(6)));
    EXPECT_EQ(names(run_.results()), (Names{"f2.heic", "f1.heic"}));
    EXPECT_EQ(finished, 1);
    EXPECT_FALSE(run_.isStopping());

    fs::create_directories(dir_ / "folder");
    writeFile(dir_ / "folder/a.heic", "x");
    ASSERT_TRUE(run_.processPaths({dir_ / "folder"}));
    // Still collecting on this thread, while the walk's outcome is already
    // queued: the stop must win over it, and nothing starts.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    run_.stopAfterFilesInFlight();
    EXPECT_FALSE(run_.isProcessing());
    pump(5, 10);
    EXPECT_FALSE(run_.isProcessing());
    EXPECT_EQ(run_.processedCount(), 0);
}

TEST_F(BatchRunTest, WorkersWaitForAnOwnerThatFallsBehindAndAPauseHoldsThemStill) {
    // Files that end at once, and an owner busy elsewhere: results must not pile up for the whole run.
    std::atomic<int> processed{0};
    processWith([&](const std::string&) { ++processed; return ProcessingResult::alreadyCorrect(); });
    run_.setKeepsResults(false);
    constexpr int kFiles = 20000;
    std::vector<fs::path> paths;
    for (int i = 0; i < kFiles; ++i)
        paths.push_back(dir_ / ("IMG_" + std::to_string(i) + ".heic"));
    int recorded = 0;
    QObject::connect(&run_, &BatchRun::resultRecorded, [&] { ++recorded; });
    QEventLoop started;
    QObject::connect(&run_, &BatchRun::runStarted, &started, &QEventLoop::quit);
    ASSERT_TRUE(run_.processPaths(paths));
    started.exec();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const int beforeOwnerCaughtUp = processed.load();
    EXPECT_GT(beforeOwnerCaughtUp, 0);
    EXPECT_LE(beforeOwnerCaughtUp, 4096 + 2 * BatchRun::filesPerGroup);

    // Taking the waiting results lets the workers go on, but not past a pause.
    run_.pause();
    pump(20, 5);
    const int whilePaused = processed.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    QCoreApplication::processEvents();
    EXPECT_EQ(processed.load(), whilePaused);
    EXPECT_LT(whilePaused, kFiles);
    run_.resume();
    ASSERT_TRUE(waitUntilIdle(run_));
    EXPECT_EQ(processed.load(), kFiles);
    EXPECT_EQ(recorded, kFiles);
    EXPECT_TRUE(run_.results().empty());
    EXPECT_EQ(run_.resultCounts()[static_cast<size_t>(ProcessingResult::Case::alreadyCorrect)], kFiles);
}

TEST(BatchRunLifetime, DestroyingTheRunWhileAFileWaitsOrDuringTheWalkDoesNotHang) {
    diag::LineCapture quiet;
    testing::TempDir dir;
    writeFile(dir / "a.heic", "x");
    RecordingPrompt prompt;
    std::atomic<bool> asked{false}, answeredNone{false};
    {
        BatchRun run;
        run.setFolderAccessPrompt(&prompt);
        run.setFileProcessor([&](const fs::path& file, FolderAccessPrompt* bridge) {
            asked = true;
            answeredNone = !bridge->promptForFolderAccess(file.parent_path());
            return ProcessingResult::alreadyCorrect();
        });
        ASSERT_TRUE(run.processPaths({dir / "a.heic"}));
        while (!asked)  // the walk's outcome starts the file through this thread
            pump(1, 1);
    }
    EXPECT_TRUE(answeredNone.load());
    EXPECT_TRUE(prompt.threads.empty());

    std::atomic<int> processed{0};
    {
        BatchRun run;
        run.setFileProcessor([&](const fs::path&, FolderAccessPrompt*) { ++processed; return ProcessingResult::alreadyCorrect(); });
        ASSERT_TRUE(run.processPaths({dir.path(), dir.path()}));
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(processed.load(), 0);
}

}  // namespace
}  // namespace meridane
