#include "engine/Report.h"

#include <gtest/gtest.h>

namespace meridane {
namespace {

using R = ProcessingResult;

struct TextCase {
    const char* name;
    ProcessingResult result;
    bool dryRun;
    const char* text;
};

void PrintTo(const TextCase& c, std::ostream* os) { *os << c.name; }

class ReportText : public ::testing::TestWithParam<TextCase> {};

TEST_P(ReportText, IsTheRowTextOfTheResult) {
    EXPECT_EQ(reportText(GetParam().result), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReportText,
    ::testing::Values(
        TextCase{"UpdatedDryRun", R::updated({"a", "b"}, true), true, "[Dry Run] Would Update:\n\u2022 a\n\u2022 b"},
        TextCase{"UpdatedAfterDryRunSwitchedOff", R::updated({"a", "b"}), false, "Updated:\n\u2022 a\n\u2022 b"},
        TextCase{"UpdatedWithoutChangesDryRun", R::updated({}), true, "Updated"},
        TextCase{"UpdatedWithoutChanges", R::updated({}), false, "Updated"},
        TextCase{"WithinToleranceBare", R::withinTolerance({}), true, "Within tolerance \u2014 not updated"},
        TextCase{"WithinToleranceNotes", R::withinTolerance({"x", "y"}), true,
                 "Within tolerance \u2014 not updated (x; y)"},
        TextCase{"FileNotFound", R::fileNotFound("gone"), true, "File not found: gone"},
        TextCase{"Unsupported", R::unsupportedFile("Unsupported extension: PNG"), true,
                 "Unsupported: Unsupported extension: PNG"},
        TextCase{"SkippedMissing", R::skippedMissing("No XMP sidecar file"), false,
                 "Skipped (missing): No XMP sidecar file"},
        TextCase{"NonAppleMakeOnly", R::skippedNonApple(DeviceData{"Canon", std::nullopt, "x"}, "Non-Apple source"),
                 true, "Skipped (non-Apple): Canon - Non-Apple source"},
        TextCase{"NonAppleMakeAndModel",
                 R::skippedNonApple(DeviceData{"Canon", "Canon EOS R5", std::nullopt}, "Non-Apple source"), true,
                 "Skipped (non-Apple): Canon Canon EOS R5 - Non-Apple source"},
        TextCase{"NonAppleModelOnly", R::skippedNonApple(DeviceData{std::nullopt, "X100", "Apple"}, "Non-Apple source"),
                 true, "Skipped (non-Apple): X100 - Non-Apple source"},
        TextCase{"NonAppleNoDevice", R::skippedNonApple(std::nullopt, "Non-Apple source"), true,
                 "Skipped (non-Apple): Non-Apple source"},
        TextCase{"NonAppleEmptyDevice", R::skippedNonApple(DeviceData{}, "Non-Apple source"), true,
                 "Skipped (non-Apple): Non-Apple source"},
        TextCase{"NonAppleSoftwareOnly", R::skippedNonApple(DeviceData{std::nullopt, std::nullopt, "GIMP"}, "r"),
                 true, "Skipped (non-Apple): r"},
        TextCase{"DifferentGPSNone", R::skippedDifferentGPS({}), true, "Skipped (GPS differs)"},
        TextCase{"DifferentGPSOne", R::skippedDifferentGPS({GPSDifference{"Latitude", "1.0", "2.0"}}), true,
                 "Skipped (GPS differs):\n\u2022 Latitude: 1.0 \u2192 2.0"},
        TextCase{"DifferentGPSTwo",
                 R::skippedDifferentGPS({GPSDifference{"Latitude", "1.0", "2.0"},
                                         GPSDifference{"LongitudeRef", "E", "W"}}),
                 false, "Skipped (GPS differs):\n\u2022 Latitude: 1.0 \u2192 2.0\n\u2022 LongitudeRef: E \u2192 W"},
        TextCase{"Failed", R::failed("No GPS available"), true, "Failed: No GPS available"},
        TextCase{"AlreadyCorrect", R::alreadyCorrect(), true, "Already correct"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ResultLine, IsTheFileNameThenTheText) {
    const auto detail = ProcessingResultDetail::make("/photos/trip/IMG_0001.HEIC", R::alreadyCorrect());
    EXPECT_EQ(resultLine(detail), "IMG_0001.HEIC: Already correct");
}

TEST(ResultLine, KeepsTheNameBytesAsTheyAre) {
    const auto detail = ProcessingResultDetail::make("/p/caf\xE9\n1.HEIC", R::failed("x"));
    EXPECT_EQ(resultLine(detail), "caf\xE9\n1.HEIC: Failed: x");
}

std::chrono::system_clock::time_point at(std::int64_t secondsSinceEpoch) {
    return std::chrono::system_clock::time_point(std::chrono::seconds(secondsSinceEpoch));
}

TEST(AllResultsReport, HeaderCarriesUtcTimeAndSettings) {
    const std::string report = allResultsReport({}, ProcessingOptionValues{}, at(1700000000));
    EXPECT_EQ(report, "Results \u2014 2023-11-14 22:13:20 +0000 \u2014 Settings: DryRun=true ForceOverwrite=false "
                      "AppleOnly=true SilentSkip=false");
}

TEST(AllResultsReport, PadsEveryDateField) {
    const ProcessingOptionValues options{false, true, false, true};
    EXPECT_EQ(allResultsReport({}, options, at(946684800 + 3600 + 60 + 1)),
              "Results \u2014 2000-01-01 01:01:01 +0000 \u2014 Settings: DryRun=false ForceOverwrite=true "
              "AppleOnly=false SilentSkip=true");
}

TEST(AllResultsReport, TwoSingleLineEntriesGiveThreeLinesWithoutFinalNewline) {
    const auto a = ProcessingResultDetail::make("/x/a.heic", R::alreadyCorrect());
    const auto b = ProcessingResultDetail::make("/x/b.dng", R::failed("No GPS available"));
    const std::string report = allResultsReport({&a, &b}, ProcessingOptionValues{}, at(0));
    EXPECT_EQ(report, "Results \u2014 1970-01-01 00:00:00 +0000 \u2014 Settings: DryRun=true ForceOverwrite=false "
                      "AppleOnly=true SilentSkip=false\n"
                      "a.heic: Already correct\n"
                      "b.dng: Failed: No GPS available");
}

TEST(AllResultsReport, KeepsMultiLineTextsAndUsesTheGivenDryRun) {
    const auto a = ProcessingResultDetail::make("/x/a.heic", R::updated({"c1", "c2"}));
    ProcessingOptionValues options;
    options.dryRun = false;
    const std::string report = allResultsReport({&a}, options, at(0));
    EXPECT_EQ(report.substr(report.find('\n') + 1), "a.heic: Updated:\n\u2022 c1\n\u2022 c2");
}

}  // namespace
}  // namespace meridane
