// End to end: real images and sidecars in a temporary folder, through the
// real reader, comparison, update and save.
#include "engine/internal/MediaFileProcessor.h"

#include "engine/FolderAccessPrompt.h"
#include "access/SidecarAccess.h"
#include "base/Diagnostics.h"
#include "engine/ProcessingOptions.h"
#include "imagemeta/ImageMetadata.h"
#include "ResultPrinting.h"
#include "TestImages.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <functional>

namespace meridane {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::TempDir;
using testing::TestImage;
using testing::testSidecar;
using testing::writeFile;
using testing::writeTestImage;

const std::string kCorrectSidecar = testSidecar("37.77490000N", "122.41940000W", "N", "W");
const std::string kNeedsLetters = testSidecar("37.7749", "122.4194", "N", "W");
const std::string kDifferentPlace = testSidecar("48.85837000N", "2.29450000E", "N", "E");
const std::string kNoGPS = testSidecar(std::nullopt, std::nullopt);
const std::string kDegreesMinutes = testSidecar("37,46.494N", "122,25.164W", "N", "W");

struct SidecarPathCase {
    const char* name;
    const char* image;
    const char* sidecar;
};

void PrintTo(const SidecarPathCase& c, std::ostream* os) { *os << c.image; }

class SidecarPath : public ::testing::TestWithParam<SidecarPathCase> {};

TEST_P(SidecarPath, ReplacesTheLastExtensionWithLowerCaseXmp) {
    EXPECT_EQ(MediaFileProcessor::sidecarPath(GetParam().image), fs::path(GetParam().sidecar));
}

INSTANTIATE_TEST_SUITE_P(Names, SidecarPath,
                         ::testing::Values(SidecarPathCase{"Upper", "/p/IMG_0001.HEIC", "/p/IMG_0001.xmp"},
                                           SidecarPathCase{"TwoDots", "/p/trip.edited.dng", "/p/trip.edited.xmp"},
                                           SidecarPathCase{"Relative", "IMG_1.heif", "IMG_1.xmp"},
                                           SidecarPathCase{"NoExtension", "/p/photo", "/p/photo.xmp"},
                                           SidecarPathCase{"Hidden", "/p/.HEIC", "/p/.HEIC.xmp"},
                                           SidecarPathCase{"TrailingDot", "/p/photo.", "/p/photo.xmp"},
                                           SidecarPathCase{"Spaces", "/p/my photo 1.HEIC", "/p/my photo 1.xmp"},
                                           SidecarPathCase{"NotUtf8", "/p/caf\xE9.HEIC", "/p/caf\xE9.xmp"},
                                           SidecarPathCase{"DotFolder", "/p.d/IMG", "/p.d/IMG.xmp"}),
                         [](const auto& info) { return std::string(info.param.name); });

class Pipeline : public ::testing::Test {
protected:
    Pipeline() : bookmarks_(dir_ / "settings.ini") {}

    fs::path image(const std::string& name, const TestImage& picture = {}) {
        writeTestImage(dir_ / name, picture);
        return dir_ / name;
    }
    fs::path sidecar(const std::string& name, const std::string& xml) {
        writeFile(dir_ / name, xml);
        return dir_ / name;
    }
    void options(bool dryRun, bool alwaysOverwrite = false, bool appleOnly = true, bool silent = false) {
        processingOptions::set({dryRun, alwaysOverwrite, appleOnly, silent});
    }

    // The real access, with every stop counted.
    ProcessingResult process(const fs::path& file, FolderAccessPrompt* prompt = nullptr,
                             std::optional<Coordinate> known = std::nullopt) {
        MediaFileProcessor processor([this, prompt](const fs::path& sidecarPath) -> std::optional<ScopedAccess> {
            ++requests_;
            FolderPrompt ask;
            if (prompt)
                ask = [prompt](const fs::path& folder) { return prompt->promptForFolderAccess(folder); };
            auto access = requestSidecarAccess(sidecarPath, ask);
            if (access)
                access->stop = [this, inner = access->stop] {
                    ++stops_;
                    inner();
                };
            return access;
        });
        return processor.processFile(file, known);
    }

