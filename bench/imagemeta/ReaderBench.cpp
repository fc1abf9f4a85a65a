// How fast the image reader goes and how much of each file it reads: HEIC
// and DNG files of a small and a large picture, generated into a temporary
// folder (the large pictures are sparse, so the folder costs no disk space).
//
//   imagemeta_bench [--count N] [--dir FOLDER]
//
// --dir measures the images of a folder (the shared corpus, a photo library)
// instead of generated ones.
#include "base/Diagnostics.h"
#include "imagemeta/ImageMetadata.h"
#include "imagemeta/ReadStats.h"

#include <exiv2/exiv2.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <map>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using namespace meridane;

namespace {

std::string bigEndian(std::uint64_t value, int bytes) {
    std::string out;
    for (int i = bytes - 1; i >= 0; --i)
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
    return out;
}
std::string u16(std::uint64_t v) { return bigEndian(v, 2); }
std::string u32(std::uint64_t v) { return bigEndian(v, 4); }
std::string box(const std::string& type, const std::string& payload) { return u32(8 + payload.size()) + type + payload; }
std::string fullBox(const std::string& type, int version, const std::string& payload) {
    return box(type, bigEndian(static_cast<std::uint64_t>(version) << 24, 4) + payload);
}

/// An iPhone-like Exif block: camera identity, a position, a few Exif
/// entries and a maker note's worth of bytes.
std::string exifTiff(int index, bool dngVersion = false) {
    Exiv2::ExifData exif;
    if (dngVersion) {
        Exiv2::DataValue version(Exiv2::unsignedByte);
        version.read("1 6 0 0");
        exif.add(Exiv2::ExifKey("Exif.Image.DNGVersion"), &version);
    }
    exif["Exif.Image.Make"] = "Apple";
    exif["Exif.Image.Model"] = "iPhone 15 Pro";
    exif["Exif.Image.Software"] = "17.4.1";
    exif["Exif.Image.DateTime"] = "2024:06:11 10:00:00";
    exif["Exif.Photo.ExposureTime"] = Exiv2::URational(1, 120);
    exif["Exif.Photo.FNumber"] = Exiv2::URational(178, 100);
    exif["Exif.Photo.ISOSpeedRatings"] = uint16_t(64);
    exif["Exif.Photo.LensModel"] = "iPhone 15 Pro back triple camera 6.765mm f/1.78";
    Exiv2::DataValue maker(Exiv2::undefined);
    std::vector<Exiv2::byte> makerBytes(1500, 0x41);
    maker.read(makerBytes.data(), static_cast<long>(makerBytes.size()));
    exif.add(Exiv2::ExifKey("Exif.Photo.MakerNote"), &maker);
    exif["Exif.GPSInfo.GPSLatitudeRef"] = "N";
    Exiv2::URationalValue lat;
    lat.read("37/1 46/1 " + std::to_string(2964 + index) + "/100");
    exif.add(Exiv2::ExifKey("Exif.GPSInfo.GPSLatitude"), &lat);
    exif["Exif.GPSInfo.GPSLongitudeRef"] = "W";
    Exiv2::URationalValue lon;
    lon.read("122/1 25/1 984/100");
    exif.add(Exiv2::ExifKey("Exif.GPSInfo.GPSLongitude"), &lon);
    Exiv2::Blob blob;
    Exiv2::ExifParser::encode(blob, Exiv2::littleEndian, exif);
    return std::string(blob.begin(), blob.end());
}

/// An iPhone-like HEIC: a grid of 48 tiles, the Exif item first in 'mdat',
/// then `pictureBytes` of coded tiles (left sparse).
std::string heic(int index, std::uint64_t pictureBytes, std::uint64_t& fileSize) {
    const int tiles = 48;
    const std::uint32_t grid = 49, exifId = 50;
    const std::string exif = u32(6) + std::string("Exif\0\0", 6) + exifTiff(index);
    std::string infes;
    for (int t = 1; t <= tiles; ++t)
        infes += fullBox("infe", 2, u16(t) + u16(0) + "hvc1" + std::string(1, '\0'));
    infes += fullBox("infe", 2, u16(grid) + u16(0) + "grid" + std::string(1, '\0'));
    infes += fullBox("infe", 2, u16(exifId) + u16(0) + "Exif" + std::string(1, '\0'));
    std::string dimg = u16(grid) + u16(tiles);
    for (int t = 1; t <= tiles; ++t)
        dimg += u16(t);
    const std::string iref = fullBox("iref", 0, box("dimg", dimg) + box("cdsc", u16(exifId) + u16(1) + u16(grid)));
    const std::string ftyp = box("ftyp", std::string("heic") + u32(0) + "mif1MiHBMiHAheixMiPrmiafMiHEhevc");
    const std::uint64_t tileBytes = std::max<std::uint64_t>(pictureBytes / tiles, 1);
    auto meta = [&](std::uint64_t mdatData) {
        std::string iloc = std::string("\x44\x40", 2) + u16(tiles + 2);
        for (int t = 1; t <= tiles; ++t)
            iloc += u16(t) + u16(0) + u16(0) + u32(mdatData + exif.size() + (t - 1) * tileBytes) + u16(1) + u32(0) +
                    u32(tileBytes);
        iloc += u16(grid) + u16(1) + u16(0) + u32(0) + u16(1) + u32(0) + u32(8);
        iloc += u16(exifId) + u16(0) + u16(0) + u32(mdatData) + u16(1) + u32(0) + u32(exif.size());
        std::string children = fullBox("hdlr", 0, u32(0) + "pict" + std::string(13, '\0')) +
                               fullBox("pitm", 0, u16(grid)) + fullBox("iloc", 1, iloc) +
                               fullBox("iinf", 0, u16(tiles + 2) + infes) + iref +
                               box("iprp", box("ipco", std::string(600, '\0'))) +
                               box("idat", std::string("\0\0\x07\x07\x0f\xc0\x0b\xd0", 8));
        return box("meta", u32(0) + children);
    };
    const std::size_t metaSize = meta(0).size();
    const std::uint64_t mdatData = ftyp.size() + metaSize + 8;
    const std::uint64_t mdatSize = 8 + exif.size() + tiles * tileBytes;
    fileSize = mdatData - 8 + mdatSize;
    return ftyp + meta(mdatData) + u32(mdatSize) + "mdat" + exif;
}

/// A DNG-like TIFF: IFD0 with the camera identity and the DNG version, the
/// Exif and GPS directories, then `pictureBytes` of raw data (left sparse).
std::string dng(int index, std::uint64_t pictureBytes, std::uint64_t& fileSize) {
    std::string tiff = exifTiff(index, true);
    fileSize = tiff.size() + pictureBytes;
    return tiff;
}

fs::path writeSparse(const fs::path& path, const std::string& head, std::uint64_t size) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ::write(fd, head.data(), head.size()) != static_cast<ssize_t>(head.size()) ||
        ::ftruncate(fd, static_cast<off_t>(std::max<std::uint64_t>(size, head.size()))) != 0) {
        std::perror(path.c_str());
        std::exit(1);
    }
    ::close(fd);
    return path;
}

