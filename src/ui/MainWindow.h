// The application's one window: the content view under a menu bar whose
// application menu holds "Check for Updates…". It owns the batch run and
// the folder dialog the run asks through.
#pragma once

#include <QMainWindow>

#include <memory>

class QAction;

namespace meridane {
class BatchRun;
}

namespace meridane::ui {

class ContentView;
class FolderAccessDialog;
class UpdateChecker;
class UpdatesViewModel;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    /// updateChecker: the check behind the menu item; the window owns it.
    explicit MainWindow(UpdateChecker* updateChecker = nullptr, QWidget* parent = nullptr);
    ~MainWindow() override;

    static QString checkForUpdatesText();

    BatchRun& run() const { return *run_; }
    ContentView* content() const { return content_; }
    UpdatesViewModel* updates() const { return updates_; }
    QAction* checkForUpdatesAction() const { return checkForUpdates_; }

private:
    std::unique_ptr<BatchRun> run_;
    std::unique_ptr<FolderAccessDialog> folderDialog_;
    ContentView* content_;
    UpdatesViewModel* updates_;
    QAction* checkForUpdates_;
};

}  // namespace meridane::ui
