// SPDX-License-Identifier: GPL-3.0-or-later
// Shows a file selected in the desktop's file manager through the
// freedesktop FileManager1 D-Bus interface; when no file manager answers,
// opens the file's folder instead. The URLs carry the name's exact bytes.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QUrl>

#include <filesystem>
#include <functional>

namespace meridane::ui {

class FileManagerReveal : public QObject {
    Q_OBJECT
public:
    using FolderOpener = std::function<void(const QUrl& folder)>;

    /// Uses the session bus and QDesktopServices.
    explicit FileManagerReveal(QObject* parent = nullptr);
    FileManagerReveal(QDBusConnection bus, FolderOpener openFolder, QObject* parent = nullptr);

    /// Returns at once; the file manager is asked asynchronously.
    void reveal(const std::filesystem::path& file);

    static constexpr int callTimeoutMs = 5000;

Q_SIGNALS:
    /// The file manager took the request.
    void shownInFileManager(const QUrl& file);
    /// No file manager answered; the folder was opened instead.
    void openedFolder(const QUrl& folder);

private:
    void openFolder(const QUrl& folder);

    QDBusConnection bus_;
    FolderOpener openFolder_;
};

}  // namespace meridane::ui
