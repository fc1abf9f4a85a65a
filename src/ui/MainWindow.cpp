#include "ui/MainWindow.h"

#include "engine/BatchRun.h"
#include "ui/ContentView.h"
#include "ui/FolderAccessDialog.h"
#include "ui/UpdateChecker.h"
#include "ui/UpdatesViewModel.h"

#include <QAction>
#include <QApplication>
#include <QMenuBar>
#include <QMessageBox>

namespace meridane::ui {

MainWindow::MainWindow(UpdateChecker* updateChecker, QWidget* parent)
    : QMainWindow(parent),
      run_(std::make_unique<BatchRun>()),
      folderDialog_(std::make_unique<FolderAccessDialog>(this)),
      content_(new ContentView(*run_, this)),
      updates_(nullptr),
      checkForUpdates_(nullptr) {
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(QStringLiteral("Meridane"));
    setWindowIcon(QIcon(QStringLiteral(":/meridane/meridane.svg")));
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

    resize(720, 720);
}

MainWindow::~MainWindow() {
    // The content view refers to the run; let it go first.
    delete takeCentralWidget();
}

QString MainWindow::checkForUpdatesText() { return QStringLiteral("Check for Updates\u2026"); }

}  // namespace meridane::ui
