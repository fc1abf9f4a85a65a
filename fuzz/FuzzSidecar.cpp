// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz target: a sidecar's whole way through the program, in memory: the
// comparison with the image's position, the update and the atomic save with
// its validation, over a file system that lives in a map. Besides not
// crashing, the sidecar afterwards is either exactly the input or a document
// that parses and carries the image's position with both hemisphere letters.
#include "base/Diagnostics.h"
#include "sidecar/internal/FileSystem.h"
#include "base/GPSText.h"
#include "sidecar/SidecarGPS.h"
#include "xmp/XMPXML.h"
#include "xmp/XmpPacket.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>

namespace {
namespace fs = std::filesystem;
using meridane::Result;
using meridane::Status;
using meridane::sidecar::FileInfo;
using meridane::sidecar::systemError;

const fs::path kSidecar = "/fuzz/IMG_0001.xmp";
const fs::path kImage = "/fuzz/IMG_0001.HEIC";
constexpr int kFolderFd = 900;

void require(bool condition) {
    if (!condition)
        std::abort();
}

/// One folder of files in memory with the system calls' semantics that the
/// save relies on (exclusive creation, rename replacing the target, a file
/// keeping its inode until it is replaced).
class MemoryFileSystem : public meridane::sidecar::FileSystem {
public:
    struct File {
        std::string bytes;
        ino_t inode = 0;
    };
    std::map<std::string, File> files;  ///< by name in the folder

    void reset(const std::string& sidecar) {
        std::lock_guard lock(mutex_);
        files.clear();
        open_.clear();
        files[kSidecar.filename().string()] = File{sidecar, nextInode_++};
    }
    Result<FileInfo> status(const fs::path& path) override {
        if (path.parent_path() != kSidecar.parent_path())
            return systemError(ENOENT);
        return statusAt(kFolderFd, path.filename().string());
    }
    Result<fs::path> resolved(const fs::path& path) override { return path; }
    Result<int> openFolder(const fs::path& folder) override {
        return folder == kSidecar.parent_path() ? Result<int>(kFolderFd) : Result<int>(systemError(ENOENT));
    }
    Result<FileInfo> statusAt(int, const std::string& name) override {
        std::lock_guard lock(mutex_);
        auto found = files.find(name);
        if (found == files.end())
            return systemError(ENOENT);
        return info(found->second);
    }
    Result<FileInfo> statusOf(int fd) override {
        std::lock_guard lock(mutex_);
        for (const auto& [name, file] : files)
            if (file.inode == open_.at(fd))
                return info(file);
        return systemError(EBADF);
    }
    Result<int> openForReading(int, const std::string& name) override {
        std::lock_guard lock(mutex_);
        auto found = files.find(name);
        if (found == files.end())
            return systemError(ENOENT);
        open_[nextFd_] = found->second.inode;
        return nextFd_++;
    }
    Result<std::string> readWhole(int fd, std::uint64_t, std::uint64_t) override {
        std::lock_guard lock(mutex_);
        for (const auto& [name, file] : files)
            if (file.inode == open_.at(fd))
                return file.bytes;
        return systemError(EBADF);
    }
    Status tryLock(int) override { return meridane::Done{}; }
    Result<std::optional<std::uint64_t>> availableCapacity(int) override {
        return std::optional<std::uint64_t>(std::uint64_t{1} << 40);
    }
    Status removeAt(int, const std::string& name) override {
        std::lock_guard lock(mutex_);
        if (!files.erase(name))
            return systemError(ENOENT);
        return meridane::Done{};
    }
    Result<int> createExclusive(int, const std::string& name, mode_t) override {
        std::lock_guard lock(mutex_);
        if (files.count(name))
            return systemError(EEXIST);
        files[name] = File{{}, nextInode_};
        open_[nextFd_] = nextInode_++;
        return nextFd_++;
    }
    Result<std::size_t> write(int fd, std::string_view bytes) override {
        std::lock_guard lock(mutex_);
        for (auto& [name, file] : files)
            if (file.inode == open_.at(fd))
                file.bytes.append(bytes);
        return bytes.size();
    }
    Status setOwner(int, uid_t, gid_t) override { return meridane::Done{}; }
    Status copyAttributes(int, int) override { return meridane::Done{}; }
    Status setMode(int, mode_t) override { return meridane::Done{}; }
    Status sync(int) override { return meridane::Done{}; }
    Status close(int fd) override {
        std::lock_guard lock(mutex_);
        open_.erase(fd);
        return meridane::Done{};
    }
    Status renameAt(int, const std::string& from, const std::string& to) override {
        std::lock_guard lock(mutex_);
        auto found = files.find(from);
        if (found == files.end())
            return systemError(ENOENT);
        File moved = std::move(found->second);
        files.erase(found);
        files[to] = std::move(moved);
        return meridane::Done{};
    }

private:
    static FileInfo info(const File& file) {
        FileInfo info;
        info.size = file.bytes.size();
        info.mode = 0644;
        info.isRegularFile = true;
        info.inode = file.inode;
        info.links = 1;
        return info;
    }

