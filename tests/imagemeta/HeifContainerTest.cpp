// The HEIF item walk: every way a container may lay out the primary image's
// Exif item finds the same bytes, the ones libheif hands out.
#include "ImageMetaTestSupport.h"
#include "TestSupport.h"

#include "base/Diagnostics.h"
#include "imagemeta/internal/HeifExif.h"
#include "imagemeta/ImageMetadata.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <ostream>

namespace meridane::testing {
namespace {

/// The Exif item our walk finds, or the structure error text.
Result<imagemeta::HeifExifLookup> lookupExif(const std::filesystem::path& path) {
    auto file = imagemeta::ImageFile::open(path);
    if (!file)
        return file.error();
    std::vector<std::uint8_t> head;
    Status read = file->readAt(0, std::min<std::size_t>(file->size(), imagemeta::kHeadSize), head);
    if (!read)
        return read.error();
    return imagemeta::findPrimaryExif(file.value(), head);
}

HeifLayout layout(const char* name, std::function<void(HeifLayout&)> change) {
    HeifLayout l;
    l.name = name;
    change(l);
    return l;
}

const HeifLayout kLayouts[] = {
    layout("ilocV0ExtentOffsets", [](HeifLayout& l) { l.ilocVersion = 0; l.baseOffsetSize = 0; }),
    layout("ilocV0BaseOffsets", [](HeifLayout& l) { l.ilocVersion = 0; }),
    layout("ilocV1BaseOffsets", [](HeifLayout&) {}),
    layout("ilocV1ExtentOffsets", [](HeifLayout& l) { l.baseOffsets = false; }),
    layout("ilocV1ExtentIndex", [](HeifLayout& l) { l.indexSize = 4; l.libheifReadsIt = false; }),
    layout("ilocV1Fields64Bit", [](HeifLayout& l) { l.offsetSize = 8; l.lengthSize = 8; l.baseOffsetSize = 8; }),
    layout("ilocV2ExtentIndex64Bit", [](HeifLayout& l) { l.ilocVersion = 2; l.indexSize = 8; l.libheifReadsIt = false; }),
    layout("ilocV2Ids32Bit", [](HeifLayout& l) { l.ilocVersion = 2; l.infeVersion = 3; l.irefVersion = 1; }),
    layout("mdatBeforeMeta", [](HeifLayout& l) { l.mdatFirst = true; }),
    layout("largeBoxSizes", [](HeifLayout& l) { l.largeSizes = true; }),
    layout("mdatSizeZero", [](HeifLayout& l) { l.lastBoxSizeZero = true; }),
    layout("metaLastWithSizeZero", [](HeifLayout& l) { l.mdatFirst = true; l.lastBoxSizeZero = true; l.libheifReadsIt = false; }),
};

const Bytes& primaryPayload() {
    static const Bytes payload = exifItemPayload(tiffWithGps(37.7749, "N", 122.4194, "W"));
    return payload;
}

const Bytes& otherPayload() {
    static const Bytes payload = exifItemPayload(tiffWithGps(51.5, "N", 0.12, "W"));
    return payload;
}

struct Placement {
    const char* name;
    std::function<void(HeifFile&)> place;
    std::optional<Bytes> expectedItem;
    bool libheifAttachesIt = true;  ///< libheif ignores an Exif item that describes no image
};

// heif-enc's fixture: item 1 is the coded tile, item 2 the primary grid.
const Placement kPlacements[] = {
    {"oneExtentInMdat", [](HeifFile& f) { addExif(f, 10, primaryPayload(), f.primary); }, primaryPayload()},
    {"threeExtentsInMdat", [](HeifFile& f) { addExif(f, 10, primaryPayload(), f.primary, false, 3); }, primaryPayload()},
    {"inIdat", [](HeifFile& f) { addExif(f, 10, primaryPayload(), f.primary, true); }, primaryPayload()},
    {"twoExtentsInIdat", [](HeifFile& f) { addExif(f, 10, primaryPayload(), f.primary, true, 2); }, primaryPayload()},
    {"otherImagesExifListedFirst",
     [](HeifFile& f) {
         addExif(f, 9, otherPayload(), 1);
         addExif(f, 10, primaryPayload(), f.primary);
     },
     primaryPayload()},
    {"onlyAnotherImagesExif", [](HeifFile& f) { addExif(f, 9, otherPayload(), 1); }, std::nullopt},
    {"exifDescribingNoImage",
     [](HeifFile& f) {
         addExif(f, 10, primaryPayload(), f.primary);
         f.references.pop_back();
     },
     primaryPayload(), false},
    {"tiffHeaderRightAfterOffset",
     [](HeifFile& f) { addExif(f, 10, exifItemPayload(tiffWithGps(37.7749, "N", 122.4194, "W"), ""), f.primary); },
     exifItemPayload(tiffWithGps(37.7749, "N", 122.4194, "W"), "")},
};

void PrintTo(const Placement& p, std::ostream* os) { *os << p.name; }

class HeifContainerTest : public ::testing::TestWithParam<std::tuple<HeifLayout, Placement>> {
protected:
    std::filesystem::path write() {
        const auto& [layout, placement] = GetParam();
        HeifFile file = encodedHeifWithoutExif();
        placement.place(file);
        auto path = dir_ / "IMG_0001.HEIC";
        writeFile(path, buildHeif(file, layout));
        return path;
    }
    TempDir dir_;
    diag::LineCapture quiet_;
};

// One test per layout and placement: the walk finds the primary image's
// Exif item, libheif agrees on its bytes, and the position reads right.
TEST_P(HeifContainerTest, FindsThePrimaryImagesExif) {
    const auto& [layout, placement] = GetParam();
    auto path = write();
    auto lookup = lookupExif(path);
    ASSERT_TRUE(lookup) << lookup.error().message;
    EXPECT_EQ(lookup->exifProblem, "");
    EXPECT_EQ(lookup->exifItem, placement.expectedItem);
    if (placement.libheifAttachesIt && layout.libheifReadsIt) {
        EXPECT_EQ(lookup->exifItem, libheifPrimaryExif(path)) << "libheif's bytes differ";
    }

    auto position = readImageGPS(path);
    ASSERT_EQ(position.has_value(), placement.expectedItem.has_value());
    if (position) {
        EXPECT_NEAR(position->latitude, 37.7749, 1e-9);
        EXPECT_NEAR(position->longitude, -122.4194, 1e-9);
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, HeifContainerTest,
                         ::testing::Combine(::testing::ValuesIn(kLayouts), ::testing::ValuesIn(kPlacements)),
                         [](const auto& info) {
                             return std::get<0>(info.param).name + "_" + std::get<1>(info.param).name;
                         });

TEST(HeifContainer, WriterQuirkOffsetZeroBeforeExifPrefixIsSkipped) {
    Bytes tiff = tiffWithGps(1.5, "S", 2.5, "E");
    std::string text = std::string(4, '\0') + std::string("Exif\0\0", 6) + asString(tiff);
    const Bytes payload(text.begin(), text.end());
    auto block = imagemeta::tiffBlockOfExifItem(payload);
    ASSERT_TRUE(block) << block.error().message;
    EXPECT_EQ(Bytes(block->begin(), block->end()), tiff);
}

TEST(HeifContainer, BrandsDecideWhatIsHeif) {
    auto ftyp = [](const std::string& major, const std::string& compatible) {
        std::string b = box("ftyp", major + std::string(4, '\0') + compatible);
        return Bytes(b.begin(), b.end());
    };
    EXPECT_TRUE(imagemeta::isHeifFile(ftyp("heic", "mif1heic")));
    EXPECT_TRUE(imagemeta::isHeifFile(ftyp("heix", "")));
    EXPECT_TRUE(imagemeta::isHeifFile(ftyp("isom", "mif1")));  // brand found among the compatible ones
    EXPECT_TRUE(imagemeta::isHeifFile(ftyp("avif", "mif1miaf")));
    EXPECT_FALSE(imagemeta::isHeifFile(ftyp("isom", "iso2mp41")));  // a video
    EXPECT_FALSE(imagemeta::isHeifFile(ftyp("qt  ", "qt  ")));
    EXPECT_FALSE(imagemeta::isHeifFile(ftyp("crx ", "")));
    // The minor version is no brand.
    std::string minorOnly = box("ftyp", "isom" + std::string("heic") + "mp41");
    EXPECT_FALSE(imagemeta::isHeifFile(Bytes(minorOnly.begin(), minorOnly.end())));
    EXPECT_FALSE(imagemeta::isHeifFile(Bytes{0xFF, 0xD8, 0xFF, 0xE0}));
}

/// Every HEIF fixture and every readable HEIF of the corpus: our walk and
/// libheif agree on the primary image's Exif bytes.
std::vector<std::filesystem::path> heifFiles() {
    std::vector<std::filesystem::path> files;
    auto collect = [&files](const std::filesystem::path& dir) {
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
            std::string ext = entry.path().extension().string();
            std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
            if (ext == ".heic" || ext == ".heif" || ext == ".hif")
                files.push_back(entry.path());
        }
    };
    collect(testDataDir() / "imagemeta");
    if (auto corpus = corpusDir()) {
        collect(*corpus / "heic");
        collect(*corpus / "odd");
    }
    std::sort(files.begin(), files.end());
    return files;
}

TEST(HeifContainer, SameExifBytesAsLibheifForRealFiles) {
    int compared = 0;
    for (const auto& path : heifFiles()) {
        auto expected = libheifPrimaryExif(path);
        auto lookup = lookupExif(path);
        if (!expected)  // no Exif, or a file libheif rejects as damaged
            continue;
        ASSERT_TRUE(lookup) << path << ": " << lookup.error().message;
        EXPECT_EQ(lookup->exifItem, expected) << path;
        ++compared;
    }
    EXPECT_GE(compared, 4);
}

}  // namespace
}  // namespace meridane::testing
