// SPDX-License-Identifier: GPL-3.0-or-later
// The reader on generated, fixture, corpus and hostile images, judged by libheif (Exif bytes) and
// ExifTool (values). Each file may cost 256 reads of 4 MiB in all and 32 MiB of heap (counted here).
#include "ImageBuilder.h"
#include "TestSupport.h"

#include "base/Diagnostics.h"
#include "imagemeta/ImageMetadata.h"
#include "imagemeta/internal/BlockBytes.h"
#include "imagemeta/internal/HeifExif.h"

#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>
#include <libheif/heif.h>

#include <atomic>
#include <cmath>
#include <functional>
#include <malloc.h>
#include <map>
#include <memory>

static std::atomic<bool> g_counting{false};
static std::atomic<std::int64_t> g_live{0}, g_peak{0};

void* operator new(std::size_t size) {
    void* p = std::malloc(size ? size : 1);
    if (!p)
        throw std::bad_alloc();
    std::int64_t live = g_counting ? g_live += static_cast<std::int64_t>(malloc_usable_size(p)) : 0;
    for (std::int64_t peak = g_peak; live > peak && !g_peak.compare_exchange_weak(peak, live);) {
    }
    return p;
}
void operator delete(void* p) noexcept {
    if (p && g_counting)
        g_live -= static_cast<std::int64_t>(malloc_usable_size(p));
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size ? size : 1); }