    std::mutex mutex_;
    std::map<int, ino_t> open_;
    int nextFd_ = 1000;
    ino_t nextInode_ = 1;
};

}  // namespace

namespace {

struct Position {
    double latitude, longitude;
};

// Positions chosen by a hash of the input, so that seed files stay intact:
// places of the corpus sidecars, both hemispheres, zero, and extremes.
constexpr Position kPositions[] = {{48.85837, 2.2945},         {34.79745, 134.76463333333334},
                                   {-33.5, -70.25},            {0.0, 0.0},
                                   {52.5250816, 13.3693672},   {47.675403333333335, -122.31739166666667},
                                   {-90.0, 180.0},             {40.2346440833333, -76.2871415}};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static meridane::diag::ScopedSink quiet([](std::string_view) {});
    static MemoryFileSystem* memory = new MemoryFileSystem;
    static meridane::sidecar::ScopedFileSystemOverride override(*memory);

    std::uint32_t hash = 2166136261u;
    for (std::size_t i = 0; i < size; ++i)
        hash = (hash ^ data[i]) * 16777619u;
    const Position position = kPositions[hash % std::size(kPositions)];
    const bool force = (hash >> 8) & 1;

    const std::string original(reinterpret_cast<const char*>(data), size);
    memory->reset(original);
    const std::string name = kSidecar.filename().string();
    const meridane::SidecarWriteOptions options{.dryRun = false, .alwaysOverwrite = force, .beforeReplace = {}};
    auto sidecar = meridane::SidecarFile::open(kSidecar, {.forSaving = true});
    if (meridane::precheckSidecarGPS(kImage, position.latitude, position.longitude, sidecar, force).verdict !=
        meridane::SidecarComparison::Verdict::proceed) {
        require(memory->files.at(name).bytes == original);  // ended by the comparison: nothing written
        return 0;
    }
    const auto outcome = meridane::updateSidecarGPS(sidecar, position.latitude, position.longitude, options);

    const std::string& now = memory->files.at(name).bytes;
    if (!outcome || !outcome->written) {
        require(now == original);
        return 0;
    }
    require(memory->files.size() == 1);  // the temporary file became the sidecar
    auto packet = meridane::xmp::XmpPacket::parse(now);
    require(bool(packet));
    require(meridane::xmp::findDescriptionElement(packet.value()) != nullptr);
    namespace gpstext = meridane::gpstext;
    const auto lat = meridane::xmp::propertyText("exif:GPSLatitude", packet.value());
    const auto lon = meridane::xmp::propertyText("exif:GPSLongitude", packet.value());
    const auto latRef = meridane::xmp::propertyText("exif:GPSLatitudeRef", packet.value());
    const auto lonRef = meridane::xmp::propertyText("exif:GPSLongitudeRef", packet.value());
    const std::string latLetter = meridane::expectedLatitudeRef(position.latitude);
    const std::string lonLetter = meridane::expectedLongitudeRef(position.longitude);
    require(gpstext::canonicalGPSText(lat) ==
            gpstext::canonicalGPSText(meridane::expectedCoordinateText(position.latitude, latLetter)));
    require(gpstext::canonicalGPSText(lon) ==
            gpstext::canonicalGPSText(meridane::expectedCoordinateText(position.longitude, lonLetter)));
    require(gpstext::normalizeHemisphereRef(latRef) == latLetter);
    require(gpstext::normalizeHemisphereRef(lonRef) == lonLetter);
    return 0;
}
