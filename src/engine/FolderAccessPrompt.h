// SPDX-License-Identifier: GPL-3.0-or-later
// The one question the core may ask the user: access to a sidecar's folder.
// The window answers it with a folder dialog; the CLI has no prompt.
#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

namespace meridane {

class FolderAccessPrompt {
public:
    virtual ~FolderAccessPrompt() = default;
    /// Runs on the thread that owns the batch run (the GUI thread) while the
    /// file waits. Returns the chosen folder, or none when the user cancels.
    virtual std::optional<std::filesystem::path> promptForFolderAccess(const std::filesystem::path& folder) = 0;
};

/// Whether a front end should offer its prompt at all: only inside a sandbox
/// can a folder chosen through the desktop give access this process lacks.
bool folderAccessPromptCanHelp();

/// Whether a row's failure text says that a write run could not write to the
/// sidecar's folder ("Cannot write to folder …: read-only file system").
bool isUnwritableFolderFailure(std::string_view failure);

}  // namespace meridane
