// Real sidecars written by other tools, run through the comparison and the
// update: a save either lands a sidecar with all four properties right, or
// fails and leaves the file as it was.
#include "sidecar/SidecarGPS.h"
#include "sidecar/SidecarGPS.h"

#include "SidecarFixtures.h"
#include "TestSupport.h"
#include "base/Diagnostics.h"
#include "LegacySidecarCalls.h"
#include "xmp/XMPXML.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace meridane {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> corpusSidecars() {
    std::vector<fs::path> files;
    auto corpus = testing::corpusDir();
    if (!corpus)
        return files;
    for (const char* folder : {"xmp", "odd", "heic", "dng"}) {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(*corpus / folder, ec))
            if (entry.path().extension() == ".xmp")
                files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

TEST(CorpusSidecars, ThePhonesOwnSidecarAgreesWithItsImageWithinTolerance) {
    auto corpus = testing::corpusDir();
    if (!corpus)
        GTEST_SKIP() << "corpus not present";
    testing::TempDir dir;
    const fs::path sidecar = dir / "photoprism__iphone_7.xmp";
    fs::copy_file(*corpus / "heic" / "photoprism__iphone_7.xmp", sidecar);
    diag::LineCapture quiet;
    ScopedProcessingOptions options({false, false, true, false});
    int stops = 0;
    ScopedAccess access{sidecar, [&] { ++stops; }};

    // The image's EXIF position: 34° 47' 50.82" N, 134° 45' 52.68" E.
    auto result = testing::legacyPrecheck(dir / "photoprism__iphone_7.heic", 34.79745, 134.76463333333334, sidecar, access);

    EXPECT_EQ(result, ProcessingResult::withinTolerance({"Latitude format: 34,47.847000N \u2192 34.79745000N",
                                                         "Longitude format: 134,45.878000E \u2192 134.76463333E"}));
    EXPECT_EQ(stops, 1);
}

TEST(CorpusSidecars, OverwritingEitherSavesAllFourPropertiesOrLeavesTheFile) {
    const auto files = corpusSidecars();
    if (files.empty())
        GTEST_SKIP() << "corpus not present";
    ScopedProcessingOptions options({false, true, true, false});
    diag::LineCapture quiet;
    int saved = 0;
    for (const auto& original : files) {
        SCOPED_TRACE(original.filename().string());
        testing::TempDir dir;
        const fs::path sidecar = dir / "IMG_0001.xmp";
        fs::copy_file(original, sidecar);
        ::chmod(sidecar.c_str(), 0644);
        const std::string before = testing::readFile(sidecar);
        ScopedAccess access{sidecar, [] {}};

        if (testing::legacyPrecheck(dir / "IMG_0001.HEIC", -33.5, 151.2, sidecar, access)) {
            EXPECT_EQ(testing::readFile(sidecar), before);
            continue;
        }
        auto outcome = testing::legacyUpdate(sidecar, -33.5, 151.2);
        if (!outcome || !outcome->written) {
            EXPECT_EQ(testing::readFile(sidecar), before);
            continue;
        }
        ++saved;
        EXPECT_FALSE(fs::exists(dir / ".IMG_0001.xmp.tmp"));
        struct stat st {};
        ::stat(sidecar.c_str(), &st);
        EXPECT_EQ(st.st_mode & 07777, 0644u);
        auto document = xmp::XmlDocument::parse(testing::readFile(sidecar));
        ASSERT_TRUE(document);
        auto description = xmp::findDescriptionElement(document.value());
        ASSERT_TRUE(description);
        EXPECT_EQ(xmp::getElementValue("exif:GPSLatitude", *description), "33.50000000S");
        EXPECT_EQ(xmp::getElementValue("exif:GPSLongitude", *description), "151.20000000E");
        EXPECT_EQ(xmp::getElementValue("exif:GPSLatitudeRef", *description), "S");
        EXPECT_EQ(xmp::getElementValue("exif:GPSLongitudeRef", *description), "E");
    }
    EXPECT_GE(saved, 4) << "the corpus holds several sidecars with GPS elements";
}

}  // namespace
}  // namespace meridane
