// SPDX-License-Identifier: GPL-3.0-or-later
// What an opened sidecar holds for its save: the real folder's descriptor,
// the real file's name in it, the descriptor that carries the lock, and the
// file's identity and state when it was read.
#pragma once

#include "sidecar/SidecarFile.h"
#include "sidecar/internal/FileSystem.h"
#include "xmp/XmlDocument.h"

#include <optional>

namespace meridane {

struct SidecarFile::State {
    std::filesystem::path path;      ///< as given
    std::filesystem::path realPath;  ///< the file read: `path`, or where its link led
    std::string realName;            ///< realPath's last component, in `folder`
    std::string bytes;
    std::optional<Result<xmp::XmlDocument>> document;  ///< bytes parsed, on first use
    sidecar::Descriptor folder;      ///< the real folder (O_PATH)
    sidecar::Descriptor file;        ///< the file read; holds the lock for a save
    sidecar::FileInfo identity;      ///< taken before the read
    bool forSaving = false;

    /// Lets other programs' saves of this sidecar go on.
    void releaseLock() { file.reset(); }
};

}  // namespace meridane
