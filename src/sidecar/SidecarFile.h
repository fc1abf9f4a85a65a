// SPDX-License-Identifier: GPL-3.0-or-later
// A sidecar as read for one file: its bytes and, when it may be saved, what
// the save needs to replace exactly the file that was read: its real folder
// held open, an exclusive lock that other Meridane processes respect, and the
// file's identity and state at the read.
#pragma once

#include "base/Error.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

namespace meridane::xmp {
class XmpPacket;
}

namespace meridane {

/// Codes of domain "XMP" beyond kXmpInvalid: why a save did not replace the sidecar.
enum SidecarSaveCode : int {
    kSidecarBusy = 2,          ///< another program holds the sidecar's lock
    kSidecarChanged = 3,       ///< the file changed between the read and the rename
    kSidecarMoved = 4,         ///< the sidecar's path leads to another file than the one read
    kSidecarHardLinked = 5,    ///< replacing it would separate its hard links
    kSidecarTooLarge = 6,      ///< larger than kMaximumSidecarBytes, read or to be written
    kSidecarNameTooLong = 7,   ///< its temporary file's name would exceed NAME_MAX
    kTemporaryInTheWay = 8,    ///< a file a save did not make holds the temporary file's name
    kSidecarOwnerNotKept = 9,  ///< the new file could not be given the sidecar's owner and group
    kTempFileNotAsWritten = 10,  ///< a restore's temporary file does not hold exactly the bytes written
};

class SidecarFile {
public:
    /// How long a save waits for another program's save of the same sidecar.
    static constexpr std::chrono::milliseconds kDefaultLockWait{10'000};

    struct Options {
        /// Hold the folder and the lock for a save; without it the file is only read.
        bool forSaving = false;
        std::chrono::milliseconds lockWait = kDefaultLockWait;
    };

    /// Reads the sidecar at `path`, following a symbolic link once. For a
    /// save, the lock is taken before the read, so that the bytes are those a
    /// save of another process left. Errors: the file system's error with
    /// "Could not read “name”: " before it (ENOENT and ENOTDIR bare, for a
    /// missing sidecar), kSidecarBusy and kSidecarTooLarge.
    static Result<SidecarFile> open(const std::filesystem::path& path, const Options& options);

    /// The sidecar's path as given.
    const std::filesystem::path& path() const;
    const std::string& bytes() const;
    /// The file a save replaces: path(), or where its link led.
    const std::filesystem::path& replacedPath() const;
    /// bytes() parsed as an XMP packet, once for the comparison and the
    /// update together; the update's edit splices its text.
    const Result<xmp::XmpPacket>& document() const;

    SidecarFile(SidecarFile&&) noexcept;
    SidecarFile& operator=(SidecarFile&&) noexcept;
    ~SidecarFile();

    struct State;  ///< internal: the save's view
    State& state() { return *state_; }

private:
    explicit SidecarFile(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

}  // namespace meridane
