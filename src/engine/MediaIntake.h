// SPDX-License-Identifier: GPL-3.0-or-later
// Which files count as media files, and gathering them from folder trees.
#pragma once

#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace meridane {

/// "heic", "heif" and "dng".
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

/// The supported regular files under a folder, to any depth, sorted by name
/// within each folder, depth first. Hidden entries, packages and symbolic
/// links are passed over without a line; unreadable subfolders silently. A
/// folder that cannot be opened gives the empty list and no closing line.
std::vector<std::filesystem::path> collectMediaFiles(const std::filesystem::path& folder);

}  // namespace meridane
