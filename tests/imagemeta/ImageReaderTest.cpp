// readImageGPS and readDeviceData: the position and camera identity, and the
// exact diagnostic lines, for every form the metadata can take.
#include "ImageMetaTestSupport.h"
#include "TestSupport.h"

#include "base/Diagnostics.h"
#include "base/NumberText.h"
#include "imagemeta/ImageMetadata.h"
#include "imagemeta/ReadStats.h"

#include <exiv2/exiv2.hpp>
#include <gtest/gtest.h>

#include <functional>
#include <ostream>

namespace meridane::testing {
namespace {

using Fill = std::function<void(Exiv2::ExifData&)>;

void put(Exiv2::ExifData& exif, const char* key, Exiv2::TypeId type, const std::string& text) {
    auto value = Exiv2::Value::create(type);
    value->read(text);
    exif.add(Exiv2::ExifKey(key), value.get());
}

Fill gps(Exiv2::TypeId latType, std::string lat, std::string latRef, Exiv2::TypeId lonType, std::string lon,
         std::string lonRef) {
    return [=](Exiv2::ExifData& exif) {
        if (!latRef.empty())
            put(exif, "Exif.GPSInfo.GPSLatitudeRef", Exiv2::asciiString, latRef);
        put(exif, "Exif.GPSInfo.GPSLatitude", latType, lat);
        if (!lonRef.empty())
            put(exif, "Exif.GPSInfo.GPSLongitudeRef", Exiv2::asciiString, lonRef);
        put(exif, "Exif.GPSInfo.GPSLongitude", lonType, lon);
    };
}

Fill rationals(std::string lat, std::string latRef, std::string lon, std::string lonRef) {
    return gps(Exiv2::unsignedRational, lat, latRef, Exiv2::unsignedRational, lon, lonRef);
}

/// An HEIC as heif-enc writes it, with an Exif item holding what `fill` adds.
std::filesystem::path writeHeic(const TempDir& dir, const Fill& fill, const std::string& name = "IMG_0001.HEIC") {
    HeifFile file = encodedHeifWithoutExif();
    addExif(file, 10, exifItemPayload(encodeTiff(fill)), file.primary);
    auto path = dir / name;
    writeFile(path, buildHeif(file));
    return path;
}

std::string line(const std::string& text) { return "[DEBUG] " + text; }

struct GpsCase {
    const char* name;
    Fill fill;
    std::optional<Coordinate> expected;
    std::vector<std::string> lines;
};

void PrintTo(const GpsCase& c, std::ostream* os) { *os << c.name; }

std::string gpsLine(double lat, double lon) {
    return line(std::string("IMG_0001.HEIC GPS: lat=") + formatDiagnosticDouble(lat) + " (" + (lat < 0 ? "S" : "N") +
                ") lon=" + formatDiagnosticDouble(lon) + " (" + (lon >= 0 ? "E" : "W") + ")");
}

GpsCase found(const char* name, Fill fill, double lat, double lon, std::vector<std::string> before = {}) {
    before.push_back(gpsLine(lat, lon));
    return GpsCase{name, std::move(fill), Coordinate{lat, lon}, std::move(before)};
}

const std::string kMissing = line("GPS lat/lon missing or unparsable in IMG_0001.HEIC");
const std::string kDump = line("GPS dictionary contents: ");

const double k375136 = 37.0 + 30.0 / 60 + 36.0 / 3600;

const GpsCase kGpsCases[] = {
    found("southernLatitudeIsNegated", rationals("37/1 30/1 0/1", "S", "122/1 0/1 0/1", "E"), -37.5, 122.0),
    found("westernLongitudeIsNegated", rationals("37/1 30/1 0/1", "N", "122/1 25/1 984/100", "W"), 37.5,
          -(122.0 + 25.0 / 60 + 9.84 / 3600)),
    found("lowerCaseReferenceCounts", rationals("37/1 30/1 0/1", "s", "1/1 0/1 0/1", "w"), -37.5, -1.0),
    found("negativeValueStaysNegativeUnderN",
          gps(Exiv2::signedRational, "-75/2", "N", Exiv2::signedRational, "-3/1", "E"), -37.5, -3.0),
    found("unknownReferenceLeavesTheValue", rationals("10/1 0/1 0/1", "X", "20/1 0/1 0/1", "South"), 10.0, 20.0),
    found("referenceOfWrongTypeIsIgnored",
          [](Exiv2::ExifData& exif) {
              put(exif, "Exif.GPSInfo.GPSLatitudeRef", Exiv2::unsignedShort, "83");
              rationals("10/1 0/1 0/1", "", "20/1 0/1 0/1", "E")(exif);
          },
          10.0, 20.0),
    found("noReferencesKeepTheValues", rationals("10/1 0/1 0/1", "", "20/1 0/1 0/1", ""), 10.0, 20.0),
    found("threeRationals", rationals("37/1 30/1 36/1", "N", "0/1 0/1 36/1", "E"), k375136, 0.01),
    found("twoRationals", rationals("37/1 30/1", "N", "1/1 30/1", "E"), 37.5, 1.5),
    found("oneRational", rationals("375/10", "N", "15/10", "E"), 37.5, 1.5),
    found("rationalsDividedInDoublePrecision", rationals("1234567891/100000000", "N", "987654321/100000000", "E"),
          12.34567891, 9.87654321),
    found("doubles", gps(Exiv2::tiffDouble, "37.5", "N", Exiv2::tiffDouble, "-122.4194", ""), 37.5, -122.4194),
    found("textWithComma", gps(Exiv2::asciiString, "37,5", "N", Exiv2::asciiString, "122,25", "W"), 37.5, -122.25),
    found("textWithSurroundingSpaces", gps(Exiv2::asciiString, " 12 ", "N", Exiv2::asciiString, "\n7\n", "E"), 12.0,
          7.0),
    found("textInDegreesMinutesSeconds",
          gps(Exiv2::asciiString, "37 deg 30' 36\"", "N", Exiv2::asciiString, "1.5", "E"), k375136, 1.5,
          {line("Parsed DMS 37 deg 30' 36\" as " + formatDiagnosticDouble(k375136))}),
    {"textWithDegInCapitalsIsNotParsed",
     gps(Exiv2::asciiString, "37 DEG 30' 36\"", "N", Exiv2::asciiString, "1.5", "E"),
     std::nullopt,
     {line("Failed to parse DMS string: 37 DEG 30' 36\""), kMissing,
      kDump + "{GPSLatitudeRef = \"N\"; GPSLatitude = \"37 DEG 30' 36\\\"\"; GPSLongitudeRef = \"E\"; "
              "GPSLongitude = \"1.5\"}"}},
    {"latitudeWithoutLongitude",
     [](Exiv2::ExifData& exif) {
         put(exif, "Exif.GPSInfo.GPSVersionID", Exiv2::unsignedByte, "2 2 0 0");
         put(exif, "Exif.GPSInfo.GPSLatitudeRef", Exiv2::asciiString, "N");
         put(exif, "Exif.GPSInfo.GPSLatitude", Exiv2::unsignedRational, "37/1 30/1 0/1");
     },
     std::nullopt,
     {kMissing, kDump + "{GPSVersionID = (2, 2, 0, 0); GPSLatitudeRef = \"N\"; GPSLatitude = (37/1, 30/1, 0/1)}"}},
    {"longitudeWithoutLatitude",
     [](Exiv2::ExifData& exif) { put(exif, "Exif.GPSInfo.GPSLongitude", Exiv2::unsignedRational, "1/1 0/1 0/1"); },
     std::nullopt,
     {kMissing, kDump + "{GPSLongitude = (1/1, 0/1, 0/1)}"}},
    {"latitudeOfUnexpectedType",
     gps(Exiv2::undefined, "1 2 3 4", "N", Exiv2::unsignedRational, "1/1 0/1 0/1", "E"),
     std::nullopt,
     {kMissing, kDump + "{GPSLatitudeRef = \"N\"; GPSLatitude = <Undefined, 4 bytes>; GPSLongitudeRef = \"E\"; "
                        "GPSLongitude = (1/1, 0/1, 0/1)}"}},
    {"noGpsDirectory",
     [](Exiv2::ExifData& exif) { exif["Exif.Image.Make"] = "Apple"; },
     std::nullopt,
     {line("No GPS dictionary for IMG_0001.HEIC")}},
    // The GPS block of a phone without a fix: empty references, 0/0 rationals.
    {"zeroDenominatorsAreNoPlace",
     rationals("0/0 0/0 0/0", "", "0/0 0/0 0/0", ""),
     std::nullopt,
     {line("GPS position of IMG_0001.HEIC is not a place on Earth (latitude is not a finite number): "
           "lat=nan lon=nan")}},
    {"longitudeNotFinite",
     rationals("1/1 0/1 0/1", "N", "1/0", "E"),
     std::nullopt,
     {line("GPS position of IMG_0001.HEIC is not a place on Earth (longitude is not a finite number): "
           "lat=1.0 lon=nan")}},
    {"latitudeBeyond90",
     rationals("91/1 0/1 0/1", "S", "1/1 0/1 0/1", "E"),
     std::nullopt,
     {line("GPS position of IMG_0001.HEIC is not a place on Earth (latitude beyond ±90): lat=-91.0 lon=1.0")}},
    {"longitudeBeyond180",
     rationals("1/1 0/1 0/1", "N", "180/1 0/1 1/1", "W"),
     std::nullopt,
     {line("GPS position of IMG_0001.HEIC is not a place on Earth (longitude beyond ±180): lat=1.0 lon=" +
           formatDiagnosticDouble(-(180.0 + 1.0 / 3600)))}},
    found("polesAndDateLineAreStillPlaces", rationals("90/1 0/1 0/1", "S", "180/1 0/1 0/1", "W"), -90.0, -180.0),
    // 0,0 is a place like any other; only the file can say it has no fix.
    found("nullIsland", rationals("0/1 0/1 0/1", "N", "0/1 0/1 0/1", "E"), 0.0, 0.0),
};

class ReadImageGPSTest : public ::testing::TestWithParam<GpsCase> {};

TEST_P(ReadImageGPSTest, PositionAndLines) {
    const GpsCase& c = GetParam();
    TempDir dir;
    auto path = writeHeic(dir, c.fill);
    diag::LineCapture lines;
    auto position = readImageGPS(path);
    EXPECT_EQ(lines.lines(), c.lines);
    ASSERT_EQ(position.has_value(), c.expected.has_value());
    if (position) {
        EXPECT_EQ(*position, *c.expected);
    }
}

INSTANTIATE_TEST_SUITE_P(Forms, ReadImageGPSTest, ::testing::ValuesIn(kGpsCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct DeviceCase {
    const char* name;
    Fill fill;
    DeviceData expected;
    std::string line;
};

void PrintTo(const DeviceCase& c, std::ostream* os) { *os << c.name; }

const DeviceCase kDeviceCases[] = {
    {"allFromTheTiffDirectory",
     [](Exiv2::ExifData& exif) {
         exif["Exif.Image.Make"] = "Apple";
         exif["Exif.Image.Model"] = "iPhone 15 Pro";
         exif["Exif.Image.Software"] = "17.4.1";
     },
     {"Apple", "iPhone 15 Pro", "17.4.1"},
     "IMG_0001.HEIC Device: make=Apple model=iPhone 15 Pro software=17.4.1"},
    {"makeFromTheExifDirectoryWhenTiffLacksIt",
     [](Exiv2::ExifData& exif) {
         put(exif, "Exif.Photo.0x010f", Exiv2::asciiString, "Apple");
         exif["Exif.Image.Model"] = "iPad Air";
     },
     {"Apple", "iPad Air", std::nullopt},
     "IMG_0001.HEIC Device: make=Apple model=iPad Air software=nil"},
    {"tiffDirectoryWinsOverExifDirectory",
     [](Exiv2::ExifData& exif) {
         exif["Exif.Image.Make"] = "Canon";
         put(exif, "Exif.Photo.0x010f", Exiv2::asciiString, "Apple");
         put(exif, "Exif.Photo.0x0110", Exiv2::asciiString, "iPhone");
         put(exif, "Exif.Photo.0x0131", Exiv2::asciiString, "Photos");
     },
     {"Canon", "iPhone", "Photos"},
     "IMG_0001.HEIC Device: make=Canon model=iPhone software=Photos"},
    {"noIdentity", [](Exiv2::ExifData& exif) { exif["Exif.Photo.ExposureTime"] = Exiv2::URational(1, 60); },
     {std::nullopt, std::nullopt, std::nullopt}, "IMG_0001.HEIC Device: make=nil model=nil software=nil"},
    {"makeOfUnexpectedTypeIsAbsent",
     [](Exiv2::ExifData& exif) {
         put(exif, "Exif.Image.Make", Exiv2::unsignedShort, "65");
         exif["Exif.Image.Model"] = "X";
     },
     {std::nullopt, "X", std::nullopt}, "IMG_0001.HEIC Device: make=nil model=X software=nil"},
    {"textEndsAtItsFirstNul",
     [](Exiv2::ExifData& exif) { put(exif, "Exif.Image.Make", Exiv2::asciiString, std::string("Apple\0junk", 10)); },
     {"Apple", std::nullopt, std::nullopt}, "IMG_0001.HEIC Device: make=Apple model=nil software=nil"},
    {"latin1TextBecomesUtf8",
     [](Exiv2::ExifData& exif) { put(exif, "Exif.Image.Make", Exiv2::asciiString, "Caf\xE9"); },
     {"Café", std::nullopt, std::nullopt}, "IMG_0001.HEIC Device: make=Café model=nil software=nil"},
    {"textKeptAsRecorded",
     [](Exiv2::ExifData& exif) {
         exif["Exif.Image.Software"] = "Ver.1.00 ";
         put(exif, "Exif.Image.Model", Exiv2::asciiString, "");
     },
     {std::nullopt, "", "Ver.1.00 "}, "IMG_0001.HEIC Device: make=nil model= software=Ver.1.00 "},
};

class ReadDeviceDataTest : public ::testing::TestWithParam<DeviceCase> {};

TEST_P(ReadDeviceDataTest, DeviceAndLine) {
    const DeviceCase& c = GetParam();
    TempDir dir;
    auto path = writeHeic(dir, c.fill);
    diag::LineCapture lines;
    auto device = readDeviceData(path);
    EXPECT_EQ(lines.lines(), std::vector<std::string>{line(c.line)});
    ASSERT_TRUE(device);
    EXPECT_EQ(*device, c.expected);
}

INSTANTIATE_TEST_SUITE_P(Forms, ReadDeviceDataTest, ::testing::ValuesIn(kDeviceCases),
                         [](const auto& info) { return std::string(info.param.name); });

/// The committed fixtures (see tests/data/imagemeta/make-fixtures.sh).
struct FixtureCase {
    const char* file;
    std::string deviceLine;
    std::string gpsLine;
    std::optional<Coordinate> position;
};

void PrintTo(const FixtureCase& c, std::ostream* os) { *os << c.file; }

const FixtureCase kFixtures[] = {
    {"iphone-rio.heic", "iphone-rio.heic Device: make=Apple model=iPhone 15 Pro software=17.4.1",
     "iphone-rio.heic GPS: lat=-22.95191944000203 (S) lon=-43.210486109999984 (W)",
     Coordinate{-22.95191944000203, -43.210486109999984}},
    {"ipad-sydney.heic", "ipad-sydney.heic Device: make=Apple model=iPad Pro (11-inch) software=17.2",
     "ipad-sydney.heic GPS: lat=-33.85678443998439 (S) lon=151.21529666998836 (E)",
     Coordinate{-33.85678443998439, 151.21529666998836}},
    {"pixel-no-gps.heif", "pixel-no-gps.heif Device: make=Google model=Pixel 8 software=HDR+ 1.0.612345",
     "No GPS dictionary for pixel-no-gps.heif", std::nullopt},
    {"no-exif.heic", "no-exif.heic Device: make=nil model=nil software=nil", "No GPS dictionary for no-exif.heic",
     std::nullopt},
    {"iphone-proraw-paris.dng", "iphone-proraw-paris.dng Device: make=Apple model=iPhone 14 Pro software=16.5",
     "iphone-proraw-paris.dng GPS: lat=48.85837 (N) lon=2.294481000090261 (E)",
     Coordinate{48.85837, 2.294481000090261}},
    {"jpeg-named.heic", "jpeg-named.heic Device: make=Canon model=Canon EOS R6 software=nil",
     "jpeg-named.heic GPS: lat=35.65858 (N) lon=139.74543 (E)", Coordinate{35.65858, 139.74543}},
};

class FixtureTest : public ::testing::TestWithParam<FixtureCase> {};

TEST_P(FixtureTest, ReadsDeviceAndPosition) {
    const FixtureCase& c = GetParam();
    auto path = testDataDir() / "imagemeta" / c.file;
    diag::LineCapture lines;
    auto device = readDeviceData(path);
    auto position = readImageGPS(path);
    EXPECT_EQ(lines.lines(), (std::vector<std::string>{line(c.deviceLine), line(c.gpsLine)}));
    EXPECT_TRUE(device);
    EXPECT_EQ(position, c.position);
}

TEST_P(FixtureTest, OneReaderGivesWhatBothReadingsGive) {
    const FixtureCase& c = GetParam();
    auto path = testDataDir() / "imagemeta" / c.file;
    diag::LineCapture lines;
    ImageMetadataReader reader(path);
    auto device = reader.deviceData();
    auto position = reader.position();
    EXPECT_EQ(lines.lines(), (std::vector<std::string>{line(c.deviceLine), line(c.gpsLine)}));
    EXPECT_EQ(device, readDeviceData(path));
    EXPECT_EQ(position, c.position);
}

INSTANTIATE_TEST_SUITE_P(Files, FixtureTest, ::testing::ValuesIn(kFixtures), [](const auto& info) {
    std::string name = info.param.file;
    for (char& ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch)))
            ch = '_';
    return name;
});

TEST(ImageReader, ReadsOnlyTheMetadataOfAHeic) {
    // A 4 MB picture costs what a 4 KB one does: the walk reads the head,
    // the Exif item, and nothing of the coded picture.
    HeifFile file = encodedHeifWithoutExif();
    addExif(file, 10, exifItemPayload(tiffWithGps(1, "N", 2, "E")), file.primary);
    HeifFile big = file;
    for (auto& item : big.items)
        if (item.type == "hvc1")
            item.data.resize(4 << 20, 0x5A);
    TempDir dir;
    writeFile(dir / "small.heic", buildHeif(file));
    writeFile(dir / "big.heic", buildHeif(big));
    diag::LineCapture quiet;
    ReadStats small, large;
    ASSERT_TRUE(readImageGPS(dir / "small.heic", &small));
    ASSERT_TRUE(readImageGPS(dir / "big.heic", &large));
    EXPECT_LE(large.bytesRead, 16u * 1024);
    EXPECT_LE(large.readCalls, 3u);
    EXPECT_LE(large.bytesRead, small.bytesRead + 8192);
}

TEST(ImageReader, EachOperationOpensTheFileItself) {
    TempDir dir;
    auto path = writeHeic(dir, rationals("1/1 0/1 0/1", "N", "2/1 0/1 0/1", "E"));
    diag::LineCapture quiet;
    ReadStats gpsStats, deviceStats;
    readImageGPS(path, &gpsStats);
    readDeviceData(path, &deviceStats);
    EXPECT_GT(gpsStats.bytesRead, 0u);
    EXPECT_EQ(gpsStats.bytesRead, deviceStats.bytesRead);
}

TEST(ImageReader, OneReaderDecodesTheFileOnceForBothReadings) {
    TempDir dir;
    auto path = writeHeic(dir, rationals("1/1 0/1 0/1", "N", "2/1 0/1 0/1", "E"));
    diag::LineCapture quiet;
    ReadStats single, both;
    readImageGPS(path, &single);
    ImageMetadataReader reader(path, &both);
    EXPECT_TRUE(reader.deviceData());
    EXPECT_TRUE(reader.position());
    EXPECT_GT(single.bytesRead, 0u);
    EXPECT_EQ(both.bytesRead, single.bytesRead);
    EXPECT_EQ(both.readCalls, single.readCalls);
}

TEST(ImageReader, OneReaderReportsAFileThatIsNoImageOncePerReading) {
    TempDir dir;
    writeFile(dir / "notes.heic", "not an image");
    diag::LineCapture separate;
    readDeviceData(dir / "notes.heic");
    readImageGPS(dir / "notes.heic");
    const std::vector<std::string> expected = separate.lines();
    ASSERT_EQ(expected.size(), 4u);  // the reason and the failure, for each reading
    diag::LineCapture together;
    ImageMetadataReader reader(dir / "notes.heic");
    EXPECT_FALSE(reader.deviceData());
    EXPECT_FALSE(reader.position());
    EXPECT_EQ(together.lines(), expected);
}

}  // namespace
}  // namespace meridane::testing
