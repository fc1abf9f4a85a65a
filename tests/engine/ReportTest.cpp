// SPDX-License-Identifier: GPL-3.0-or-later
// The texts of results as the window shows them and the clipboard and the
// CLI carry them.
#include "engine/Report.h"

#include <gtest/gtest.h>

namespace meridane {
namespace {

using R = ProcessingResult;

TEST(Report, EachResultsText) {
    const std::pair<ProcessingResult, const char*> cases[] = {
        {R::updated({"a", "b"}, true), "[Dry Run] Would Update:\n\u2022 a\n\u2022 b"},
        {R::updated({"a", "b"}), "Updated:\n\u2022 a\n\u2022 b"},
        {R::updated({}, true), "Updated"},
        {R::withinTolerance({}), "Within tolerance \u2014 not updated"},
        {R::withinTolerance({"x", "y"}), "Within tolerance \u2014 not updated (x; y)"},
        {R::fileNotFound("gone"), "File not found: gone"},
        {R::unsupportedFile("Unsupported extension: PNG"), "Unsupported: Unsupported extension: PNG"},
        {R::skippedMissing("No XMP sidecar file"), "Skipped (missing): No XMP sidecar file"},
        {R::skippedNonApple(DeviceData{"Canon", {}, "x"}, "Non-Apple source"), "Skipped (non-Apple): Canon - Non-Apple source"},
        {R::skippedNonApple(DeviceData{"Canon", "EOS R5", {}}, "r"), "Skipped (non-Apple): Canon EOS R5 - r"},
        {R::skippedNonApple(DeviceData{{}, "X100", "Apple"}, "r"), "Skipped (non-Apple): X100 - r"},
        {R::skippedNonApple(std::nullopt, "r"), "Skipped (non-Apple): r"},
        {R::skippedNonApple(DeviceData{{}, {}, "GIMP"}, "r"), "Skipped (non-Apple): r"},
        {R::skippedDifferentGPS({}), "Skipped (GPS differs)"},
        {R::skippedDifferentGPS({{"Latitude", "1.0", "2.0"}, {"LongitudeRef", "E", "W"}}),
         "Skipped (GPS differs):\n\u2022 Latitude: 1.0 \u2192 2.0\n\u2022 LongitudeRef: E \u2192 W"},
        {R::failed("No GPS available"), "Failed: No GPS available"},
        {R::alreadyCorrect(), "Already correct"}};
    for (const auto& [result, text] : cases)
        EXPECT_EQ(reportText(result), text);
}

// A name or a payload text can neither add report lines nor reach a terminal
// as a control sequence; the result's own line breaks and other bytes stay.
TEST(Report, ControlCharactersInNamesAndTextsAreEscaped) {
    const auto detail = ProcessingResultDetail::make("/p/caf\xE9\n\x1B]0;x\x07\xC2\x9B.HEIC",
                                                     R::updated({"a\r\nUpdated: b", "\x9B\x7F"}));
    EXPECT_EQ(resultLine(detail), "caf\xE9\\x0A\\x1B]0;x\\x07\\x9B.HEIC: Updated:\n\u2022 a\\x0D\\x0AUpdated: b\n"
                                  "\u2022 \\x9B\\x7F");
}

TEST(Report, AllResultsCarriesTheUtcTimeTheSettingsAndOneLinePerEntry) {
    const auto at = [](std::int64_t seconds) { return std::chrono::system_clock::time_point(std::chrono::seconds(seconds)); };
    const auto a = ProcessingResultDetail::make("/x/a.heic", R::updated({"c1", "c2"}, true));
    const auto b = ProcessingResultDetail::make("/x/b.dng", R::failed("No GPS available"));
    EXPECT_EQ(allResultsReport({&a, &b}, ProcessingOptionValues{false, true, false, true}, at(946684800 + 3661)),
              "Results \u2014 2000-01-01 01:01:01 +0000 \u2014 Settings: DryRun=false ForceOverwrite=true "
              "AppleOnly=false SilentSkip=true\n"
              "a.heic: [Dry Run] Would Update:\n\u2022 c1\n\u2022 c2\n"
              "b.dng: Failed: No GPS available");

    // The two naming settings follow the four flags, only when not the defaults.
    const std::string flags = "Settings: DryRun=true ForceOverwrite=false AppleOnly=true SilentSkip=false";
    const std::pair<ProcessingOptionValues, std::string> cases[] = {
        {{}, flags},
        {{.coordinateFormat = CoordinateFormat::dm}, flags + " CoordinateFormat=dm"},
        {{.sidecarNaming = SidecarNaming::full}, flags + " SidecarName=full"},
        {{.coordinateFormat = CoordinateFormat::dm, .sidecarNaming = SidecarNaming::full},
         flags + " CoordinateFormat=dm SidecarName=full"}};
    for (const auto& [options, tail] : cases) {
        const std::string header = allResultsReport({}, options, at(0));
        EXPECT_EQ(header.substr(header.find("Settings:")), tail);
    }
    EXPECT_EQ(allResultsReport({}, {.sidecarNaming = SidecarNaming::full}, at(0), "R1").find("SidecarName"),
              std::string::npos);
}

}  // namespace
}  // namespace meridane
