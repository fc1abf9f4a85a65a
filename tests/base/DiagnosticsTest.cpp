#include "base/Diagnostics.h"

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

TEST(Diagnostics, NobodyListensOnlyWhileTheDiscardingSinkIsInForce) {
    EXPECT_TRUE(isListening());
    {
        ScopedSink silent(&discard);
        EXPECT_FALSE(isListening());
        {
            LineCapture capture;
            EXPECT_TRUE(isListening());
            debug("seen");
            EXPECT_TRUE(capture.contains("[DEBUG] seen"));
        }
        EXPECT_FALSE(isListening());
    }
    EXPECT_TRUE(isListening());
}

TEST(Diagnostics, ASinkThatMerelyIgnoresLinesStillCountsAsListening) {
    // Only the discarding sink itself is recognised; any other sink may
    // look at the lines, so they are still built and delivered.
    int delivered = 0;
    ScopedSink counting([&delivered](std::string_view) { ++delivered; });
    EXPECT_TRUE(isListening());
    debug("one");
    EXPECT_EQ(delivered, 1);
}

}  // namespace
}  // namespace meridane::diag
