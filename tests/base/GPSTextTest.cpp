// SPDX-License-Identifier: GPL-3.0-or-later
#include "base/Diagnostics.h"
#include "base/GPSText.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <random>
#include <tuple>

namespace meridane {
namespace {

using namespace std::string_literals;
constexpr double kInf = std::numeric_limits<double>::infinity();

std::optional<std::string_view> view(const std::optional<std::string>& text) {
    return text ? std::optional<std::string_view>(*text) : std::nullopt;
}

// Same value, sign of zero and NaN-ness.
bool sameNumber(std::optional<double> a, std::optional<double> b) {
    if (!a || !b)
        return a.has_value() == b.has_value();
    if (std::isnan(*a) || std::isnan(*b))
        return std::isnan(*a) && std::isnan(*b);
    return *a == *b && std::signbit(*a) == std::signbit(*b);
}

TEST(ParseNumber, ReadsTheWholeTextLikeStrtodInTheCLocale) {
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t(0));
    // Texts worth naming (white space, other digits, a NUL, the C99 forms), then generated ones.
    std::vector<std::string> texts = {"", " 37.5", "37.5 ", "\t37", "37.5\n", "37,5", "1_000", "+37.5", "37.", ".5",
                                      "-0", "0x1.8p1", "-INFINITY", "1e999", "-1e-999", "nan(123abc_)", "nan(a-b)",
                                      "0b101", "\xD9\xA1\xD9\xA2", "37\0.5"s, "\xC2\xA0" "37"};
    const std::string alphabet = "0123456789..eEeExXpP+-+-aAfFiInNtTyY()_ ,";
    std::mt19937 random(20240607);  // the same texts on every run
    std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1);
    std::uniform_int_distribution<int> length(1, 8);
    for (int i = 0; i < 40'000; ++i) {
        std::string text = i % 8 == 0 ? "0x" : i % 4 == 0 ? "1" : "";
        for (int n = length(random); n > 0; --n)
            text += alphabet[pick(random)];
        texts.push_back(std::move(text));
    }
    int numbers = 0;
    for (const std::string& text : texts) {
        std::optional<double> expected;
        char* end = nullptr;
        const double value = strtod_l(text.c_str(), &end, cLocale);
        if (!text.empty() && !std::isspace(static_cast<unsigned char>(text.front())) && end == text.c_str() + text.size())
            expected = value;
        ASSERT_TRUE(sameNumber(gpstext::parseNumber(text), expected)) << "'" << text << "'";
        numbers += expected.has_value();
    }
    EXPECT_GT(numbers, 1000);
    EXPECT_TRUE(sameNumber(gpstext::parseNumber("-0x1p3"), -8.0));
}

TEST(ParseXmpGPS, ReadsTheValueAndTheLetterAtTheEnd) {
    const std::tuple<std::optional<std::string>, std::optional<double>, const char*> cases[] = {
        {std::nullopt, {}, ""}, {" \n\t\r\n", {}, ""}, {"\xC2\xA0\xE2\x80\x83", {}, ""}, {"37.7749", 37.7749, ""},
        {"37.77490000N", 37.7749, "N"}, {"37.7749 n", 37.7749, "N"}, {"\n  37.5 S \t", 37.5, "S"},
        {"-122.4194", -122.4194, ""}, {"122.4194W", 122.4194, "W"}, {"37,46.494N", 37.7749, "N"},
        {"-37,30", -36.5, ""}, {"37,5", 37.083333333333336, ""}, {"37,46,29.64N", 37.7749, "N"}, {"37, 46.5N", {}, "N"},
        {"30,34,49N", 30.580277777777777, "N"}, {"1,2,3,4N", {}, "N"}, {"37,46,x", {}, ""},
        {"37,", 37.0, ""}, {",,37,,30,,E", 37.5, "E"}, {"N", {}, "N"}, {"1E5", 100000.0, ""}, {"3E", 3.0, "E"},
        {"37.5e", 37.5, "E"}, {"37 deg 46' 29.64\" N", 37.7749, "N"}, {"37 deg 46' 29.64\"", 37.7749, ""},
        {"37 DEG 46' 29.64\" N", {}, "N"}, {"37 deg,30", {}, ""}, {"0x1p3", 8.0, ""}, {"inf", kInf, ""},
        {"37.5N\xCC\x88", {}, ""},  // a combining mark: the last character is no letter
        {"37.5\xC3\x9F", {}, "S"},  // the full upper-case mapping turns ß into SS
    };
    diag::LineCapture quiet;
    for (const auto& [text, value, ref] : cases) {
        SCOPED_TRACE("'" + text.value_or("(none)") + "'");
        const ParsedGPS parsed = gpstext::parseXmpGPS(view(text));
        EXPECT_TRUE(sameNumber(parsed.value, value));
        EXPECT_EQ(parsed.ref, ref);
    }
}

