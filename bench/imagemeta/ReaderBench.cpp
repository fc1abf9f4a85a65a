// SPDX-License-Identifier: GPL-3.0-or-later
// How fast the image reader goes and how much of each file it reads: HEIC
// and DNG files of a small and a large picture, generated into a temporary
// folder (the large pictures are sparse, so the folder costs no disk space).
//
//   imagemeta_bench [--count N] [--dir FOLDER]
//
// --dir measures the images of a folder (the shared corpus, a photo library)
// instead of generated ones.
#include "ImageBuilder.h"

#include "base/Diagnostics.h"
#include "imagemeta/ImageMetadata.h"
#include "imagemeta/ReadStats.h"

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
using namespace meridane::testing;

namespace {

/// An iPhone-like Exif block: camera identity, a position, a few Exif
/// entries and a maker note's worth of bytes.
TiffImage phoneExif(int index) {
    TiffImage image = cameraTiff("Apple", "iPhone 15 Pro", "17.4.1", std::pair{37.7749 + index * 1e-6, -122.4194});
    image.ifd0.push_back(asciiEntry(0x0132, "2024:06:11 10:00:00"));
    image.exif = {numberEntry(0x829A, tiff::rational, {1, 120}), numberEntry(0x829D, tiff::rational, {178, 100}),
                  numberEntry(0x8827, tiff::shortType, {64}),
                  asciiEntry(0xA434, "iPhone 15 Pro back triple camera 6.765mm f/1.78"),
                  rawEntry(0x927C, tiff::undefined, 1500, Bytes(1500, 'A'))};
    return image;
}

/// An iPhone-like HEIC: a grid of 48 tiles, the Exif item first in 'mdat',
/// the tiles after it; the file is then extended to hold the picture.
Bytes heic(int index) {
    HeifFile file;
    file.items.clear();
    HeifReference grid{"dimg", 49, {}};
    for (std::uint32_t tile = 1; tile <= 48; ++tile) {
        file.items.push_back({tile, "hvc1", Bytes(8, 'T')});
        grid.to.push_back(tile);
    }
    file.items.insert(file.items.begin(), {49, "grid", Bytes(8, 'G'), true});
    file.primary = 49;
    file.references.push_back(grid);
    addExif(file, 50, exifItemPayload(buildTiff(phoneExif(index))), 49);
    std::rotate(file.items.begin(), file.items.end() - 1, file.items.end());  // Exif first in 'mdat'
    HeifLayout layout;
    layout.lastBoxSizeZero = true;  // 'mdat' runs to the end of the file
    return buildHeif(file, layout);
}

Bytes dng(int index) {
    TiffImage image = phoneExif(index);
    image.ifd0.push_back(numberEntry(0xC612, tiff::byte, {1, 6, 0, 0}));
    return buildTiff(image);
}

fs::path writeSparse(const fs::path& path, const Bytes& head, std::uint64_t size) {
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
    return {n * rounds / seconds, static_cast<double>(stats.bytesRead) / n, static_cast<double>(stats.readCalls) / n};
}

void report(const std::string& kind, const std::vector<fs::path>& files) {
    if (files.empty())
        return;
    auto gps = [](const fs::path& f, ReadStats* s) { readImageGPS(f, s); };
    auto device = [](const fs::path& f, ReadStats* s) { readDeviceData(f, s); };
    // What the pipeline does: one reader for the camera filter and the position.
    auto both = [](const fs::path& f, ReadStats* s) {
        ImageMetadataReader reader(f, s);
        reader.deviceData();
        reader.position();
    };
    Figures g = measure(files, gps);
    Figures d = measure(files, device);
    Figures b = measure(files, both);
    std::uint64_t cold = 0;
    const std::size_t coldSample = std::min<std::size_t>(files.size(), 20);
    for (std::size_t i = 0; i < coldSample; ++i)
        cold += coldBytes(files[i], [&] { readImageGPS(files[i]); });
    std::printf("%-26s %6zu files  readImageGPS %8.0f files/s  readDeviceData %8.0f files/s  one reader, both %8.0f files/s\n",
                kind.c_str(), files.size(), g.filesPerSecond, d.filesPerSecond, b.filesPerSecond);
    std::printf("%-26s   per file: %8.0f bytes read in %4.1f reads, %8.0f bytes from disk (cold)\n", "", b.bytesRead,
                b.readCalls, static_cast<double>(cold) / coldSample);
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
    // The lines go nowhere, as in the CLI without --debug: the figures are
    // about reading, not printing.
    diag::ScopedSink silent(diag::discard);

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
        std::function<Bytes(int)> make;
        std::uint64_t pictureBytes;
        const char* extension;
    };
    const Kind kinds[] = {
        {"HEIC, 4 KB picture", heic, 4 << 10, ".HEIC"},
        {"HEIC, 4 MB picture", heic, 4 << 20, ".HEIC"},
        {"DNG, 4 KB picture", dng, 4 << 10, ".DNG"},
        {"DNG, 40 MB picture", dng, 40 << 20, ".DNG"},
    };
    int k = 0;
    for (const auto& kind : kinds) {
        std::vector<fs::path> files;
        for (int i = 0; i < count; ++i) {
            const Bytes head = kind.make(i);
            files.push_back(writeSparse(dir / ("IMG_" + std::to_string(k) + "_" + std::to_string(i) + kind.extension),
                                        head, head.size() + kind.pictureBytes));
        }
        report(kind.name, files);
        ++k;
    }
    if (!std::getenv("MERIDANE_BENCH_KEEP"))
        fs::remove_all(dir);
    return 0;
}
