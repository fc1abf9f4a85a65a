#include "TestImages.h"

#include <exiv2/exiv2.hpp>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace meridane::testing {
namespace {

void put16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>((v >> (8 * i)) & 0xFF));
}

// A little-endian baseline TIFF of one grey pixel.
std::vector<std::uint8_t> onePixelTiff() {
    struct Entry {
        std::uint16_t tag, type;
        std::uint32_t value;
    };
    constexpr std::uint16_t kShort = 3, kLong = 4;
    constexpr std::uint32_t kEntries = 9;
    constexpr std::uint32_t kPixelOffset = 8 + 2 + kEntries * 12 + 4;
    const Entry entries[kEntries] = {{256, kShort, 1}, {257, kShort, 1}, {258, kShort, 8},
                                     {259, kShort, 1}, {262, kShort, 1}, {273, kLong, kPixelOffset},
                                     {277, kShort, 1}, {278, kShort, 1}, {279, kLong, 1}};
    std::vector<std::uint8_t> out = {'I', 'I', 42, 0};
    put32(out, 8);
    put16(out, kEntries);
    for (const Entry& e : entries) {
        put16(out, e.tag);
        put16(out, e.type);
        put32(out, 1);
        if (e.type == kShort) {
            put16(out, static_cast<std::uint16_t>(e.value));
            put16(out, 0);
        } else {
            put32(out, e.value);
        }
    }
    put32(out, 0);
    out.push_back(0x80);
    return out;
}

std::string rationalDegrees(double value) {
    const double magnitude = std::fabs(value);
    const auto degrees = static_cast<long>(magnitude);
    const double minutesFull = (magnitude - static_cast<double>(degrees)) * 60.0;
    const auto minutes = static_cast<long>(minutesFull);
    const auto hundredthsOfSeconds = std::lround((minutesFull - static_cast<double>(minutes)) * 60.0 * 1e6);
    return std::to_string(degrees) + "/1 " + std::to_string(minutes) + "/1 " +
           std::to_string(hundredthsOfSeconds) + "/1000000";
}

}  // namespace

void writeTestImage(const std::filesystem::path& path, const TestImage& image) {
    const std::vector<std::uint8_t> tiff = onePixelTiff();
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(tiff.data()), static_cast<std::streamsize>(tiff.size()));
    }
    try {
        auto file = Exiv2::ImageFactory::open(path.string());
        file->readMetadata();
        Exiv2::ExifData exif = file->exifData();
        Exiv2::DataValue dngVersion(Exiv2::unsignedByte);
        dngVersion.read("1 4 0 0");
        exif["Exif.Image.DNGVersion"] = dngVersion;
        if (image.make)
            exif["Exif.Image.Make"] = *image.make;
        if (image.model)
            exif["Exif.Image.Model"] = *image.model;
        if (image.software)
            exif["Exif.Image.Software"] = *image.software;
        if (image.position) {
            const Coordinate& p = *image.position;
            exif["Exif.GPSInfo.GPSVersionID"].setValue("2 2 0 0");
            exif["Exif.GPSInfo.GPSLatitudeRef"] = p.latitude < 0 ? "S" : "N";
            Exiv2::URationalValue latitude;
            latitude.read(rationalDegrees(p.latitude));
            exif["Exif.GPSInfo.GPSLatitude"] = latitude;
            exif["Exif.GPSInfo.GPSLongitudeRef"] = p.longitude < 0 ? "W" : "E";
            Exiv2::URationalValue longitude;
            longitude.read(rationalDegrees(p.longitude));
            exif["Exif.GPSInfo.GPSLongitude"] = longitude;
        }
        file->setExifData(exif);
        file->writeMetadata();
    } catch (const Exiv2::AnyError& e) {
        throw std::runtime_error(std::string("cannot write test image: ") + e.what());
    }
}


}  // namespace meridane::testing
