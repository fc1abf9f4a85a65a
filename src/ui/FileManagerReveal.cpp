// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/FileManagerReveal.h"

#include "access/SidecarAccess.h"
#include "ui/PathText.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

#include <sys/stat.h>

namespace meridane::ui {

namespace {

QString revealFailure(const QString& fileName, const QString& reason) {
    return QStringLiteral("Cannot reveal \u201C%1\u201D: %2.").arg(fileName, reason);
}

const QString kNoFileManager = QStringLiteral("no file manager is installed");

}  // namespace

FileManagerReveal::FileManagerReveal(QObject* parent)
    : FileManagerReveal(QDBusConnection::sessionBus(), {}, parent) {}

FileManagerReveal::FileManagerReveal(QDBusConnection bus, FolderOpener openFolder, QObject* parent)
    : QObject(parent), bus_(std::move(bus)), openFolder_(std::move(openFolder)) {}

void FileManagerReveal::reveal(const std::filesystem::path& file) {
    const QUrl url = fileUrl(file);
    const QUrl folder = fileUrl(std::filesystem::absolute(file).parent_path());
    const QString fileName = pathText(file.filename());
    struct stat status {};
    if (::lstat(file.c_str(), &status) != 0) {
        Q_EMIT revealFailed(revealFailure(fileName, QStringLiteral("the file is no longer there")));
        return;
    }
    if (!bus_.isConnected()) {
        openFolder(folder, fileName);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{url.toString(QUrl::FullyEncoded)} << QString();
    // Asynchronous, so a file manager that is slow to start never freezes
    // the window; a missing one shows up as an error reply.
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, callTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, url, folder, fileName] {
        watcher->deleteLater();
        if (watcher->isError())
            openFolder(folder, fileName);
        else
            Q_EMIT shownInFileManager(url);
    });
}

void FileManagerReveal::openFolder(const QUrl& folder, const QString& fileName) {
    auto done = [this, folder, fileName](const QString& failure) {
        if (failure.isEmpty())
            Q_EMIT openedFolder(folder);
        else
            Q_EMIT revealFailed(revealFailure(fileName, failure));
    };
    if (openFolder_)
        openFolder_(folder, done);
    else
        openWithDesktop(folder, done);
}

// QDesktopServices only knows whether it could start a helper, and a helper
// with no application for folders fails later and unseen; so outside a
// sandbox the desktop's handler of folders is looked up first. Inside one,
// the portal answers and there is nothing to look up.
void FileManagerReveal::openWithDesktop(const QUrl& folder, const std::function<void(const QString&)>& done) {
    const QString xdgMime = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
    if (folderGrantsCanGiveAccess() || xdgMime.isEmpty()) {
        done(QDesktopServices::openUrl(folder) ? QString() : kNoFileManager);
        return;
    }
    auto* query = new QProcess(this);
    query->setProgram(xdgMime);
    query->setArguments({QStringLiteral("query"), QStringLiteral("default"), QStringLiteral("inode/directory")});
    query->setStandardErrorFile(QProcess::nullDevice());
    connect(query, &QProcess::finished, this, [query, folder, done] {
        query->deleteLater();
        if (query->readAllStandardOutput().trimmed().isEmpty())
            done(kNoFileManager);
        else
            done(QDesktopServices::openUrl(folder) ? QString() : kNoFileManager);
    });
    connect(query, &QProcess::errorOccurred, this, [query, folder, done](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        query->deleteLater();
        done(QDesktopServices::openUrl(folder) ? QString() : kNoFileManager);
    });
    QTimer::singleShot(callTimeoutMs, query, [query] { query->kill(); });
    query->start();
}

}  // namespace meridane::ui
