#include "core/Diagnostics.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace meridane::diag {
namespace {

TEST(Diagnostics, LinesCarryThePrefixOncePerCall) {
    LineCapture capture;
    debug("Processing IMG_0001.HEIC");
    debug("");
    ASSERT_EQ(capture.lines().size(), 2u);
    EXPECT_EQ(capture.lines()[0], "[DEBUG] Processing IMG_0001.HEIC");
    EXPECT_EQ(capture.lines()[1], "[DEBUG] ");
}

TEST(Diagnostics, ScopedSinkRestoresThePreviousSink) {
    LineCapture outer;
    {
        LineCapture inner;
        debug("inner");
        EXPECT_TRUE(inner.contains("[DEBUG] inner"));
    }
    debug("outer");
    ASSERT_EQ(outer.lines().size(), 1u);
    EXPECT_EQ(outer.lines()[0], "[DEBUG] outer");
}

TEST(Diagnostics, LinesFromManyThreadsNeverInterleave) {
    LineCapture capture;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i)
                debug("thread " + std::to_string(t) + " line " + std::to_string(i));
        });
    for (auto& thread : threads)
        thread.join();
    ASSERT_EQ(capture.lines().size(), 800u);
    for (const auto& line : capture.lines())
        EXPECT_EQ(line.rfind("[DEBUG] thread ", 0), 0u) << line;
}

}  // namespace
}  // namespace meridane::diag
