#include "sidecar/internal/AtomicSave.h"

#include "base/Diagnostics.h"
#include "sidecar/internal/FileSystem.h"
#include "base/GPSText.h"
#include "xmp/XMPXML.h"

#include <cerrno>
#include <cstdlib>
#include <string>

namespace meridane {
namespace {

using sidecar::FileSystem;
using sidecar::quotedName;
using sidecar::withContext;

constexpr std::uint64_t kBytesPerMB = 1'048'576;
constexpr double kSizeChangeWarningRatio = 0.5;
/// Mode of a replacement whose predecessor could not be examined.
constexpr mode_t kDefaultSidecarMode = 0644;

Error validationError(ValidationCode code, std::string message) {
    return Error{ErrorDomain::validation, code, std::move(message)};
}

/// The file a save has to replace: the sidecar itself, or, when the sidecar
/// is a symbolic link, the file it points to, so that the link stays a link.
Result<std::filesystem::path> fileToReplace(FileSystem& fs, const std::filesystem::path& sidecarPath) {
    auto link = fs.linkStatus(sidecarPath);
    if (!link || !link->isSymlink)
        return sidecarPath;
    auto target = fs.resolved(sidecarPath);
    if (!target)
        return withContext(target.error(), "Could not follow the link " + quotedName(sidecarPath));
    return std::move(target).value();
}

Status checkFreeSpace(FileSystem& fs, const std::filesystem::path& folder, const std::filesystem::path& sidecarPath) {
    auto capacity = fs.availableCapacity(folder);
    if (!capacity) {
        Error error = withContext(capacity.error(), "Could not determine the free space for " + quotedName(sidecarPath));
        diag::debug("Failed to check disk space: " + describe(error));
        return error;
    }
    const std::uint64_t available = capacity->value_or(0);
    const std::string availableMB = std::to_string(available / kBytesPerMB);
    if (available < kRequiredFreeBytes) {
        Error error{ErrorDomain::diskSpace, kDiskSpaceInsufficient, "Insufficient disk space. Available: " + availableMB + "MB, Required: 100MB"};
        diag::debug("Failed to check disk space: " + describe(error));
        return error;
    }
    diag::debug("Disk space check passed: " + availableMB + "MB available");
    return Done{};
}

/// An open descriptor that is closed on every early return.
class OpenFile {
public:
    OpenFile(FileSystem& fs, int fd) : fs_(fs), fd_(fd) {}
    ~OpenFile() {
        if (fd_ >= 0)
            (void)fs_.close(fd_);
    }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;