    TempDir dir_;
    ScopedBookmarkSettings bookmarks_;
    ScopedProcessingOptions restore_{ProcessingOptionValues{}};
    diag::LineCapture capture_;
    int requests_ = 0;
    int stops_ = 0;
};

TEST_F(Pipeline, UnsupportedExtensionKeepsItsCaseAndLogsBothLines) {
    writeFile(dir_ / "photo.PNG", "x");
    EXPECT_EQ(process(dir_ / "photo.PNG"), ProcessingResult::unsupportedFile("Unsupported extension: PNG"));
    EXPECT_EQ(capture_.lines(), (std::vector<std::string>{"[DEBUG] photo.PNG is not a supported media file",
                                                          "[DEBUG] photo.PNG unsupported extension PNG"}));
    EXPECT_EQ(requests_, 0);
}

TEST_F(Pipeline, NonAppleCameraIsSkippedWithItsDevice) {
    const fs::path file = image("DSC_0001.dng", {"Canon", "Canon EOS R5", std::nullopt, Coordinate{1, 2}});
    sidecar("DSC_0001.xmp", kNeedsLetters);
    EXPECT_EQ(process(file),
              ProcessingResult::skippedNonApple(DeviceData{"Canon", "Canon EOS R5", std::nullopt}, "Non-Apple source"));
    EXPECT_TRUE(capture_.contains("[DEBUG] Skipping non-Apple: DSC_0001.dng"));
    EXPECT_EQ(requests_, 0);
}

TEST_F(Pipeline, CameraWithoutAnyIdentityIsNotApple) {
    const fs::path file = image("x.dng", {std::nullopt, std::nullopt, std::nullopt, Coordinate{37.7749, -122.4194}});
    EXPECT_EQ(process(file), ProcessingResult::skippedNonApple(DeviceData{}, "Non-Apple source"));
}

TEST_F(Pipeline, NonAppleCameraGoesOnWhenAppleOnlyIsOff) {
    options(true, false, false);
    const fs::path file = image("DSC_0001.dng", {"Canon", "EOS", std::nullopt, Coordinate{37.7749, -122.4194}});
    sidecar("DSC_0001.xmp", kCorrectSidecar);
    EXPECT_EQ(process(file), ProcessingResult::alreadyCorrect());
}

TEST_F(Pipeline, UnreadableImageIsNotFilteredButHasNoPosition) {
    writeFile(dir_ / "broken.heic", "not an image at all");
    sidecar("broken.xmp", kNeedsLetters);
    EXPECT_EQ(process(dir_ / "broken.heic"), ProcessingResult::failed("No GPS available"));
    EXPECT_TRUE(capture_.contains("[DEBUG] Failed: no GPS for broken.heic"));
    EXPECT_FALSE(capture_.contains("[DEBUG] Skipping non-Apple: broken.heic"));
}

TEST_F(Pipeline, ImageWithoutPositionFailsOrIsSkippedBySilentSkip) {
    const fs::path file = image("IMG_0001.dng", {"Apple", "iPhone 12 Pro", "14.3", std::nullopt});
    sidecar("IMG_0001.xmp", kNeedsLetters);
    EXPECT_EQ(process(file), ProcessingResult::failed("No GPS available"));
    options(true, false, true, true);
    EXPECT_EQ(process(file), ProcessingResult::skippedMissing("No GPS available"));
    EXPECT_TRUE(capture_.contains("[DEBUG] Skipped missing GPS: IMG_0001.dng"));
    EXPECT_EQ(requests_, 0);
}

TEST_F(Pipeline, FileThatDoesNotExistFailsWithoutPosition) {
    EXPECT_EQ(process(dir_ / "vanished.HEIC"), ProcessingResult::failed("No GPS available"));
}

TEST_F(Pipeline, KnownCoordinateIsUsedInsteadOfTheImagesOwn) {
    const fs::path file = image("IMG_0001.dng", {"Apple", "iPhone", std::nullopt, std::nullopt});
    sidecar("IMG_0001.xmp", kCorrectSidecar);
    EXPECT_EQ(process(file, nullptr, Coordinate{37.7749, -122.4194}), ProcessingResult::alreadyCorrect());
}

TEST_F(Pipeline, MissingSidecarIsSkippedAndNeverCreated) {
    const fs::path file = image("IMG_0001.HEIC");
    sidecar("IMG_0001.HEIC.xmp", kNeedsLetters);  // the image name plus .xmp is never looked for
    options(false);
    EXPECT_EQ(process(file), ProcessingResult::skippedMissing("No XMP sidecar file"));
    EXPECT_TRUE(capture_.contains("[DEBUG] Skipping IMG_0001.HEIC - no XMP sidecar file exists"));
    EXPECT_FALSE(fs::exists(dir_ / "IMG_0001.xmp"));
    EXPECT_EQ(stops_, 1);
}

TEST_F(Pipeline, SidecarWithoutGPSIsSkipped) {
    const fs::path file = image("IMG_0001.HEIC");
    sidecar("IMG_0001.xmp", kNoGPS);
    EXPECT_EQ(process(file), ProcessingResult::skippedMissing("No GPS data in XMP sidecar"));
    EXPECT_EQ(stops_, 1);
}

TEST_F(Pipeline, CorrectSidecarIsAlreadyCorrectAndUntouched) {
    options(false);
    const fs::path file = image("IMG_0001.HEIC");
    const fs::path xmp = sidecar("IMG_0001.xmp", kCorrectSidecar);
    EXPECT_EQ(process(file), ProcessingResult::alreadyCorrect());
    EXPECT_EQ(readFile(xmp), kCorrectSidecar);
    EXPECT_EQ(stops_, 1);
}

TEST_F(Pipeline, DegreesAndMinutesOfTheSamePlaceAreWithinTolerance) {
    const fs::path file = image("IMG_0001.HEIC");
    const fs::path xmp = sidecar("IMG_0001.xmp", kDegreesMinutes);
    const ProcessingResult result = process(file);
    EXPECT_EQ(result.resultCase(), ProcessingResult::Case::withinTolerance) << result.caseName();
    EXPECT_EQ(readFile(xmp), kDegreesMinutes);
}

TEST_F(Pipeline, DifferentPlaceIsSkippedWithItsDifferencesAndUntouched) {
    options(false);
    const fs::path file = image("IMG_0001.HEIC");
    const fs::path xmp = sidecar("IMG_0001.xmp", kDifferentPlace);
    const ProcessingResult result = process(file);
    ASSERT_EQ(result.resultCase(), ProcessingResult::Case::skippedDifferentGPS) << result.caseName();
    EXPECT_FALSE(result.get<ProcessingResult::SkippedDifferentGPS>()->differences.empty());
    EXPECT_EQ(readFile(xmp), kDifferentPlace);
    EXPECT_EQ(stops_, 1);
}

TEST_F(Pipeline, DryRunReportsPrefixedChangesAndWritesNothing) {
    const fs::path file = image("IMG_0001.HEIC");
    const fs::path xmp = sidecar("IMG_0001.xmp", kNeedsLetters);
    const ProcessingResult result = process(file);
    ASSERT_EQ(result.resultCase(), ProcessingResult::Case::updated) << result.caseName();
    const auto& changes = result.get<ProcessingResult::Updated>()->changes;
    ASSERT_EQ(changes.size(), 2u);
    for (const std::string& change : changes)
        EXPECT_EQ(change.rfind("[DRY RUN] would update: ", 0), 0u) << change;
    EXPECT_EQ(readFile(xmp), kNeedsLetters);
    EXPECT_FALSE(fs::exists(dir_ / ".IMG_0001.xmp.tmp"));
    const std::string line = "[DEBUG] Dry run \u2014 would update IMG_0001.HEIC: " + changes[0] + "; " + changes[1];
    EXPECT_TRUE(capture_.contains(line));
    EXPECT_EQ(stops_, 1);
}

TEST_F(Pipeline, WriteRunUpdatesTheSidecarThenFindsItCorrect) {
    options(false);
    const fs::path file = image("IMG_0001.HEIC");
    const fs::path xmp = sidecar("IMG_0001.xmp", kNeedsLetters);
    const ProcessingResult result = process(file);
    ASSERT_EQ(result.resultCase(), ProcessingResult::Case::updated) << result.caseName();
    for (const std::string& change : result.get<ProcessingResult::Updated>()->changes)
        EXPECT_EQ(change.find("[DRY RUN]"), std::string::npos);
    const std::string written = readFile(xmp);
    EXPECT_NE(written.find("37.77490000N"), std::string::npos) << written;
    EXPECT_NE(written.find("122.41940000W"), std::string::npos) << written;
    EXPECT_NE(written.find("photoshop:DateCreated"), std::string::npos) << "other properties are kept";
    EXPECT_TRUE(capture_.contains("[DEBUG] Updated IMG_0001.HEIC: " +
                                  result.get<ProcessingResult::Updated>()->changes[0] + "; " +
                                  result.get<ProcessingResult::Updated>()->changes[1]));
    EXPECT_EQ(process(file), ProcessingResult::alreadyCorrect());
    EXPECT_EQ(stops_, 2);
}

TEST_F(Pipeline, AlwaysOverwriteWithNothingDifferingIsAlreadyCorrect) {
    options(false, true);
    const fs::path file = image("IMG_0001.HEIC");
    const fs::path xmp = sidecar("IMG_0001.xmp", kCorrectSidecar);
    EXPECT_EQ(process(file), ProcessingResult::alreadyCorrect());
    EXPECT_TRUE(capture_.contains("[DEBUG] Already correct IMG_0001.HEIC"));
    EXPECT_EQ(readFile(xmp), kCorrectSidecar);
}

TEST_F(Pipeline, AlwaysOverwriteReplacesADifferentPlace) {
    options(false, true);
    const fs::path file = image("IMG_0001.HEIC");
    const fs::path xmp = sidecar("IMG_0001.xmp", kDifferentPlace);
    EXPECT_EQ(process(file).resultCase(), ProcessingResult::Case::updated);
    EXPECT_NE(readFile(xmp).find("37.77490000N"), std::string::npos);
}

TEST_F(Pipeline, UpdateErrorBecomesTheFailureTextAndLeavesTheSidecar) {
    options(false);
    const fs::path file = image("IMG_0001.HEIC");
    const std::string broken = "<x:xmpmeta><unclosed>";
    const fs::path xmp = sidecar("IMG_0001.xmp", broken);
    const ProcessingResult result = process(file);
    ASSERT_EQ(result.resultCase(), ProcessingResult::Case::failed) << result.caseName();
    const std::string& error = result.get<ProcessingResult::Failed>()->error;
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(capture_.contains("[DEBUG] Failed IMG_0001.HEIC: " + error));
    EXPECT_EQ(readFile(xmp), broken);
    EXPECT_EQ(stops_, 1);
}

TEST_F(Pipeline, SidecarWithoutDescriptionFailsWithTheStructureError) {
    const fs::path file = image("IMG_0001.HEIC");
    sidecar("IMG_0001.xmp", "<?xml version=\"1.0\"?><x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><a>b</a></x:xmpmeta>");
    EXPECT_EQ(process(file), ProcessingResult::failed("Invalid XMP structure: missing rdf:Description"));
}

TEST_F(Pipeline, UnreachableSidecarWithoutPromptIsPermissionDenied) {
    const fs::path file = image("IMG_0001.HEIC");
    const fs::path xmp = sidecar("IMG_0001.xmp", kNeedsLetters);
    ScopedPathAccessCheck check([xmp](const fs::path& p, int mode) { return !(p == xmp && mode == R_OK); });
    EXPECT_EQ(process(file), ProcessingResult::failed("Permission denied for XMP sidecar"));
    EXPECT_TRUE(capture_.contains("[DEBUG] Permission not granted for XMP sidecar: " + xmp.string()));
    EXPECT_EQ(stops_, 0);
}

class GrantingPrompt : public FolderAccessPrompt {
public:
    std::optional<fs::path> promptForFolderAccess(const fs::path& folder) override {
        ++asked;
        return folder;
    }
    int asked = 0;
};

TEST_F(Pipeline, ReadOnlyFolderIsGrantedThroughThePromptOnceAndProcessed) {
    const fs::path first = image("IMG_0001.HEIC");
    const fs::path second = image("IMG_0002.HEIC");
    sidecar("IMG_0001.xmp", kNeedsLetters);
    sidecar("IMG_0002.xmp", kCorrectSidecar);
    const fs::path folder = dir_.path();
    ScopedPathAccessCheck check([folder](const fs::path& p, int mode) { return !(p == folder && mode == W_OK); });
    GrantingPrompt prompt;
    EXPECT_EQ(process(first, &prompt).resultCase(), ProcessingResult::Case::updated);
    EXPECT_EQ(process(second, &prompt), ProcessingResult::alreadyCorrect());
    EXPECT_EQ(prompt.asked, 1);
    EXPECT_EQ(stops_, 2);
}

TEST_F(Pipeline, NamesWithSpacesNewlinesAndForeignBytesWork) {
    options(false);
    for (const std::string stem : {"my photo", "new\nline", "caf\xE9"}) {
        const fs::path file = image(stem + ".HEIC");
        const fs::path xmp = sidecar(stem + ".xmp", kNeedsLetters);
        EXPECT_EQ(process(file).resultCase(), ProcessingResult::Case::updated) << stem;
        EXPECT_NE(readFile(xmp).find("37.77490000N"), std::string::npos) << stem;
    }
}

TEST_F(Pipeline, StopIsCalledExactlyOncePerFileForEveryOutcome) {
    options(false);
    int files = 0;
    for (const std::string& xml : {kCorrectSidecar, kNeedsLetters, kDifferentPlace, kNoGPS, kDegreesMinutes,
                                   std::string("<broken")}) {
        const std::string stem = "IMG_" + std::to_string(++files);
        sidecar(stem + ".xmp", xml);
        const ProcessingResult result = process(image(stem + ".HEIC"));
        EXPECT_EQ(requests_, files) << stem << " ended as " << result.caseName();
    }
    const ProcessingResult last = process(image("IMG_nosidecar.HEIC"));
    EXPECT_EQ(last, ProcessingResult::skippedMissing("No XMP sidecar file"));
    ++files;
    EXPECT_EQ(requests_, files);
    EXPECT_EQ(stops_, files);
}

// The camera filter and the position share one decode of the image; the lines
// are still exactly those of the two readings one after the other, a failure
// to open the image written once for each.
struct ImageLinesCase {
    const char* name;
    std::function<void(const fs::path&)> make;
    bool appleOnly;
    bool positionRead;  ///< false when the camera filter ends the file first
};

void PrintTo(const ImageLinesCase& c, std::ostream* os) { *os << c.name; }

class PipelineImageLines : public Pipeline, public ::testing::WithParamInterface<ImageLinesCase> {};

TEST_P(PipelineImageLines, AreThoseOfTheDeviceReadingThenThePositionReading) {
    const ImageLinesCase& c = GetParam();
    options(true, false, c.appleOnly);
    const fs::path file = dir_ / "IMG_0001.HEIC";
    c.make(file);
    std::vector<std::string> expected{"[DEBUG] Processing IMG_0001.HEIC"};
    {
        diag::LineCapture separate;
        if (c.appleOnly)
            readDeviceData(file);
        if (c.positionRead)
            readImageGPS(file);
        expected.insert(expected.end(), separate.lines().begin(), separate.lines().end());
    }
    ASSERT_GT(expected.size(), 1u);
    process(file);
    ASSERT_GE(capture_.lines().size(), expected.size());
    EXPECT_EQ(std::vector<std::string>(capture_.lines().begin(), capture_.lines().begin() + expected.size()), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Images, PipelineImageLines,
    ::testing::Values(
        ImageLinesCase{"AppleWithPosition", [](const fs::path& p) { writeTestImage(p); }, true, true},
        ImageLinesCase{"AppleOnlyOff", [](const fs::path& p) { writeTestImage(p); }, false, true},
        ImageLinesCase{"NoPosition",
                       [](const fs::path& p) { writeTestImage(p, {"Apple", "iPhone", "17.1", std::nullopt}); },
                       true, true},
        ImageLinesCase{"NonApple",
                       [](const fs::path& p) { writeTestImage(p, {"Canon", "EOS R5", std::nullopt, Coordinate{1, 2}}); },
                       true, false},
        ImageLinesCase{"NotAnImage", [](const fs::path& p) { writeFile(p, "not an image at all"); }, true, true},
        ImageLinesCase{"Missing", [](const fs::path&) {}, true, true},
        ImageLinesCase{"EmptyFile", [](const fs::path& p) { writeFile(p, ""); }, true, true},
        ImageLinesCase{"BrokenTiff", [](const fs::path& p) { writeFile(p, std::string("II*\0\xFF\xFF\xFF\x7F", 8) + std::string(200, '\0')); },
                       true, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Pipeline, UnreadableImageReportsItsFailureForBothReadings) {
    writeFile(dir_ / "broken.heic", "not an image at all");
    sidecar("broken.xmp", kNeedsLetters);
    process(dir_ / "broken.heic");
    const std::string failure = "[DEBUG] CGImageSourceCreateWithURL failed for " + (dir_ / "broken.heic").string();
    EXPECT_EQ(std::count(capture_.lines().begin(), capture_.lines().end(), failure), 2);
}

}  // namespace
}  // namespace meridane
