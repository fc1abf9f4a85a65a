// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/FileManagerReveal.h"

#include "ui/PathText.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>

namespace meridane::ui {

FileManagerReveal::FileManagerReveal(QObject* parent)
    : FileManagerReveal(QDBusConnection::sessionBus(), [](const QUrl& folder) { QDesktopServices::openUrl(folder); },
                        parent) {}

FileManagerReveal::FileManagerReveal(QDBusConnection bus, FolderOpener openFolder, QObject* parent)
    : QObject(parent), bus_(std::move(bus)), openFolder_(std::move(openFolder)) {}

void FileManagerReveal::reveal(const std::filesystem::path& file) {
    const QUrl url = fileUrl(file);
    const QUrl folder = fileUrl(std::filesystem::absolute(file).parent_path());
    if (!bus_.isConnected()) {
        openFolder(folder);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{url.toString(QUrl::FullyEncoded)} << QString();
    // Asynchronous, so a file manager that is slow to start never freezes
    // the window; a missing one shows up as an error reply.
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, callTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, url, folder] {
        watcher->deleteLater();
        if (watcher->isError())
            openFolder(folder);
        else
            Q_EMIT shownInFileManager(url);
    });
}

void FileManagerReveal::openFolder(const QUrl& folder) {
    if (openFolder_)
        openFolder_(folder);
    Q_EMIT openedFolder(folder);
}

}  // namespace meridane::ui
