// SPDX-License-Identifier: GPL-3.0-or-later
// The window's way from one step of a run to the next: File › Open… and
// Open Folder… (and the drop zone as a button) start a run, Run Again (F5)
// repeats the last run's items with the switches as they are now, "Write N
// Changes…" turns a dry run's findings into a write run over exactly the
// files that would change, and Edit › Undo/Redo name the write run they
// take back or put back.
#pragma once

#include "engine/ProcessingOptions.h"
#include "engine/RunHistory.h"

#include <QObject>

#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

class QAction;
class QMenuBar;
class QWidget;

namespace meridane {
class BatchRun;
}

namespace meridane::ui {

class ContentView;

class RunFlow : public QObject {
    Q_OBJECT
public:
    enum class Choose { files, folder };
    /// Asks the user for items to run on; empty when cancelled. The default
    /// is the desktop's own file chooser (a portal's where there is one).
    using Chooser = std::function<std::vector<std::filesystem::path>(QWidget* parent, Choose what)>;
    /// Asks before writing or undoing; answers whether to go ahead.
    using Confirmation =
        std::function<bool(const QString& title, const QString& question, const QString& detail, const QString& yes)>;

    RunFlow(BatchRun& run, ContentView& content, QWidget* window);

    void setChooser(Chooser chooser);
    void setConfirmation(Confirmation confirmation);

    /// File then Edit, appended to the bar.
    void addMenus(QMenuBar& bar);

    void open(Choose what);
    void runAgain();
    void writePreviewedChanges();
    void undoWriteRun();
    void redoWriteRun();
    /// Looks again at the kept runs and the run's state (kept runs may come
    /// from other processes).
    void refresh();

    /// The files of the last dry run whose sidecars would change, in row order.
    const std::vector<std::filesystem::path>& previewedFiles() const { return previewed_; }

    static QString undoText(const KeptRun& writeRun);
    static QString redoText(const KeptRun& writeRun);

    QAction* openAction() const { return open_; }
    QAction* openFolderAction() const { return openFolder_; }
    QAction* runAgainAction() const { return runAgain_; }
    QAction* writeChangesAction() const { return writeChanges_; }
    QAction* undoAction() const { return undo_; }
    QAction* redoAction() const { return redo_; }

private:
    void start(const std::vector<std::filesystem::path>& paths);
    void onCollectingStarted();
    void onRunOver();
    /// A setting that changes what a write does takes back the preview: a
    /// write must do exactly what the dry run showed.
    void onOptionsChanged();
    bool confirm(const QString& title, const QString& question, const QString& detail, const QString& yes);
    /// The kept runs of the run's runs folder, read again only where a journal changed.
    const RunHistory& history();

    BatchRun& run_;
    ContentView& content_;
    QWidget* window_;
    Chooser chooser_;
    Confirmation confirmation_;
    QAction* open_;
    QAction* openFolder_;
    QAction* runAgain_;
    QAction* writeChanges_;
    QAction* undo_;
    QAction* redo_;
    std::vector<std::filesystem::path> lastPaths_;
    std::vector<std::filesystem::path> previewed_;
    bool runIsDry_ = false;
    ProcessingOptionValues dryRunOptions_;
    bool restoreDryRun_ = false;
    std::optional<RunHistory> history_;
};

}  // namespace meridane::ui
