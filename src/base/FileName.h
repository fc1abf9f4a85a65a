// SPDX-License-Identifier: GPL-3.0-or-later
// The last component of a path as a view of the path's own text: nothing is
// built on the way, where that happens once or twice per file of a run.
#pragma once

#include <filesystem>
#include <string_view>

namespace meridane {

/// "IMG_0001.HEIC" for "/photos/IMG_0001.HEIC"; the whole text without a slash.
inline std::string_view fileNameOf(const std::filesystem::path& path) {
    const std::string_view text = path.native();
    const auto slash = text.rfind('/');
    return slash == std::string_view::npos ? text : text.substr(slash + 1);
}

}  // namespace meridane
