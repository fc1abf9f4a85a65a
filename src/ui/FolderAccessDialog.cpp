// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/FolderAccessDialog.h"

#include "ui/PathText.h"

#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>

namespace meridane::ui {

FolderAccessDialog::FolderAccessDialog(QWidget* parent) : parent_(parent) {}

QString FolderAccessDialog::message() {
    return QStringLiteral(
        "This app needs access to the folder containing your XMP sidecar so it can read and update it.");
}

QString FolderAccessDialog::acceptLabel() { return QStringLiteral("Allow"); }

std::optional<std::filesystem::path> FolderAccessDialog::promptForFolderAccess(const std::filesystem::path& folder) {
    // A folder whose name no text can hold (Latin-1 bytes) cannot be shown;
    // the dialog opens at the nearest folder above it, which holds the sidecar
    // too and may be granted instead.
    QFileDialog dialog(parent_, message(), pathText(nearestShowableFolder(folder)));
    dialog.setObjectName(QStringLiteral("folderAccessDialog"));
    // The desktop's own chooser: inside a sandbox only the document portal's
    // dialog can grant the folder. Qt's dialog stands in where there is none,
    // with the message inside it.
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setOption(QFileDialog::ReadOnly, true);  // no "New Folder"
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setLabelText(QFileDialog::Accept, acceptLabel());
    if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout())) {
        auto* label = new QLabel(message(), &dialog);
        label->setObjectName(QStringLiteral("folderAccessMessage"));
        label->setWordWrap(true);
        grid->addWidget(label, grid->rowCount(), 0, 1, grid->columnCount());
    }
    dialog.setModal(true);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty() || chosen.first().isEmpty())
        return std::nullopt;
    return pathFromText(chosen.first());
}

}  // namespace meridane::ui
