// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/FolderAccessPrompt.h"

#include "access/SidecarAccess.h"

namespace meridane {

bool folderAccessPromptCanHelp() { return folderGrantsCanGiveAccess(); }

bool isUnwritableFolderFailure(std::string_view failure) { return isCannotWriteToFolderText(failure); }

}  // namespace meridane
