// SPDX-License-Identifier: GPL-3.0-or-later
// The window's content: the header with the dry-run badge, the two
// switches, the drop zone, the progress block and the results section, in
// one column. It shows the batch run's state and forwards drops and switch
// changes to it; all processing happens in the run.
#pragma once

#include <QWidget>

#include <filesystem>
#include <vector>

class QCheckBox;
class QLabel;
class QMimeData;

namespace meridane {
class BatchRun;
}

namespace meridane::ui {

class DropZone;
class MessageBar;
class ProgressBlock;
class ResultsSection;
class WindowMessages;

class ContentView : public QWidget {
    Q_OBJECT
public:
    explicit ContentView(BatchRun& run, QWidget* parent = nullptr);

    /// Starts a run on dropped paths; refused (false) while one is running.
    bool handleDrop(const std::vector<std::filesystem::path>& paths);
    bool handleDrop(const QMimeData& mimeData);

    static QString badgeText();

    QLabel* titleLabel() const { return title_; }
    QLabel* badge() const { return badge_; }
    QCheckBox* dryRunSwitch() const { return dryRunSwitch_; }
    QCheckBox* silentSwitch() const { return silentSwitch_; }
    DropZone* dropZone() const { return dropZone_; }
    ProgressBlock* progressBlock() const { return progress_; }
    ResultsSection* resultsSection() const { return results_; }
    MessageBar* messageBar() const { return messageBar_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void applySwitches();
    void showOptions();
    void refreshProgress();
    void scheduleProgressRefresh();

    BatchRun& run_;
    QLabel* title_;
    QLabel* badge_;
    QCheckBox* dryRunSwitch_;
    QCheckBox* silentSwitch_;
    DropZone* dropZone_;
    ProgressBlock* progress_;
    ResultsSection* results_;
    MessageBar* messageBar_;
    WindowMessages* messages_;
    bool progressRefreshPending_ = false;
};

}  // namespace meridane::ui
