#include "engine/BatchRun.h"

#include "engine/FolderAccessPrompt.h"
#include "base/Diagnostics.h"
#include "engine/ProcessingOptions.h"
#include "ResultPrinting.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string_view>
#include <thread>

namespace meridane {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::writeFile;

// Runs the owning thread's event loop until the run is idle again: after
// its last result, or after a walk that found no media file.
bool waitUntilIdle(BatchRun& run) {
    if (!run.isProcessing())
        return true;
    QEventLoop loop;
    const auto quitWhenIdle = [&] {
        if (!run.isProcessing())
            loop.quit();
    };
    QObject::connect(&run, &BatchRun::collectingFinished, &loop, quitWhenIdle);
    QObject::connect(&run, &BatchRun::runFinished, &loop, quitWhenIdle);
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    loop.exec();
    return !run.isProcessing();
}

// Runs the owning thread's event loop until the dropped items have been walked.
bool waitForWalk(BatchRun& run) {
    if (!run.isCollecting())
        return true;
    QEventLoop loop;
    QObject::connect(&run, &BatchRun::collectingFinished, &loop, &QEventLoop::quit);
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    loop.exec();
    return !run.isCollecting();
}

bool runToEnd(BatchRun& run, const std::vector<fs::path>& urls) {
    return run.processPaths(urls) && waitUntilIdle(run);
}

std::vector<std::string> names(const std::vector<ProcessingResultDetail>& results) {
    std::vector<std::string> out;
    for (const auto& r : results)
        out.push_back(r.filePath.filename().string());
    return out;
}

// A log shared by the workers and the owning thread.
class EventLog {
public:
    void add(std::string event) {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
    }
    std::vector<std::string> events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    size_t indexOf(const std::string& event) const {
        std::lock_guard lock(mutex_);
        for (size_t i = 0; i < events_.size(); ++i)
            if (events_[i] == event)
                return i;
        return events_.size();
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> events_;
};

class BatchRunTest : public ::testing::Test {
protected:
    fs::path media(const std::string& name) {
        writeFile(dir_ / name, "not really an image");
        return dir_ / name;
    }
    std::vector<fs::path> mediaFiles(int count) {
        std::vector<fs::path> files;
        for (int i = 1; i <= count; ++i)
            files.push_back(media("f" + std::to_string(i) + ".heic"));
        return files;
    }
    void SetUp() override { run_.setOptions(ProcessingOptionValues{}); }

