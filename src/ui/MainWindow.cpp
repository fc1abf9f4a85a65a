// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/MainWindow.h"

#include "access/SidecarAccess.h"
#include "engine/BatchRun.h"
#include "ui/ContentView.h"
#include "ui/AppIdentity.h"
#include "ui/FolderAccessDialog.h"
#include "ui/HelpMenu.h"
#include "ui/RunNotification.h"
#include "ui/RunFlow.h"
#include "ui/WindowSize.h"
#include "ui/UpdateChecker.h"
#include "ui/UpdatesViewModel.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
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
    // Only a sandbox's portal can grant what this process lacks; elsewhere a
    // sidecar that cannot be reached fails with the reason, unasked.
    if (folderGrantsCanGiveAccess())
        run_->setFolderAccessPrompt(folderDialog_.get());
    // A window shorter than the content (a small screen at 200 %) scrolls
    // rather than being held taller than the screen.
    auto* scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("contentScroll"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidget(content_);
    setCentralWidget(scroll);

    if (!updateChecker)
        updateChecker = new UpdateChecker(updateFeedUrl(), QStringLiteral(MERIDANE_VERSION));
    updateChecker->setParent(this);
    updates_ = new UpdatesViewModel(updateChecker, this, this);

    // The application menu: what the desktop's application menu would hold.
    QMenu* appMenu = menuBar()->addMenu(QStringLiteral("&Meridane"));
    appMenu->setObjectName(QStringLiteral("applicationMenu"));
    checkForUpdates_ = appMenu->addAction(checkForUpdatesText());
    checkForUpdates_->setObjectName(QStringLiteral("checkForUpdates"));
    // Ctrl+Alt+U is the desktop's counterpart of Command-Option-U.
    checkForUpdates_->setShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_U));
    connect(checkForUpdates_, &QAction::triggered, updates_, &UpdatesViewModel::checkForUpdates);
    connect(updates_, &UpdatesViewModel::checkingChanged, checkForUpdates_,
            [this](bool checking) { checkForUpdates_->setEnabled(!checking); });
    appMenu->addSeparator();
    // Spelled out: without a desktop's platform theme Qt binds neither.
    QAction* closeWindow = appMenu->addAction(QStringLiteral("Close Window"));
    closeWindow->setObjectName(QStringLiteral("closeWindow"));
    closeWindow->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_W));
    connect(closeWindow, &QAction::triggered, this, &QWidget::close);
    QAction* quit = appMenu->addAction(QStringLiteral("Quit Meridane"));
    quit->setObjectName(QStringLiteral("quit"));
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(quit, &QAction::triggered, qApp, &QApplication::closeAllWindows);

    // File and Edit: open, run again, write a dry run's changes, undo, redo.
    flow_ = new RunFlow(*run_, *content_, this);
    flow_->addMenus(*menuBar());
    addHelpMenu(*this);

    // A window closed during a run goes once the files in flight are done.
    const auto closeIfStopped = [this] {
        if (closeWhenStopped_ && !run_->isProcessing())
            close();
    };
    connect(run_.get(), &BatchRun::runFinished, this, closeIfStopped);
    connect(run_.get(), &BatchRun::collectingFinished, this, closeIfStopped);

    fitToScreen(*this, QSize(720, 720));
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
    if (closeWhenStopped_)
        return;
    // Nothing more is written while the question is open.
    run_->pause();
    if (!askToStop()) {
        run_->resume();
        return;
    }
    closeWhenStopped_ = true;
    // The run may have ended while the question was open.
    if (!run_->isProcessing())
        QTimer::singleShot(0, this, &QWidget::close);
    else
        run_->stopAfterFilesInFlight();
    run_->resume();  // a stopped run starts nothing more
}

MainWindow::~MainWindow() {
    // The content view refers to the run; let it go first.
    delete takeCentralWidget();
}

QString MainWindow::checkForUpdatesText() { return QStringLiteral("Check for Updates\u2026"); }

}  // namespace meridane::ui