/// Bytes of the file that a read brought into the page cache: evict the
/// file, run `read`, count the resident pages.
std::uint64_t coldBytes(const fs::path& path, const std::function<void()>& read) {
    int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0)
        return 0;
    off_t size = ::lseek(fd, 0, SEEK_END);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    read();
    std::uint64_t resident = 0;
    if (size > 0) {
        void* map = ::mmap(nullptr, static_cast<std::size_t>(size), PROT_READ, MAP_SHARED, fd, 0);
        if (map != MAP_FAILED) {
            const long page = ::sysconf(_SC_PAGESIZE);
            std::vector<unsigned char> pages((static_cast<std::size_t>(size) + page - 1) / page);
            if (::mincore(map, static_cast<std::size_t>(size), pages.data()) == 0)
                for (unsigned char p : pages)
                    resident += (p & 1) ? static_cast<std::uint64_t>(page) : 0;
            ::munmap(map, static_cast<std::size_t>(size));
        }
    }
    ::close(fd);
    return resident;
}

struct Figures {
    double filesPerSecond = 0;
    double bytesRead = 0;
    double readCalls = 0;
    double bytesMapped = 0;
};

template <typename Read>
Figures measure(const std::vector<fs::path>& files, Read read) {
    ReadStats stats;
    for (const auto& f : files)  // warm the cache
        read(f, nullptr);
    const int rounds = 3;
    auto start = std::chrono::steady_clock::now();
    for (int r = 0; r < rounds; ++r)
        for (const auto& f : files)
            read(f, r == 0 ? &stats : nullptr);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    double n = static_cast<double>(files.size());
    return {n * rounds / seconds, static_cast<double>(stats.bytesRead) / n, static_cast<double>(stats.readCalls) / n,
            static_cast<double>(stats.bytesMapped) / n};
}

