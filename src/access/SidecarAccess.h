// SPDX-License-Identifier: GPL-3.0-or-later
// Reaching a sidecar before it is read or written: direct access, a folder the
// user granted earlier, or asking the user for the folder, in that order.
// Outside a sandbox the process already has every access its user has, so a
// question could not add any: only a sandboxed build asks (through the
// desktop's document portal). A folder grant ("bookmark") is the folder's
// canonical path, remembered in the settings, and starting or stopping access
// does nothing, though every access record is still stopped once per file.
#pragma once

#include "base/Error.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

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

/// What the file needs of its sidecar: a dry run only reads it; a write run
/// also creates the temporary file beside it and renames it over the sidecar.
enum class SidecarUse { read, write };

/// The failure text of a sidecar that cannot be read, and of one that cannot
/// be reached through a prompt either.
inline constexpr char kSidecarPermissionDenied[] = "Permission denied for XMP sidecar";

/// "Cannot write to folder <folder>: <reason>", the reason in words
/// ("read-only file system", "permission denied") whatever the locale.
std::string cannotWriteToFolderText(const std::filesystem::path& folder, int error);
/// Whether a failure text is one of cannotWriteToFolderText's.
bool isCannotWriteToFolderText(std::string_view text);

/// Whether a folder grant can give this process access it does not have:
/// true only inside a Flatpak sandbox, where a folder chosen through the
/// document portal is exported to it. Elsewhere the front ends never ask.
bool folderGrantsCanGiveAccess();

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

/// Yields how to reach the sidecar for `use`, or why it cannot be reached:
/// the error's message is the file's failure text. A sidecar that cannot be
/// read gives kSidecarPermissionDenied; a write whose folder is not writable
/// gives cannotWriteToFolderText. The prompt (none: never asked) is asked
/// only when neither direct access nor a remembered grant reaches the
/// sidecar; when it is cancelled the reason above stands.
/// A sidecar that does not exist in a readable folder counts as reached:
/// no grant can make it appear, so the caller reports it as missing. A
/// granted folder, chosen now or remembered, reaches the sidecar only when it
/// is the sidecar's folder or one above it; a new choice that does not gives
/// none (the grant is still kept), a remembered one is passed over.
Result<ScopedAccess> requestSidecarAccess(const std::filesystem::path& sidecarPath, SidecarUse use,
                                         const FolderPrompt& prompt);

}  // namespace meridane
