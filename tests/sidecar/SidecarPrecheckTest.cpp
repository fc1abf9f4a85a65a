#include "sidecar/SidecarGPS.h"

#include "SidecarFixtures.h"
#include "TestSupport.h"
#include "base/Diagnostics.h"
#include "LegacySidecarCalls.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <ostream>

namespace meridane {

void PrintTo(const ProcessingResult& result, std::ostream* os) {
    *os << result.caseName();
    if (auto* within = result.get<ProcessingResult::WithinTolerance>())
        *os << ::testing::PrintToString(within->differences);
    if (auto* skipped = result.get<ProcessingResult::SkippedMissing>())
        *os << "(" << skipped->reason << ")";
    if (auto* different = result.get<ProcessingResult::SkippedDifferentGPS>())
        for (const auto& row : different->differences)
            *os << " [" << row.field << ": " << row.currentValue << " -> " << row.newValue << "]";
}

namespace {

using ::testing::ElementsAre;
using testing::GPSProperties;
namespace fs = std::filesystem;

constexpr double kSFLatitude = 37.7749;
constexpr double kSFLongitude = -122.4194;

struct PrecheckCase {
    const char* name;
    std::string sidecar;
    double latitude;
    double longitude;
    std::optional<ProcessingResult> expected;  ///< none: goes on to the update
    std::vector<std::string> lines;            ///< each must be among the lines written
    bool alwaysOverwrite = false;
};

void PrintTo(const PrecheckCase& c, std::ostream* os) { *os << c.name; }

std::string sidecarOf(GPSProperties gps) { return testing::sidecarWith(gps); }

ProcessingResult differ(std::vector<GPSDifference> rows) { return ProcessingResult::skippedDifferentGPS(std::move(rows)); }

struct Outcome {
    std::optional<ProcessingResult> result;
    int stops = 0;
    std::size_t linesBeforeStop = 0;
    std::vector<std::string> lines;
    std::vector<std::string> engineLines;
    std::optional<std::string> handedOn;
};

Outcome runPrecheck(const std::string& contents, double latitude, double longitude, bool alwaysOverwrite = false) {
    testing::TempDir dir;
    const fs::path sidecar = dir / "IMG_0001.xmp";
    testing::writeFile(sidecar, contents);
    ScopedProcessingOptions options({.dryRun = true, .alwaysOverwrite = alwaysOverwrite});
    Outcome run;
    diag::LineCapture capture;
    ScopedAccess access{sidecar, [&] {
                            ++run.stops;
                            run.linesBeforeStop = capture.lines().size();
                        }};
    run.result = testing::legacyPrecheck(dir / "IMG_0001.HEIC", latitude, longitude, sidecar, access, &run.handedOn);
    run.lines = capture.lines();
    run.engineLines = testing::engineLines(capture);
    return run;
}

class Precheck : public ::testing::TestWithParam<PrecheckCase> {};

TEST_P(Precheck, DecidesAsExpected) {
    const auto& c = GetParam();
    const Outcome run = runPrecheck(c.sidecar, c.latitude, c.longitude, c.alwaysOverwrite);
    EXPECT_EQ(run.result, c.expected);
}

TEST_P(Precheck, WritesTheDecisionLines) {
    const auto& c = GetParam();
    const Outcome run = runPrecheck(c.sidecar, c.latitude, c.longitude, c.alwaysOverwrite);
    for (const auto& line : c.lines)
        EXPECT_THAT(run.lines, ::testing::Contains(line));
}

TEST_P(Precheck, EndsTheAccessOnlyWhenItEndsTheFileAndAfterItsLastLine) {
    const auto& c = GetParam();
    const Outcome run = runPrecheck(c.sidecar, c.latitude, c.longitude, c.alwaysOverwrite);
    if (run.result) {
        EXPECT_EQ(run.stops, 1);
        EXPECT_EQ(run.linesBeforeStop, run.lines.size());
    } else {
        EXPECT_EQ(run.stops, 0);
    }
}

TEST_P(Precheck, HandsOnTheBytesItReadExactlyWhenTheFileGoesOn) {
    const auto& c = GetParam();
    const Outcome run = runPrecheck(c.sidecar, c.latitude, c.longitude, c.alwaysOverwrite);
    if (run.result)
        EXPECT_FALSE(run.handedOn);
    else
        EXPECT_EQ(run.handedOn, c.sidecar);
}

const std::string kProceeding = "[DEBUG] Proceeding with update check for IMG_0001.HEIC (exceeds tolerance or overwrite)";
const std::string kMissingLetter =
    "[DEBUG] Within tolerance, but XMP text is missing trailing hemisphere ref \u2014 will update IMG_0001.HEIC";

INSTANTIATE_TEST_SUITE_P(
    WorkedExample, Precheck,
    ::testing::Values(
        PrecheckCase{"EightDecimalsWithLettersAndRefsIsAlreadyCorrect",
                     sidecarOf({"37.77490000N", "122.41940000W", "N", "W"}), kSFLatitude, kSFLongitude,
                     ProcessingResult::alreadyCorrect(),
                     {"[DEBUG] Within tolerance and text matches \u2014 not updating IMG_0001.HEIC"}},
        PrecheckCase{"FewerDecimalsIsWithinToleranceWithFormatNotes", sidecarOf({"37.7749N", "122.4194W", {}, {}}),
                     kSFLatitude, kSFLongitude,
                     ProcessingResult::withinTolerance({"Latitude format: 37.7749N \u2192 37.77490000N",
                                                        "Longitude format: 122.4194W \u2192 122.41940000W"}),
                     {"[DEBUG] Within tolerance \u2014 not updating IMG_0001.HEIC. Differences: Latitude format: "
                      "37.7749N \u2192 37.77490000N; Longitude format: 122.4194W \u2192 122.41940000W"}},
        PrecheckCase{"SignedDecimalsWithoutLettersGoOnToTheUpdate", sidecarOf({"37.7749", "-122.4194", {}, {}}),
                     kSFLatitude, kSFLongitude, std::nullopt, {kMissingLetter, kProceeding}},
        PrecheckCase{"UnsignedLongitudeIsADifferentPlace", sidecarOf({"37.7749", "122.4194", {}, {}}), kSFLatitude,
                     kSFLongitude, differ({{"Longitude", "122.4194", "122.41940000W"}}),
                     {"[DEBUG] Skipped (GPS coordinates differ) for IMG_0001.HEIC: Longitude: 122.4194 \u2192 "
                      "122.41940000W"}},
        PrecheckCase{"SouthReferenceTurnsTheLatitudeAround", sidecarOf({"37.7749", "-122.4194", "S", "W"}),
                     kSFLatitude, kSFLongitude, differ({{"Latitude", "37.7749", "37.77490000N"}}),
                     {"[DEBUG] Skipped (GPS coordinates differ) for IMG_0001.HEIC: Latitude: 37.7749 \u2192 "
                      "37.77490000N"}}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Tolerance, Precheck,
    ::testing::Values(
        PrecheckCase{"ZeroAgainstOneTenThousandthIsWithin", sidecarOf({"0.0001N", "10.00000000E", "N", "E"}), 0.0,
                     10.0, ProcessingResult::withinTolerance({"Latitude format: 0.0001N \u2192 0.00000000N"}), {}},
        PrecheckCase{"DifferenceThatComputesSlightlyBelowIsWithin",
                     sidecarOf({"37.775N", "122.41940000W", "N", "W"}), kSFLatitude, kSFLongitude,
                     ProcessingResult::withinTolerance({"Latitude format: 37.775N \u2192 37.77490000N"}), {}},
        PrecheckCase{"DifferenceThatComputesSlightlyAboveIsNot", sidecarOf({"45.0001N", "10.00000000E", "N", "E"}),
                     45.0, 10.0, differ({{"Latitude", "45.0001N", "45.00000000N"}}), {}},
        PrecheckCase{"SouthLetterForANorthernImage", sidecarOf({"37.7749S", "122.41940000W", {}, {}}), kSFLatitude,
                     kSFLongitude, differ({{"Latitude", "37.7749S", "37.77490000N"}}), {}},
        PrecheckCase{"WithinButWrongHemisphereGivesARefRow", sidecarOf({"0.00005S", "10.00000000E", {}, {}}),
                     0.00004, 10.0, differ({{"LatitudeRef", "S", "N"}}),
                     {"[DEBUG] Skipped (GPS coordinates differ) for IMG_0001.HEIC: LatitudeRef: S \u2192 N"}},
        PrecheckCase{"EastLetterForAWesternImage", sidecarOf({"37.77490000N", "122.4194E", {}, {}}), kSFLatitude,
                     kSFLongitude, differ({{"Longitude", "122.4194E", "122.41940000W"}}), {}}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    References, Precheck,
    ::testing::Values(
        PrecheckCase{"NorthWordWithoutLetterInTheTextGoesOnToTheUpdate",
                     sidecarOf({"37.7749", "122.41940000W", "North", "W"}), kSFLatitude, kSFLongitude, std::nullopt,
                     {kMissingLetter, kProceeding}},
        PrecheckCase{"UnknownRefFallsBackToTheTextLetter", sidecarOf({"37.77490000N", "122.41940000W", "X", "W"}),
                     kSFLatitude, kSFLongitude, ProcessingResult::alreadyCorrect(), {}},
        PrecheckCase{"UnknownRefAndNoLetterIsCompatibleWhenWithin",
                     sidecarOf({"37.7749", "122.41940000W", "X", "W"}), kSFLatitude, kSFLongitude, std::nullopt,
                     {kMissingLetter}},
        PrecheckCase{"UnknownRefAndNoLetterOutsideToleranceGivesOnlyTheNumberRow",
                     sidecarOf({"37.8", "122.41940000W", "X", "W"}), kSFLatitude, kSFLongitude,
                     differ({{"Latitude", "37.8", "37.77490000N"}}), {}},
        PrecheckCase{"WrongRefWithWrongNumberGivesOnlyTheNumberRow",
                     sidecarOf({"40.0", "122.41940000W", "S", "W"}), kSFLatitude, kSFLongitude,
                     differ({{"Latitude", "40.0", "37.77490000N"}}), {}},
        PrecheckCase{"BothRefsWrongGiveTwoRefRows", sidecarOf({"0.00005", "0.00005", "S", "W"}), 0.00004, 0.00004,
                     differ({{"LatitudeRef", "S", "N"}, {"LongitudeRef", "W", "E"}}),
                     {"[DEBUG] Skipped (GPS coordinates differ) for IMG_0001.HEIC: LatitudeRef: S \u2192 N; "
                      "LongitudeRef: W \u2192 E"}}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    MissingValues, Precheck,
    ::testing::Values(
        PrecheckCase{"OnlyAltitudeGivesRowsWithTheImageValues",
                     testing::sidecarWithElements({{"exif:GPSAltitude", "12"}}), kSFLatitude, kSFLongitude,
                     differ({{"Latitude", "37.77490000", "37.77490000N"}, {"Longitude", "122.41940000", "122.41940000W"}}),
                     {"[DEBUG] Found GPS  exif:GPSAltitude"}},
        PrecheckCase{"EmptyLatitudeElementShowsTheEmptyText", sidecarOf({"", "122.41940000W", {}, {}}), kSFLatitude,
                     kSFLongitude, differ({{"Latitude", "", "37.77490000N"}}),
                     {"[DEBUG]   existingLat raw: ''"}},
        PrecheckCase{"NoGPSPropertyIsSkipped", testing::sidecarWithElements({{"exif:DateTimeOriginal", "2024"}}),
                     kSFLatitude, kSFLongitude, ProcessingResult::skippedMissing("No GPS data in XMP sidecar"),
                     {"[DEBUG] No GPS data found in XMP",
                      "[DEBUG] Skipping IMG_0001.HEIC - XMP contains no GPS data"}},
        PrecheckCase{"NotXmlGoesOnToTheUpdate", "<x:xmpmeta><rdf:Description>", kSFLatitude, kSFLongitude,
                     std::nullopt, {}},
        PrecheckCase{"NoDescriptionGoesOnToTheUpdate", testing::sidecarWithoutDescription(), kSFLatitude,
                     kSFLongitude, std::nullopt, {}}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    AlwaysOverwrite, Precheck,
    ::testing::Values(
        PrecheckCase{"AlreadyCorrectStillGoesOnToTheUpdate", sidecarOf({"37.77490000N", "122.41940000W", "N", "W"}),
                     kSFLatitude, kSFLongitude, std::nullopt, {kProceeding}, true},
        PrecheckCase{"DifferentPlaceGoesOnToTheUpdate", sidecarOf({"10.0", "10.0", {}, {}}), kSFLatitude,
                     kSFLongitude, std::nullopt, {kProceeding}, true},
        PrecheckCase{"NoGPSIsStillSkipped", testing::sidecarWithElements({}), kSFLatitude, kSFLongitude,
                     ProcessingResult::skippedMissing("No GPS data in XMP sidecar"), {}, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PrecheckReport, WritesTheWholeTraceCharacterForCharacter) {
    const Outcome run = runPrecheck(sidecarOf({"37.7749N", "122.4194W", {}, {}}), kSFLatitude, kSFLongitude);
    EXPECT_THAT(
        run.engineLines,
        ElementsAre("[DEBUG] Found GPS  exif:GPSLatitude", "[DEBUG] Raw XMP GPS values:",
                    "[DEBUG]   existingLat raw: '37.7749N'", "[DEBUG]   existingLon raw: '122.4194W'",
                    "[DEBUG]   existingLatRef raw: 'nil'", "[DEBUG]   existingLonRef raw: 'nil'",
                    "[DEBUG] IMG_0001.HEIC XMP pre-check:",
                    "[DEBUG]   existing: lat=37.7749N lon=122.4194W latRef=nil lonRef=nil",
                    "[DEBUG]   parsed:   lat=(37.7749,N) lon=(122.4194,W)",
                    "[DEBUG]   existing decimal: lat=37.7749 lon=-122.4194",
                    "[DEBUG]   target decimal:   lat=37.7749 lon=-122.4194",
                    "[DEBUG]   matches:  numeric lat=true lon=true",
                    "[DEBUG]   refs:     effective lat=N lon=W, compatible lat=true lon=true",
                    "[DEBUG]   coordinatesMatch=true (will skip only if false AND not alwaysOverwrite)",
                    "[DEBUG] Within tolerance \u2014 not updating IMG_0001.HEIC. Differences: Latitude format: "
                    "37.7749N \u2192 37.77490000N; Longitude format: 122.4194W \u2192 122.41940000W"));
}

TEST(PrecheckReport, AbsentValuesPrintAsNilAndIntegralValuesWithPointZero) {
    const Outcome run = runPrecheck(testing::sidecarWithElements({{"exif:GPSAltitude", "12"}}), 37.0, -122.0);
    EXPECT_THAT(run.lines, ::testing::IsSupersetOf({
                               "[DEBUG]   existing: lat=nil lon=nil latRef=nil lonRef=nil",
                               "[DEBUG]   parsed:   lat=(nil,) lon=(nil,)",
                               "[DEBUG]   existing decimal: lat=nil lon=nil",
                               "[DEBUG]   target decimal:   lat=37.0 lon=-122.0",
                               "[DEBUG]   matches:  numeric lat=false lon=false",
                               "[DEBUG]   refs:     effective lat= lon=, compatible lat=false lon=false",
                               "[DEBUG]   coordinatesMatch=false (will skip only if false AND not alwaysOverwrite)",
                           }));
}

TEST(PrecheckReport, UnreadableSidecarWritesNothingAndGoesOnToTheUpdate) {
    testing::TempDir dir;
    fs::create_directory(dir / "IMG_0001.xmp");  // reading a folder fails
    int stops = 0;
    ScopedAccess access{dir / "IMG_0001.xmp", [&] { ++stops; }};
    diag::LineCapture capture;

    EXPECT_EQ(testing::legacyPrecheck(dir / "IMG_0001.HEIC", kSFLatitude, kSFLongitude, dir / "IMG_0001.xmp", access),
              std::nullopt);
    EXPECT_THAT(capture.lines(), ::testing::IsEmpty());
    EXPECT_EQ(stops, 0);
}

TEST(PrecheckReport, NamedPipeInTheSidecarsPlaceGoesOnToTheUpdateWithoutHanging) {
    testing::TempDir dir;
    ASSERT_EQ(::mkfifo((dir / "IMG_0001.xmp").c_str(), 0644), 0);
    ScopedAccess access{dir / "IMG_0001.xmp", [] {}};
    EXPECT_EQ(testing::legacyPrecheck(dir / "IMG_0001.HEIC", kSFLatitude, kSFLongitude, dir / "IMG_0001.xmp", access),
              std::nullopt);
}

TEST(PrecheckReport, NotXmlWritesNoLine) {
    const Outcome run = runPrecheck("this is not XML at all", kSFLatitude, kSFLongitude);
    EXPECT_EQ(run.result, std::nullopt);
    EXPECT_THAT(run.lines, ::testing::IsEmpty());
}

}  // namespace
}  // namespace meridane
