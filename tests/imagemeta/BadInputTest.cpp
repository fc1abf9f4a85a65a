// Hostile and damaged input: every case ends in an absent result and its
// diagnostic lines, never in a crash, a hang or a wrong position.
#include "ImageMetaTestSupport.h"
#include "TestSupport.h"

#include "base/Diagnostics.h"
#include "imagemeta/internal/HeifExif.h"
#include "imagemeta/ImageMetadata.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace meridane::testing {
namespace {

std::string line(const std::string& text) { return "[DEBUG] " + text; }

std::vector<std::string> gpsLines(const std::filesystem::path& path) {
    diag::LineCapture lines;
    EXPECT_FALSE(readImageGPS(path));
    return lines.lines();
}

std::vector<std::string> deviceLines(const std::filesystem::path& path) {
    diag::LineCapture lines;
    EXPECT_FALSE(readDeviceData(path));
    return lines.lines();
}

// ---- Files that cannot be opened as images ----------------------------------

struct UnopenableCase {
    const char* name;
    std::function<std::filesystem::path(const TempDir&)> make;
    std::string reason;
};

void PrintTo(const UnopenableCase& c, std::ostream* os) { *os << c.name; }

const UnopenableCase kUnopenable[] = {
    {"missingFile", [](const TempDir& d) { return d / "gone.heic"; }, "No such file or directory"},
    {"folder",
     [](const TempDir& d) {
         std::filesystem::create_directory(d / "folder.heic");
         return d / "folder.heic";
     },
     "Is a directory"},
    {"emptyFile",
     [](const TempDir& d) {
         writeFile(d / "empty.heic", "");
         return d / "empty.heic";
     },
     "empty file"},
    {"fifoDoesNotBlock",
     [](const TempDir& d) {
         ::mkfifo((d / "pipe.heic").c_str(), 0600);
         return d / "pipe.heic";
     },
     "not a regular file"},
    {"text",
     [](const TempDir& d) {
         writeFile(d / "notes.heic", "These are not the pixels you are looking for.\n");
         return d / "notes.heic";
     },
     "not an image format that can be read"},
    {"xmpSidecarNamedLikeAnImage",
     [](const TempDir& d) {
         writeFile(d / "IMG.heic",
                   "<?xpacket begin=\"\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?><x:xmpmeta xmlns:x=\"adobe:ns:meta/\">"
                   "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"/></x:xmpmeta>"
                   "<?xpacket end=\"w\"?>");
         return d / "IMG.heic";
     },
     "not an image format that can be read"},
    {"videoNamedLikeAnImage",
     [](const TempDir& d) {
         writeFile(d / "clip.heic", box("ftyp", std::string("isom") + std::string(4, '\0') + "isomiso2mp41") +
                                        box("moov", std::string(32, '\0')) + box("mdat", std::string(64, 'x')));
         return d / "clip.heic";
     },
     "not an image format that can be read"},
};

class UnopenableTest : public ::testing::TestWithParam<UnopenableCase> {};

TEST_P(UnopenableTest, BothOperationsSayTheSourceCannotBeCreated) {
    TempDir dir;
    auto path = GetParam().make(dir);
    const std::vector<std::string> expected = {line("Cannot read image " + path.string() + ": " + GetParam().reason),
                                               line("CGImageSourceCreateWithURL failed for " + path.string())};
    EXPECT_EQ(gpsLines(path), expected);
    EXPECT_EQ(deviceLines(path), expected);
}

INSTANTIATE_TEST_SUITE_P(Files, UnopenableTest, ::testing::ValuesIn(kUnopenable),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(BadInput, UnreadableFile) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads every file";
    TempDir dir;
    auto path = dir / "locked.heic";
    writeFile(path, "x");
    std::filesystem::permissions(path, std::filesystem::perms::none);
    EXPECT_EQ(gpsLines(path), (std::vector<std::string>{line("Cannot read image " + path.string() +
                                                             ": Permission denied"),
                                                        line("CGImageSourceCreateWithURL failed for " +
                                                             path.string())}));
}

// ---- HEIF containers whose item structure is broken ---------------------------

std::string validHeic() {
    HeifFile file = encodedHeifWithoutExif();
    addExif(file, 10, exifItemPayload(tiffWithGps(10, "N", 20, "E")), file.primary);
    return buildHeif(file);
}

std::size_t find(const std::string& data, const std::string& type) {
    auto pos = data.find(type);
    EXPECT_NE(pos, std::string::npos) << type;
    return pos - 4;  // the box's start
}

void putU32(std::string& data, std::size_t pos, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        data[pos + static_cast<std::size_t>(i)] = static_cast<char>((value >> (24 - 8 * i)) & 0xFF);
}

/// Renames a box so that the walk no longer finds it.
std::string without(const std::string& type) {
    std::string data = validHeic();
    data.replace(find(data, type) + 4, 4, "skip");
    return data;
}

struct StructureCase {
    const char* name;
    std::function<std::string()> make;
    std::string reason;
};

void PrintTo(const StructureCase& c, std::ostream* os) { *os << c.name; }

const StructureCase kBrokenStructure[] = {
    {"onlyTheTypeBox", [] { return validHeic().substr(0, find(validHeic(), "meta")); }, "no 'meta' box"},
    {"noMeta", [] { return without("meta"); }, "no 'meta' box"},
    {"metaSizeBeyondTheFile",
     [] {
         std::string d = validHeic();
         putU32(d, find(d, "meta"), 0x7FFFFFFF);
         return d;
     },
     "box 'meta' at offset 28 extends past the end of the file"},
    {"metaLargeSizeOverflows",
     [] {
         std::string d = validHeic();
         std::size_t meta = find(d, "meta");
         putU32(d, meta, 1);
         // A 64-bit size that wraps the offset round to the file's start.
         d.insert(meta + 8, std::string("\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xF0", 8));
         return d;
     },
     "box 'meta' at offset 28 extends past the end of the file"},
    {"boxSmallerThanItsHeader",
     [] {
         std::string d = validHeic();
         putU32(d, find(d, "meta"), 4);
         return d;
     },
     "box 'meta' at offset 28 in the file is smaller than its header"},
    {"childPastTheEndOfMeta",
     [] {
         std::string d = validHeic();
         putU32(d, find(d, "iinf"), 0x10000);
         return d;
     },
     "box 'iinf' at offset 163 extends past the end of 'meta'"},
    {"truncatedInsideMeta", [] { return validHeic().substr(0, 200); },
     "box 'meta' at offset 28 extends past the end of the file"},
    {"noPrimaryItem", [] { return without("pitm"); }, "no primary item ('pitm' box)"},
    {"noItemList", [] { return without("iinf"); }, "no item list ('iinf' box)"},
    {"noItemLocations", [] { return without("iloc"); }, "no item locations ('iloc' box)"},
    {"primaryItemNotListed",
     [] {
         std::string d = validHeic();
         d[find(d, "pitm") + 13] = 77;
         return d;
     },
     "primary item 77 is not in the item list"},
    {"unknownIlocVersion",
     [] {
         std::string d = validHeic();
         d[find(d, "iloc") + 8] = 3;
         return d;
     },
     "'iloc' box of unknown version 3"},
    {"ilocFieldSizeNotAllowed",
     [] {
         std::string d = validHeic();
         d[find(d, "iloc") + 12] = 0x54;
         return d;
     },
     "'iloc' box with a field size other than 0, 4 or 8"},
    {"ilocItemCountBeyondItsEntries",
     [] {
         std::string d = validHeic();
         std::size_t iloc = find(d, "iloc");
         // Claim 65535 entries; the Exif item's entry comes before the end.
         d[iloc + 14] = '\xFF';
         d[iloc + 15] = '\xFF';
         return d;
     },
     ""},
    {"truncatedItemReferences",
     [] {
         std::string d = validHeic();
         std::size_t iref = find(d, "iref");
         // The last reference box claims more targets than the box holds.
         std::size_t cdsc = d.find("cdsc", iref);
         d[cdsc + 6] = 0x20;
         return d;
     },
     "truncated reference in 'iref' box"},
};

class BrokenStructureTest : public ::testing::TestWithParam<StructureCase> {};

TEST_P(BrokenStructureTest, NoPropertiesWithTheReason) {
    const StructureCase& c = GetParam();
    TempDir dir;
    auto path = dir / "IMG_0001.HEIC";
    writeFile(path, c.make());
    if (c.reason.empty()) {
        // Damage that the walk tolerates: the item it needs is found first.
        diag::LineCapture quiet;
        EXPECT_TRUE(readImageGPS(path));
        return;
    }
    const std::string reasonLine = line("Image structure of IMG_0001.HEIC unreadable: " + c.reason);
    EXPECT_EQ(gpsLines(path), (std::vector<std::string>{reasonLine, line("No properties for IMG_0001.HEIC")}));
    EXPECT_EQ(deviceLines(path),
              (std::vector<std::string>{reasonLine,
                                        line("CGImageSourceCopyPropertiesAtIndex returned nil for IMG_0001.HEIC")}));
}

INSTANTIATE_TEST_SUITE_P(Containers, BrokenStructureTest, ::testing::ValuesIn(kBrokenStructure),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Containers whose Exif item alone is damaged -----------------------------

struct ExifDamageCase {
    const char* name;
    std::function<void(HeifFile&)> damage;
    std::string reason;  ///< the text after "Exif of IMG_0001.HEIC unreadable: "; a prefix for Exiv2's own
};

void PrintTo(const ExifDamageCase& c, std::ostream* os) { *os << c.name; }

HeifItem& exifItem(HeifFile& file) {
    for (auto& item : file.items)
        if (item.type == "Exif")
            return item;
    throw std::logic_error("no Exif item");
}

Bytes tiffWithBrokenOffsets(std::uint32_t ifd0) {
    Bytes tiff = tiffWithGps(1, "N", 2, "E");
    for (int i = 0; i < 4; ++i)
        tiff[4 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(ifd0 >> (8 * i));  // little-endian
    return tiff;
}

const ExifDamageCase kExifDamage[] = {
    {"extentBeyondTheFile", [](HeifFile& f) { exifItem(f).claimedOffset = 1u << 30; },
     "Exif item extent lies beyond the end of the file"},
    {"lengthBeyondTheFile", [](HeifFile& f) { exifItem(f).claimedLength = 0xFFFFFF00u; },
     "Exif item extent lies beyond the end of the file"},
    {"constructionMethodTwo", [](HeifFile& f) { exifItem(f).claimedConstructionMethod = 2; },
     "Exif item with construction method 2 is not supported"},
    {"dataInAnotherFile", [](HeifFile& f) { exifItem(f).claimedDataReference = 1; },
     "Exif item stored in another file"},
    {"tiffHeaderOffsetPastTheEnd",
     [](HeifFile& f) {
         auto& data = exifItem(f).data;
         data[0] = 0x7F;
     },
     "Exif item's TIFF header offset 2130706438 points past its end"},
    {"itemShorterThanItsOffsetField", [](HeifFile& f) { exifItem(f).data = {0, 0}; },
     "Exif item shorter than its header offset"},
    {"noTiffHeader", [](HeifFile& f) { exifItem(f).data = exifItemPayload(Bytes(64, 0x41)); },
     "Exif item holds no TIFF header"},
    {"brokenFirstDirectoryOffset",
     [](HeifFile& f) { exifItem(f).data = exifItemPayload(tiffWithBrokenOffsets(0xFFFFFF00u)); }, "Exiv2: "},
};

class ExifDamageTest : public ::testing::TestWithParam<ExifDamageCase> {};

TEST_P(ExifDamageTest, PropertiesWithoutExif) {
    const ExifDamageCase& c = GetParam();
    HeifFile file = encodedHeifWithoutExif();
    addExif(file, 10, exifItemPayload(tiffWithGps(10, "N", 20, "E")), file.primary);
    c.damage(file);
    TempDir dir;
    auto path = dir / "IMG_0001.HEIC";
    writeFile(path, buildHeif(file));
    auto gps = gpsLines(path);
    ASSERT_EQ(gps.size(), 2u);
    EXPECT_EQ(gps[0].rfind(line("Exif of IMG_0001.HEIC unreadable: " + c.reason), 0), 0u) << gps[0];
    EXPECT_EQ(gps[1], line("No GPS dictionary for IMG_0001.HEIC"));
    diag::LineCapture lines;
    EXPECT_EQ(readDeviceData(path), (DeviceData{}));
    ASSERT_EQ(lines.lines().size(), 2u);
    EXPECT_EQ(lines.lines()[0], gps[0]);
    EXPECT_EQ(lines.lines()[1], line("IMG_0001.HEIC Device: make=nil model=nil software=nil"));
}

INSTANTIATE_TEST_SUITE_P(Items, ExifDamageTest, ::testing::ValuesIn(kExifDamage),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(BadInput, ExifItemBeyondTheSizeLimitIsNotRead) {
    HeifFile file = encodedHeifWithoutExif();
    Bytes payload = exifItemPayload(tiffWithGps(10, "N", 20, "E"));
    payload.resize(imagemeta::kMaxExifSize + 1, 0);
    addExif(file, 10, payload, file.primary);
    TempDir dir;
    writeFile(dir / "IMG_0001.HEIC", buildHeif(file));
    EXPECT_EQ(gpsLines(dir / "IMG_0001.HEIC"),
              (std::vector<std::string>{line("Exif of IMG_0001.HEIC unreadable: Exif item larger than 4194304 bytes"),
                                        line("No GPS dictionary for IMG_0001.HEIC")}));
}

TEST(BadInput, BrokenGpsDirectoryOffsetLeavesTheCameraReadable) {
    Bytes tiff = tiffWithGps(10, "N", 20, "E");
    // Point the GPS directory (IFD0 tag 0x8825) past the end of the block.
    bool patched = false;
    std::uint16_t entries = static_cast<std::uint16_t>(tiff[8] | (tiff[9] << 8));
    for (std::size_t e = 0; e < entries; ++e) {
        std::size_t pos = 10 + 12 * e;
        if (tiff[pos] == 0x25 && tiff[pos + 1] == 0x88) {
            tiff[pos + 8] = tiff[pos + 9] = tiff[pos + 10] = 0xEE;
            patched = true;
        }
    }
    ASSERT_TRUE(patched);
    HeifFile file = encodedHeifWithoutExif();
    addExif(file, 10, exifItemPayload(tiff), file.primary);
    TempDir dir;
    auto path = dir / "IMG_0001.HEIC";
    writeFile(path, buildHeif(file));
    diag::LineCapture lines;
    EXPECT_FALSE(readImageGPS(path));
    auto device = readDeviceData(path);
    ASSERT_TRUE(device);
    EXPECT_EQ(device->make, "Apple");
}

TEST(BadInput, ManyTopLevelBoxesAreNotWalkedForever) {
    std::string data = validHeic();
    std::string padding;
    for (int i = 0; i < 5000; ++i)
        padding += box("free", "");
    data.insert(find(data, "meta"), padding);
    TempDir dir;
    writeFile(dir / "IMG_0001.HEIC", data);
    EXPECT_EQ(gpsLines(dir / "IMG_0001.HEIC"),
              (std::vector<std::string>{line("Image structure of IMG_0001.HEIC unreadable: too many top-level boxes"),
                                        line("No properties for IMG_0001.HEIC")}));
}

TEST(BadInput, EveryTruncationEndsCleanly) {
    const std::string data = validHeic();
    TempDir dir;
    auto path = dir / "IMG_0001.HEIC";
    diag::LineCapture quiet;
    for (std::size_t length = 0; length < data.size(); ++length) {
        writeFile(path, data.substr(0, length));
        auto position = readImageGPS(path);
        readDeviceData(path);
        // Only a cut inside the picture data may leave the position readable.
        if (position) {
            EXPECT_NEAR(position->latitude, 10, 1e-9) << length;
            EXPECT_NEAR(position->longitude, 20, 1e-9) << length;
        }
    }
}

TEST(BadInput, RandomDamageEndsCleanly) {
    const std::string original = validHeic();
    std::mt19937 random(20240611);
    TempDir dir;
    auto path = dir / "IMG_0001.HEIC";
    diag::LineCapture quiet;
    for (int round = 0; round < 400; ++round) {
        std::string data = original;
        int flips = 1 + static_cast<int>(random() % 4);
        for (int i = 0; i < flips; ++i)
            data[random() % data.size()] = static_cast<char>(random());
        writeFile(path, data);
        readImageGPS(path);
        readDeviceData(path);
    }
    SUCCEED();  // reaching here without a crash, hang or sanitizer report is the test
}

}  // namespace
}  // namespace meridane::testing
