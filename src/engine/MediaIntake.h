// SPDX-License-Identifier: GPL-3.0-or-later
// Which files count as media files, and gathering them from folder trees.
#pragma once

#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace meridane {

/// "heic", "heif", "hif" and "dng".
const std::set<std::string>& supportedMediaExtensions();

/// The text after the last full stop of the file name, as written; empty for
/// names without one and for hidden names whose only full stop leads (".HEIC").
std::string pathExtension(const std::filesystem::path& url);

/// Whether the lower-cased extension is supported; writes "[DEBUG] <name> is
/// not a supported media file" when it is not.
bool isSupportedMediaFile(const std::filesystem::path& url);

/// Directory names (lower-cased extension) that are opaque bundles: they are
/// never entered, as a file manager shows them as single items.
bool isPackageDirectoryName(const std::string& name);

/// A folder below a walked one that could not be read, and why, in words
/// ("permission denied").
struct UnreadableFolder {
    std::filesystem::path folder;
    std::string reason;
};

/// The supported regular files under a folder, to any depth, sorted by name
/// within each folder, depth first. Hidden entries, packages and symbolic
/// links are passed over without a line. Each subfolder that cannot be read
/// is added to `unreadable` (when given), and the walk goes on with the
/// others. A folder that cannot be opened gives the empty list and no
/// closing line. The walk has no depth limit and none on the length of the
/// paths it finds; it holds a bounded number of descriptors.
std::vector<std::filesystem::path> collectMediaFiles(const std::filesystem::path& folder,
                                                     std::vector<UnreadableFolder>* unreadable = nullptr);

}  // namespace meridane