TEST(ParseDMS, TakesTheFirstMatchAndIgnoresTheSign) {
    const std::pair<std::string, std::optional<double>> cases[] = {
        {"taken at 12deg30'15\" north of here", 12.504166666666666}, {"-12 deg 30' 15\"", 12.504166666666666},
        {"12 deg 30' 15.5\"", 12.504305555555556}, {"1deg90'0\"", 2.5}, {"1deg0'0\" 2deg0'0\"", 1.0},
        {"12\xC2\xA0" "deg\xC2\xA0" "30'\xC2\xA0" "15\"", 12.504166666666666},
        {"\xD9\xA1\xD9\xA2" "deg30'15\"", 0.5041666666666667},  // other digits match, read as 0
        {"12deg30 '15\"", {}}, {"12deg30'15 \"", {}}, {"12 DEG 30' 15\"", {}}, {"12 deg 30'", {}}, {"", {}}};
    diag::LineCapture quiet;
    for (const auto& [text, value] : cases) {
        SCOPED_TRACE(text);
        EXPECT_TRUE(sameNumber(gpstext::parseDMS(text), value));
    }
}

TEST(HemisphereRefs, NormaliseAndApply) {
    const std::pair<std::optional<std::string>, const char*> refs[] = {
        {"  north \n", "N"}, {"West", "W"}, {"s", "S"}, {"SOUTH", "S"}, {"east", "E"}, {"NE", ""},
        {std::nullopt, ""}, {"Nord", ""}, {"N.", ""}, {"N\xCC\x88", ""}, {"\xE2\x80\x83W\xC2\xA0", "W"}};
    for (const auto& [text, letter] : refs)
        EXPECT_EQ(gpstext::normalizeHemisphereRef(view(text)), letter) << text.value_or("(none)");

    const std::tuple<std::optional<double>, const char*, std::optional<double>> applies[] = {
        {37.5, "s", -37.5},     {-37.5, "N", 37.5},    {-37.5, "", -37.5}, {std::nullopt, "S", std::nullopt},
        {-122.4, "W", -122.4}, {-122.4, "e", 122.4}, {37.5, " S", 37.5}, {-37.5, "north", -37.5}};
    for (const auto& [value, ref, expected] : applies)
        EXPECT_EQ(gpstext::applyHemisphere(value, ref), expected) << ref;
}

TEST(CoordinateText, CanonicalFormAndTrailingLetter) {
    const std::tuple<std::optional<std::string>, const char*, bool> cases[] = {
        {"37.77490000 n", "37.77490000N", true}, {"37.7749N", "37.7749N", true}, {"abc", "ABC", false},
        {std::nullopt, "", false}, {" \n ", "", false}, {"37.5", "37.5", false}, {"37.5w ", "37.5W", true},
        {" 37,46.494 n\n", "37,46.494N", true}, {"37.5N\xCC\x88", "37.5N\xCC\x88", false}};
    for (const auto& [text, canonical, trailingLetter] : cases) {
        SCOPED_TRACE(text.value_or("(none)"));
        EXPECT_EQ(gpstext::canonicalGPSText(view(text)), canonical);
        EXPECT_EQ(gpstext::hasTrailingHemisphere(view(text)), trailingLetter);
    }
    // Under dm the same minutes in other digits are the same text.
    constexpr auto dm = CoordinateFormat::dm, decimal = CoordinateFormat::decimal;
    const std::tuple<const char*, const char*, CoordinateFormat, bool> same[] = {
        {"30,34.8220000N", "30,34.822000N", dm, true}, {" 030,34.822n", "30,34.822000N", dm, true},
        {"30,34.8220004N", "30,34.822000N", dm, true}, {"30,34.822001N", "30,34.822000N", dm, false},
        {"30,34.8220000S", "30,34.822000N", dm, false}, {"30,34,49.32N", "30,34.822000N", dm, false},
        {"30,34.8220000N", "30,34.822000N", decimal, false}, {"37.7749n", "37.77490000N", decimal, false},
        {"37.77490000 n", "37.77490000N", decimal, true},
    };
    for (const auto& [text, expected, format, isSame] : same)
        EXPECT_EQ(gpstext::sameCoordinateText(std::string_view(text), expected, format), isSame) << text;
}

TEST(ExpectedCoordinateText, EightDecimalsOrDegreesAndMinutesWithSixAndReadsBack) {
    const std::tuple<double, CoordinateFormat, const char*> cases[] = {
        {-33.5, CoordinateFormat::decimal, "33.50000000S"}, {-0.0, CoordinateFormat::decimal, "0.00000000N"},
        {30.58036667, CoordinateFormat::dm, "30,34.822000N"}, {-122.4194, CoordinateFormat::dm, "122,25.164000S"},
        {0.0, CoordinateFormat::dm, "0,0.000000N"}, {-0.5, CoordinateFormat::dm, "0,30.000000S"},
        // Minutes that round up to 60 carry into the degrees.
        {10.99999999999, CoordinateFormat::dm, "11,0.000000N"},
    };
    diag::LineCapture quiet;
    for (const auto& [value, format, text] : cases) {
        const std::string written = expectedCoordinateText(value, expectedLatitudeRef(value), format);
        EXPECT_EQ(written, text);
        const ParsedGPS parsed = gpstext::parseXmpGPS(written);
        EXPECT_NEAR(gpstext::applyHemisphere(parsed.value, parsed.ref).value_or(1e9), value, 1e-7) << text;
    }
    EXPECT_EQ(expectedCoordinateText(-122.4194, expectedLongitudeRef(-122.4194)), "122.41940000W");
    EXPECT_EQ(expectedCoordinateText(0.0, expectedLongitudeRef(0.0)), "0.00000000E");
}

}  // namespace
}  // namespace meridane
