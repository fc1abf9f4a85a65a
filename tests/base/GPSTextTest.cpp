// GPS text parsing: which coordinate texts are accepted, the numbers and
// letters they give, and the exact trace. Also run under a decimal-comma
// locale, where nothing may change.
#include "base/GPSText.h"

#include "base/Diagnostics.h"

#include <gtest/gtest.h>

#include <cctype>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <locale.h>
#include <random>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace meridane {
namespace {

using namespace std::string_literals;
using Lines = std::vector<std::string>;

constexpr double kInf = std::numeric_limits<double>::infinity();

// ---- parseNumber ---------------------------------------------------------------

enum class Outcome { None, Value, NaN };

struct NumberCase {
    const char* name;
    std::string text;
    Outcome outcome;
    double value = 0;
};

void PrintTo(const NumberCase& c, std::ostream* os) { *os << c.name; }

NumberCase number(const char* name, std::string text, double value) {
    return {name, std::move(text), Outcome::Value, value};
}
NumberCase notANumberValue(const char* name, std::string text) { return {name, std::move(text), Outcome::NaN}; }
NumberCase rejected(const char* name, std::string text) { return {name, std::move(text), Outcome::None}; }

class ParseNumber : public ::testing::TestWithParam<NumberCase> {};

TEST_P(ParseNumber, ReadsLikeStrtodInTheCLocale) {
    const auto& c = GetParam();
    diag::LineCapture capture;
    const auto result = gpstext::parseNumber(c.text);
    switch (c.outcome) {
    case Outcome::None:
        EXPECT_FALSE(result.has_value()) << *result;
        break;
    case Outcome::NaN:
        ASSERT_TRUE(result.has_value());
        EXPECT_TRUE(std::isnan(*result)) << *result;
        break;
    case Outcome::Value:
        ASSERT_TRUE(result.has_value());
        EXPECT_EQ(*result, c.value);
        EXPECT_EQ(std::signbit(*result), std::signbit(c.value));
        break;
    }
    EXPECT_TRUE(capture.lines().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Accepted, ParseNumber,
    ::testing::Values(number("Decimal", "37.5", 37.5), number("Negative", "-122.4194", -122.4194),
                      number("PlusSign", "+37.5", 37.5), number("TrailingPoint", "37.", 37.0),
                      number("LeadingPoint", ".5", 0.5), number("Integer", "37", 37.0),
                      number("LeadingZeros", "00037.50", 37.5), number("Exponent", "1e5", 100000.0),
                      number("UpperExponentNegative", "1E-2", 0.01), number("ExponentPlus", "2.5e+1", 25.0),
                      number("NegativeZero", "-0", -0.0), number("HexWithExponent", "0x1p3", 8.0),
                      number("HexWithoutExponent", "0x1A", 26.0), number("HexUpperPrefix", "0X1a", 26.0),
                      number("HexUpperExponent", "0X1P3", 8.0), number("HexNegative", "-0x10", -16.0),
                      number("HexPlus", "+0x10", 16.0), number("HexLeadingPoint", "0x.8", 0.5),
                      number("HexTrailingPoint", "0x1.", 1.0), number("HexFraction", "0x1.8p1", 3.0),
                      number("HexNegativeExponent", "0x1p-2", 0.25), number("Inf", "inf", kInf),
                      number("InfUpper", "INF", kInf), number("Infinity", "Infinity", kInf),
                      number("NegativeInfinity", "-INFINITY", -kInf), number("Overflow", "1e999", kInf),
                      number("NegativeOverflow", "-1e999", -kInf), number("HexOverflow", "0x1p99999", kInf),
                      number("Underflow", "1e-999", 0.0), number("NegativeUnderflow", "-1e-999", -0.0),
                      number("UnderflowWithDigits", "123.4e-400", 0.0),
                      number("Subnormal", "4e-324", std::numeric_limits<double>::denorm_min()),
                      notANumberValue("NaN", "nan"), notANumberValue("NaNMixedCase", "NaN"),
                      notANumberValue("NegativeNaN", "-nan"), notANumberValue("NaNWithPayload", "nan(123abc_)"),
                      notANumberValue("NaNWithEmptyPayload", "NAN()")),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Rejected, ParseNumber,
    ::testing::Values(rejected("Empty", ""), rejected("LeadingSpace", " 37.5"), rejected("TrailingSpace", "37.5 "),
                      rejected("LeadingTab", "\t37"), rejected("LeadingNewline", "\n37"),
                      rejected("TrailingNewline", "37.5\n"), rejected("DecimalComma", "37,5"),
                      rejected("Underscore", "1_000"), rejected("ThousandsComma", "1,000"),
                      rejected("PointOnly", "."), rejected("SignOnly", "+"), rejected("MinusOnly", "-"),
                      rejected("TwoSigns", "+-1"), rejected("DoubleMinus", "--1"), rejected("SpaceAfterSign", "- 1"),
                      rejected("ExponentOnly", "e5"), rejected("MissingExponentDigits", "1e"),
                      rejected("MissingSignedExponentDigits", "1e+"), rejected("TwoPoints", "1..2"),
                      rejected("HexPrefixOnly", "0x"), rejected("HexPointOnly", "0x."), rejected("HexBadDigit", "0xg"),
                      rejected("HexMissingExponentDigits", "0x1p"), rejected("HexInf", "0xinf"),
                      rejected("HexSignAfterPrefix", "0x-1"), rejected("HexExponentWithoutDigits", "0xp3"),
                      rejected("TruncatedInfinity", "infin"), rejected("UnclosedNaNPayload", "nan("),
                      rejected("BadNaNPayload", "nan(a-b)"), rejected("LetterSuffix", "37.5N"),
                      rejected("BinaryPrefix", "0b101"), rejected("ArabicIndicDigits", "\xD9\xA1\xD9\xA2"),
                      rejected("FullwidthDigits", "\xEF\xBC\x93\xEF\xBC\x97"), rejected("EmbeddedNul", "37\0.5"s),
                      rejected("NoBreakSpaceBefore", "\xC2\xA0" "37")),
    [](const auto& info) { return std::string(info.param.name); });

// strtod itself, pinned to the C locale, as the oracle for the syntax.
std::optional<double> strtodInCLocale(const std::string& text) {
    if (text.empty() || std::isspace(static_cast<unsigned char>(text.front())))
        return std::nullopt;
    static const locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(0));
    char* end = nullptr;
    const double value = strtod_l(text.c_str(), &end, c);
    if (end != text.c_str() + text.size())
        return std::nullopt;
    return value;
}

TEST(ParseNumberSyntax, AgreesWithStrtodOnGeneratedTexts) {
    // Short texts over the characters the syntax cares about; a fixed seed
    // keeps the set the same on every run.
    const std::string alphabet = "0123456789..eEeExXpP+-+-aAfFiInNtTyY()_ ,";
    std::mt19937 random(20240607);
    std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1);
    std::uniform_int_distribution<int> length(1, 8);
    int compared = 0;
    for (int i = 0; i < 40'000; ++i) {
        std::string text;
        for (int n = length(random); n > 0; --n)
            text += alphabet[pick(random)];
        if (i % 4 == 0)
            text.insert(0, i % 8 == 0 ? "0x" : "1");
        const auto expected = strtodInCLocale(text);
        const auto actual = gpstext::parseNumber(text);
        ASSERT_EQ(actual.has_value(), expected.has_value()) << "'" << text << "'";
        if (expected && std::isnan(*expected)) {
            EXPECT_TRUE(std::isnan(*actual)) << "'" << text << "'";
        } else if (expected) {
            EXPECT_EQ(*actual, *expected) << "'" << text << "'";
        }
        compared += expected.has_value();
    }
    EXPECT_GT(compared, 1000);
}

