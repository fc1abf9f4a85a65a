#include "base/Utf8Text.h"

#include <gtest/gtest.h>

namespace meridane {
namespace {

struct Utf8Case {
    const char* name;
    std::string text;
    bool valid;
    std::string replaced;
    std::string escaped;
};

void PrintTo(const Utf8Case& c, std::ostream* os) { *os << c.name; }

class Utf8Text : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8Text, TellsValidUtf8AndRewritesOnlyTheBadBytes) {
    const Utf8Case& c = GetParam();
    EXPECT_EQ(utf8::isValid(c.text), c.valid);
    EXPECT_EQ(utf8::withReplacementCharacters(c.text), c.replaced);
    EXPECT_EQ(utf8::withPercentEscapes(c.text), c.escaped);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Utf8Text,
    ::testing::Values(Utf8Case{"Ascii", "IMG_1.HEIC", true, "IMG_1.HEIC", "IMG_1.HEIC"},
                      Utf8Case{"Accents", "caf\xC3\xA9 \xE2\x80\xA2 \xF0\x9F\x93\xB7", true,
                               "caf\xC3\xA9 \xE2\x80\xA2 \xF0\x9F\x93\xB7", "caf\xC3\xA9 \xE2\x80\xA2 \xF0\x9F\x93\xB7"},
                      Utf8Case{"Latin1Byte", "caf\xE9", false, "caf\xEF\xBF\xBD", "caf%E9"},
                      Utf8Case{"Overlong", "\xC0\xAF", false, "\xEF\xBF\xBD\xEF\xBF\xBD", "%C0%AF"},
                      Utf8Case{"Surrogate", "\xED\xA0\x80", false, "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD",
                               "%ED%A0%80"},
                      Utf8Case{"AboveMax", "\xF4\x90\x80\x80", false,
                               "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD", "%F4%90%80%80"},
                      Utf8Case{"Truncated", "a\xE2\x80", false, "a\xEF\xBF\xBD\xEF\xBF\xBD", "a%E2%80"},
                      Utf8Case{"Empty", "", true, "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace meridane
