// SPDX-License-Identifier: GPL-3.0-or-later
// What an opened sidecar holds for its save: the real folder's descriptor,
// the real file's name in it, the descriptor that carries the lock, and the
// file's identity and state when it was read.
#pragma once

#include "sidecar/SidecarFile.h"
#include "sidecar/internal/FileSystem.h"
#include "xmp/XmpPacket.h"

#include <optional>

namespace meridane {

struct SidecarFile::State {
    std::filesystem::path path;      ///< as given
    std::filesystem::path realPath;  ///< the file read: `path`, or where its link led
    std::string realName;            ///< realPath's last component, in `folder` (for a save)
    std::string bytes;
    std::optional<Result<xmp::XmpPacket>> document;  ///< bytes parsed, on first use; views `bytes`
    sidecar::Descriptor folder;      ///< the real folder (O_PATH), for a save
    sidecar::Descriptor file;        ///< the file read, kept for a save: it holds the lock
    sidecar::FileInfo identity;      ///< taken before the read
    bool forSaving = false;

    /// Lets other programs' saves of this sidecar go on.
    void releaseLock() { file.reset(); }
};

}  // namespace meridane