    diag::LineCapture capture_;
    ScopedProcessingOptions restoreOptions_{processingOptions::current()};
    TempDir dir_;
    BatchRun run_;
};

TEST_F(BatchRunTest, ProcessesTwoFilesAtATimeAndStartsAGroupOnlyAfterThePreviousHasFinished) {
    EventLog log;
    std::atomic<int> inFlight{0};
    std::atomic<int> mostInFlight{0};
    run_.setFileProcessor([&](const fs::path& file, FolderAccessPrompt*) {
        const int now = ++inFlight;
        int seen = mostInFlight.load();
        while (now > seen && !mostInFlight.compare_exchange_weak(seen, now)) {
        }
        log.add("start " + file.filename().string());
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        log.add("end " + file.filename().string());
        --inFlight;
        return ProcessingResult::alreadyCorrect();
    });

    ASSERT_TRUE(runToEnd(run_, mediaFiles(5)));

    EXPECT_EQ(mostInFlight.load(), 2);
    EXPECT_EQ(run_.totalCount(), 5);
    EXPECT_EQ(run_.processedCount(), 5);
    for (const auto& [earlier, later] : std::vector<std::pair<int, int>>{{1, 3}, {2, 3}, {1, 4}, {2, 4}, {3, 5}, {4, 5}})
        EXPECT_LT(log.indexOf("end f" + std::to_string(earlier) + ".heic"),
                  log.indexOf("start f" + std::to_string(later) + ".heic"))
            << "f" << later << " started before f" << earlier << " had finished";
}

TEST_F(BatchRunTest, RecordsResultsInTheOrderTheyFinishWithinAGroup) {
    // f1 finishes only after f2's result has been recorded.
    std::mutex mutex;
    std::condition_variable released;
    bool secondRecorded = false;
    run_.setFileProcessor([&](const fs::path& file, FolderAccessPrompt*) {
        if (file.filename() == "f1.heic") {
            std::unique_lock lock(mutex);
            released.wait(lock, [&] { return secondRecorded; });
        }
        return ProcessingResult::alreadyCorrect();
    });
    QObject::connect(&run_, &BatchRun::resultRecorded, [&](const ProcessingResultDetail& d) {
        if (d.filePath.filename() != "f2.heic")
            return;
        std::lock_guard lock(mutex);
        secondRecorded = true;
        released.notify_all();
    });
    ASSERT_TRUE(runToEnd(run_, mediaFiles(3)));
    EXPECT_EQ(names(run_.results()), (std::vector<std::string>{"f2.heic", "f1.heic", "f3.heic"}));
}

TEST_F(BatchRunTest, ResultsOfALaterGroupAlwaysFollowThoseOfAnEarlierOne) {
    run_.setFileProcessor([](const fs::path& file, FolderAccessPrompt*) {
        // Odd files take longer, so within a group the even one tends to finish first.
        if (file.filename().string()[1] % 2 == 1)
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        return ProcessingResult::alreadyCorrect();
    });
    ASSERT_TRUE(runToEnd(run_, mediaFiles(9)));
    const auto recorded = names(run_.results());
    ASSERT_EQ(recorded.size(), 9u);
    for (size_t i = 0; i < recorded.size(); ++i) {
        const int number = recorded[i][1] - '0';
        EXPECT_EQ((number - 1) / 2, static_cast<int>(i) / 2) << recorded[i] << " recorded at " << i;
    }
}

TEST_F(BatchRunTest, RunFinishedComesAfterTheLastResult) {
    run_.setFileProcessor([](const fs::path&, FolderAccessPrompt*) { return ProcessingResult::alreadyCorrect(); });
    std::int64_t processedWhenFinished = -1;
    QObject::connect(&run_, &BatchRun::runFinished, [&] { processedWhenFinished = run_.processedCount(); });
    ASSERT_TRUE(runToEnd(run_, mediaFiles(7)));
    EXPECT_EQ(processedWhenFinished, 7);
}

TEST_F(BatchRunTest, RunsFileWorkOffTheOwningThread) {
    std::atomic<bool> onOwner{false};
    QThread* owner = QThread::currentThread();
    run_.setFileProcessor([&](const fs::path&, FolderAccessPrompt*) {
        if (QThread::currentThread() == owner)
            onOwner = true;
        return ProcessingResult::alreadyCorrect();
    });
    ASSERT_TRUE(runToEnd(run_, mediaFiles(3)));
    EXPECT_FALSE(onOwner.load());
}

TEST_F(BatchRunTest, OptionSwitchedDuringARunAppliesToLaterReadsAlsoOfFilesInFlight) {
    // f1 finishes first; when its result arrives the front end switches dry
    // run off. f2, still in flight, reads the option only after that.
    std::mutex mutex;
    std::condition_variable switched;
    bool dryRunSwitched = false;
    run_.setFileProcessor([&](const fs::path& file, FolderAccessPrompt*) {
        if (file.filename() == "f2.heic") {
            std::unique_lock lock(mutex);
            switched.wait(lock, [&] { return dryRunSwitched; });
        }
        return processingOptions::current().dryRun ? ProcessingResult::failed("dry") : ProcessingResult::failed("wet");
    });
    QObject::connect(&run_, &BatchRun::resultRecorded, [&](const ProcessingResultDetail& d) {
        if (d.filePath.filename() != "f1.heic")
            return;
        ProcessingOptionValues options = run_.options();
        options.dryRun = false;
        run_.setOptions(options);
        std::lock_guard lock(mutex);
        dryRunSwitched = true;
        switched.notify_all();
    });
    ASSERT_TRUE(runToEnd(run_, mediaFiles(4)));
    std::vector<std::string> seen;
    for (const auto& r : run_.results())
        seen.push_back(r.filePath.filename().string() + "=" + r.result.get<ProcessingResult::Failed>()->error);
    std::sort(seen.begin(), seen.end());  // f3 and f4 finish in either order
    EXPECT_EQ(seen, (std::vector<std::string>{"f1.heic=dry", "f2.heic=wet", "f3.heic=wet", "f4.heic=wet"}));
}

TEST_F(BatchRunTest, AfterARunTheStateDescribesItUntilTheNextOne) {
    run_.setFileProcessor([](const fs::path&, FolderAccessPrompt*) { return ProcessingResult::alreadyCorrect(); });
    std::vector<std::string> currentFiles;
    QObject::connect(&run_, &BatchRun::resultRecorded,
                     [&](const ProcessingResultDetail&) { currentFiles.push_back(run_.currentFile()); });
    ASSERT_TRUE(runToEnd(run_, mediaFiles(3)));
    EXPECT_FALSE(run_.isProcessing());
    EXPECT_EQ(run_.currentFile(), "");
    EXPECT_EQ(run_.totalCount(), 3);
    EXPECT_EQ(run_.processedCount(), 3);
    EXPECT_EQ(run_.results().size(), 3u);
    EXPECT_EQ(currentFiles.size(), 3u);
    EXPECT_NE(run_.results()[0].id, run_.results()[1].id);
}

TEST_F(BatchRunTest, ASecondStartWhileRunningIsRefusedAndChangesNothing) {
    run_.setFileProcessor([](const fs::path&, FolderAccessPrompt*) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return ProcessingResult::alreadyCorrect();
    });
    const auto files = mediaFiles(3);
    ASSERT_TRUE(run_.processPaths(files));
    ASSERT_TRUE(waitForWalk(run_));
    EXPECT_TRUE(run_.isProcessing());
    EXPECT_FALSE(run_.processPaths({media("other.heic")}));
    run_.resetRunState();
    EXPECT_EQ(run_.totalCount(), 3);
    ASSERT_TRUE(waitUntilIdle(run_));
    EXPECT_EQ(names(run_.results()).size(), 3u);
}

TEST_F(BatchRunTest, ASecondStartDuringTheWalkOfTheDroppedItemsIsRefused) {
    std::vector<std::string> processed;
    std::mutex mutex;
    run_.setFileProcessor([&](const fs::path& file, FolderAccessPrompt*) {
        std::lock_guard lock(mutex);
        processed.push_back(file.filename().string());
        return ProcessingResult::alreadyCorrect();
    });
    fs::create_directories(dir_ / "folder");
    writeFile(dir_ / "folder/a.heic", "x");
    writeFile(dir_ / "folder/b.heic", "x");
    int resets = 0;
    QObject::connect(&run_, &BatchRun::runReset, [&] { ++resets; });

    ASSERT_TRUE(run_.processPaths({dir_ / "folder"}));
    // The walk's outcome reaches this thread only through its event loop.
    EXPECT_TRUE(run_.isCollecting());
    EXPECT_TRUE(run_.isProcessing());
    EXPECT_EQ(run_.totalCount(), 0);
    EXPECT_FALSE(run_.processPaths({media("other.heic")}));
    run_.resetRunState();
    EXPECT_EQ(resets, 1);

    ASSERT_TRUE(waitUntilIdle(run_));
    EXPECT_EQ(run_.totalCount(), 2);
    std::sort(processed.begin(), processed.end());
    EXPECT_EQ(processed, (std::vector<std::string>{"a.heic", "b.heic"}));
}

TEST_F(BatchRunTest, TheWalkSetsTheTotalBeforeTheRunStarts) {
    run_.setFileProcessor([](const fs::path&, FolderAccessPrompt*) { return ProcessingResult::alreadyCorrect(); });
    std::vector<std::string> events;
    QObject::connect(&run_, &BatchRun::collectingStarted, [&] {
        events.push_back("collecting total=" + std::to_string(run_.totalCount()) +
                         " processing=" + (run_.isProcessing() ? "yes" : "no"));
    });
    QObject::connect(&run_, &BatchRun::collectingFinished, [&] {
        events.push_back("collected total=" + std::to_string(run_.totalCount()) +
                         " collecting=" + (run_.isCollecting() ? "yes" : "no"));
    });
    QObject::connect(&run_, &BatchRun::runStarted, [&] { events.push_back("started"); });
    QObject::connect(&run_, &BatchRun::runFinished, [&] { events.push_back("finished"); });
    ASSERT_TRUE(runToEnd(run_, mediaFiles(3)));
    EXPECT_EQ(events, (std::vector<std::string>{"collecting total=0 processing=yes", "collected total=3 collecting=no",
                                                "started", "finished"}));
}

TEST_F(BatchRunTest, AWalkThatFindsNothingReturnsToIdleWithoutARun) {
    fs::create_directories(dir_ / "empty");
    int collected = 0;
    int started = 0;
    int finished = 0;
    QObject::connect(&run_, &BatchRun::collectingFinished, [&] { ++collected; });
    QObject::connect(&run_, &BatchRun::runStarted, [&] { ++started; });
    QObject::connect(&run_, &BatchRun::runFinished, [&] { ++finished; });
    ASSERT_TRUE(run_.processPaths({dir_ / "empty", media("notes.txt")}));
    EXPECT_TRUE(run_.isProcessing());

    ASSERT_TRUE(waitUntilIdle(run_));
    EXPECT_FALSE(run_.isProcessing());
    EXPECT_FALSE(run_.isCollecting());
    EXPECT_EQ(run_.totalCount(), 0);
    EXPECT_TRUE(run_.results().empty());
    EXPECT_EQ(collected, 1);
    EXPECT_EQ(started, 0);
    EXPECT_EQ(finished, 0);
    // Idle again: the next drop is taken.
    run_.setFileProcessor([](const fs::path&, FolderAccessPrompt*) { return ProcessingResult::alreadyCorrect(); });
    ASSERT_TRUE(runToEnd(run_, mediaFiles(1)));
    EXPECT_EQ(run_.processedCount(), 1);
}

TEST_F(BatchRunTest, TheWalkWritesItsLinesInTheOrderOfTheDroppedItems) {
    run_.setFileProcessor([](const fs::path&, FolderAccessPrompt*) { return ProcessingResult::alreadyCorrect(); });
    fs::create_directories(dir_ / "folder");
    writeFile(dir_ / "folder/x.jpg", "x");
    writeFile(dir_ / "folder/y.heic", "x");
    diag::LineCapture lines;
    ASSERT_TRUE(runToEnd(run_, {media("a.txt"), dir_ / "folder", media("b.heic"), media("c.txt")}));
    EXPECT_EQ(lines.lines(), (std::vector<std::string>{
                                 "[DEBUG] a.txt is not a supported media file",
                                 "[DEBUG] x.jpg is not a supported media file",
                                 "[DEBUG] Enumerated 1 media files under " + (dir_ / "folder").string(),
                                 "[DEBUG] c.txt is not a supported media file",
                             }));
}

TEST_F(BatchRunTest, FilesKeepTheOrderOfTheDroppedItemsAndOfTheirFolders) {
    // Groups are cut from the file list in order, and a group's results
    // follow the previous group's, so the pairs of results show the order.
    run_.setFileProcessor([](const fs::path&, FolderAccessPrompt*) { return ProcessingResult::alreadyCorrect(); });
    fs::create_directories(dir_ / "folder/sub");
    writeFile(dir_ / "folder/b.heic", "x");
    writeFile(dir_ / "folder/a.dng", "x");
    writeFile(dir_ / "folder/sub/c.heif", "x");
    ASSERT_TRUE(runToEnd(run_, {media("z.heic"), dir_ / "folder", media("m.heic")}));
    const auto recorded = names(run_.results());
    ASSERT_EQ(recorded.size(), 5u);
    // Groups: (z, a), (b, c), (m); within a group either may finish first.
    const auto pair = [&](size_t i) {
        std::vector<std::string> two{recorded[i], recorded[i + 1]};
        std::sort(two.begin(), two.end());
        return two;
    };
    EXPECT_EQ(pair(0), (std::vector<std::string>{"a.dng", "z.heic"}));
    EXPECT_EQ(pair(2), (std::vector<std::string>{"b.heic", "c.heif"}));
    EXPECT_EQ(recorded[4], "m.heic");
}

TEST_F(BatchRunTest, TheFolderWalkRunsOffTheOwningThread) {
    fs::create_directories(dir_ / "folder");
    QThread* owner = QThread::currentThread();
    std::atomic<QThread*> walker{nullptr};
    {
        diag::ScopedSink sink([&](std::string_view line) {
            if (line.find("Enumerated") != std::string_view::npos)
                walker = QThread::currentThread();
        });
        ASSERT_TRUE(runToEnd(run_, {dir_ / "folder"}));
    }
    ASSERT_NE(walker.load(), nullptr);
    EXPECT_NE(walker.load(), owner);
}

TEST_F(BatchRunTest, OnlyUnsupportedItemsClearThePreviousRunLogOnceEachAndStartNothing) {
    run_.setFileProcessor([](const fs::path&, FolderAccessPrompt*) { return ProcessingResult::alreadyCorrect(); });
    ASSERT_TRUE(runToEnd(run_, mediaFiles(2)));
    int resets = 0;
    QObject::connect(&run_, &BatchRun::runReset, [&] { ++resets; });
    diag::LineCapture lines;
    EXPECT_TRUE(run_.processPaths({media("notes.txt"), dir_ / "missing.jpg"}));
    // Cleared at once, before the items are looked at.
    EXPECT_EQ(resets, 1);
    EXPECT_TRUE(run_.results().empty());
    ASSERT_TRUE(waitUntilIdle(run_));
    EXPECT_FALSE(run_.isProcessing());
    EXPECT_EQ(run_.totalCount(), 0);
    EXPECT_EQ(run_.processedCount(), 0);
    EXPECT_TRUE(run_.results().empty());
    EXPECT_EQ(resets, 1);
    EXPECT_EQ(lines.lines(), (std::vector<std::string>{"[DEBUG] notes.txt is not a supported media file",
                                                       "[DEBUG] missing.jpg is not a supported media file"}));
}

TEST_F(BatchRunTest, FoldersAreExpandedAndMissingSupportedPathsAreStillProcessed) {
    std::vector<std::string> processed;
    std::mutex mutex;
    run_.setFileProcessor([&](const fs::path& file, FolderAccessPrompt*) {
        std::lock_guard lock(mutex);
        processed.push_back(file.filename().string());
        return ProcessingResult::alreadyCorrect();
    });
    fs::create_directories(dir_ / "folder/sub");
    writeFile(dir_ / "folder/a.HEIC", "x");
    writeFile(dir_ / "folder/sub/b.dng", "x");
    fs::create_directories(dir_ / "empty");
    ASSERT_TRUE(runToEnd(run_, {dir_ / "folder", dir_ / "gone.heic", dir_ / "empty"}));
    EXPECT_EQ(run_.totalCount(), 3);
    std::sort(processed.begin(), processed.end());
    EXPECT_EQ(processed, (std::vector<std::string>{"a.HEIC", "b.dng", "gone.heic"}));
}

TEST_F(BatchRunTest, EmptyFolderBehavesLikeAnEmptyDrop) {
    fs::create_directories(dir_ / "empty");
    int started = 0;
    QObject::connect(&run_, &BatchRun::runStarted, [&] { ++started; });
    EXPECT_TRUE(run_.processPaths({dir_ / "empty"}));
    ASSERT_TRUE(waitUntilIdle(run_));
    EXPECT_FALSE(run_.isProcessing());
    EXPECT_EQ(run_.totalCount(), 0);
    EXPECT_EQ(started, 0);
}

TEST_F(BatchRunTest, AnExceptionInOneFileBecomesItsFailureAndTheRunGoesOn) {
    run_.setFileProcessor([](const fs::path& file, FolderAccessPrompt*) -> ProcessingResult {
        if (file.filename() == "f1.heic")
            throw std::runtime_error("boom");
        return ProcessingResult::alreadyCorrect();
    });
    ASSERT_TRUE(runToEnd(run_, mediaFiles(3)));
    ASSERT_EQ(run_.results().size(), 3u);
    for (const auto& r : run_.results()) {
        if (r.filePath.filename() == "f1.heic") {
            EXPECT_EQ(r.result, ProcessingResult::failed("boom"));
        }
    }
}

struct VisibilityCase {
    const char* name;
    ProcessingResult result;
    bool hiddenWhenSilent;
};

void PrintTo(const VisibilityCase& c, std::ostream* os) { *os << c.name; }

class HiddenWhenSilent : public ::testing::TestWithParam<VisibilityCase> {};

TEST_P(HiddenWhenSilent, FollowsTheCase) {
    EXPECT_EQ(BatchRun::isHiddenWhenSilent(GetParam().result), GetParam().hiddenWhenSilent);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HiddenWhenSilent,
    ::testing::Values(VisibilityCase{"Updated", ProcessingResult::updated({}), false},
                      VisibilityCase{"WithinTolerance", ProcessingResult::withinTolerance({}), true},
                      VisibilityCase{"FileNotFound", ProcessingResult::fileNotFound("r"), false},
                      VisibilityCase{"UnsupportedFile", ProcessingResult::unsupportedFile("r"), false},
                      VisibilityCase{"SkippedMissing", ProcessingResult::skippedMissing("r"), true},
                      VisibilityCase{"SkippedNonApple", ProcessingResult::skippedNonApple(std::nullopt, "r"), true},
                      VisibilityCase{"SkippedDifferentGPS", ProcessingResult::skippedDifferentGPS({}), false},
                      VisibilityCase{"Failed", ProcessingResult::failed("r"), false},
                      VisibilityCase{"AlreadyCorrect", ProcessingResult::alreadyCorrect(), true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(BatchRunTest, VisibleResultsFollowTheFrontEndsSilentSkipCopy) {
    run_.setFileProcessor([](const fs::path& file, FolderAccessPrompt*) {
        return file.filename() == "f2.heic" ? ProcessingResult::failed("x") : ProcessingResult::alreadyCorrect();
    });
    ASSERT_TRUE(runToEnd(run_, mediaFiles(3)));
    EXPECT_EQ(run_.visibleResults().size(), 3u);
    ProcessingOptionValues options = run_.options();
    options.silentlyIgnoreSkipped = true;
    run_.setOptions(options);
    ASSERT_EQ(run_.visibleResults().size(), 1u);
    EXPECT_EQ(run_.visibleResults()[0]->filePath.filename(), "f2.heic");
    EXPECT_EQ(run_.processedCount(), 3);
    options.silentlyIgnoreSkipped = false;
    run_.setOptions(options);
    EXPECT_EQ(run_.visibleResults().size(), 3u);
}

TEST_F(BatchRunTest, SetOptionsCopiesAllFourIntoTheProcessWideOptions) {
    const ProcessingOptionValues options{false, true, false, true};
    run_.setOptions(options);
    EXPECT_EQ(processingOptions::current(), options);
    processingOptions::set(ProcessingOptionValues{});
    run_.syncProcessingOptions();
    EXPECT_EQ(processingOptions::current(), options);
}

class RecordingPrompt : public FolderAccessPrompt {
public:
    std::optional<fs::path> promptForFolderAccess(const fs::path& folder) override {
        threads.push_back(QThread::currentThread());
        folders.push_back(folder);
        return answer;
    }
    std::optional<fs::path> answer;
    std::vector<QThread*> threads;
    std::vector<fs::path> folders;
};

TEST_F(BatchRunTest, FolderQuestionsRunOnTheOwningThreadWhileTheFileWaits) {
    RecordingPrompt prompt;
    prompt.answer = dir_ / "granted";
    run_.setFolderAccessPrompt(&prompt);
    run_.setFileProcessor([](const fs::path& file, FolderAccessPrompt* bridge) {
        const auto answer = bridge->promptForFolderAccess(file.parent_path());
        return ProcessingResult::failed(answer ? answer->filename().string() : "none");
    });
    ASSERT_TRUE(runToEnd(run_, mediaFiles(3)));
    ASSERT_EQ(prompt.threads.size(), 3u);
    for (QThread* thread : prompt.threads)
        EXPECT_EQ(thread, QThread::currentThread());
    for (const auto& r : run_.results())
        EXPECT_EQ(r.result, ProcessingResult::failed("granted"));
}

TEST_F(BatchRunTest, WithoutAPromptFolderQuestionsAreAnsweredNone) {
    run_.setFileProcessor([](const fs::path& file, FolderAccessPrompt* bridge) {
        return ProcessingResult::failed(bridge->promptForFolderAccess(file.parent_path()) ? "some" : "none");
    });
    ASSERT_TRUE(runToEnd(run_, mediaFiles(1)));
    EXPECT_EQ(run_.results().at(0).result, ProcessingResult::failed("none"));
}

TEST(BatchRunLifetime, DestroyingTheRunWhileAFileWaitsForAnAnswerDoesNotHang) {
    diag::LineCapture capture;
    ScopedProcessingOptions restore(processingOptions::current());
    TempDir dir;
    writeFile(dir / "a.heic", "x");
    RecordingPrompt prompt;
    std::atomic<bool> asked{false};
    std::atomic<bool> answeredNone{false};
    {
        BatchRun run;
        run.setFolderAccessPrompt(&prompt);
        run.setFileProcessor([&](const fs::path& file, FolderAccessPrompt* bridge) {
            asked = true;
            answeredNone = !bridge->promptForFolderAccess(file.parent_path());
            return ProcessingResult::alreadyCorrect();
        });
        ASSERT_TRUE(run.processPaths({dir / "a.heic"}));
        // The walk's outcome starts the file through this thread's event loop.
        while (!asked) {
            QCoreApplication::processEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        // The owning thread never served the question; the run goes away now.
    }
    EXPECT_TRUE(answeredNone.load());
    EXPECT_TRUE(prompt.threads.empty());
}

TEST(BatchRunLifetime, DestroyingTheRunDuringTheWalkDoesNotHangOrStartFiles) {
    diag::LineCapture capture;
    ScopedProcessingOptions restore(processingOptions::current());
    TempDir dir;
    fs::create_directories(dir / "folder");
    for (int i = 0; i < 50; ++i)
        writeFile(dir / "folder" / ("f" + std::to_string(i) + ".heic"), "x");
    std::atomic<int> processed{0};
    {
        BatchRun run;
        run.setFileProcessor([&](const fs::path&, FolderAccessPrompt*) {
            ++processed;
            return ProcessingResult::alreadyCorrect();
        });
        ASSERT_TRUE(run.processPaths({dir / "folder", dir / "folder"}));
    }
    // What the walk found could only start files through the gone run.
    QCoreApplication::processEvents();
    EXPECT_EQ(processed.load(), 0);
}

}  // namespace
}  // namespace meridane