void report(const std::string& kind, const std::vector<fs::path>& files) {
    if (files.empty())
        return;
    auto gps = [](const fs::path& f, ReadStats* s) { readImageGPS(f, s); };
    auto device = [](const fs::path& f, ReadStats* s) { readDeviceData(f, s); };
    auto both = [](const fs::path& f, ReadStats* s) {
        readDeviceData(f, s);
        readImageGPS(f, s);
    };
    Figures g = measure(files, gps);
    Figures d = measure(files, device);
    Figures b = measure(files, both);
    std::uint64_t cold = 0;
    const std::size_t coldSample = std::min<std::size_t>(files.size(), 20);
    for (std::size_t i = 0; i < coldSample; ++i)
        cold += coldBytes(files[i], [&] { readImageGPS(files[i]); });
    std::printf("%-26s %6zu files  readImageGPS %8.0f files/s  readDeviceData %8.0f files/s  both %8.0f files/s\n",
                kind.c_str(), files.size(), g.filesPerSecond, d.filesPerSecond, b.filesPerSecond);
    std::printf("%-26s   per readImageGPS: %8.0f bytes read in %4.1f reads, %9.0f bytes mapped, "
                "%8.0f bytes from disk (cold)\n",
                "", g.bytesRead, g.readCalls, g.bytesMapped, static_cast<double>(cold) / coldSample);
}

}  // namespace

int main(int argc, char** argv) {
    int count = 1000;
    std::optional<fs::path> folder;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--count") && i + 1 < argc)
            count = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--dir") && i + 1 < argc)
            folder = argv[++i];
    }
    // The lines go nowhere: the figures are about reading, not printing.
    diag::ScopedSink silent([](std::string_view) {});

    if (folder) {
        std::map<std::string, std::vector<fs::path>> byKind;
        for (const auto& entry : fs::recursive_directory_iterator(*folder)) {
            std::string ext = entry.path().extension().string();
            std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
            if (entry.is_regular_file() && (ext == ".heic" || ext == ".heif" || ext == ".hif" || ext == ".dng"))
                byKind[ext].push_back(entry.path());
        }
        for (const auto& [kind, files] : byKind)
            report(folder->filename().string() + " " + kind, files);
        return 0;
    }

    char pattern[] = "/tmp/meridane-bench-XXXXXX";
    if (!::mkdtemp(pattern)) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path dir = pattern;
    struct Kind {
        const char* name;
        std::function<std::string(int, std::uint64_t&)> make;
        const char* extension;
    };
    const Kind kinds[] = {
        {"HEIC, 4 KB picture", [](int i, std::uint64_t& size) { return heic(i, 4 << 10, size); }, ".HEIC"},
        {"HEIC, 4 MB picture", [](int i, std::uint64_t& size) { return heic(i, 4 << 20, size); }, ".HEIC"},
        {"DNG, 4 KB picture", [](int i, std::uint64_t& size) { return dng(i, 4 << 10, size); }, ".DNG"},
        {"DNG, 40 MB picture", [](int i, std::uint64_t& size) { return dng(i, 40 << 20, size); }, ".DNG"},
    };
    int k = 0;
    for (const auto& kind : kinds) {
        std::vector<fs::path> files;
        for (int i = 0; i < count; ++i) {
            std::uint64_t size = 0;
            std::string head = kind.make(i, size);
            files.push_back(writeSparse(dir / ("IMG_" + std::to_string(k) + "_" + std::to_string(i) + kind.extension),
                                        head, size));
        }
        report(kind.name, files);
        ++k;
    }
    if (!std::getenv("MERIDANE_BENCH_KEEP"))
        fs::remove_all(dir);
    return 0;
}
