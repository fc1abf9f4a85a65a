// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/MainWindow.h"

#include "engine/BatchRun.h"
#include "ui/ContentView.h"
#include "ui/SettingsMenu.h"
#include "ui/AppIdentity.h"
#include "ui/FolderAccessDialog.h"
#include "ui/RunNotification.h"
#include "ui/UndoRunAction.h"
#include "ui/UpdateChecker.h"
#include "ui/UpdatesViewModel.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

namespace meridane::ui {

MainWindow::MainWindow(UpdateChecker* updateChecker, QWidget* parent)
    : QMainWindow(parent),
      run_(std::make_unique<BatchRun>()),
      folderDialog_(std::make_unique<FolderAccessDialog>(this)),
      content_(new ContentView(*run_, this)),
      updates_(nullptr),
      checkForUpdates_(nullptr),
      notification_(new RunNotification(*run_, *this, QDBusConnection::sessionBus(), RunNotification::longRun, this)) {
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(QStringLiteral("Meridane"));
    setWindowIcon(QIcon::fromTheme(applicationId(), QIcon(QStringLiteral(":/meridane/meridane.svg"))));
    run_->setFolderAccessPrompt(folderDialog_.get());
    setCentralWidget(content_);

    if (!updateChecker)
        updateChecker = new UpdateChecker(updateFeedUrl(), QStringLiteral(MERIDANE_VERSION));
    updateChecker->setParent(this);
    updates_ = new UpdatesViewModel(updateChecker, this, this);

    // The application menu: what the desktop's application menu would hold.
    QMenu* appMenu = menuBar()->addMenu(QStringLiteral("&Meridane"));
    appMenu->setObjectName(QStringLiteral("applicationMenu"));
    QAction* about = appMenu->addAction(QStringLiteral("About Meridane"));
    connect(about, &QAction::triggered, this, [this] {
        QMessageBox::about(this, QStringLiteral("About Meridane"),
                           QStringLiteral("Meridane %1\n\nCopies each photo's own GPS position into its XMP sidecar.")
                               .arg(QStringLiteral(MERIDANE_VERSION)));
    });
    checkForUpdates_ = appMenu->addAction(checkForUpdatesText());
    checkForUpdates_->setObjectName(QStringLiteral("checkForUpdates"));
    // Ctrl+Alt+U is the desktop's counterpart of Command-Option-U.
    checkForUpdates_->setShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_U));
    connect(checkForUpdates_, &QAction::triggered, updates_, &UpdatesViewModel::checkForUpdates);
    connect(updates_, &UpdatesViewModel::checkingChanged, checkForUpdates_,
            [this](bool checking) { checkForUpdates_->setEnabled(!checking); });
    appMenu->addSeparator();
    QAction* quit = appMenu->addAction(QStringLiteral("Quit Meridane"));
    quit->setShortcut(QKeySequence::Quit);
    connect(quit, &QAction::triggered, qApp, &QApplication::closeAllWindows);

    // Edit: the undo of a whole write run (an undo is a run too, so a second
    // undo takes it back).
    QMenu* editMenu = menuBar()->addMenu(QStringLiteral("&Edit"));
    editMenu->setObjectName(QStringLiteral("editMenu"));
    undoRun_ = new UndoRunAction(*run_, this);
    editMenu->addAction(undoRun_);
    connect(editMenu, &QMenu::aboutToShow, undoRun_, &UndoRunAction::refresh);
    menuBar()->addMenu(new SettingsMenu(*run_, this));

    // A window closed during a run goes once the files in flight are done.
    const auto closeIfStopped = [this] {
        if (closeWhenStopped_ && !run_->isProcessing())
            close();
    };
    connect(run_.get(), &BatchRun::runFinished, this, closeIfStopped);
    connect(run_.get(), &BatchRun::collectingFinished, this, closeIfStopped);

    resize(720, 720);
}

void MainWindow::setStopQuestion(StopQuestion question) { stopQuestion_ = std::move(question); }

bool MainWindow::askToStop() {
    if (stopQuestion_)
        return stopQuestion_();
    QMessageBox box(QMessageBox::Question, QStringLiteral("Stop the run?"),
                    QStringLiteral("Meridane is still processing files. Stop after the files in flight and close?"),
                    QMessageBox::NoButton, this);
    box.setInformativeText(QStringLiteral("Sidecars already saved stay saved; files not started are left as they are."));
    QPushButton* stop = box.addButton(QStringLiteral("Stop and Close"), QMessageBox::AcceptRole);
    box.addButton(QStringLiteral("Keep Running"), QMessageBox::RejectRole);
    box.setDefaultButton(stop);
    box.exec();
    return box.clickedButton() == stop;
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (!run_->isProcessing()) {
        QMainWindow::closeEvent(event);
        return;
    }
    event->ignore();
    if (closeWhenStopped_ || !askToStop())
        return;
    closeWhenStopped_ = true;
    // The run may have ended while the question was open.
    if (!run_->isProcessing())
        QTimer::singleShot(0, this, &QWidget::close);
    else
        run_->stopAfterFilesInFlight();
}

MainWindow::~MainWindow() {
    // The content view refers to the run; let it go first.
    delete takeCentralWidget();
}

QString MainWindow::checkForUpdatesText() { return QStringLiteral("Check for Updates\u2026"); }

}  // namespace meridane::ui
