// SPDX-License-Identifier: GPL-3.0-or-later
// What the window says in its message bar: it looks at a drop before the run
// starts (unreadable paths and files that are not photos are named there,
// and a drop with nothing to process keeps the previous results), and
// follows the run for what has no row of its own (a folder without photos,
// folders a write run cannot write to, once each).
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace meridane {
class BatchRun;
struct ProcessingResultDetail;
}

namespace meridane::ui {

class MessageBar;

/// A drop sorted before anything is searched or processed.
struct SortedDrop {
    std::vector<std::filesystem::path> toProcess;  ///< folders and photos, in the drop's order
    std::vector<std::filesystem::path> folders;
    QStringList unreadable;                        ///< one text per path that cannot be read
    int unsupportedCount = 0;
    QStringList unsupportedKinds;                  ///< "PDF", "JPG", "no extension", in order of appearance
};

/// Sorts dropped paths; asks the file system only about the paths themselves.
SortedDrop sortDrop(const std::vector<std::filesystem::path>& paths);

/// "3 files are not supported photos (PDF, JPG). Meridane reads HEIC, HEIF and DNG."
QString unsupportedText(int count, const QStringList& kinds);
/// "No photos in folder /p." or "No photos in the 2 dropped folders."
QString noPhotosText(const std::vector<std::filesystem::path>& folders);

class WindowMessages : public QObject {
    Q_OBJECT
public:
    WindowMessages(BatchRun& run, MessageBar& bar, QObject* parent = nullptr);

    /// Starts a run on what of `paths` can be processed and says what cannot.
    /// With nothing to process no run starts and the results stay. False
    /// while a run is in progress.
    bool startRun(const std::vector<std::filesystem::path>& paths);

    void revealFailed(const QString& message);
    void copied();

private:
    void collectingFinished();
    void resultRecorded(const ProcessingResultDetail& detail);

    BatchRun& run_;
    MessageBar& bar_;
    std::vector<std::filesystem::path> droppedFolders_;
    std::map<std::string, int> unwritableFolders_;  // failure text → files
};

}  // namespace meridane::ui