// ---- parseXmpGPS ---------------------------------------------------------------

struct GPSCase {
    const char* name;
    std::optional<std::string> text;
    std::optional<double> value;
    const char* ref;
    Lines lines;
};

void PrintTo(const GPSCase& c, std::ostream* os) { *os << c.name; }

class ParseXmpGPS : public ::testing::TestWithParam<GPSCase> {};

TEST_P(ParseXmpGPS, ReadsValueAndLetterAndTraces) {
    const auto& c = GetParam();
    diag::LineCapture capture;
    const ParsedGPS parsed =
        gpstext::parseXmpGPS(c.text ? std::optional<std::string_view>(*c.text) : std::nullopt);
    EXPECT_EQ(parsed.value, c.value);
    EXPECT_EQ(parsed.ref, c.ref);
    EXPECT_EQ(capture.lines(), c.lines);
}

const char* kDMS = "37 deg 46' 29.64\"";

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseXmpGPS,
    ::testing::Values(
        GPSCase{"None", std::nullopt, std::nullopt, "", {}},
        GPSCase{"Empty", "", std::nullopt, "", {}},
        GPSCase{"SpacesAndLineBreaks", " \n\t \r\n", std::nullopt, "", {}},
        GPSCase{"UnicodeSpacesOnly", "\xC2\xA0\xE2\x80\x83\xE2\x80\xA8", std::nullopt, "", {}},
        GPSCase{"PlainDecimal",
                "37.7749",
                37.7749,
                "",
                {"[DEBUG] parseXmpGPS input: '37.7749'", "[DEBUG] parseXmpGPS numberPart: '37.7749', ref: ''",
                 "[DEBUG] parseXmpGPS parsed as decimal: 37.7749"}},
        GPSCase{"EightDecimalsAndLetter",
                "37.77490000N",
                37.7749,
                "N",
                {"[DEBUG] parseXmpGPS input: '37.77490000N'",
                 "[DEBUG] parseXmpGPS numberPart: '37.77490000', ref: 'N'",
                 "[DEBUG] parseXmpGPS parsed as decimal: 37.7749"}},
        GPSCase{"SpaceAndLowerCaseLetter",
                "37.7749 n",
                37.7749,
                "N",
                {"[DEBUG] parseXmpGPS input: '37.7749 n'", "[DEBUG] parseXmpGPS numberPart: '37.7749', ref: 'N'",
                 "[DEBUG] parseXmpGPS parsed as decimal: 37.7749"}},
        GPSCase{"SurroundingWhitespace",
                "\n  37.5 S \t",
                37.5,
                "S",
                {"[DEBUG] parseXmpGPS input: '37.5 S'", "[DEBUG] parseXmpGPS numberPart: '37.5', ref: 'S'",
                 "[DEBUG] parseXmpGPS parsed as decimal: 37.5"}},
        GPSCase{"SignedDecimal",
                "-122.4194",
                -122.4194,
                "",
                {"[DEBUG] parseXmpGPS input: '-122.4194'", "[DEBUG] parseXmpGPS numberPart: '-122.4194', ref: ''",
                 "[DEBUG] parseXmpGPS parsed as decimal: -122.4194"}},
        GPSCase{"WestLetterDoesNotSign",
                "122.4194W",
                122.4194,
                "W",
                {"[DEBUG] parseXmpGPS input: '122.4194W'", "[DEBUG] parseXmpGPS numberPart: '122.4194', ref: 'W'",
                 "[DEBUG] parseXmpGPS parsed as decimal: 122.4194"}},
        GPSCase{"DegreesAndDecimalMinutes",
                "37,46.494N",
                37.7749,
                "N",
                {"[DEBUG] parseXmpGPS input: '37,46.494N'", "[DEBUG] parseXmpGPS numberPart: '37,46.494', ref: 'N'",
                 "[DEBUG] parseXmpGPS parsed degrees,minutes: 37.0,46.494 = 37.7749"}},
        GPSCase{"MinutesDoNotTakeTheSign",
                "-37,30",
                -36.5,
                "",
                {"[DEBUG] parseXmpGPS input: '-37,30'", "[DEBUG] parseXmpGPS numberPart: '-37,30', ref: ''",
                 "[DEBUG] parseXmpGPS parsed degrees,minutes: -37.0,30.0 = -36.5"}},
        GPSCase{"SingleCommaIsDegreesAndMinutes",
                "37,5",
                37.083333333333336,
                "",
                {"[DEBUG] parseXmpGPS input: '37,5'", "[DEBUG] parseXmpGPS numberPart: '37,5', ref: ''",
                 "[DEBUG] parseXmpGPS parsed degrees,minutes: 37.0,5.0 = 37.083333333333336"}},
        GPSCase{"SecondsAfterSecondCommaRejected",
                "37,46,29.64N",
                std::nullopt,
                "N",
                {"[DEBUG] parseXmpGPS input: '37,46,29.64N'",
                 "[DEBUG] parseXmpGPS numberPart: '37,46,29.64', ref: 'N'",
                 "[DEBUG] parseXmpGPS failed to parse: '37,46,29.64N'"}},
        GPSCase{"SpaceAfterCommaRejected",
                "37, 46.5N",
                std::nullopt,
                "N",
                {"[DEBUG] parseXmpGPS input: '37, 46.5N'", "[DEBUG] parseXmpGPS numberPart: '37, 46.5', ref: 'N'",
                 "[DEBUG] parseXmpGPS failed to parse: '37, 46.5N'"}},
        GPSCase{"TrailingCommaReadsAsDecimal",
                "37,",
                37.0,
                "",
                {"[DEBUG] parseXmpGPS input: '37,'", "[DEBUG] parseXmpGPS numberPart: '37,', ref: ''",
                 "[DEBUG] parseXmpGPS parsed as decimal: 37.0"}},
        GPSCase{"EmptyPiecesDropped",
                ",,37,,30,,E",
                37.5,
                "E",
                {"[DEBUG] parseXmpGPS input: ',,37,,30,,E'", "[DEBUG] parseXmpGPS numberPart: ',,37,,30,,', ref: 'E'",
                 "[DEBUG] parseXmpGPS parsed degrees,minutes: 37.0,30.0 = 37.5"}},
        GPSCase{"LoneLetter",
                "N",
                std::nullopt,
                "N",
                {"[DEBUG] parseXmpGPS input: 'N'", "[DEBUG] parseXmpGPS numberPart: '', ref: 'N'",
                 "[DEBUG] parseXmpGPS failed to parse: 'N'"}},
        GPSCase{"ExponentEndsInDigit",
                "1E5",
                100000.0,
                "",
                {"[DEBUG] parseXmpGPS input: '1E5'", "[DEBUG] parseXmpGPS numberPart: '1E5', ref: ''",
                 "[DEBUG] parseXmpGPS parsed as decimal: 100000.0"}},
        GPSCase{"TrailingEIsALetter",
                "3E",
                3.0,
                "E",
                {"[DEBUG] parseXmpGPS input: '3E'", "[DEBUG] parseXmpGPS numberPart: '3', ref: 'E'",
                 "[DEBUG] parseXmpGPS parsed as decimal: 3.0"}},
        GPSCase{"LatitudeWithEastLetterIsStillALetter",
                "37.5e",
                37.5,
                "E",
                {"[DEBUG] parseXmpGPS input: '37.5e'", "[DEBUG] parseXmpGPS numberPart: '37.5', ref: 'E'",
                 "[DEBUG] parseXmpGPS parsed as decimal: 37.5"}},
        GPSCase{"DegreesMinutesSeconds",
                "37 deg 46' 29.64\" N",
                37.7749,
                "N",
                {"[DEBUG] parseXmpGPS input: '37 deg 46' 29.64\" N'",
                 "[DEBUG] parseXmpGPS numberPart: '37 DEG 46' 29.64\"', ref: 'N'",
                 "[DEBUG] Parsed DMS 37 deg 46' 29.64\" as 37.7749",
                 "[DEBUG] parseXmpGPS parsed DMS: 37 deg 46' 29.64\" = 37.7749"}},
        GPSCase{"DegreesMinutesSecondsWithoutLetter",
                kDMS,
                37.7749,
                "",
                {"[DEBUG] parseXmpGPS input: '37 deg 46' 29.64\"'",
                 "[DEBUG] parseXmpGPS numberPart: '37 DEG 46' 29.64\"', ref: ''",
                 "[DEBUG] Parsed DMS 37 deg 46' 29.64\" as 37.7749",
                 "[DEBUG] parseXmpGPS parsed DMS: 37 deg 46' 29.64\" = 37.7749"}},
        GPSCase{"UpperCaseDegFails",
                "37 DEG 46' 29.64\" N",
                std::nullopt,
                "N",
                {"[DEBUG] parseXmpGPS input: '37 DEG 46' 29.64\" N'",
                 "[DEBUG] parseXmpGPS numberPart: '37 DEG 46' 29.64\"', ref: 'N'",
                 "[DEBUG] Failed to parse DMS string: 37 DEG 46' 29.64\"",
                 "[DEBUG] parseXmpGPS failed to parse: '37 DEG 46' 29.64\" N'"}},
        GPSCase{"DegWithoutSecondsFallsThroughToCommaStep",
                "37 deg,30",
                std::nullopt,
                "",
                {"[DEBUG] parseXmpGPS input: '37 deg,30'", "[DEBUG] parseXmpGPS numberPart: '37 DEG,30', ref: ''",
                 "[DEBUG] Failed to parse DMS string: 37 deg,30",
                 "[DEBUG] parseXmpGPS failed to parse: '37 deg,30'"}},
        GPSCase{"HexadecimalIsANumber",
                "0x1p3",
                8.0,
                "",
                {"[DEBUG] parseXmpGPS input: '0x1p3'", "[DEBUG] parseXmpGPS numberPart: '0X1P3', ref: ''",
                 "[DEBUG] parseXmpGPS parsed as decimal: 8.0"}},
        GPSCase{"Infinity",
                "inf",
                kInf,
                "",
                {"[DEBUG] parseXmpGPS input: 'inf'", "[DEBUG] parseXmpGPS numberPart: 'INF', ref: ''",
                 "[DEBUG] parseXmpGPS parsed as decimal: inf"}},
        GPSCase{"CombiningMarkHidesTheLetter",
                "37.5N\xCC\x88",
                std::nullopt,
                "",
                {"[DEBUG] parseXmpGPS input: '37.5N\xCC\x88'", "[DEBUG] parseXmpGPS numberPart: '37.5N\xCC\x88', ref: ''",
                 "[DEBUG] parseXmpGPS failed to parse: '37.5N\xCC\x88'"}},
        GPSCase{"FullUpperCaseMapping",
                "37.5\xC3\x9F",
                std::nullopt,
                "S",
                {"[DEBUG] parseXmpGPS input: '37.5\xC3\x9F'", "[DEBUG] parseXmpGPS numberPart: '37.5S', ref: 'S'",
                 "[DEBUG] parseXmpGPS failed to parse: '37.5\xC3\x9F'"}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- parseDMS ------------------------------------------------------------------

struct DMSCase {
    const char* name;
    std::string text;
    std::optional<double> value;
    Lines lines;
};

void PrintTo(const DMSCase& c, std::ostream* os) { *os << c.name; }

class ParseDMS : public ::testing::TestWithParam<DMSCase> {};

TEST_P(ParseDMS, FindsTheFirstMatch) {
    const auto& c = GetParam();
    diag::LineCapture capture;
    EXPECT_EQ(gpstext::parseDMS(c.text), c.value);
    EXPECT_EQ(capture.lines(), c.lines);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseDMS,
    ::testing::Values(
        DMSCase{"InsideOtherWords",
                "taken at 12deg30'15\" north of here",
                12.504166666666666,
                {"[DEBUG] Parsed DMS taken at 12deg30'15\" north of here as 12.504166666666666"}},
        DMSCase{"SpaceBeforeApostrophe",
                "12deg30 '15\"",
                std::nullopt,
                {"[DEBUG] Failed to parse DMS string: 12deg30 '15\""}},
        DMSCase{"SpaceBeforeDoubleQuote",
                "12deg30'15 \"",
                std::nullopt,
                {"[DEBUG] Failed to parse DMS string: 12deg30'15 \""}},
        DMSCase{"MinusSignIgnored",
                "-12 deg 30' 15\"",
                12.504166666666666,
                {"[DEBUG] Parsed DMS -12 deg 30' 15\" as 12.504166666666666"}},
        DMSCase{"DecimalSeconds",
                "12 deg 30' 15.5\"",
                12.504305555555556,
                {"[DEBUG] Parsed DMS 12 deg 30' 15.5\" as 12.504305555555556"}},
        DMSCase{"MinutesOverSixty", "1deg90'0\"", 2.5, {"[DEBUG] Parsed DMS 1deg90'0\" as 2.5"}},
        DMSCase{"UpperCaseDeg", "12 DEG 30' 15\"", std::nullopt, {"[DEBUG] Failed to parse DMS string: 12 DEG 30' 15\""}},
        DMSCase{"NoSeconds", "12 deg 30'", std::nullopt, {"[DEBUG] Failed to parse DMS string: 12 deg 30'"}},
        DMSCase{"Empty", "", std::nullopt, {"[DEBUG] Failed to parse DMS string: "}},
        DMSCase{"FirstOfTwoMatches",
                "1deg0'0\" 2deg0'0\"",
                1.0,
                {"[DEBUG] Parsed DMS 1deg0'0\" 2deg0'0\" as 1.0"}},
        DMSCase{"NoBreakSpaces",
                "12\xC2\xA0" "deg\xC2\xA0" "30'\xC2\xA0" "15\"",
                12.504166666666666,
                {"[DEBUG] Parsed DMS 12\xC2\xA0" "deg\xC2\xA0" "30'\xC2\xA0" "15\" as 12.504166666666666"}},
        // Other decimal digits match the pattern but are no numbers: they count as 0.
        DMSCase{"NonAsciiDegreesCountAsZero",
                "\xD9\xA1\xD9\xA2" "deg30'15\"",
                0.5041666666666667,
                {"[DEBUG] Parsed DMS \xD9\xA1\xD9\xA2" "deg30'15\" as 0.5041666666666667"}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- normalizeHemisphereRef ------------------------------------------------------

struct RefCase {
    const char* name;
    std::optional<std::string> text;
    const char* expected;
};

void PrintTo(const RefCase& c, std::ostream* os) { *os << c.name; }

class NormalizeHemisphereRef : public ::testing::TestWithParam<RefCase> {};

TEST_P(NormalizeHemisphereRef, GivesALetterOrNothing) {
    const auto& c = GetParam();
    diag::LineCapture capture;
    EXPECT_EQ(gpstext::normalizeHemisphereRef(c.text ? std::optional<std::string_view>(*c.text) : std::nullopt),
              c.expected);
    EXPECT_TRUE(capture.lines().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NormalizeHemisphereRef,
    ::testing::Values(RefCase{"NorthWordWithSpaces", "  north \n", "N"}, RefCase{"WestMixedCase", "West", "W"},
                      RefCase{"LowerS", "s", "S"}, RefCase{"South", "SOUTH", "S"}, RefCase{"East", "east", "E"},
                      RefCase{"Letter", "N", "N"}, RefCase{"TwoLetters", "NE", ""}, RefCase{"None", std::nullopt, ""},
                      RefCase{"Empty", "", ""}, RefCase{"OtherLanguage", "Nord", ""},
                      RefCase{"WithPoint", "N.", ""}, RefCase{"CombiningMark", "N\xCC\x88", ""},
                      RefCase{"UnicodeSpaces", "\xE2\x80\x83W\xC2\xA0", "W"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- applyHemisphere -------------------------------------------------------------

struct ApplyCase {
    const char* name;
    std::optional<double> value;
    const char* ref;
    std::optional<double> expected;
};

void PrintTo(const ApplyCase& c, std::ostream* os) { *os << c.name; }

class ApplyHemisphere : public ::testing::TestWithParam<ApplyCase> {};

TEST_P(ApplyHemisphere, SignsByTheLetter) {
    const auto& c = GetParam();
    EXPECT_EQ(gpstext::applyHemisphere(c.value, c.ref), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ApplyHemisphere,
    ::testing::Values(ApplyCase{"LowerSouth", 37.5, "s", -37.5}, ApplyCase{"NorthMakesPositive", -37.5, "N", 37.5},
                      ApplyCase{"NoLetterKeepsSign", -37.5, "", -37.5}, ApplyCase{"NoneStaysNone", std::nullopt, "S", std::nullopt},
                      ApplyCase{"West", 122.4194, "W", -122.4194}, ApplyCase{"WestAlreadyNegative", -122.4194, "W", -122.4194},
                      ApplyCase{"LowerEast", -122.4194, "e", 122.4194},
                      ApplyCase{"NotTrimmed", 37.5, " S", 37.5}, ApplyCase{"WordIsNoLetter", -37.5, "north", -37.5}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- canonicalGPSText and hasTrailingHemisphere ------------------------------------

struct TextCase {
    const char* name;
    std::optional<std::string> text;
    const char* canonical;
    bool trailingLetter;
};

void PrintTo(const TextCase& c, std::ostream* os) { *os << c.name; }

class CoordinateText : public ::testing::TestWithParam<TextCase> {};

std::optional<std::string_view> view(const std::optional<std::string>& text) {
    return text ? std::optional<std::string_view>(*text) : std::nullopt;
}

TEST_P(CoordinateText, CanonicalForm) {
    EXPECT_EQ(gpstext::canonicalGPSText(view(GetParam().text)), GetParam().canonical);
}

TEST_P(CoordinateText, TrailingHemisphere) {
    EXPECT_EQ(gpstext::hasTrailingHemisphere(view(GetParam().text)), GetParam().trailingLetter);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CoordinateText,
    ::testing::Values(TextCase{"SpaceBeforeLowerLetter", "37.77490000 n", "37.77490000N", true},
                      TextCase{"Written", "37.77490000N", "37.77490000N", true},
                      TextCase{"DigitsUntouched", "37.7749N", "37.7749N", true},
                      TextCase{"LowerSouthWithSpace", "37.5 s", "37.5S", true},
                      TextCase{"Word", "abc", "ABC", false},
                      TextCase{"None", std::nullopt, "", false},
                      TextCase{"Empty", "", "", false},
                      TextCase{"OnlySpaces", " \n ", "", false},
                      TextCase{"NoLetter", "37.5", "37.5", false},
                      TextCase{"TrailingSpaceAfterLetter", "37.5w ", "37.5W", true},
                      TextCase{"LoneLetter", "n", "N", true},
                      TextCase{"DegreesMinutes", " 37,46.494 n\n", "37,46.494N", true},
                      TextCase{"CombiningMark", "37.5N\xCC\x88", "37.5N\xCC\x88", false}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Expected sidecar texts --------------------------------------------------------

TEST(ExpectedCoordinateText, AbsoluteValueWithEightDecimalsAndLetter) {
    EXPECT_EQ(expectedCoordinateText(37.7749, expectedLatitudeRef(37.7749)), "37.77490000N");
    EXPECT_EQ(expectedCoordinateText(-122.4194, expectedLongitudeRef(-122.4194)), "122.41940000W");
    EXPECT_EQ(expectedCoordinateText(-33.5, expectedLatitudeRef(-33.5)), "33.50000000S");
    EXPECT_EQ(expectedCoordinateText(0.0, expectedLongitudeRef(0.0)), "0.00000000E");
}

TEST(ExpectedCoordinateText, ParsesBackToTheSameValueAndLetter) {
    diag::LineCapture capture;
    const ParsedGPS parsed = gpstext::parseXmpGPS(expectedCoordinateText(-122.4194, "W"));
    EXPECT_EQ(parsed.value, 122.4194);
    EXPECT_EQ(parsed.ref, "W");
    EXPECT_EQ(gpstext::applyHemisphere(parsed.value, parsed.ref), -122.4194);
}

}  // namespace
}  // namespace meridane
