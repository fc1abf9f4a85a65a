// SPDX-License-Identifier: GPL-3.0-or-later
// One media file in, one result out: eligibility (type, camera, position),
// the sidecar beside it, access to it, the comparison and the update. Every
// decision is traced in "[DEBUG] " lines. Holds no state between files, so
// files may be processed on any thread.
#pragma once

#include "access/SidecarAccess.h"
#include "base/Coordinate.h"
#include "engine/ProcessingOptions.h"
#include "engine/ProcessingResult.h"
#include "sidecar/SidecarGPS.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace meridane {

class FolderAccessPrompt;
class FolderListings;

/// How the pipeline obtains access to a sidecar; requestSidecarAccess unless
/// a test observes or replaces it.
using SidecarAccessRequest =
    std::function<Result<ScopedAccess>(const std::filesystem::path& sidecarPath, SidecarUse use)>;

class MediaFileProcessor {
public:
    /// prompt: asked for a sidecar's folder when it cannot be reached (none:
    /// such sidecars fail with the reason, see requestSidecarAccess).
    explicit MediaFileProcessor(FolderAccessPrompt* prompt = nullptr);
    explicit MediaFileProcessor(SidecarAccessRequest requestAccess);

    /// Never fails: every problem becomes the file's result. The processing
    /// options are read once, when the file starts, and serve every decision
    /// and the row.
    ProcessingResult processFile(const std::filesystem::path& filePath,
                                 std::optional<Coordinate> knownCoordinate = std::nullopt) const;

    /// stem: the image path with its last extension replaced by the
    /// lower-case "xmp" (IMG_0001.HEIC gives IMG_0001.xmp, trip.edited.dng
    /// trip.edited.xmp); full: ".xmp" appended (IMG_0001.HEIC.xmp).
    static std::filesystem::path sidecarPath(const std::filesystem::path& filePath,
                                             SidecarNaming naming = SidecarNaming::stem);
    /// The last component of sidecarPath: "IMG_0001.xmp" for "IMG_0001.HEIC".
    static std::string sidecarName(std::string_view imageName, SidecarNaming naming = SidecarNaming::stem);

    /// Folder listings shared by the files of a run, for sidecars whose name
    /// differs only in letter case; none lists the folder for each such file.
    void setFolderListings(FolderListings* listings) { listings_ = listings; }

    /// Where saves note what they replace (the run's journal); none keeps nothing.
    void setReplacementLog(ReplacementLog* log) { log_ = log; }

private:
    SidecarAccessRequest requestAccess_;
    ReplacementLog* log_ = nullptr;
    FolderListings* listings_ = nullptr;
};

}  // namespace meridane
