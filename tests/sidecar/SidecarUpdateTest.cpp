#include "sidecar/SidecarGPS.h"

#include "FakeFileSystem.h"
#include "SidecarFixtures.h"
#include "TestSupport.h"
#include "base/Diagnostics.h"
#include "base/NumberText.h"
#include "LegacySidecarCalls.h"
#include "xmp/XMPXML.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <ostream>
#include <thread>

namespace meridane {

void PrintTo(const SidecarUpdateOutcome& outcome, std::ostream* os) {
    *os << "{written=" << outcome.written << ", changes=" << ::testing::PrintToString(outcome.changes) << "}";
}

namespace testing {

void PrintTo(const GPSProperties& gps, std::ostream* os) {
    *os << ::testing::PrintToString(gps.latitude) << " " << ::testing::PrintToString(gps.longitude) << " "
        << ::testing::PrintToString(gps.latitudeRef) << " " << ::testing::PrintToString(gps.longitudeRef);
}

}  // namespace testing

namespace {

using ::testing::ElementsAre;
using testing::GPSProperties;
namespace fs = std::filesystem;

constexpr double kParisLatitude = 48.85837;
constexpr double kParisLongitude = 2.2945;
const std::string kArrow = " \u2192 ";

/// The four GPS properties of a sidecar on disk, as the engine reads them.
GPSProperties gpsIn(const fs::path& path) {
    auto document = xmp::XmlDocument::parse(testing::readFile(path));
    if (!document)
        return {};
    auto description = xmp::findDescriptionElement(document.value());
    if (!description)
        return {};
    return {xmp::getElementValue("exif:GPSLatitude", *description),
            xmp::getElementValue("exif:GPSLongitude", *description),
            xmp::getElementValue("exif:GPSLatitudeRef", *description),
            xmp::getElementValue("exif:GPSLongitudeRef", *description)};
}

struct UpdateCase {
    const char* name;
    GPSProperties before;
    double latitude;
    double longitude;
    SidecarUpdateOutcome outcome;
    GPSProperties after;  ///< what the sidecar holds once the update has run (with dry run off)
};

void PrintTo(const UpdateCase& c, std::ostream* os) { *os << c.name; }

struct UpdateRun {
    Result<SidecarUpdateOutcome> outcome;
    std::string before;
    std::string after;
    std::vector<std::string> lines;
};

UpdateRun runUpdate(const std::string& contents, double latitude, double longitude, bool dryRun,
              bool alwaysOverwrite = false) {
    testing::TempDir dir;
    const fs::path sidecar = dir / "IMG_0001.xmp";
    testing::writeFile(sidecar, contents);
    ScopedProcessingOptions options({dryRun, alwaysOverwrite, true, false});
    diag::LineCapture capture;
    Result<SidecarUpdateOutcome> outcome = testing::legacyUpdate(sidecar, latitude, longitude);
    return {std::move(outcome), contents, testing::readFile(sidecar), capture.lines()};
}

class Update : public ::testing::TestWithParam<UpdateCase> {};

TEST_P(Update, ReportsTheChanges) {
    const auto& c = GetParam();
    const UpdateRun run = runUpdate(testing::sidecarWith(c.before), c.latitude, c.longitude, false);
    ASSERT_TRUE(run.outcome) << run.outcome.error().message;
    EXPECT_EQ(run.outcome.value(), c.outcome);
}

TEST_P(Update, LeavesTheSidecarHoldingTheExpectedProperties) {
    const auto& c = GetParam();
    testing::TempDir dir;
    const fs::path sidecar = dir / "IMG_0001.xmp";
    testing::writeFile(sidecar, testing::sidecarWith(c.before));
    ScopedProcessingOptions options({false, false, true, false});

    ASSERT_TRUE(testing::legacyUpdate(sidecar, c.latitude, c.longitude));

    EXPECT_EQ(gpsIn(sidecar), c.after);
    if (!c.outcome.written) {
        EXPECT_EQ(testing::readFile(sidecar), testing::sidecarWith(c.before)) << "an unchanged sidecar is not rewritten";
    }
}

TEST_P(Update, DryRunReportsTheSameChangesAndWritesNothing) {
    const auto& c = GetParam();
    const UpdateRun run = runUpdate(testing::sidecarWith(c.before), c.latitude, c.longitude, true);
    ASSERT_TRUE(run.outcome) << run.outcome.error().message;
    EXPECT_EQ(run.outcome.value(), c.outcome);
    EXPECT_EQ(run.after, run.before);
    EXPECT_EQ(std::count(run.lines.begin(), run.lines.end(), "[DEBUG] Dry run \u2014 would save XMP: IMG_0001.xmp"),
              c.outcome.written ? 1 : 0);
    EXPECT_THAT(run.lines, ::testing::Not(::testing::Contains("[DEBUG] Saving XMP atomically: IMG_0001.xmp")));
}

SidecarUpdateOutcome wrote(std::vector<std::string> changes) { return {true, std::move(changes)}; }

const GPSProperties kParisExpected{"48.85837000N", "2.29450000E", "N", "E"};

INSTANTIATE_TEST_SUITE_P(
    Cases, Update,
    ::testing::Values(
        UpdateCase{"DegreesAndMinutesAreRewrittenRefsKept",
                   {"48,51.5022N", "2,17.67E", "N", "E"},
                   kParisLatitude,
                   kParisLongitude,
                   wrote({"exif:GPSLatitude: 48,51.5022N" + kArrow + "48.85837000N",
                          "exif:GPSLongitude: 2,17.67E" + kArrow + "2.29450000E"}),
                   kParisExpected},
        UpdateCase{"NoGPSPropertiesGetAllFour",
                   {},
                   kParisLatitude,
                   kParisLongitude,
                   wrote({"exif:GPSLatitude: 48.85837000" + kArrow + "48.85837000N",
                          "exif:GPSLongitude: 2.29450000" + kArrow + "2.29450000E",
                          "exif:GPSLatitudeRef: (empty)" + kArrow + "N",
                          "exif:GPSLongitudeRef: (empty)" + kArrow + "E"}),
                   kParisExpected},
        UpdateCase{"LowerCaseLetterAfterABlankIsAlreadyCorrect",
                   {"48.85837000 n", "2.29450000E", "N", "E"},
                   kParisLatitude,
                   kParisLongitude,
                   {},
                   {"48.85837000 n", "2.29450000E", "N", "E"}},
        UpdateCase{"FiveDecimalsAreRewritten",
                   {"48.85837N", "2.29450000E", "N", "E"},
                   kParisLatitude,
                   kParisLongitude,
                   wrote({"exif:GPSLatitude: 48.85837N" + kArrow + "48.85837000N"}),
                   kParisExpected},
        UpdateCase{"AbsentRefsWithRightLettersAndDigitsAreAlreadyCorrect",
                   {"48.85837000N", "2.29450000E", {}, {}},
                   kParisLatitude,
                   kParisLongitude,
                   {},
                   {"48.85837000N", "2.29450000E", {}, {}}},
        UpdateCase{"AbsentRefsAreCreatedWhenTheSidecarIsWritten",
                   {"48.8584N", "2.29450000E", {}, {}},
                   kParisLatitude,
                   kParisLongitude,
                   wrote({"exif:GPSLatitude: 48.8584N" + kArrow + "48.85837000N",
                          "exif:GPSLatitudeRef: (empty)" + kArrow + "N",
                          "exif:GPSLongitudeRef: (empty)" + kArrow + "E"}),
                   kParisExpected},
        UpdateCase{"RefThatIsNoHemisphereIsSetWhenTheSidecarIsWritten",
                   {"48.8584N", "2.29450000E", "X", "E"},
                   kParisLatitude,
                   kParisLongitude,
                   wrote({"exif:GPSLatitude: 48.8584N" + kArrow + "48.85837000N",
                          "exif:GPSLatitudeRef: X" + kArrow + "N"}),
                   kParisExpected},
        UpdateCase{"EmptyRefIsSetWhenTheSidecarIsWritten",
                   {"48.8584N", "2.29450000E", "N", ""},
                   kParisLatitude,
                   kParisLongitude,
                   wrote({"exif:GPSLatitude: 48.8584N" + kArrow + "48.85837000N",
                          "exif:GPSLongitudeRef: " + kArrow + "E"}),
                   kParisExpected},
        UpdateCase{"RefWordNorthIsKept",
                   {"48.8584N", "2.29450000E", "north", "E"},
                   kParisLatitude,
                   kParisLongitude,
                   wrote({"exif:GPSLatitude: 48.8584N" + kArrow + "48.85837000N"}),
                   {"48.85837000N", "2.29450000E", "north", "E"}},
        UpdateCase{"WrongRefIsCorrected",
                   {"48.85837000N", "2.29450000E", "S", "E"},
                   kParisLatitude,
                   kParisLongitude,
                   wrote({"exif:GPSLatitudeRef: S" + kArrow + "N"}),
                   kParisExpected},
        UpdateCase{"MinusZeroIsNorth",
                   {"1.0", "2.29450000E", "N", "E"},
                   -0.0,
                   kParisLongitude,
                   wrote({"exif:GPSLatitude: 1.0" + kArrow + "0.00000000N"}),
                   {"0.00000000N", "2.29450000E", "N", "E"}},
        UpdateCase{"SouthAndEastKeepTheirRefs",
                   {"33.5", "151.2", "S", "E"},
                   -33.5,
                   151.2,
                   wrote({"exif:GPSLatitude: 33.5" + kArrow + "33.50000000S",
                          "exif:GPSLongitude: 151.2" + kArrow + "151.20000000E"}),
                   {"33.50000000S", "151.20000000E", "S", "E"}},
        UpdateCase{"WesternLongitudeFromSignedText",
                   {"37.7749", "-122.4194", {}, {}},
                   37.7749,
                   -122.4194,
                   wrote({"exif:GPSLatitude: 37.7749" + kArrow + "37.77490000N",
                          "exif:GPSLongitude: -122.4194" + kArrow + "122.41940000W",
                          "exif:GPSLatitudeRef: (empty)" + kArrow + "N",
                          "exif:GPSLongitudeRef: (empty)" + kArrow + "W"}),
                   {"37.77490000N", "122.41940000W", "N", "W"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(UpdateTrace, WritesTheComparisonBlockAndTheSaveLine) {
    const UpdateRun run = runUpdate(testing::sidecarWith({"48,51.5022N", "2,17.67E", "N", "E"}), kParisLatitude,
                              kParisLongitude, false);
    ASSERT_TRUE(run.outcome);
    std::vector<std::string> lines = testing::engineLines(run.lines);
    ASSERT_GE(lines.size(), 8u);
    lines.resize(8);
    EXPECT_THAT(lines, ElementsAre("[DEBUG] Loading existing XMP: IMG_0001.xmp",
                                   "[DEBUG] IMG_0001.xmp update comparison:",
                                   "[DEBUG]   existing: lat=48,51.5022N lon=2,17.67E",
                                   "[DEBUG]   existing decimal: lat=" + formatDiagnosticDouble(48.0 + 51.5022 / 60) +
                                       " lon=" + formatDiagnosticDouble(2.0 + 17.67 / 60),
                                   "[DEBUG]   target:   lat=48.85837000N lon=2.29450000E",
                                   "[DEBUG]   target decimal: lat=48.85837 lon=2.2945",
                                   "[DEBUG]   matches:  latText=false lonText=false latRef=true lonRef=true",
                                   "[DEBUG] Saving XMP atomically: IMG_0001.xmp"));
    EXPECT_EQ(run.lines.back(), "[DEBUG] Successfully saved XMP: IMG_0001.xmp");
}

TEST(UpdateTrace, AbsentValuesPrintAsNil) {
    const UpdateRun run = runUpdate(testing::sidecarWith({}), -0.0, -1.0, true);
    EXPECT_THAT(run.lines, ::testing::IsSupersetOf({"[DEBUG]   existing: lat=nil lon=nil",
                                                    "[DEBUG]   existing decimal: lat=nil lon=nil",
                                                    "[DEBUG]   target:   lat=0.00000000N lon=1.00000000W",
                                                    "[DEBUG]   target decimal: lat=-0.0 lon=-1.0"}));
}

TEST(UpdateTrace, NothingToChangeSaysSoAndSavesNothing) {
    const UpdateRun run = runUpdate(testing::sidecarWith(kParisExpected), kParisLatitude, kParisLongitude, false);
    ASSERT_TRUE(run.outcome);
    EXPECT_THAT(run.lines, ::testing::Contains("[DEBUG] Will not write IMG_0001.xmp \u2014 already correct"));
    EXPECT_THAT(run.lines, ::testing::Not(::testing::Contains("[DEBUG] Saving XMP atomically: IMG_0001.xmp")));
}

TEST(UpdateAlwaysOverwrite, NothingDifferingWritesNothingAndSaysNothing) {
    const UpdateRun run = runUpdate(testing::sidecarWith(kParisExpected), kParisLatitude, kParisLongitude, false, true);
    ASSERT_TRUE(run.outcome);
    EXPECT_EQ(run.outcome.value(), SidecarUpdateOutcome{});
    EXPECT_EQ(run.after, run.before);
    EXPECT_THAT(run.lines, ::testing::Not(::testing::Contains("[DEBUG] Will not write IMG_0001.xmp \u2014 already correct")));
}

TEST(UpdateAlwaysOverwrite, MissingRefElementsAloneAreNotCreated) {
    const UpdateRun run = runUpdate(testing::sidecarWith({"48.85837000N", "2.29450000E", {}, {}}), kParisLatitude,
                              kParisLongitude, false, true);
    ASSERT_TRUE(run.outcome);
    EXPECT_EQ(run.outcome.value(), SidecarUpdateOutcome{});
    EXPECT_EQ(run.after, run.before);
}

TEST(UpdateAlwaysOverwrite, DifferentPlaceIsOverwritten) {
    const UpdateRun run = runUpdate(testing::sidecarWith({"10.00000000N", "2.29450000E", "N", "E"}), kParisLatitude,
                              kParisLongitude, false, true);
    ASSERT_TRUE(run.outcome);
    EXPECT_EQ(run.outcome.value(), wrote({"exif:GPSLatitude: 10.00000000N" + kArrow + "48.85837000N"}));
}

TEST(UpdateDocument, NewPropertiesAreAppendedInPropertyOrder) {
    testing::TempDir dir;
    const fs::path sidecar = dir / "IMG_0001.xmp";
    testing::writeFile(sidecar, testing::sidecarWith({}));
    ScopedProcessingOptions options({false, false, true, false});
    ASSERT_TRUE(testing::legacyUpdate(sidecar, kParisLatitude, kParisLongitude));

    auto document = xmp::XmlDocument::parse(testing::readFile(sidecar));
    ASSERT_TRUE(document);
    auto description = xmp::findDescriptionElement(document.value());
    ASSERT_TRUE(description);
    std::vector<std::string> names;
    for (const auto& child : description->children())
        if (auto name = child.name(); child.isElement() && name)
            names.push_back(*name);
    EXPECT_THAT(names, ElementsAre("tiff:Make", "exif:GPSLatitude", "exif:GPSLongitude", "exif:GPSLatitudeRef",
                                   "exif:GPSLongitudeRef"));
}

// --- failures -----------------------------------------------------------------------

TEST(UpdateFailure, MissingSidecarIsNeverCreated) {
    testing::TempDir dir;
    ScopedProcessingOptions options({false, true, true, false});
    auto outcome = testing::legacyUpdate(dir / "IMG_0001.xmp", kParisLatitude, kParisLongitude);
    ASSERT_FALSE(outcome);
    EXPECT_EQ(outcome.error(), (Error{ErrorDomain::xmp, kXmpInvalid, "XMP file does not exist and creation is disabled"}));
    EXPECT_FALSE(fs::exists(dir / "IMG_0001.xmp"));
}

TEST(UpdateFailure, DanglingLinkCountsAsMissing) {
    testing::TempDir dir;
    fs::create_symlink(dir / "gone.xmp", dir / "IMG_0001.xmp");
    auto outcome = testing::legacyUpdate(dir / "IMG_0001.xmp", kParisLatitude, kParisLongitude);
    ASSERT_FALSE(outcome);
    EXPECT_EQ(outcome.error(), (Error{ErrorDomain::xmp, kXmpInvalid, "XMP file does not exist and creation is disabled"}));
}

TEST(UpdateFailure, NoDescriptionIsAnInvalidStructure) {
    const UpdateRun run = runUpdate(testing::sidecarWithoutDescription(), kParisLatitude, kParisLongitude, false);
    ASSERT_FALSE(run.outcome);
    EXPECT_EQ(run.outcome.error(), (Error{ErrorDomain::xmp, kXmpInvalid, "Invalid XMP structure: missing rdf:Description"}));
    EXPECT_EQ(run.after, run.before);
}

TEST(UpdateFailure, NotXmlPassesTheParserErrorOn) {
    const std::string text = "<x:xmpmeta><rdf:Description></x:xmpmeta>";
    const UpdateRun run = runUpdate(text, kParisLatitude, kParisLongitude, false);
    ASSERT_FALSE(run.outcome);
    auto parserError = xmp::XmlDocument::parse(text);
    ASSERT_FALSE(parserError);
    EXPECT_EQ(run.outcome.error(), parserError.error());
    EXPECT_EQ(run.after, run.before);
}

TEST(UpdateFailure, UnreadableSidecarPassesTheReadErrorOn) {
    testing::TempDir dir;
    fs::create_directory(dir / "IMG_0001.xmp");
    auto outcome = testing::legacyUpdate(dir / "IMG_0001.xmp", kParisLatitude, kParisLongitude);
    ASSERT_FALSE(outcome);
    EXPECT_EQ(outcome.error(), (Error{ErrorDomain::fileSystem, EISDIR, "Could not read \u201CIMG_0001.xmp\u201D: Is a directory"}));
}

TEST(UpdateFailure, NamedPipeInTheSidecarsPlaceFailsWithoutHanging) {
    testing::TempDir dir;
    ASSERT_EQ(::mkfifo((dir / "IMG_0001.xmp").c_str(), 0644), 0);
    auto outcome = testing::legacyUpdate(dir / "IMG_0001.xmp", kParisLatitude, kParisLongitude);
    ASSERT_FALSE(outcome);
    EXPECT_EQ(outcome.error(), (Error{ErrorDomain::fileSystem, EINVAL, "Could not read \u201CIMG_0001.xmp\u201D: Not a regular file"}));
}

TEST(UpdateFailure, PermissionDeniedOnReadPassesTheReadErrorOn) {
    testing::TempDir dir;
    testing::writeFile(dir / "IMG_0001.xmp", testing::sidecarWith({}));
    testing::FakeFileSystem fake;
    fake.readError = EACCES;
    sidecar::ScopedFileSystemOverride override(fake);
    auto outcome = testing::legacyUpdate(dir / "IMG_0001.xmp", kParisLatitude, kParisLongitude);
    ASSERT_FALSE(outcome);
    EXPECT_EQ(outcome.error(),
              (Error{ErrorDomain::fileSystem, EACCES, "Could not read \u201CIMG_0001.xmp\u201D: Permission denied"}));
}

TEST(UpdateFailure, FailedSaveIsTheErrorAndTheSidecarStays) {
    testing::TempDir dir;
    const fs::path sidecar = dir / "IMG_0001.xmp";
    const std::string before = testing::sidecarWith({"48,51.5022N", "2,17.67E", "N", "E"});
    testing::writeFile(sidecar, before);
    testing::FakeFileSystem fake;
    fake.capacity = std::optional<std::uint64_t>(50 * 1'048'576);
    sidecar::ScopedFileSystemOverride override(fake);
    ScopedProcessingOptions options({false, false, true, false});

    auto outcome = testing::legacyUpdate(sidecar, kParisLatitude, kParisLongitude);

    ASSERT_FALSE(outcome);
    EXPECT_EQ(outcome.error(), (Error{ErrorDomain::diskSpace, kDiskSpaceInsufficient, "Insufficient disk space. Available: 50MB, Required: 100MB"}));
    EXPECT_EQ(testing::readFile(sidecar), before);
}

TEST(UpdateConcurrency, TwoFilesInFlightOnTwoThreadsAreSavedOneAfterTheOther) {
    testing::TempDir dir;
    const fs::path first = dir / "IMG_0001.xmp";
    const fs::path second = dir / "IMG_0002.xmp";
    testing::writeFile(first, testing::sidecarWith({}));
    testing::writeFile(second, testing::sidecarWith({}));
    testing::FakeFileSystem fake;
    fake.writeDelay = std::chrono::milliseconds(25);
    sidecar::ScopedFileSystemOverride override(fake);
    ScopedProcessingOptions options({false, false, true, false});

    bool firstOk = false;
    bool secondOk = false;
    std::thread a([&] { firstOk = testing::legacyUpdate(first, kParisLatitude, kParisLongitude).ok(); });
    std::thread b([&] { secondOk = testing::legacyUpdate(second, -33.5, 151.2).ok(); });
    a.join();
    b.join();

    EXPECT_TRUE(firstOk);
    EXPECT_TRUE(secondOk);
    EXPECT_EQ(fake.maxConcurrentSaves(), 1);
    EXPECT_EQ(gpsIn(first), kParisExpected);
    EXPECT_EQ(gpsIn(second), (GPSProperties{"33.50000000S", "151.20000000E", "S", "E"}));
}

TEST(UpdateReading, BytesHandedOnAreUsedInsteadOfReadingTheFileAgain) {
    testing::TempDir dir;
    const std::string contents = testing::sidecarWith({"48,51.5022N", "2,17.67E", "N", "E"});
    testing::writeFile(dir / "IMG_0001.xmp", contents);
    ScopedProcessingOptions options({.dryRun = true});
    diag::LineCapture readingItself;
    auto expected = testing::legacyUpdate(dir / "IMG_0001.xmp", kParisLatitude, kParisLongitude);
    testing::FakeFileSystem fake;
    sidecar::ScopedFileSystemOverride override(fake);
    diag::LineCapture handedOn;
    auto outcome = testing::legacyUpdate(dir / "IMG_0001.xmp", kParisLatitude, kParisLongitude, contents);
    ASSERT_TRUE(outcome);
    ASSERT_TRUE(expected);
    EXPECT_EQ(outcome.value(), expected.value());
    EXPECT_EQ(handedOn.lines(), readingItself.lines());
    EXPECT_THAT(fake.operations(), ::testing::Not(::testing::Contains("read")));
}

TEST(UpdateReading, AMissingSidecarFailsEvenWithBytesHandedOn) {
    testing::TempDir dir;
    auto outcome = testing::legacyUpdate(dir / "IMG_0001.xmp", kParisLatitude, kParisLongitude,
                                    testing::sidecarWith(kParisExpected));
    ASSERT_FALSE(outcome);
    EXPECT_EQ(outcome.error(), (Error{ErrorDomain::xmp, kXmpInvalid, "XMP file does not exist and creation is disabled"}));
}

}  // namespace
}  // namespace meridane
