// Real-world sidecars from many tools, and malformed ones: each either
// parses with its description found, or fails with a clear parser error.
#include "xmp/XMPXML.h"

#include "base/Diagnostics.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace meridane::xmp {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> corpusSidecars() {
    std::vector<fs::path> files;
    const auto corpus = testing::corpusDir();
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

// Files that are not XML at all, or not well-formed.
const std::map<std::string, int> kMalformed = {
    {"exiftool__XMP2.xmp", 47},                         // control character in the xpacket PI
    {"exiv2__coverage_xmpsidecar_isXmpType.xmp", 96},   // BOM, "<?xml" and garbage
    {"exiv2__exiv2-bug1108.xmp", 4},                    // a binary .exv file
    {"exiv2__issue_1821_poc.xmp", 9},                   // not UTF-8
    {"exiv2__issue_851_poc.xmp", 9},                    // not UTF-8
};

struct Expected {
    const char* latitude;
    const char* longitude;
};

// GPS property elements that real sidecars hold (attribute forms are invisible).
const std::map<std::string, Expected> kGPSElements = {
    {"photoprism__apple-test-2.xmp", {"52.5250816", "13.369367199999999"}},
    {"photoprism__date.heic.xmp", {"47.675403333333335", "122.31739166666667"}},
    {"photoprism__iphone_7_edited.xmp", {"34,47.847000N", "134,45.878000E"}},
    {"photoprism__iphone_7.xmp", {"34,47.847000N", "134,45.878000E"}},
    {"photoprism__ladybug.xmp", {"51,15.291100N", "7,23.368100E"}},
    {"photoprism__photoshop.xmp", {"52,27.5814N", "13,19.3099E"}},
};

TEST(CorpusSidecars, ParseWithDescriptionOrFailClearly) {
    const auto files = corpusSidecars();
    if (files.empty())
        GTEST_SKIP() << "corpus not present";
    int parsed = 0;
    for (const auto& path : files) {
        SCOPED_TRACE(path.filename().string());
        const std::string name = path.filename().string();
        auto result = XmlDocument::parse(testing::readFile(path));
        if (const auto malformed = kMalformed.find(name); malformed != kMalformed.end()) {
            ASSERT_FALSE(result.ok());
            EXPECT_EQ(result.error().domain, ErrorDomain::xmlParser);
            EXPECT_EQ(result.error().code, malformed->second) << result.error().message;
            EXPECT_EQ(result.error().message.rfind("XML parse error", 0), 0u) << result.error().message;
            continue;
        }
        ASSERT_TRUE(result.ok()) << result.error().message;
        ++parsed;
        diag::LineCapture capture;
        const auto description = xmp::findDescriptionElement(result.value());
        ASSERT_TRUE(description.has_value());
        EXPECT_EQ(description->name(), "rdf:Description");

        const auto latitude = xmp::getElementValue("exif:GPSLatitude", *description);
        const auto longitude = xmp::getElementValue("exif:GPSLongitude", *description);
        if (const auto expected = kGPSElements.find(name); expected != kGPSElements.end()) {
            EXPECT_EQ(latitude, expected->second.latitude);
            EXPECT_EQ(longitude, expected->second.longitude);
            EXPECT_TRUE(capture.contains("[DEBUG] XMPXML: Found element containing GPS data"));
        } else {
            EXPECT_EQ(latitude, std::nullopt);
            EXPECT_EQ(longitude, std::nullopt);
            EXPECT_TRUE(capture.contains("[DEBUG] XMPXML: Using first Description-like element as fallback"));
        }

        // What would be saved parses again and still reads the same.
        auto document = std::move(result).value();
        auto target = *xmp::findDescriptionElement(document);
        xmp::setElementValue("37.77490000N", "exif:GPSLatitude", target);
        const auto again = XmlDocument::parse(document.serializePretty());
        ASSERT_TRUE(again.ok()) << again.error().message;
        const auto reread = xmp::findDescriptionElement(again.value());
        ASSERT_TRUE(reread.has_value());
        EXPECT_EQ(xmp::getElementValue("exif:GPSLatitude", *reread), "37.77490000N");
    }
    EXPECT_GE(parsed, 20);
}

}  // namespace
}  // namespace meridane::xmp
