// SPDX-License-Identifier: GPL-3.0-or-later
#include "sidecar/internal/AtomicSave.h"

#include "base/Diagnostics.h"
#include "base/GPSText.h"
#include "sidecar/internal/FileSystem.h"
#include "sidecar/internal/XmpWriteQueue.h"
#include "xmp/XMPXML.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <string>

#ifdef MERIDANE_TEST_HOOKS
#include <cstdio>
#include <cstdlib>
#endif

namespace meridane {
namespace {

using sidecar::Descriptor;
using sidecar::FileSystem;
using sidecar::quotedName;
using sidecar::withContext;

constexpr std::uint64_t kBytesPerMB = 1'048'576;
constexpr double kSizeChangeWarningRatio = 0.5;

Error validationError(ValidationCode code, std::string message) {
    return Error{ErrorDomain::validation, code, std::move(message)};
}

Error saveError(SidecarSaveCode code, std::string message) {
    return Error{ErrorDomain::xmp, code, std::move(message)};
}

#ifdef MERIDANE_TEST_HOOKS
// Test builds only: with MERIDANE_TEST_SAVE_PAUSE_FDS="w,r" every save, once
// its temporary file is flushed, writes the sidecar's path and a newline to
// descriptor w and waits for one byte on r, so that a test can edit the
// sidecar at exactly that moment.
void pauseAfterFlush(const std::filesystem::path& sidecar) {
    const char* fds = std::getenv("MERIDANE_TEST_SAVE_PAUSE_FDS");
    int toTest = -1, fromTest = -1;
    if (!fds || std::sscanf(fds, "%d,%d", &toTest, &fromTest) != 2)
        return;
    const std::string line = sidecar.native() + "\n";
    char go = 0;
    if (::write(toTest, line.data(), line.size()) == static_cast<ssize_t>(line.size()))
        (void)::read(fromTest, &go, 1);
}
#endif

/// Room for the new document and the 100 MB margin. A document of less than
/// a megabyte needs exactly the margin; a larger one its whole megabytes more.
Status checkFreeSpace(FileSystem& fs, int folder, const std::filesystem::path& sidecarPath, std::uint64_t size) {
    auto capacity = fs.availableCapacity(folder);
    if (!capacity) {
        Error error =
            withContext(capacity.error(), "Could not determine the free space for " + quotedName(sidecarPath));
        diag::debug("Failed to check disk space: " + describe(error));
        return error;
    }
    const std::uint64_t available = capacity->value_or(0);
    const std::uint64_t required = kRequiredFreeBytes + size / kBytesPerMB * kBytesPerMB;
    const std::string availableMB = std::to_string(available / kBytesPerMB);
    if (available < required) {
        Error error{ErrorDomain::diskSpace, kDiskSpaceInsufficient,
                    "Insufficient disk space. Available: " + availableMB +
                        "MB, Required: " + std::to_string(required / kBytesPerMB) + "MB"};
        diag::debug("Failed to check disk space: " + describe(error));
        return error;
    }
    diag::debug("Disk space check passed: ", availableMB, "MB available");
    return Done{};
}

/// Whether a file on a volume without user attributes holds what a save
/// writes: an XMP packet.
bool holdsXmpPacket(FileSystem& fs, int fd, std::uint64_t size) {
    if (size > 4 * sidecar::kMaximumSidecarBytes)
        return false;
    auto bytes = fs.readWhole(fd, size, 4 * sidecar::kMaximumSidecarBytes);
    return bytes && (bytes->find("<x:xmpmeta") != std::string::npos || bytes->find("<rdf:RDF") != std::string::npos);
}

/// Clears what an earlier save left on the temporary name. Only a file a save
/// made is removed: one that carries the mark, or one still empty (a save
/// stopped between creating and marking it). On a volume that keeps no
/// marks, a file holding an XMP packet counts as a save's. A file a save
/// still holds the lock of is left to it, and a folder is left for the
/// creation to fail on; anything else is in the way.
Status clearStaleTemporary(FileSystem& fs, int folder, const std::string& tempName) {
    auto info = fs.statusAt(folder, tempName);
    if (!info || info->isDirectory)
        return Done{};
    const Error inTheWay = saveError(kTemporaryInTheWay, "A file named " + tempName + " is in the way");
    if (!info->isRegularFile)
        return inTheWay;
    auto fd = fs.openForReading(folder, tempName);
    if (!fd)  // another user's, unreadable: whose it is cannot be told
        return inTheWay;
    Descriptor stale(fd.value());
    Status locked = fs.tryLock(stale.get());
    if (!locked && locked.error().code == EWOULDBLOCK)
        return saveError(kSidecarBusy, "XMP sidecar is being saved by another program");
    auto held = fs.statusOf(stale.get());
    if (!held || !held->sameFile(info.value()))
        return inTheWay;
    auto marked = fs.isMarkedTemporary(stale.get());
    const bool unmarkable = !marked && marked.error().code == ENOTSUP;
    const bool made = (marked && marked.value()) || held->size == 0 ||
                      (unmarkable && holdsXmpPacket(fs, stale.get(), held->size));
    if (!made)
        return inTheWay;
    (void)fs.removeAt(folder, tempName);
    return Done{};
}

/// An account's name, or its number when the system knows no name for it.
std::string accountName(uid_t owner, gid_t group, bool ofOwner) {
    std::array<char, 4096> buffer{};
    if (ofOwner) {
        struct passwd entry {};
        struct passwd* found = nullptr;
        if (::getpwuid_r(owner, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
            return found->pw_name;
        return std::to_string(owner);
    }
    struct group entry {};
    struct group* found = nullptr;
    if (::getgrgid_r(group, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
        return found->gr_name;
    return std::to_string(group);
}

/// Writes the whole text and gives the file the sidecar's owner, group,
/// extended attributes and permission bits, then flushes it to disk.
Status writeTemporaryFile(FileSystem& fs, int fd, const std::string& tempName, std::string_view text,
                          const sidecar::FileInfo& original, int originalFd) {
    const std::string writeContext = "Could not write " + quotedName(tempName);
    while (!text.empty()) {
        auto written = fs.write(fd, text);
        if (!written)
            return withContext(written.error(), writeContext);
        if (written.value() == 0)
            return withContext(sidecar::systemError(EIO), writeContext);
        text.remove_prefix(std::min(written.value(), text.size()));
    }
    // A save by another member of a shared folder's group must not make the
    // sidecar theirs: without the right to give the file its owner and group
    // the sidecar stays as it is.
    if (Status owned = fs.setOwner(fd, original.owner, original.group); !owned) {
        if (owned.error().code == EPERM) {
            // Our own file whose group we cannot give: the group is at stake.
            const bool ofOwner = original.owner != ::geteuid();
            return saveError(kSidecarOwnerNotKept, std::string("Cannot keep the XMP sidecar's ") +
                                                       (ofOwner ? "owner (" : "group (") +
                                                       accountName(original.owner, original.group, ofOwner) +
                                                       "); not replaced");
        }
        return withContext(owned.error(), "Could not give " + quotedName(tempName) + " the sidecar's owner");
    }
    if (originalFd >= 0)
        if (Status copied = fs.copyAttributes(originalFd, fd); !copied)
            return withContext(copied.error(), "Could not copy the extended attributes to " + quotedName(tempName));
    // After the owner: a change of owner clears the set-id bits.
    if (Status chmod = fs.setMode(fd, original.mode); !chmod)
        return withContext(chmod.error(), "Could not set the permissions of " + quotedName(tempName));
    if (Status synced = fs.sync(fd); !synced)
        return withContext(synced.error(), writeContext);
    return Done{};
}

/// Whether the file read is, as far as its status and its bytes tell, as it
/// was read. Its bytes are compared too: two edits within one tick of a
/// coarse clock leave size and times alike.
bool stillAsRead(FileSystem& fs, const SidecarFile::State& sidecar, const sidecar::FileInfo& now) {
    if (!now.sameContentState(sidecar.identity) || !sidecar.file)
        return false;
    auto bytes = fs.readWhole(sidecar.file.get(), now.size, sidecar::kMaximumSidecarBytes);
    return bytes && bytes.value() == sidecar.bytes;
}

/// Just before the rename: the temporary file is still this save's, the
/// sidecar is still the file read and holds what was read, and the
/// sidecar's path still leads to it.
Status checkStillTheSame(FileSystem& fs, const SidecarFile::State& sidecar, const std::string& tempName,
                         const sidecar::FileInfo& temporary, const std::string& replaceContext) {
    auto tempNow = fs.statusAt(sidecar.folder.get(), tempName);
    if (!tempNow)
        return withContext(tempNow.error(), replaceContext);
    if (!tempNow->sameFile(temporary))
        return saveError(kSidecarBusy, "XMP sidecar is being saved by another program");
    auto now = fs.statusAt(sidecar.folder.get(), sidecar.realName);
    if (!now)
        return withContext(now.error(), replaceContext);
    if (!now->sameState(sidecar.identity) || !stillAsRead(fs, sidecar, now.value()))
        return saveError(kSidecarChanged, "XMP sidecar changed while it was being updated");
    auto reached = fs.status(sidecar.path);
    if (!reached || !reached->sameFile(sidecar.identity))
        return saveError(kSidecarMoved, "XMP sidecar was moved or relinked while it was being updated");
    return Done{};
}

/// Puts the temporary file in the sidecar's place. The two names swap their
/// files in one step, so that the file swapped out can be checked: if it is
/// not the file read, as read (another program wrote between the check and
/// the swap), the swap is undone and the file counts as changed. While it
/// sits on the temporary name the old file carries the mark, so that a save
/// stopped there leaves nothing the next save may not clear. Where the file
/// system cannot swap, one rename over the old file.
Status replaceSidecar(FileSystem& fs, const SidecarFile::State& sidecar, const std::string& tempName, int tempFd,
                      const sidecar::FileInfo& temporary, const std::string& replaceContext) {
    const int folder = sidecar.folder.get();
    const bool oldMarked = sidecar.file && fs.markTemporary(sidecar.file.get()).ok();
    const auto unmarkOld = [&] {
        if (oldMarked)
            (void)fs.unmarkTemporary(sidecar.file.get());
    };
    if (Status exchanged = fs.exchangeAt(folder, tempName, sidecar.realName); !exchanged) {
        unmarkOld();
        const int code = exchanged.error().code;
        if (exchanged.error().domain != ErrorDomain::fileSystem || (code != EINVAL && code != ENOSYS))
            return withContext(exchanged.error(), replaceContext);
        if (Status moved = fs.renameAt(folder, tempName, sidecar.realName); !moved)
            return withContext(moved.error(), replaceContext);
        return Done{};
    }
    auto swappedOut = fs.statusAt(folder, tempName);
    if (!swappedOut || !stillAsRead(fs, sidecar, swappedOut.value())) {
        if (Status back = fs.exchangeAt(folder, tempName, sidecar.realName); !back)
            return withContext(back.error(), "XMP sidecar changed while it was being updated, and " +
                                                 quotedName(tempName) + " holds its new content");
        unmarkOld();
        if (auto ours = fs.statusAt(folder, tempName); ours && ours->sameFile(temporary))
            (void)fs.removeAt(folder, tempName);
        return saveError(kSidecarChanged, "XMP sidecar changed while it was being updated");
    }
    if (auto old = fs.statusAt(folder, tempName); old && old->sameFile(sidecar.identity))
        (void)fs.removeAt(folder, tempName);
    (void)fs.unmarkTemporary(tempFd);
    return Done{};
}

/// A restore puts back bytes a sidecar once held: the temporary file must
/// hold exactly them, whatever their size.
Status checkWrittenBytes(FileSystem& fs, int tempFd, const sidecar::FileInfo& temporary, const std::string& text) {
    auto bytes = fs.readWhole(tempFd, temporary.size, text.size());
    if (!bytes || bytes.value() != text)
        return saveError(kTempFileNotAsWritten, "Temp file does not hold the bytes written");
    return Done{};
}

}  // namespace

std::string temporaryNameFor(const std::string& sidecarName) {
    // Appended piecewise: GCC 12 reports a false -Wrestrict for "." + s + ".tmp" at -O2.
    std::string name = ".";
    name += sidecarName;
    name += ".tmp";
    return name;
}

Status saveSidecarText(const std::string& text, SidecarFile::State& sidecar, SavedContent content,
                       const SidecarReplaceHook& beforeReplace) {
    FileSystem& fs = sidecar::fileSystem();
    const std::string name = sidecar.path.filename().string();
    const std::string tempName = temporaryNameFor(sidecar.realName);
    const int folder = sidecar.folder.get();

    if (tempName.size() > NAME_MAX)
        return saveError(kSidecarNameTooLong, "XMP sidecar name is too long for its temporary file (" +
                                                  std::to_string(sidecar.realName.size()) + " bytes; at most " +
                                                  std::to_string(NAME_MAX - 5) + ")");
    // A rename would give the new document to this name only and leave every
    // other link with the old one.
    if (sidecar.identity.links > 1)
        return saveError(kSidecarHardLinked, "XMP sidecar has " + std::to_string(sidecar.identity.links) +
                                                 " hard links; replacing it would separate them");

    if (Status space = checkFreeSpace(fs, folder, sidecar.path, text.size()); !space)
        return space.error();
    if (Status cleared = clearStaleTemporary(fs, folder, tempName); !cleared)
        return cleared.error();

    auto created = fs.createExclusive(folder, tempName, 0600);
    if (!created)
        return withContext(created.error(), "Could not create " + quotedName(tempName));
    Descriptor temp(created.value());
    (void)fs.tryLock(temp.get());  // marks it live for other saves' clean-up
    // Marks it as a save's own, for a later save's clean-up. A volume that
    // keeps no marks has its leftovers recognised by their content.
    (void)fs.markTemporary(temp.get());
    Status written = writeTemporaryFile(fs, temp.get(), tempName, text, sidecar.identity, sidecar.file.get());
    auto temporary = written ? fs.statusOf(temp.get()) : Result<sidecar::FileInfo>(written.error());
    if (!temporary) {
        // Half written: of no use to anyone, and it may hold space on a
        // volume that has just run full. (One that was written completely
        // but fails validation stays until the next save clears it.)
        (void)fs.removeAt(folder, tempName);
        return temporary.error();
    }
#ifdef MERIDANE_TEST_HOOKS
    pauseAfterFlush(sidecar.path);
#endif

    if (content == SavedContent::restoredSidecar) {
        if (Status exact = checkWrittenBytes(fs, temp.get(), temporary.value(), text); !exact) {
            (void)fs.removeAt(folder, tempName);
            return exact.error();
        }
    } else if (Status valid = validateTempFile(folder, tempName, sidecar.identity.size, content); !valid) {
        return valid.error();
    }
    if (beforeReplace)
        if (Status allowed = beforeReplace(SidecarReplacement{sidecar.path, sidecar.realPath, sidecar.bytes, text});
            !allowed) {
            // Without its journal entry the new document may not replace the
            // sidecar, now or later: it goes.
            (void)fs.removeAt(folder, tempName);
            return allowed.error();
        }

    // One swap of names (or one rename) over the old sidecar: the folder
    // never lacks its sidecar, even when the move fails.
    const std::string replaceContext = "Could not replace " + quotedName(sidecar.realName) + " with " +
                                       quotedName(tempName);
    if (Status same = checkStillTheSame(fs, sidecar, tempName, temporary.value(), replaceContext); !same) {
        // This save's own file is of no further use; another save's is left alone.
        if (same.error().domain == ErrorDomain::xmp && same.error().code != kSidecarBusy)
            (void)fs.removeAt(folder, tempName);
        return same.error();
    }
    if (Status replaced = replaceSidecar(fs, sidecar, tempName, temp.get(), temporary.value(), replaceContext);
        !replaced)
        return replaced.error();
    sidecar.releaseLock();
    // The folder is not flushed: that would only make the rename itself
    // survive a power loss, at the cost of one more disk flush per file.
    // Without it the folder holds, after a power loss, either the old
    // sidecar, untouched, or the new one, complete, since the temporary
    // file was flushed before the rename; never a partial sidecar.

    diag::debug("Successfully saved XMP: ", name);
    return Done{};
}

Status checkSavedSize(std::uint64_t size) {
    if (size > sidecar::kMaximumSidecarBytes)
        return saveError(kSidecarTooLarge, "The updated XMP sidecar would be too large (" + std::to_string(size) +
                                               " bytes; the limit is 16 MiB)");
    return Done{};
}

Status saveWithOptions(const std::string& text, SidecarFile::State& sidecar, SavedContent content,
                       const SidecarWriteOptions& options) {
    if (Status fits = checkSavedSize(text.size()); !fits)
        return fits;
    ReplacementLog* log = options.log;
    std::uint32_t entry = 0;
    if (log) {
        auto recorded = log->record(SidecarReplacement{sidecar.path, sidecar.realPath, sidecar.bytes, text});
        if (!recorded)
            return recorded.error();
        entry = recorded.value();
    }
    const SidecarReplaceHook beforeReplace = [&](const SidecarReplacement& replacement) -> Status {
        if (options.beforeReplace)
            if (Status allowed = options.beforeReplace(replacement); !allowed)
                return allowed;
        return log ? log->makeDurable(entry) : Status(Done{});
    };
    Status saved = XmpWriteQueue::shared().sync([&] { return saveSidecarText(text, sidecar, content, beforeReplace); });
    if (log)
        log->settle(entry, saved.ok());
    return saved;
}

Status validateTempFile(int folder, const std::string& tempName, std::uint64_t previousSize, SavedContent content) {
    FileSystem& fs = sidecar::fileSystem();

    auto info = fs.statusAt(folder, tempName);
    if (!info) {
        if (info.error().code == ENOENT || info.error().code == ENOTDIR)
            return validationError(kTempFileNotCreated, "Temp file was not created");
        return withContext(info.error(), "Could not read the attributes of " + quotedName(tempName));
    }
    const std::uint64_t size = info->size;
    if (size == 0)
        return validationError(kTempFileEmpty, "Temp file is empty");
    if (size < kMinimumSidecarBytes)
        return validationError(kTempFileTooSmall,
                               "Temp file too small (" + std::to_string(size) + " bytes), likely corrupted");

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
    if (diag::isListening())
        diag::debug("File size validation passed: " + std::to_string(size) + " bytes");

    Result<std::string> bytes = [&]() -> Result<std::string> {
        auto fd = fs.openForReading(folder, tempName);
        if (!fd)
            return fd.error();
        Descriptor file(fd.value());
        // Pretty printing may triple a document's size; what was just written is read back whole.
        return fs.readWhole(file.get(), size, 4 * sidecar::kMaximumSidecarBytes);
    }();
    if (!bytes)
        return validationError(kTempFileNotXml, "Temp file is not valid XML: " +
                                                    withContext(bytes.error(), "Could not read " + quotedName(tempName))
                                                        .message);
    auto document = xmp::XmpPacket::parse(bytes.value(), diag::isListening() ? xmp::XmpPacket::Detail::allProperties
                                                                             : xmp::XmpPacket::Detail::gpsProperties);
    if (!document)
        return validationError(kTempFileNotXml, "Temp file is not valid XML: " + document.error().message);

    const xmp::XmpPacket& packet = document.value();
    const xmp::Description* description = xmp::findDescriptionElement(packet);
    if (!description)
        return validationError(kTempFileNoDescription, "Temp file missing required XMP structure (rdf:Description)");
    diag::debug("XML structure validation passed");
    if (content == SavedContent::restoredSidecar)
        return Done{};

    const auto latitude = xmp::getElementValue("exif:GPSLatitude", packet, *description);
    const auto longitude = xmp::getElementValue("exif:GPSLongitude", packet, *description);
    const auto latitudeRef = xmp::getElementValue("exif:GPSLatitudeRef", packet, *description);
    const auto longitudeRef = xmp::getElementValue("exif:GPSLongitudeRef", packet, *description);
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

    diag::debug("GPS data validation passed: lat=", *latitude, " lon=", *longitude, " latRef=", latRef, " lonRef=",
                lonRef);
    diag::debug("All temp file validations passed successfully");
    return Done{};
}

}  // namespace meridane
