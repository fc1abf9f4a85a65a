// SPDX-License-Identifier: GPL-3.0-or-later
// Reaching a sidecar before it is read or written: direct access, a folder the
// user granted earlier, or asking the user for the folder, in that order.
// There is no sandbox on Linux: a folder grant ("bookmark") is the folder's
// canonical path, remembered in the settings, and starting or stopping access
// does nothing, though every access record is still stopped once per file.
#pragma once

#include "base/Error.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class QSettings;

namespace meridane {

/// How one sidecar is reached: the path to read and write it through, and
/// the operation that ends the access, called exactly once per file.
struct ScopedAccess {
    std::filesystem::path scopedPath;
    std::function<void()> stop;
};

/// Asks the user for a sidecar's folder (on the thread that can show a
/// dialog) and yields the chosen folder, or none when the user cancels.
using FolderPrompt = std::function<std::optional<std::filesystem::path>(const std::filesystem::path& folder)>;

/// "xmpBookmark::" + the folder's standardized path ("." and ".." resolved
/// lexically, no trailing separator). Bytes that are not UTF-8 appear as %XX.
std::string bookmarkKey(const std::filesystem::path& folder);

/// The remembered folder grants. By default they live in the user's
/// settings (Meridane/Meridane); tests and tools point them elsewhere.
namespace bookmarks {

std::optional<std::string> bookmarkData(const std::filesystem::path& folder);
void storeBookmarkData(const std::filesystem::path& folder, const std::string& data);

/// Bookmark bytes for a folder: its canonical path. Fails when the folder
/// does not exist or is not a folder.
Result<std::string> createBookmark(const std::filesystem::path& folder);
/// The folder a bookmark names; fails when it is gone.
Result<std::filesystem::path> resolveBookmark(const std::string& data);

/// Replaces the settings the grants are kept in (none: the default).
void useSettings(std::unique_ptr<QSettings> settings);

}  // namespace bookmarks

/// Keeps the grants in an INI file while it lives (tests, tools).
class ScopedBookmarkSettings {
public:
    explicit ScopedBookmarkSettings(const std::filesystem::path& iniFile);
    ~ScopedBookmarkSettings();
    ScopedBookmarkSettings(const ScopedBookmarkSettings&) = delete;
    ScopedBookmarkSettings& operator=(const ScopedBookmarkSettings&) = delete;
};

/// The permission test behind direct access: access(2) with R_OK or W_OK.
/// Replaceable for tests, since a superuser may read and write anything.
using PathAccessCheck = std::function<bool(const std::filesystem::path& path, int mode)>;

class ScopedPathAccessCheck {
public:
    explicit ScopedPathAccessCheck(PathAccessCheck check);
    ~ScopedPathAccessCheck();
    ScopedPathAccessCheck(const ScopedPathAccessCheck&) = delete;
    ScopedPathAccessCheck& operator=(const ScopedPathAccessCheck&) = delete;

private:
    PathAccessCheck previous_;
};

/// Yields how to reach the sidecar, or none when it cannot be reached (the
/// prompt was cancelled, there is no prompt, or the grant could not be made).
/// A sidecar that does not exist in a readable folder counts as reached:
/// no grant can make it appear, so the caller reports it as missing. A
/// granted folder, chosen now or remembered, reaches the sidecar only when it
/// is the sidecar's folder or one above it; a new choice that does not gives
/// none (the grant is still kept), a remembered one is passed over.
std::optional<ScopedAccess> requestSidecarAccess(const std::filesystem::path& sidecarPath, const FolderPrompt& prompt);

}  // namespace meridane
