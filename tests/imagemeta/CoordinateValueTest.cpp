// coordinateValue: every form a raw latitude or longitude can take.
#include "imagemeta/ImageMetadata.h"

#include "base/Diagnostics.h"
#include "base/NumberText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <ostream>

namespace meridane {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct CoordinateCase {
    const char* name;
    std::optional<MetadataValue> raw;
    std::optional<double> expected;  ///< NaN means "a NaN value"
};

void PrintTo(const CoordinateCase& c, std::ostream* os) {
    *os << c.name << ": " << (c.raw ? describeValue(*c.raw) : "none") << " -> "
        << formatDiagnosticDouble(c.expected);
}

using List = MetadataValue::List;
using Opaque = MetadataValue::Opaque;

const CoordinateCase kCases[] = {
    {"absent", std::nullopt, std::nullopt},
    {"double", MetadataValue(37.7749), 37.7749},
    {"negativeDouble", MetadataValue(-122.4194), -122.4194},
    {"float", MetadataValue(37.5f), 37.5},
    {"integer", MetadataValue(std::int64_t{12}), 12.0},
    {"rational", MetadataValue(Rational{75, 2}), 37.5},
    {"signedRational", MetadataValue(Rational{-75, 2}), -37.5},
    // A float quotient would print 12.345679: the eighth decimal matters.
    {"rationalInDoublePrecision", MetadataValue(Rational{1234567891, 100000000}), 12.34567891},
    {"zeroDenominatorIsNotANumber", MetadataValue(Rational{0, 0}), kNaN},
    {"nonZeroOverZeroIsNotANumber", MetadataValue(Rational{5, 0}), kNaN},
    {"threeRationals", MetadataValue(List{Rational{37, 1}, Rational{30, 1}, Rational{36, 1}}), 37.0 + 30.0 / 60 + 36.0 / 3600},
    {"twoRationals", MetadataValue(List{Rational{37, 1}, Rational{30, 1}}), 37.5},
    {"oneElementList", MetadataValue(List{Rational{375, 10}}), 37.5},
    {"fourElementsIgnoreTheFourth", MetadataValue(List{37.0, 30.0, 36.0, 99.0}), 37.0 + 30.0 / 60 + 36.0 / 3600},
    {"fractionalSecondsAsPhonesWriteThem", MetadataValue(List{Rational{37, 1}, Rational{46, 1}, Rational{2964, 100}}),
     37.0 + 46.0 / 60 + 29.64 / 3600},
    {"listElementThatIsNoNumberCountsAsZero", MetadataValue(List{37.0, Opaque{"Undefined", 2}, 36.0}), 37.0 + 0.0 / 60 + 36.0 / 3600},
    {"listWithTextElements", MetadataValue(List{"37", "30"}), 37.5},
    {"zeroDenominatorInListIsNotANumber", MetadataValue(List{Rational{0, 0}, Rational{0, 0}, Rational{0, 0}}), kNaN},
    {"emptyList", MetadataValue(List{}), std::nullopt},
    {"textWithPoint", MetadataValue("37.5"), 37.5},
    {"textWithComma", MetadataValue("37,5"), 37.5},
    {"textWithSurroundingSpaces", MetadataValue(" 12 "), 12.0},
    {"textWithLineBreaks", MetadataValue("\n-3.25\r\n"), -3.25},
    {"emptyText", MetadataValue(""), std::nullopt},
    {"whiteSpaceText", MetadataValue(" \t\n"), std::nullopt},
    {"textThatIsNoNumber", MetadataValue("north"), std::nullopt},
    {"textWithTwoCommas", MetadataValue("37,46,29.64"), std::nullopt},
    {"textWithExponent", MetadataValue("1e1"), 10.0},
    {"textDegreesMinutesSeconds", MetadataValue("37 deg 30' 36\""), 37.0 + 30.0 / 60 + 36.0 / 3600},
    {"textDegInCapitalsGoesToDmsWhichFails", MetadataValue("37 DEG 30' 36\""), std::nullopt},
    {"textDegButNotDms", MetadataValue("deg"), std::nullopt},
    {"opaque", MetadataValue(Opaque{"Undefined", 4}), std::nullopt},
};

class CoordinateValueTest : public ::testing::TestWithParam<CoordinateCase> {};

TEST_P(CoordinateValueTest, GivesDecimalDegrees) {
    const CoordinateCase& c = GetParam();
    diag::LineCapture quiet;
    std::optional<double> value = coordinateValue(c.raw);
    ASSERT_EQ(value.has_value(), c.expected.has_value());
    if (!c.expected)
        return;
    if (std::isnan(*c.expected)) {
        EXPECT_TRUE(std::isnan(*value)) << *value;
    } else {
        EXPECT_EQ(*value, *c.expected);  // exact: same arithmetic, same order
    }
}

INSTANTIATE_TEST_SUITE_P(Rules, CoordinateValueTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CoordinateValue, TextInDmsFormWritesTheParserLine) {
    diag::LineCapture lines;
    coordinateValue(MetadataValue("12deg30'15\""));
    EXPECT_EQ(lines.lines(), std::vector<std::string>{"[DEBUG] Parsed DMS 12deg30'15\" as " +
                                                      formatDiagnosticDouble(12.0 + 30.0 / 60 + 15.0 / 3600)});
}

TEST(CoordinateValue, PlainNumbersWriteNothing) {
    diag::LineCapture lines;
    coordinateValue(MetadataValue(List{Rational{1, 1}, Rational{2, 1}, Rational{3, 1}}));
    coordinateValue(MetadataValue("1,5"));
    EXPECT_TRUE(lines.lines().empty());
}

TEST(CoordinateValue, PointerOverloadTreatsNullAsAbsent) {
    EXPECT_FALSE(coordinateValue(static_cast<const MetadataValue*>(nullptr)));
}

TEST(DescribeValue, WritesOneLineWithEscapes) {
    EXPECT_EQ(describeValue(MetadataValue(List{Rational{37, 1}, 2.5, std::int64_t{3}, "a\"b\nc"})),
              "(37/1, 2.5, 3, \"a\\\"b\\nc\")");
    EXPECT_EQ(describeValue(MetadataValue(Opaque{"Undefined", 8})), "<Undefined, 8 bytes>");
    EXPECT_EQ(describeValue(MetadataValue(std::string("\x01"))), "\"\\x01\"");
}

TEST(DescribeValue, CutsLongTextsAtACharacterBoundary) {
    std::string text = std::string(255, 'a') + "é" + std::string(100, 'b');
    std::string shown = describeValue(MetadataValue(text));
    EXPECT_EQ(shown, "\"" + std::string(255, 'a') + "é…\"");
}

}  // namespace
}  // namespace meridane
