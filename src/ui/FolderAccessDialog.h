// SPDX-License-Identifier: GPL-3.0-or-later
// The window's answer to the core's folder-access question inside a sandbox:
// the desktop's folder chooser (the document portal) opened at the sidecar's
// folder, run modally on the GUI thread.
#pragma once

#include "engine/FolderAccessPrompt.h"

#include <QPointer>
#include <QString>

class QWidget;

namespace meridane::ui {

class FolderAccessDialog : public FolderAccessPrompt {
public:
    explicit FolderAccessDialog(QWidget* parent = nullptr);

    static QString message();
    static QString acceptLabel();

    std::optional<std::filesystem::path> promptForFolderAccess(const std::filesystem::path& folder) override;

private:
    QPointer<QWidget> parent_;
};

}  // namespace meridane::ui
