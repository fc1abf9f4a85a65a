#include "base/NumberText.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <limits>

namespace meridane {
namespace {

struct DoubleCase {
    const char* name;
    double value;
    const char* expected;
};

void PrintTo(const DoubleCase& c, std::ostream* os) { *os << c.name; }

class DiagnosticDouble : public ::testing::TestWithParam<DoubleCase> {};

TEST_P(DiagnosticDouble, IsShortestRoundTripWithPointZero) {
    EXPECT_EQ(formatDiagnosticDouble(GetParam().value), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, DiagnosticDouble,
    ::testing::Values(DoubleCase{"Integral", 37.0, "37.0"}, DoubleCase{"NegativeIntegral", -122.0, "-122.0"},
                      DoubleCase{"Zero", 0.0, "0.0"}, DoubleCase{"NegativeZero", -0.0, "-0.0"},
                      DoubleCase{"Fraction", -122.4194, "-122.4194"}, DoubleCase{"Half", 37.5, "37.5"},
                      DoubleCase{"SumNotExact", 0.1 + 0.2, "0.30000000000000004"},
                      DoubleCase{"Small", 0.00009, "9e-05"}, DoubleCase{"SmallestPlain", 0.0001, "0.0001"},
                      DoubleCase{"HundredThousand", 1e5, "100000.0"},
                      DoubleCase{"Quadrillion", 1e15, "1000000000000000.0"}, DoubleCase{"Huge", 1e16, "1e+16"},
                      DoubleCase{"NaN", std::numeric_limits<double>::quiet_NaN(), "nan"},
                      DoubleCase{"Infinity", std::numeric_limits<double>::infinity(), "inf"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DiagnosticDouble, AbsentIsNil) { EXPECT_EQ(formatDiagnosticDouble(std::optional<double>()), "nil"); }

TEST(DiagnosticDouble, ReadsBackAsTheSameValue) {
    for (double v : {37.7749, 1.0 / 3.0, 122.41940000000001, 48.85837}) {
        const std::string text = formatDiagnosticDouble(v);
        double back = 0;
        std::from_chars(text.data(), text.data() + text.size(), back);  // std::stod would follow the locale
        EXPECT_EQ(back, v) << text;
    }
}

class Fixed8 : public ::testing::TestWithParam<DoubleCase> {};

TEST_P(Fixed8, HasEightDecimalsAndAPoint) { EXPECT_EQ(formatFixed8(GetParam().value), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Values, Fixed8,
    ::testing::Values(DoubleCase{"Paris", 48.85837, "48.85837000"}, DoubleCase{"Longitude", 2.2945, "2.29450000"},
                      DoubleCase{"SanFrancisco", 122.4194, "122.41940000"}, DoubleCase{"Zero", 0.0, "0.00000000"},
                      DoubleCase{"Rounds", 0.123456789, "0.12345679"},
                      DoubleCase{"Tiny", 0.00004, "0.00004000"}, DoubleCase{"Negative", -33.5, "-33.50000000"}),
    [](const auto& info) { return std::string(info.param.name); });

// The locale run sets LC_ALL=de_DE.UTF-8; make sure the process really uses
// a decimal comma there, or the cases above would prove nothing.
TEST(Locale, DecimalCommaLocaleIsInForceWhenRequested) {
    const char* lcAll = std::getenv("LC_ALL");
    if (!lcAll || std::string(lcAll).rfind("de_DE", 0) != 0)
        GTEST_SKIP() << "only meaningful under LC_ALL=de_DE.UTF-8";
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%.1f", 1.5);
    EXPECT_STREQ(buffer, "1,5");
}

}  // namespace
}  // namespace meridane
