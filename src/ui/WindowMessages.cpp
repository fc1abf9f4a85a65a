// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/WindowMessages.h"

#include "base/Error.h"
#include "engine/FolderAccessPrompt.h"
#include "engine/BatchRun.h"
#include "engine/MediaIntake.h"
#include "ui/MessageBar.h"
#include "ui/PathText.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>

namespace meridane::ui {
namespace {

constexpr int kListedPaths = 3;

// The system's words, whatever the locale, but for what this program calls a folder.
QString reasonInWords(int error) {
    switch (error) {
    case ENOENT:
        return QStringLiteral("no such file or folder");
    case ELOOP:
        return QStringLiteral("too many symbolic links");
    default:
        return QString::fromStdString(systemErrorInWords(error));
    }
}

bool canOpenFolder(const std::filesystem::path& folder, int& error) {
    DIR* stream = ::opendir(folder.c_str());
    if (!stream) {
        error = errno;
        return false;
    }
    ::closedir(stream);
    return true;
}

QString kindOf(const std::filesystem::path& path) {
    const QString extension = QString::fromStdString(pathExtension(path)).toUpper();
    return extension.isEmpty() ? QStringLiteral("no extension") : extension;
}

QString listed(QStringList lines) {
    if (lines.size() > kListedPaths) {
        const qsizetype more = lines.size() - kListedPaths;
        lines = lines.mid(0, kListedPaths);
        lines << QStringLiteral("\u2026 and %1 more").arg(more);
    }
    return lines.join(QLatin1Char('\n'));
}

}  // namespace

SortedDrop sortDrop(const std::vector<std::filesystem::path>& paths) {
    SortedDrop sorted;
    for (const std::filesystem::path& path : paths) {
        struct stat status {};
        const bool exists = ::stat(path.c_str(), &status) == 0;
        const int statError = errno;
        if (exists && S_ISDIR(status.st_mode)) {
            int error = 0;
            if (!canOpenFolder(path, error)) {
                sorted.unreadable << QStringLiteral("Cannot read folder %1: %2").arg(pathText(path), reasonInWords(error));
                continue;
            }
            sorted.folders.push_back(path);
            sorted.toProcess.push_back(path);
        } else if (isSupportedMediaFile(path)) {
            // A photo that cannot be read, or is gone, gets its row with the reason.
            sorted.toProcess.push_back(path);
        } else if (!exists) {
            sorted.unreadable << QStringLiteral("Cannot read %1: %2").arg(pathText(path), reasonInWords(statError));
        } else {
            ++sorted.unsupportedCount;
            if (const QString kind = kindOf(path); !sorted.unsupportedKinds.contains(kind))
                sorted.unsupportedKinds << kind;
        }
    }
    return sorted;
}

QString unsupportedText(int count, const QStringList& kinds) {
    const QString what = count == 1 ? QStringLiteral("1 file is not a supported photo")
                                    : QStringLiteral("%1 files are not supported photos").arg(count);
    return QStringLiteral("%1 (%2). Meridane reads HEIC, HEIF and DNG.").arg(what, kinds.join(QStringLiteral(", ")));
}

QString noPhotosText(const std::vector<std::filesystem::path>& folders) {
    if (folders.size() == 1)
        return QStringLiteral("No photos in folder %1.").arg(pathText(folders.front()));
    return QStringLiteral("No photos in the %1 dropped folders.").arg(folders.size());
}

WindowMessages::WindowMessages(BatchRun& run, MessageBar& bar, QObject* parent)
    : QObject(parent), run_(run), bar_(bar) {
    connect(&run_, &BatchRun::collectingFinished, this, &WindowMessages::collectingFinished);
    connect(&run_, &BatchRun::resultRecorded, this, &WindowMessages::resultRecorded);
    // A run started elsewhere (an undo) makes what the last drop said stale.
    connect(&run_, &BatchRun::runReset, this, [this] {
        if (!startingRun_)
            bar_.clear();
    });
}

bool WindowMessages::startRun(const std::vector<std::filesystem::path>& paths) {
    if (run_.isProcessing())
        return false;
    const SortedDrop sorted = sortDrop(paths);
    bar_.clear();
    droppedFolders_ = sorted.folders;
    unwritableFolders_.clear();
    if (!sorted.toProcess.empty()) {
        startingRun_ = true;
        run_.processPaths(sorted.toProcess);
        startingRun_ = false;
    }
    if (!sorted.unreadable.isEmpty())
        bar_.showMessage(QStringLiteral("unreadable"), listed(sorted.unreadable), MessageBar::Kind::error);
    if (sorted.unsupportedCount > 0)
        bar_.showMessage(QStringLiteral("unsupported"), unsupportedText(sorted.unsupportedCount, sorted.unsupportedKinds),
                         MessageBar::Kind::warning);
    return true;
}

void WindowMessages::collectingFinished() {
    if (run_.totalCount() == 0 && run_.undoneRunId().empty() && !droppedFolders_.empty())
        bar_.showMessage(QStringLiteral("noPhotos"), noPhotosText(droppedFolders_), MessageBar::Kind::information);
    droppedFolders_.clear();
}

// One line per folder however many of its files failed for it; a few
// folders by name, the rest counted.
void WindowMessages::resultRecorded(const ProcessingResultDetail& detail) {
    const auto* failed = detail.result.get<ProcessingResult::Failed>();
    if (!failed || !isUnwritableFolderFailure(failed->error))
        return;
    ++unwritableFolders_[failed->error];
    QStringList lines;
    for (const auto& [text, files] : unwritableFolders_) {
        if (lines.size() == kListedPaths)
            break;
        lines << QString::fromStdString(text) +
                     (files == 1 ? QStringLiteral(" \u2014 1 sidecar not updated.")
                                 : QStringLiteral(" \u2014 %1 sidecars not updated.").arg(files));
    }
    if (const auto more = unwritableFolders_.size() - lines.size(); more > 0)
        lines << QStringLiteral("\u2026 and %1 more folders").arg(more);
    bar_.showMessage(QStringLiteral("unwritable"), lines.join(QLatin1Char('\n')), MessageBar::Kind::error);
}

void WindowMessages::revealFailed(const QString& message) {
    bar_.showMessage(QStringLiteral("reveal"), message, MessageBar::Kind::warning);
}

void WindowMessages::copied() { bar_.showMessage(QStringLiteral("copied"), QStringLiteral("Copied"), MessageBar::Kind::positive); }

}  // namespace meridane::ui
