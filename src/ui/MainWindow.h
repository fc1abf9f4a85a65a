// SPDX-License-Identifier: GPL-3.0-or-later
// The application's one window: the content view under a menu bar whose
// application menu holds "Check for Updates…". It owns the batch run, the
// folder dialog the run asks through and the notification of a long run's
// end. Closing it during a run asks whether to stop after the files in flight.
#pragma once

#include <QMainWindow>

#include <functional>
#include <memory>

class QAction;

namespace meridane {
class BatchRun;
}

namespace meridane::ui {

class ContentView;
class FolderAccessDialog;
class RunNotification;
class RunFlow;
class UpdateChecker;
class UpdatesViewModel;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    /// updateChecker: the check behind the menu item; the window owns it.
    explicit MainWindow(UpdateChecker* updateChecker = nullptr, QWidget* parent = nullptr);
    ~MainWindow() override;

    static QString checkForUpdatesText();

    /// Asks whether to stop the run after the files in flight and close;
    /// replaceable for tests. The default asks in a message box.
    using StopQuestion = std::function<bool()>;
    void setStopQuestion(StopQuestion question);

    BatchRun& run() const { return *run_; }
    ContentView* content() const { return content_; }
    UpdatesViewModel* updates() const { return updates_; }
    QAction* checkForUpdatesAction() const { return checkForUpdates_; }
    RunNotification* runNotification() const { return notification_; }
    RunFlow* flow() const { return flow_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    bool askToStop();

    std::unique_ptr<BatchRun> run_;
    std::unique_ptr<FolderAccessDialog> folderDialog_;
    ContentView* content_;
    UpdatesViewModel* updates_;
    QAction* checkForUpdates_;
    RunNotification* notification_;
    RunFlow* flow_ = nullptr;
    StopQuestion stopQuestion_;
    bool closeWhenStopped_ = false;
};

}  // namespace meridane::ui
