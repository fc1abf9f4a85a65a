// SPDX-License-Identifier: GPL-3.0-or-later
#include "base/DeviceData.h"
#include "base/Diagnostics.h"
#include "base/NumberText.h"
#include "base/UnicodeText.h"
#include "base/Utf8Text.h"

#include <gtest/gtest.h>

#include <limits>
#include <thread>

namespace meridane {
namespace {

TEST(NumberText, DiagnosticDoublesAreShortestRoundTripsWithPointZero) {
    const std::pair<double, const char*> cases[] = {
        {37.0, "37.0"}, {-0.0, "-0.0"}, {-122.4194, "-122.4194"}, {0.1 + 0.2, "0.30000000000000004"},
        {0.00009, "9e-05"}, {0.0001, "0.0001"}, {1e5, "100000.0"}, {1e15, "1000000000000000.0"}, {1e16, "1e+16"},
        {std::numeric_limits<double>::quiet_NaN(), "nan"}, {std::numeric_limits<double>::infinity(), "inf"}};
    for (const auto& [value, text] : cases)
        EXPECT_EQ(formatDiagnosticDouble(value), text);
    EXPECT_EQ(formatDiagnosticDouble(std::optional<double>()), "nil");
    EXPECT_EQ(formatFixed8(48.85837), "48.85837000");
    EXPECT_EQ(formatFixed8(0.123456789), "0.12345679");
    EXPECT_EQ(formatFixed8(-33.5), "-33.50000000");
}

TEST(UnicodeText, TrimsAndMapsCaseWithoutALocale) {
    using namespace text;
    EXPECT_EQ(trimmed("\u00a0\u2003north\u2029\u0085"), "north");
    EXPECT_EQ(trimmed("\u200b37\u200b"), "\u200b37\u200b");  // zero-width space is no white space
    EXPECT_EQ(trimmed("\v\f 37.7749N \r\n"), "37.7749N");
    EXPECT_EQ(trimmed("\x1c" "37" "\x1f"), "\x1c" "37" "\x1f");
    EXPECT_EQ(upperCased("stra\u00dfe i"), "STRASSE I");  // full mapping, never the Turkish dotted I
    EXPECT_EQ(lowerCased("\u0130APPLE"), "i\u0307apple");
    EXPECT_EQ(lastCharacter("37.5N\u0301"), "N\u0301");
    EXPECT_EQ(withoutLastCharacter("37.5N\u0301"), "37.5");
    EXPECT_EQ(lastCharacter(""), "");
    EXPECT_EQ(lastCharacter("37.5\r\n"), "\r\n");
    EXPECT_EQ(withoutLastCharacter("37.5N"), "37.5");
}

TEST(Utf8Text, TellsValidUtf8AndRewritesOnlyTheBadBytes) {
    struct Case {
        std::string text;
        bool valid;
        std::string replaced, escaped;
    };
    const std::string bad = "\xEF\xBF\xBD";
    const Case cases[] = {{"caf\xC3\xA9 \xF0\x9F\x93\xB7", true, "caf\xC3\xA9 \xF0\x9F\x93\xB7", "caf\xC3\xA9 \xF0\x9F\x93\xB7"},
                          {"caf\xE9", false, "caf" + bad, "caf%E9"},
                          {"\xC0\xAF", false, bad + bad, "%C0%AF"},  // overlong
                          {"\xED\xA0\x80", false, bad + bad + bad, "%ED%A0%80"},  // surrogate
                          {"\xF4\x90\x80\x80", false, bad + bad + bad + bad, "%F4%90%80%80"},
                          {"a\xE2\x80", false, "a" + bad + bad, "a%E2%80"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.escaped);
        EXPECT_EQ(utf8::isValid(c.text), c.valid);
        EXPECT_EQ(utf8::withReplacementCharacters(c.text), c.replaced);
        EXPECT_EQ(utf8::withPercentEscapes(c.text), c.escaped);
    }
}

TEST(DeviceData, AppleByMakeModelOrSoftware) {
    const std::pair<DeviceData, bool> cases[] = {
        {{"APPLE", {}, {}}, true},
        {{"Apple Inc.", "DSC-RX100", "Adobe Photoshop"}, false},
        {{"Canon", "Canon EOS R5", "Apple Photos 9.0"}, true},
        {{"Samsung", "Galaxy Tab Macro", {}}, true},
        {{{}, "iPod touch", {}}, true},
        {{{}, {}, {}}, false},
        {{"samsung", "SM-S906U", "S906USQS3DWKA"}, false}};
    for (const auto& [device, apple] : cases)
        EXPECT_EQ(device.isAppleDevice(), apple) << device.make.value_or("nil") << " " << device.model.value_or("nil");
}

TEST(Diagnostics, OneLinePerCallFromAnyThreadAndScopedSinksNest) {
    diag::LineCapture outer;
    {
        diag::LineCapture capture;
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([] {
                for (int i = 0; i < 200; ++i)
                    diag::debug("line " + std::to_string(i));
            });
        for (auto& thread : threads)
            thread.join();
        ASSERT_EQ(capture.lines().size(), 800u);
        for (const auto& line : capture.lines())
            ASSERT_EQ(line.rfind("[DEBUG] line ", 0), 0u) << line;
    }
    diag::debug("after");
    EXPECT_EQ(outer.lines(), std::vector<std::string>{"[DEBUG] after"});
    diag::ScopedSink silent(&diag::discard);
    EXPECT_FALSE(diag::isListening());
}

}  // namespace
}  // namespace meridane
