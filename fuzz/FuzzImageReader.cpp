// Fuzz target: the image reader on arbitrary file contents, through the same
// entry points the pipeline uses (the HEIF item walk or Exiv2, chosen by
// content), and the in-memory Exif decoder on the raw bytes.
#include "base/Diagnostics.h"
#include "imagemeta/internal/ExifDecoding.h"
#include "imagemeta/ImageMetadata.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

namespace {

// One in-memory file, rewritten for every input and opened by path like any
// image, so nothing touches the disk.
int memoryFile() {
    static const int fd = ::memfd_create("meridane-fuzz-image", MFD_CLOEXEC);
    if (fd < 0)
        std::abort();
    return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static meridane::diag::ScopedSink quiet([](std::string_view) {});
    const int fd = memoryFile();
    if (::ftruncate(fd, 0) != 0)
        std::abort();
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(fd, data + done, size - done, static_cast<off_t>(done));
        if (n <= 0)
            std::abort();
        done += static_cast<std::size_t>(n);
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd);

    if (auto position = meridane::readImageGPS(path)) {
        // A position is only ever reported for a place on Earth.
        if (!(position->latitude >= -90 && position->latitude <= 90 && position->longitude >= -180 &&
              position->longitude <= 180))
            std::abort();
    }
    (void)meridane::readDeviceData(path);
    (void)meridane::imagemeta::decodeTiffBlock(std::span<const std::uint8_t>(data, size));
    return 0;
}
