// Size fields in a hostile file never drive a large allocation: the reader
// caps what it reads (4 MiB for an Exif block, 4 MiB for an item table) and
// checks every claim against the file's real size first.
#include "ImageMetaTestSupport.h"
#include "TestSupport.h"

#include "base/Diagnostics.h"
#include "imagemeta/ImageMetadata.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fcntl.h>
#include <new>
#include <unistd.h>

namespace {

std::atomic<bool> g_counting{false};
std::atomic<std::size_t> g_largest{0};

void note(std::size_t size) {
    if (!g_counting.load(std::memory_order_relaxed))
        return;
    std::size_t previous = g_largest.load(std::memory_order_relaxed);
    while (size > previous && !g_largest.compare_exchange_weak(previous, size)) {
    }
}

}  // namespace

void* operator new(std::size_t size) {
    note(size);
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace meridane::testing {
namespace {

std::string u32(std::uint64_t v) {
    std::string out;
    for (int i = 3; i >= 0; --i)
        out += static_cast<char>((v >> (8 * i)) & 0xFF);
    return out;
}

/// Writes `head` and extends the file, without using disk, to `size` bytes.
std::filesystem::path sparseFile(const TempDir& dir, const std::string& head, std::uint64_t size) {
    auto path = dir / "IMG_0001.HEIC";
    writeFile(path, head);
    EXPECT_EQ(::truncate(path.c_str(), static_cast<off_t>(size)), 0);
    return path;
}

std::size_t largestAllocationWhileReading(const std::filesystem::path& path) {
    diag::LineCapture quiet;
    g_largest = 0;
    g_counting = true;
    readImageGPS(path);
    readDeviceData(path);
    g_counting = false;
    return g_largest;
}

constexpr std::size_t kLimit = std::size_t{5} << 20;  // the 4 MiB caps plus slack
constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;

std::string ftyp() { return box("ftyp", std::string("heic") + std::string(4, '\0') + "mif1heic"); }

TEST(Allocation, HugeItemListInAHugeFile) {
    // 'meta' and 'iinf' claim hundreds of MiB that the (sparse) file does hold.
    std::string pitm = box("pitm", std::string(4, '\0') + std::string("\0\1", 2));
    std::string iloc = box("iloc", std::string(4, '\0') + std::string("\x44\x00\x00\x00", 4));
    std::string iinfHeader = u32(500u << 20) + "iinf" + std::string(4, '\0') + std::string("\xFF\xFF", 2);
    std::string metaBody = std::string(4, '\0') + pitm + iloc + iinfHeader;
    std::string meta = u32(600u << 20) + "meta" + metaBody;
    TempDir dir;
    auto path = sparseFile(dir, ftyp() + meta, kGiB);
    EXPECT_LT(largestAllocationWhileReading(path), kLimit);
}

TEST(Allocation, ExifItemClaimingHundredsOfMegabytes) {
    HeifFile file = encodedHeifWithoutExif();
    addExif(file, 10, exifItemPayload(tiffWithGps(1, "N", 2, "E")), file.primary);
    file.items.back().claimedLength = 300u << 20;
    TempDir dir;
    auto path = sparseFile(dir, buildHeif(file), kGiB);
    EXPECT_LT(largestAllocationWhileReading(path), kLimit);
}

TEST(Allocation, ExifItemClaimingTerabytes) {
    HeifFile file = encodedHeifWithoutExif();
    addExif(file, 10, exifItemPayload(tiffWithGps(1, "N", 2, "E")), file.primary);
    file.items.back().claimedLength = std::uint64_t{1} << 42;
    HeifLayout layout;
    layout.lengthSize = 8;
    TempDir dir;
    auto path = dir / "IMG_0001.HEIC";
    writeFile(path, buildHeif(file, layout));
    EXPECT_LT(largestAllocationWhileReading(path), kLimit);
}

TEST(Allocation, TiffEntryClaimingBillionsOfValues) {
    Bytes tiff = tiffWithGps(1, "N", 2, "E");
    // IFD0's first entry: count 0x7FFFFFFF rationals.
    tiff[10 + 2] = 5;
    tiff[10 + 4] = tiff[10 + 5] = tiff[10 + 6] = 0xFF;
    tiff[10 + 7] = 0x7F;
    HeifFile file = encodedHeifWithoutExif();
    addExif(file, 10, exifItemPayload(tiff), file.primary);
    TempDir dir;
    auto path = dir / "IMG_0001.HEIC";
    writeFile(path, buildHeif(file));
    EXPECT_LT(largestAllocationWhileReading(path), kLimit);
}

TEST(Allocation, TheCounterSeesAllocations) {
    g_largest = 0;
    g_counting = true;
    auto* block = new std::vector<char>(kLimit * 2);
    g_counting = false;
    delete block;
    EXPECT_GE(g_largest.load(), kLimit * 2);
}

}  // namespace
}  // namespace meridane::testing
