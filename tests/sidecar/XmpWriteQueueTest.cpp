#include "sidecar/internal/XmpWriteQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

namespace meridane {
namespace {

TEST(XmpWriteQueue, IsOneQueueForTheWholeProcess) {
    EXPECT_EQ(&XmpWriteQueue::shared(), &XmpWriteQueue::shared());
}

TEST(XmpWriteQueue, RunsJobsOnItsOwnWorkerThread) {
    std::thread::id ranOn;
    XmpWriteQueue::shared().runSync([&] { ranOn = std::this_thread::get_id(); });
    EXPECT_NE(ranOn, std::this_thread::get_id());
    EXPECT_EQ(ranOn, XmpWriteQueue::shared().workerId());
}

TEST(XmpWriteQueue, CallerWaitsForTheJobAndGetsItsValue) {
    std::atomic<bool> finished{false};
    const int value = XmpWriteQueue::shared().sync([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        finished = true;
        return 42;
    });
    EXPECT_TRUE(finished.load());
    EXPECT_EQ(value, 42);
}

TEST(XmpWriteQueue, JobsFromManyThreadsNeverOverlapAndAllRunOnTheWorker) {
    std::atomic<int> active{0};
    std::atomic<int> maxActive{0};
    std::atomic<int> done{0};
    std::mutex idsMutex;
    std::set<std::thread::id> ids;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 3; ++i) {
                XmpWriteQueue::shared().runSync([&] {
                    const int now = ++active;
                    int seen = maxActive.load();
                    while (now > seen && !maxActive.compare_exchange_weak(seen, now)) {
                    }
                    {
                        std::lock_guard lock(idsMutex);
                        ids.insert(std::this_thread::get_id());
                    }
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                    --active;
                    ++done;
                });
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(done.load(), 12);
    EXPECT_EQ(maxActive.load(), 1);
    EXPECT_EQ(ids, std::set<std::thread::id>{XmpWriteQueue::shared().workerId()});
}

TEST(XmpWriteQueue, ExceptionReachesTheCallerAndTheQueueGoesOn) {
    EXPECT_THROW(XmpWriteQueue::shared().runSync([] { throw std::runtime_error("boom"); }), std::runtime_error);
    EXPECT_EQ(XmpWriteQueue::shared().sync([] { return 7; }), 7);
}

TEST(XmpWriteQueue, JobSubmittedFromTheWorkerRunsInsteadOfDeadlocking) {
    bool innerRan = false;
    XmpWriteQueue::shared().runSync([&] { XmpWriteQueue::shared().runSync([&] { innerRan = true; }); });
    EXPECT_TRUE(innerRan);
}

}  // namespace
}  // namespace meridane
