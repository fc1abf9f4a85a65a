#include "ui/FileManagerReveal.h"

#include "ui/PathText.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QFileInfo>

namespace meridane::ui {

FileManagerReveal::FileManagerReveal(QObject* parent)
    : FileManagerReveal(QDBusConnection::sessionBus(), [](const QUrl& folder) { QDesktopServices::openUrl(folder); },
                        parent) {}

FileManagerReveal::FileManagerReveal(QDBusConnection bus, FolderOpener openFolder, QObject* parent)
    : QObject(parent), bus_(std::move(bus)), openFolder_(std::move(openFolder)) {}

void FileManagerReveal::reveal(const std::filesystem::path& file) {
    const QUrl url = QUrl::fromLocalFile(pathText(file));
    if (!bus_.isConnected()) {
        openFolderOf(url);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{url.toString(QUrl::FullyEncoded)} << QString();
    // Asynchronous, so a file manager that is slow to start never freezes
    // the window; a missing one shows up as an error reply.
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, callTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, url] {
        watcher->deleteLater();
        if (watcher->isError())
            openFolderOf(url);
        else
            Q_EMIT shownInFileManager(url);
    });
}

void FileManagerReveal::openFolderOf(const QUrl& file) {
    const QUrl folder = QUrl::fromLocalFile(QFileInfo(file.toLocalFile()).absolutePath());
    if (openFolder_)
        openFolder_(folder);
    Q_EMIT openedFolder(folder);
}

}  // namespace meridane::ui
