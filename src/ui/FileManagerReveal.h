// SPDX-License-Identifier: GPL-3.0-or-later
// Shows a file selected in the desktop's file manager through the
// freedesktop FileManager1 D-Bus interface; when no file manager answers,
// opens the file's folder instead, and when nothing opens folders either,
// says so. The URLs carry the name's exact bytes.
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
    /// Opens a folder and calls `done` with an empty text, or with the
    /// reason it could not ("no file manager is installed").
    using FolderOpener = std::function<void(const QUrl& folder, std::function<void(const QString& failure)> done)>;

    /// Uses the session bus and the desktop's handler of folders.
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
    /// Nothing could show the file: "Cannot reveal “IMG_0001.HEIC”: <reason>."
    void revealFailed(const QString& message);

private:
    void openFolder(const QUrl& folder, const QString& fileName);
    void openWithDesktop(const QUrl& folder, const std::function<void(const QString&)>& done);

    QDBusConnection bus_;
    FolderOpener openFolder_;
};

}  // namespace meridane::ui