    int fd() const { return fd_; }
    Status close() {
        const int fd = fd_;
        fd_ = -1;
        return fs_.close(fd);
    }

private:
    FileSystem& fs_;
    int fd_;
};

/// Writes the whole text, gives the file the sidecar's permission bits and
/// flushes it to disk.
Status writeAndFlush(FileSystem& fs, OpenFile& file, const std::filesystem::path& tempPath, std::string_view text,
                     mode_t mode) {
    const std::string writeContext = "Could not write " + quotedName(tempPath);
    while (!text.empty()) {
        auto written = fs.write(file.fd(), text);
        if (!written)
            return withContext(written.error(), writeContext);
        if (written.value() == 0)
            return withContext(sidecar::systemError(EIO), writeContext);
        text.remove_prefix(std::min(written.value(), text.size()));
    }
    if (auto chmod = fs.setMode(file.fd(), mode); !chmod)
        return withContext(chmod.error(), "Could not set the permissions of " + quotedName(tempPath));
    if (auto synced = fs.sync(file.fd()); !synced)
        return withContext(synced.error(), writeContext);
    // On some file systems a failed write only shows when the file is closed.
    if (auto closed = file.close(); !closed)
        return withContext(closed.error(), writeContext);
    return Done{};
}

/// Creates the temporary file, private until it is complete, and fills it.
/// A file left half-written is removed: it is of no use to anyone and may
/// hold space on a volume that has just run full. (One that was written
/// completely but fails validation stays until the next save clears it.)
Status writeTemporaryFile(FileSystem& fs, const std::filesystem::path& tempPath, std::string_view text,
                          mode_t mode) {
    auto created = fs.createExclusive(tempPath, 0600);
    if (!created)
        return withContext(created.error(), "Could not create " + quotedName(tempPath));
    Status written = [&] {
        OpenFile file(fs, created.value());
        return writeAndFlush(fs, file, tempPath, text, mode);
    }();
    if (!written)
        (void)fs.remove(tempPath);
    return written;
}

}  // namespace

std::filesystem::path temporaryFileFor(const std::filesystem::path& sidecarPath) {
    // Appended piecewise: GCC 12 reports a false -Wrestrict for "." + s + ".tmp" at -O2.
    std::string name = ".";
    name += sidecarPath.filename().string();
    name += ".tmp";
    return sidecarPath.parent_path() / name;
}

Status saveXMPAtomically(const xmp::XmlDocument& document, const std::filesystem::path& sidecarPath) {
    FileSystem& fs = sidecar::fileSystem();
    const std::string name = sidecarPath.filename().string();

    auto target = fileToReplace(fs, sidecarPath);
    if (!target)
        return target.error();
    std::filesystem::path folder = target->parent_path();
    if (folder.empty())
        folder = ".";
    const std::filesystem::path tempPath = temporaryFileFor(target.value());

    if (auto space = checkFreeSpace(fs, folder, sidecarPath); !space)
        return space.error();

    // A leftover of an earlier failed save. Whatever cannot be removed here
    // (a folder of that name) makes the exclusive creation below fail.
    (void)fs.remove(tempPath);

    std::uint64_t previousSize = 0;
    mode_t mode = kDefaultSidecarMode;
    if (auto previous = fs.status(target.value())) {
        previousSize = previous->size;
        mode = previous->mode;
    }

    if (auto written = writeTemporaryFile(fs, tempPath, document.serializePretty(), mode); !written)
        return written.error();

    if (auto valid = validateTempFile(tempPath, previousSize); !valid)
        return valid.error();

    // One rename over the old sidecar: the folder never lacks its sidecar,
    // even when the move fails.
    if (auto moved = fs.rename(tempPath, target.value()); !moved)
        return withContext(moved.error(),
                           "Could not replace " + quotedName(target.value()) + " with " + quotedName(tempPath));
    // The folder is not flushed: that would only make the rename itself
    // survive a power loss, at the cost of one more disk flush per file.
    // Without it the folder holds, after a power loss, either the old
    // sidecar, untouched, or the new one, complete, since the temporary
    // file was flushed before the rename; never a partial sidecar.

    diag::debug("Successfully saved XMP: " + name);
    return Done{};
}

Status validateTempFile(const std::filesystem::path& tempPath, std::uint64_t previousSize) {
    FileSystem& fs = sidecar::fileSystem();

    auto info = fs.status(tempPath);
    if (!info) {
        if (info.error().code == ENOENT || info.error().code == ENOTDIR)
            return validationError(kTempFileNotCreated, "Temp file was not created");
        return withContext(info.error(), "Could not read the attributes of " + quotedName(tempPath));
    }
    const std::uint64_t size = info->size;
    if (size == 0)
        return validationError(kTempFileEmpty, "Temp file is empty");
    if (size < kMinimumSidecarBytes)
        return validationError(kTempFileTooSmall, "Temp file too small (" + std::to_string(size) + " bytes), likely corrupted");

    if (previousSize > 0) {
        const double difference = size > previousSize ? static_cast<double>(size - previousSize)
                                                      : static_cast<double>(previousSize - size);
        const double change = difference / static_cast<double>(previousSize);
        if (change > kSizeChangeWarningRatio) {
            const auto percent = static_cast<std::uint64_t>(change * 100);
            diag::debug("Warning: Significant size change - Original: " + std::to_string(previousSize) +
                        " bytes, New: " + std::to_string(size) + " bytes (" + std::to_string(percent) +
                        "% change)");
        }
    }
    diag::debug("File size validation passed: " + std::to_string(size) + " bytes");

    auto bytes = fs.readFile(tempPath);
    if (!bytes)
        return validationError(kTempFileNotXml, "Temp file is not valid XML: " +
                                      withContext(bytes.error(), "Could not read " + quotedName(tempPath)).message);
    auto document = xmp::XmlDocument::parse(bytes.value());
    if (!document)
        return validationError(kTempFileNotXml, "Temp file is not valid XML: " + document.error().message);

    auto description = xmp::findDescriptionElement(document.value());
    if (!description)
        return validationError(kTempFileNoDescription, "Temp file missing required XMP structure (rdf:Description)");
    diag::debug("XML structure validation passed");

    const auto latitude = xmp::getElementValue("exif:GPSLatitude", *description);
    const auto longitude = xmp::getElementValue("exif:GPSLongitude", *description);
    const auto latitudeRef = xmp::getElementValue("exif:GPSLatitudeRef", *description);
    const auto longitudeRef = xmp::getElementValue("exif:GPSLongitudeRef", *description);
    if (!latitude || !longitude)
        return validationError(kTempFileNoGPS, "Temp file missing expected GPS coordinates");

    const ParsedGPS parsedLatitude = gpstext::parseXmpGPS(*latitude);
    const ParsedGPS parsedLongitude = gpstext::parseXmpGPS(*longitude);
    if (!parsedLatitude.value || !parsedLongitude.value)
        return validationError(kTempFileUnparseableGPS, "Temp file contains unparseable GPS coordinates");

    const std::string latRef = gpstext::normalizeHemisphereRef(latitudeRef);
    const std::string lonRef = gpstext::normalizeHemisphereRef(longitudeRef);
    if (!((latRef == "N" || latRef == "S") && (lonRef == "E" || lonRef == "W")))
        return validationError(kTempFileBadHemisphere, "Temp file contains invalid GPS hemisphere references");

    diag::debug("GPS data validation passed: lat=" + *latitude + " lon=" + *longitude + " latRef=" + latRef +
                " lonRef=" + lonRef);
    diag::debug("All temp file validations passed successfully");
    return Done{};
}

}  // namespace meridane