namespace meridane::testing {
namespace {

struct Reading {
    std::vector<std::string> cameraLines, lines;  ///< of each reading
    std::optional<DeviceData> device;
    std::optional<Coordinate> position;
    ReadStats stats;
};

/// Both readings as the pipeline takes them, held to the bounds.
Reading readWithinBounds(const std::filesystem::path& path) {
    Reading reading;
    g_live = g_peak = 0;
    g_counting = true;
    {
        ImageMetadataReader reader(path, &reading.stats);
        diag::LineCapture cameraLines;
        reading.device = reader.deviceData();
        reading.cameraLines = cameraLines.lines();
        diag::LineCapture lines;
        reading.position = reader.position();
        reading.lines = lines.lines();
    }
    g_counting = false;
    EXPECT_LE(reading.stats.readCalls, 256u);
    EXPECT_LE(reading.stats.bytesRead, 4u << 20);
    EXPECT_LT(g_peak, 32 << 20);
    EXPECT_GT(g_peak, 0);  // the counter sees at least the reader's buffers
    return reading;
}

HeifFile withExif(const Bytes& tiff, HeifFile file = {}) {
    addExif(file, 2, exifItemPayload(tiff), 1);
    return file;
}

/// The image as a DNG, in an HEIC's Exif item and in a JPEG's Exif segment.
std::map<std::string, Bytes> containers(const TiffImage& image) {
    const Bytes tiff = buildTiff(image);
    const Bytes jpeg = "\xFF\xD8\xFF\xE0" + bigEndian(8, 2) + Bytes("JFIF\0\1", 6) + "\xFF\xE1" +
                       bigEndian(8 + tiff.size(), 2) + Bytes("Exif\0\0", 6) + tiff + "\xFF\xDA" + bigEndian(2, 2);
    return {{".dng", tiff}, {".heic", buildHeif(withExif(tiff))}, {".jpg", jpeg}};
}

TiffEntry text(std::uint16_t tag, std::string_view value) { return asciiEntry(tag, value); }
TiffEntry number(std::uint16_t tag, std::vector<double> values, std::uint16_t type = tiff::rational) {
    return numberEntry(tag, type, std::move(values));
}

std::vector<std::string> debugLines(std::vector<std::string> lines) {
    for (std::string& line : lines)
        line = "[DEBUG] " + line;
    return lines;
}

struct Case {
    const char* name;
    std::vector<TiffEntry> gps;
    std::optional<Coordinate> expected;
    std::vector<std::string> lines = {};  ///< when given, all the position's lines, without "[DEBUG] "
    bool exifToolAgrees = true;           ///< false where the reading rules differ from ExifTool's
    std::vector<TiffEntry> ifd0 = cameraTiff().ifd0, exif = {};
    const char* device = "make=Apple model=iPhone 15 Pro software=17.4";  ///< the camera line's end
};

const double k375136 = 37.0 + 30.0 / 60 + 36.0 / 3600;
const Case kCases[] = {
    {"southAndWest", {text(1, "S"), number(2, {37, 1, 30, 1, 36, 1}), text(3, "W"), number(4, {122, 1, 15, 1, 0, 1})},
     Coordinate{-k375136, -122.25}, {"IMG_0001.HEIC GPS: lat=-37.51 (S) lon=-122.25 (W)"}},
    {"lowerCaseReferences", {text(1, "s"), number(2, {37, 1, 30, 1}), text(3, "w"), number(4, {1, 1})},
     Coordinate{-37.5, -1}},
    {"paddedReference", {text(1, "S "), number(2, {37, 1, 30, 1}), text(3, "w"), number(4, {1, 1})},
     Coordinate{-37.5, -1}},
    {"otherLanguageReference", {text(1, "Sud"), number(2, {37, 1, 30, 1}), text(3, "W"), number(4, {1, 1})},
     Coordinate{-37.5, -1}},
    {"negativeStaysNegativeUnderN",  // ExifTool drops the sign of a signed rational
     {text(1, "N"), number(2, {-75, 2}, tiff::srational), number(4, {-3, 1}, tiff::srational)}, Coordinate{-37.5, -3},
     {}, false},
    {"southNegatesTheMagnitude", {text(1, "S"), number(2, {-75, 2}, tiff::srational), number(4, {3, 1})},
     Coordinate{-37.5, 3}, {}, false},
    {"noReferencesOneRational", {number(2, {10, 1, 0, 1, 0, 1}), number(4, {41, 2})}, Coordinate{10, 20.5}},
    {"referencesNotALetterOrSpelledOut",
     {number(1, {83}, tiff::byte), number(2, {10, 1}), text(3, "West"), number(4, {20, 1})}, Coordinate{10, -20}},
    {"dividedInDoublePrecision", {number(2, {1234567891, 100000000}), number(4, {987654321, 100000000})},
     Coordinate{12.34567891, 9.87654321}},
    {"doubles", {number(2, {37.5}, tiff::doubleType), number(4, {-122.4194}, tiff::doubleType)},
     Coordinate{37.5, -122.4194}, {}, false},
    {"textWithCommaAndSpaces", {text(2, "37,5"), text(3, "W"), text(4, " 12 ")}, Coordinate{37.5, -12}, {}, false},
    {"textInDegreesMinutesSeconds", {text(2, "37 deg 30' 36\""), text(4, "1.5")}, Coordinate{k375136, 1.5},
     {"Parsed DMS 37 deg 30' 36\" as 37.51", "IMG_0001.HEIC GPS: lat=37.51 (N) lon=1.5 (E)"}},
    {"degInCapitals", {text(2, "37 DEG 30' 36\""), text(4, "1.5")}, std::nullopt, {}, false},
    {"latitudeWithoutLongitude", {number(0, {2, 2, 0, 0}, tiff::byte), rawEntry(1, tiff::undefined, 2, "N"),
                                  number(2, {37, 1, 30, 1})}, std::nullopt,
     {"GPS lat/lon missing or unparsable in IMG_0001.HEIC",
      "GPS dictionary contents: {GPSVersionID = (2, 2, 0, 0); GPSLatitudeRef = <Undefined, 2 bytes>; "
      "GPSLatitude = (37/1, 30/1)}"}},
    {"zeroDenominators", {number(2, {0, 0, 0, 0, 0, 0}), number(4, {0, 0, 0, 0, 0, 0})}, std::nullopt,
     {"GPS position of IMG_0001.HEIC is not a place on Earth (latitude is not a finite number): lat=nan lon=nan"}},
    {"latitudeBeyond90", {text(1, "S"), number(2, {91, 1}), number(4, {1, 1})}, std::nullopt,
     {"GPS position of IMG_0001.HEIC is not a place on Earth (latitude beyond ±90): lat=-91.0 lon=1.0"}},
    {"polesAndDateLine", {text(1, "S"), number(2, {90, 1}), text(3, "W"), number(4, {180, 1})}, Coordinate{-90, -180}},
    {"cameraFromExifDirectory", {}, std::nullopt, {"No GPS dictionary for IMG_0001.HEIC"}, true,
     {text(0x110, "iPad Air")}, {text(0x10F, "Apple")}, "make=Apple model=iPad Air software=nil"},
    {"cameraFromIfd0First", {}, std::nullopt, {}, false, {text(0x10F, "Canon")},
     {text(0x10F, "Apple"), text(0x110, "iPhone"), text(0x131, "Photos")}, "make=Canon model=iPhone software=Photos"},
    {"cameraTextsAsRecorded", {}, std::nullopt, {}, false,  // up to the first NUL; not UTF-8: Latin-1
     {number(0x10F, {65}, tiff::shortType), rawEntry(0x110, tiff::ascii, 8, Bytes("Air\0junk", 8)),
      text(0x131, "Caf\xE9 ")}, {}, "make=nil model=Air software=Café "},
};

/// Each case in each byte order and container; the fixtures and the corpus (no case: ExifTool decides).
std::vector<std::pair<const Case*, std::filesystem::path>> writeEveryCase(const TempDir& dir) {
    std::vector<std::pair<const Case*, std::filesystem::path>> files;
    for (const Case& c : kCases) {
        for (bool bigEndian : {false, true}) {
            for (const auto& [container, bytes] : containers({bigEndian, c.ifd0, c.exif, c.gps, 0})) {
                const auto folder = dir / (std::string(c.name) + (bigEndian ? "-bigEndian" : "") + container);
                std::filesystem::create_directory(folder);
                files.emplace_back(&c, folder / "IMG_0001.HEIC");  // the reader goes by content
                writeFile(files.back().second, bytes);
            }
        }
    }
    const auto corpus = corpusDir().value_or(dir.path());
    std::error_code ec;
    for (const auto& folder : {testDataDir() / "imagemeta", corpus / "heic", corpus / "dng", corpus / "odd"})
        for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
            if (std::string ext = entry.path().extension().string(); ext != ".xmp" && ext != ".sh" && ext != ".md")
                files.emplace_back(nullptr, entry.path());
    return files;
}

std::optional<Bytes> libheifPrimaryExif(const std::filesystem::path& path) {
    std::unique_ptr<heif_context, decltype(&heif_context_free)> context(heif_context_alloc(), heif_context_free);
    heif_image_handle* handle = nullptr;
    heif_item_id id = 0;
    std::optional<Bytes> bytes;
    if (heif_context_read_from_file(context.get(), path.c_str(), nullptr).code == heif_error_Ok &&
        heif_context_get_primary_image_handle(context.get(), &handle).code == heif_error_Ok &&
        heif_image_handle_get_list_of_metadata_block_IDs(handle, "Exif", &id, 1) == 1) {
        bytes.emplace(heif_image_handle_get_metadata_size(handle, id), '\0');
        if (heif_image_handle_get_metadata(handle, id, bytes->data()).code != heif_error_Ok)
            bytes.reset();
    }
    heif_image_handle_release(handle);
    return bytes;
}

/// The primary image's Exif item as the walk locates it, read extent by extent.
std::optional<Bytes> walkedPrimaryExif(const std::filesystem::path& path) {
    auto file = imagemeta::ImageFile::open(path);
    std::vector<std::uint8_t> bytes;
    if (!file || !file->readAt(0, std::min<std::uint64_t>(file->size(), imagemeta::kHeadSize), bytes))
        return std::nullopt;
    auto lookup = imagemeta::findPrimaryExif(file.value(), bytes);
    if (!lookup || !lookup->exifItem)
        return std::nullopt;
    imagemeta::BlockBytes item(file.value(), {}, *lookup->exifItem);
    const bool read = item.read(0, static_cast<std::size_t>(item.size()), bytes).ok();
    return read ? std::optional(Bytes(bytes.begin(), bytes.end())) : std::nullopt;
}

/// ExifTool's signed degrees, make and model ("-": none) by path; none when it is not installed.
std::optional<std::map<std::string, QStringList>> readWithExifTool(const std::vector<std::filesystem::path>& files) {
    if (QStandardPaths::findExecutable("exiftool").isEmpty())
        return std::nullopt;
    QStringList arguments = {"-n", "-T", "-FilePath", "-GPSLatitude", "-GPSLongitude", "-Make", "-Model"};
    for (const auto& file : files)
        arguments << QString::fromStdString(file.string());
    QProcess exiftool;
    exiftool.start("exiftool", arguments);
    exiftool.waitForFinished(120000);
    std::map<std::string, QStringList> readings;
    for (const QString& line : QString::fromUtf8(exiftool.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts))
        readings[line.section('\t', 0, 0).toStdString()] = line.split('\t').mid(1);
    return readings;
}

TEST(ImageReader, EveryFormAndEveryRealImageReadAsExifToolAndLibheifDo) {
    TempDir dir;
    const auto files = writeEveryCase(dir);
    std::vector<std::filesystem::path> paths;
    int comparedWithLibheif = 0;
    for (const auto& [c, path] : files) {
        if (!c || c->exifToolAgrees)
            paths.push_back(path);
        if (auto expected = c ? std::nullopt : libheifPrimaryExif(path)) {  // none: no Exif, or rejected
            EXPECT_EQ(walkedPrimaryExif(path), expected) << path;
            ++comparedWithLibheif;
        }
    }
    EXPECT_GE(comparedWithLibheif, corpusDir() ? 30 : 3);  // the fixtures at least
    const auto oracle = readWithExifTool(paths);
    for (const auto& [c, path] : files) {
        SCOPED_TRACE(path.string());
        const Reading reading = readWithinBounds(path);
        if (c) {
            EXPECT_EQ(reading.cameraLines, debugLines({std::string("IMG_0001.HEIC Device: ") + c->device}));
            EXPECT_EQ(reading.position, c->expected);
            EXPECT_EQ(reading.lines, c->lines.empty() ? reading.lines : debugLines(c->lines));
        }
        if (!oracle || (c && !c->exifToolAgrees))
            continue;
        const auto found = oracle->find(std::filesystem::weakly_canonical(path).string());  // as ExifTool names it
        ASSERT_NE(found, oracle->end());
        const QStringList& expected = found->second;
        bool latitude = false, longitude = false;  // whether ExifTool found numbers
        const double lat = expected.value(0).toDouble(&latitude), lon = expected.value(1).toDouble(&longitude);
        EXPECT_EQ(reading.position.has_value(), latitude && longitude && std::fabs(lat) <= 90 && std::fabs(lon) <= 180);
        EXPECT_NEAR(reading.position.value_or(Coordinate{lat, lon}).latitude, lat, 1e-9);
        EXPECT_NEAR(reading.position.value_or(Coordinate{lat, lon}).longitude, lon, 1e-9);
        const DeviceData device = reading.device.value_or(DeviceData{});
        EXPECT_EQ(device.make.value_or("-"), expected.value(2).toStdString());
        EXPECT_EQ(device.model.value_or("-"), expected.value(3).toStdString());
    }
    if (!oracle)
        GTEST_SKIP() << "exiftool not installed (Debian: libimage-exiftool-perl): read and compared without it";
    if (!corpusDir())
        GTEST_SKIP() << "corpus not present (../shared/corpus): generated images and fixtures only";
}

/// `bytes` with the one occurrence of `from` replaced by `to`.
Bytes patched(Bytes bytes, const Bytes& from, const Bytes& to) {
    const size_t at = bytes.find(from);
    EXPECT_NE(at, Bytes::npos);
    EXPECT_EQ(bytes.find(from, at + 1), Bytes::npos) << "ambiguous patch";
    return at == Bytes::npos ? bytes : bytes.replace(at, from.size(), to);
}

// Pointers to the GPS and Exif directories may be written with the TIFF
// type IFD (13) as well as LONG: both lead to the directory.
TEST(ImageReader, DirectoryPointersOfTypeIfdAreFollowed) {
    TempDir dir;
    TiffImage image = cameraTiff({}, "iPhone 15 Pro", {});
    image.exif = {asciiEntry(0x010F, "Apple")};
    Bytes tiff = buildTiff(image);
    for (const char* pointer : {"\x25\x88", "\x69\x87"})
        tiff = patched(tiff, Bytes(pointer, 2) + Bytes("\x04\x00\x01\x00", 4), Bytes(pointer, 2) + Bytes("\x0D\x00\x01\x00", 4));
    writeFile(dir / "IMG_0001.DNG", tiff);
    const Reading reading = readWithinBounds(dir / "IMG_0001.DNG");
    ASSERT_TRUE(reading.position.has_value()) << ::testing::PrintToString(reading.lines);
    EXPECT_NEAR(reading.position->latitude, 37.7749, 1e-6);
    EXPECT_EQ(reading.device.value_or(DeviceData{}).make, std::optional<std::string>("Apple"));
}

// An 'iloc' extent of length 0 runs to the end of the file: the Exif item
// that ends the file is read whole, not taken for an empty one.
TEST(HeifContainer, AnExtentOfLengthZeroRunsToTheEndOfTheFile) {
    TempDir dir;
    HeifFile file = withExif(buildTiff(cameraTiff()));
    const Bytes exif = file.items.back().data;
    const Bytes heif = buildHeif(file);
    ASSERT_TRUE(heif.ends_with(exif)) << "the Exif item is the file's last bytes";
    const size_t iloc = heif.find("iloc");
    const size_t length = heif.find(bigEndian(exif.size(), 4), iloc);
    ASSERT_NE(length, Bytes::npos);
    Bytes toTheEnd = heif;
    toTheEnd.replace(length, 4, Bytes(4, '\0'));
    writeFile(dir / "IMG_0001.HEIC", toTheEnd);
    EXPECT_EQ(walkedPrimaryExif(dir / "IMG_0001.HEIC"), exif);
}

const HeifLayout kLayouts[] = {
    {.name = "ilocV0ExtentOffsets", .ilocVersion = 0, .baseOffsetSize = 0},
    {.name = "ilocV0BaseOffsets", .ilocVersion = 0}, {.name = "ilocV2Ids32Bit", .ilocVersion = 2},
    {.name = "ilocV1BaseOffsets"}, {.name = "ilocV1ExtentOffsets", .baseOffsets = false},
    {.name = "ilocV1ExtentIndex", .indexSize = 4, .libheifReadsIt = false},
    {.name = "ilocV1Fields64Bit", .offsetSize = 8, .lengthSize = 8, .baseOffsetSize = 8},
    {.name = "ilocV2ExtentIndex64Bit", .ilocVersion = 2, .indexSize = 8, .libheifReadsIt = false},
    {.name = "mdatBeforeMeta", .mdatFirst = true}, {.name = "largeBoxSizes", .largeSizes = true},
    {.name = "mdatSizeZero", .lastBoxSizeZero = true},
    {.name = "metaLastWithSizeZero", .mdatFirst = true, .lastBoxSizeZero = true, .libheifReadsIt = false},
};

/// A second picture (item 3, a thumbnail of item 1) with an Exif of its own.
void addOtherPicturesExif(HeifFile& file) {
    file.items.push_back({3, "hvc1", Bytes(16, 'T')});
    file.references.push_back({"thmb", 3, {1}});
    addExif(file, 9, exifItemPayload(buildTiff(cameraTiff("Other", "X", "1", std::pair{51.5, -0.12}))), 3);
}

const Bytes kExif = exifItemPayload(buildTiff(cameraTiff()));
const std::tuple<const char*, std::function<void(HeifFile&)>, bool> kPlacements[] = {  // name, place, found
    {"oneExtentInMdat", [](HeifFile& f) { addExif(f, 10, kExif, 1); }, true},
    {"twoExtentsInIdat", [](HeifFile& f) { addExif(f, 10, kExif, 1, true, 2); }, true},
    {"otherPicturesExifListedFirst", [](HeifFile& f) { addOtherPicturesExif(f); addExif(f, 10, kExif, 1); }, true},
    {"onlyAnotherPicturesExif", addOtherPicturesExif, false},
    {"describingNoPicture", [](HeifFile& f) { addExif(f, 10, kExif, 1); f.references.clear(); }, true},
    {"tiffHeaderRightAfterOffset", [](HeifFile& f) { addExif(f, 10, exifItemPayload(buildTiff(cameraTiff()), ""), 1); },
     true},
    {"offsetZeroBeforeExifPrefix",  // a writer's quirk
     [](HeifFile& f) { addExif(f, 10, exifItemPayload(Bytes("Exif\0\0", 6) + buildTiff(cameraTiff()), ""), 1); }, true},
};

TEST(HeifContainer, EveryLayoutAndPlacementGivesTheExifBytesLibheifGives) {
    TempDir dir;
    const auto path = dir / "IMG_0001.HEIC";
    for (const HeifLayout& layout : kLayouts) {
        for (const auto& [name, place, found] : kPlacements) {
            SCOPED_TRACE(layout.name + " " + name);
            HeifFile file;
            place(file);
            writeFile(path, buildHeif(file, layout));
            const std::optional<Bytes> walked = walkedPrimaryExif(path);
            EXPECT_EQ(walked, found ? std::optional(file.items.back().data) : std::nullopt);
            if (layout.libheifReadsIt && !file.references.empty()) {  // libheif skips an Exif that describes nothing
                EXPECT_EQ(walked, libheifPrimaryExif(path));
            }
            EXPECT_EQ(readWithinBounds(path).position.has_value(), found);
        }
    }
}

/// `count` items listed before the Exif item, each in `extents` extents.
Bytes manyItems(std::uint32_t count, int extents, const HeifLayout& layout = {}) {
    HeifFile file;
    for (std::uint32_t i = 0; i < count; ++i)
        file.items.push_back({1000 + i, "mime", Bytes(extents == 1 ? 1 : 0, 'x'), false, extents});
    return buildHeif(withExif(buildTiff(cameraTiff()), file), layout);
}

Bytes manyReferences(std::size_t count) {
    HeifFile file = withExif(buildTiff(cameraTiff()));
    file.references.assign(count, {"cdsc", 2, {1}});
    return buildHeif(file);
}

/// IFD0 entries that all claim the same `size` bytes as their value.
Bytes entriesSharing(std::uint32_t size) {
    TiffImage image;
    for (std::uint16_t tag = 0x100; tag < 0x100 + 250; ++tag)
        image.ifd0.push_back({tag, tiff::ascii, size - 8, {}, 8});
    return buildTiff(image);
}

const HeifLayout kZeroSizeFields{.ilocVersion = 2, .offsetSize = 0, .lengthSize = 0, .baseOffsetSize = 0};

const std::tuple<const char*, std::function<Bytes()>, const char*, std::uint64_t> kHostile[] = {
    // name, bytes, text of a line that says why, size the file is extended to (with a hole)
    {"ilocZeroSizeFields10000Items", [] { return manyItems(10000, 0xFFFF, kZeroSizeFields); },  // no bytes per extent
     "'iloc' box with several extents of an item but no extent lengths", 0},
    {"ilocZeroSizeFields60000Items", [] { return manyItems(60000, 0xFFFF, kZeroSizeFields); },
     "box 'iinf' of 1380054 bytes is too large", 0},
    {"ilocExtentsBeyondTheCap", [] { return manyItems(5000, 1); }, "'iloc' box with more than 4096 extents", 0},
    {"iref4MiB", [] { return manyReferences(300000); }, "box 'iref' of 4200004 bytes is too large", 0},
    {"irefReferencesBeyondTheCap", [] { return manyReferences(5000); }, "'iref' box with more than 4096 references", 0},
    {"tiffEntriesSharing16MB", [] { return entriesSharing(16 << 20); }, "Device: make=nil model=nil", 16 << 20},
    {"tiffGpsDirectoryIsIfd0", [] { return buildTiff({false, {{0x8825, tiff::longType, 1, {}, 8}}, {}, {}, 0}); },
     "GPS directory at offset 8 is a directory read already", 0},
    {"tiffTruncatedInTheGpsDirectory", [] { return buildTiff(cameraTiff()).substr(0, 150); },
     "GPS directory at offset 99 is cut short", 0},
    {"heicTruncatedInTheExifItem", [] { return buildHeif(withExif(buildTiff(cameraTiff()))).substr(0, 500); },
     "Exif item extent lies beyond the end of the file", 0},
    {"videoNamedLikeAnImage", [] { return box("ftyp", "isom" + bigEndian(0, 4) + "isomiso2mp41") + box("moov", ""); },
     "not an image format that can be read", 0},
    {"itemListClaimingHundredsOfMegabytes",
     [] {
         return box("ftyp", "heic" + bigEndian(0, 4) + "mif1heic") + bigEndian(600 << 20, 4) + "meta" + Bytes(4, 0) +
                box("pitm", Bytes(6, 0)) + box("iloc", "") + bigEndian(500 << 20, 4) + "iinf";
     },
     "box 'iinf' of 524287992 bytes is too large", 1 << 30},
};

TEST(HostileImages, EachEndsWithItsReasonWithinTheBounds) {
    TempDir dir;
    const auto path = dir / "IMG_0001.HEIC";
    for (const auto& [name, bytes, reason, sparseSize] : kHostile) {
        SCOPED_TRACE(name);
        writeFile(path, bytes());
        if (sparseSize)
            std::filesystem::resize_file(path, sparseSize);
        const Reading reading = readWithinBounds(path);
        EXPECT_FALSE(reading.position);
        const auto says = [why = reason](const std::string& line) { return line.find(why) != std::string::npos; };
        EXPECT_TRUE(std::any_of(reading.cameraLines.begin(), reading.cameraLines.end(), says));
    }
}

TEST(HostileImages, AFileThatShrinksOrGrowsWhileReadFailsWithTheReason) {
    TempDir dir;
    const auto path = dir / "IMG_0001.DNG";
    TiffImage image = cameraTiff();
    image.pictureBytes = 300 << 10;  // more than was read whole rather than mapped
    for (auto [size, reason] : {std::pair{4096, "the file shrank while it was read"},
                                {600 << 10, "the file changed while it was read"}}) {
        writeFile(path, buildTiff(image));
        auto file = imagemeta::ImageFile::open(path);
        ASSERT_TRUE(file);
        std::filesystem::resize_file(path, static_cast<std::uintmax_t>(size));
        EXPECT_EQ(imagemeta::readImageProperties(file.value()).problem, reason);  // no properties then
    }
}

}  // namespace
}  // namespace meridane::testing
