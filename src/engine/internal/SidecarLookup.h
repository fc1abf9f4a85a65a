// SPDX-License-Identifier: GPL-3.0-or-later
// Finding a sidecar whose name differs from the expected one only in letter
// case (IMG_0001.XMP for IMG_0001.xmp), as a case-insensitive file system
// would. A run lists each folder at most once, however many of its images
// lack a sidecar of the exact name: a folder of 20,000 photos is not listed
// 20,000 times.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace meridane {

/// The names in a folder that equal `name` but for letter case (the exact
/// name itself excluded), sorted. Unicode letters are compared lower-cased.
std::vector<std::string> caseVariantsIn(const std::vector<std::string>& folderNames, std::string_view name);

/// The folder listings of one run, shared by its workers.
class FolderListings {
public:
    /// The names of the folder's entries that end in ".xmp" in any letter
    /// case, as listed the first time this folder was asked for; empty when
    /// it cannot be listed.
    std::shared_ptr<const std::vector<std::string>> sidecarNamesIn(const std::filesystem::path& folder);

    /// How many folders have been listed (for tests and benchmarks).
    std::size_t listed() const;

private:
    mutable std::mutex mutex_;
    std::map<std::string, std::shared_ptr<const std::vector<std::string>>> folders_;
};

/// The sidecar names of a folder, listed now (no run to share a listing with).
std::vector<std::string> listSidecarNames(const std::filesystem::path& folder);

}  // namespace meridane
