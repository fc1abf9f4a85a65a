// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/RunFlow.h"

#include "engine/BatchRun.h"
#include "engine/RunHistory.h"
#include "ui/ContentView.h"
#include "ui/DropZone.h"
#include "ui/MessageBar.h"
#include "ui/PathText.h"
#include "ui/ResultsSection.h"
#include "ui/RunTexts.h"

#include <QAction>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>

#include <algorithm>

namespace meridane::ui {

namespace {

std::vector<std::filesystem::path> chooseWithDialog(QWidget* parent, RunFlow::Choose what) {
    const bool files = what == RunFlow::Choose::files;
    QFileDialog dialog(parent, files ? QStringLiteral("Open Photos") : QStringLiteral("Open Folder"));
    dialog.setFileMode(files ? QFileDialog::ExistingFiles : QFileDialog::Directory);
    if (files)
        dialog.setNameFilters({QStringLiteral("Photos (*.heic *.HEIC *.heif *.HEIF *.hif *.HIF *.dng *.DNG)"),
                               QStringLiteral("All files (*)")});
    std::vector<std::filesystem::path> chosen;
    if (dialog.exec() != QDialog::Accepted)
        return chosen;
    // URLs keep the exact bytes of a name that is not UTF-8.
    for (const QUrl& url : dialog.selectedUrls())
        if (auto path = pathFromUrl(url))
            chosen.push_back(std::move(*path));
    return chosen;
}

// "in Photos/2024, Photos/2025 and 3 more folders"
QString foldersText(const std::vector<std::filesystem::path>& files) {
    std::vector<std::filesystem::path> folders;
    for (const std::filesystem::path& file : files)
        if (std::find(folders.begin(), folders.end(), file.parent_path()) == folders.end())
            folders.push_back(file.parent_path());
    constexpr std::size_t shown = 3;
    QStringList names;
    for (std::size_t i = 0; i < folders.size() && i < shown; ++i)
        names << pathText(folders[i]);
    QString text = names.join(QStringLiteral(", "));
    if (folders.size() > shown)
        text += QStringLiteral(" and %1 more %2")
                    .arg(countText(static_cast<std::int64_t>(folders.size() - shown)),
                         folders.size() - shown == 1 ? QStringLiteral("folder") : QStringLiteral("folders"));
    return text;
}

// The Dry Run switch is what a write sets aside, and hiding skipped rows
// changes only what the list shows; every other option changes what is
// written, or where.
bool writesAlike(ProcessingOptionValues a, ProcessingOptionValues b) {
    a.dryRun = b.dryRun;
    a.silentlyIgnoreSkipped = b.silentlyIgnoreSkipped;
    return a == b;
}

QString sidecarsText(std::size_t count) {
    return countText(static_cast<std::int64_t>(count)) +
           (count == 1 ? QStringLiteral(" sidecar") : QStringLiteral(" sidecars"));
}

}  // namespace

RunFlow::RunFlow(BatchRun& run, ContentView& content, QWidget* window)
    : QObject(window),
      run_(run),
      content_(content),
      window_(window),
      chooser_(chooseWithDialog),
      open_(new QAction(QStringLiteral("Open\u2026"), window)),
      openFolder_(new QAction(QStringLiteral("Open Folder\u2026"), window)),
      runAgain_(new QAction(QStringLiteral("Run Again"), window)),
      writeChanges_(new QAction(QStringLiteral("Write Changes\u2026"), window)),
      undo_(new QAction(QStringLiteral("Undo"), window)),
      redo_(new QAction(QStringLiteral("Redo"), window)) {
    open_->setObjectName(QStringLiteral("open"));
    open_->setShortcut(QKeySequence::Open);
    openFolder_->setObjectName(QStringLiteral("openFolder"));
    openFolder_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O));
    runAgain_->setObjectName(QStringLiteral("runAgain"));
    runAgain_->setShortcut(QKeySequence::Refresh);
    writeChanges_->setObjectName(QStringLiteral("writeChanges"));
    undo_->setObjectName(QStringLiteral("undoWriteRun"));
    undo_->setShortcut(QKeySequence::Undo);
    redo_->setObjectName(QStringLiteral("redoWriteRun"));
    redo_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
    for (QAction* action : {open_, openFolder_, runAgain_, writeChanges_, undo_, redo_})
        window->addAction(action);  // the shortcuts work with the menu bar hidden too

    connect(open_, &QAction::triggered, this, [this] { open(Choose::files); });
    connect(openFolder_, &QAction::triggered, this, [this] { open(Choose::folder); });
    connect(content_.dropZone(), &DropZone::activated, this, [this] { open(Choose::files); });
    connect(runAgain_, &QAction::triggered, this, &RunFlow::runAgain);
    connect(writeChanges_, &QAction::triggered, this, &RunFlow::writePreviewedChanges);
    connect(content_.resultsSection()->writeChangesButton(), &QPushButton::clicked, this,
            &RunFlow::writePreviewedChanges);
    connect(undo_, &QAction::triggered, this, &RunFlow::undoWriteRun);
    connect(redo_, &QAction::triggered, this, &RunFlow::redoWriteRun);

    connect(&run_, &BatchRun::collectingStarted, this, &RunFlow::onCollectingStarted);
    connect(&run_, &BatchRun::runFinished, this, &RunFlow::onRunOver);
    connect(&run_, &BatchRun::optionsChanged, this, &RunFlow::onOptionsChanged);
    connect(&run_, &BatchRun::collectingFinished, this, [this] {
        if (!run_.isProcessing())
            onRunOver();  // nothing to run
    });
    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state == Qt::ApplicationActive)
            refresh();
    });
    refresh();
}

void RunFlow::setChooser(Chooser chooser) { chooser_ = std::move(chooser); }
void RunFlow::setConfirmation(Confirmation confirmation) { confirmation_ = std::move(confirmation); }

void RunFlow::addMenus(QMenuBar& bar) {
    QMenu* file = bar.addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("fileMenu"));
    file->addAction(open_);
    file->addAction(openFolder_);
    file->addSeparator();
    file->addAction(runAgain_);
    file->addAction(writeChanges_);
    QMenu* edit = bar.addMenu(QStringLiteral("&Edit"));
    edit->setObjectName(QStringLiteral("editMenu"));
    edit->addAction(undo_);
    edit->addAction(redo_);
    connect(edit, &QMenu::aboutToShow, this, &RunFlow::refresh);
}

bool RunFlow::confirm(const QString& title, const QString& question, const QString& detail, const QString& yes) {
    if (confirmation_)
        return confirmation_(title, question, detail, yes);
    QMessageBox box(QMessageBox::Question, title, question, QMessageBox::NoButton, window_);
    box.setInformativeText(detail);
    QPushButton* go = box.addButton(yes, QMessageBox::AcceptRole);
    box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(go);
    box.exec();
    return box.clickedButton() == go;
}

void RunFlow::start(const std::vector<std::filesystem::path>& paths) {
    if (!paths.empty())
        content_.handleDrop(paths);
}

void RunFlow::open(Choose what) {
    if (run_.isProcessing())
        return;
    start(chooser_(window_, what));
}

void RunFlow::runAgain() {
    if (!run_.isProcessing())
        start(lastPaths_);
}

void RunFlow::writePreviewedChanges() {
    if (run_.isProcessing() || previewed_.empty())
        return;
    const auto count = static_cast<std::int64_t>(previewed_.size());
    const QString question = count == 1 ? QStringLiteral("Write the change the dry run found to 1 XMP sidecar?")
                                        : QStringLiteral("Write the changes the dry run found to %1 XMP sidecars?")
                                              .arg(countText(count));
    const QString detail = QStringLiteral("Only these files are processed again, in %1. Sidecars changed since the "
                                          "dry run are compared again before anything is written.")
                               .arg(foldersText(previewed_));
    if (!confirm(QStringLiteral("Write Changes?"), question, detail, QStringLiteral("Write Changes")))
        return;
    // This run writes; the switch goes back to Dry Run once it is over, as
    // it describes the next run.
    ProcessingOptionValues options = run_.options();
    const bool wasDry = options.dryRun;
    options.dryRun = false;
    run_.setOptions(options);
    const std::vector<std::filesystem::path> files = previewed_;
    restoreDryRun_ = wasDry;
    if (!content_.handleDrop(files)) {
        restoreDryRun_ = false;
        options.dryRun = wasDry;
        run_.setOptions(options);
    }
}

void RunFlow::undoWriteRun() {
    if (run_.isProcessing() || run_.runsFolder().empty())
        return;
    const RunHistory& history = this->history();
    const std::optional<KeptRun> target = history.latestUndoableWrite();
    refresh();
    if (!target)
        return;
    const QString question = QStringLiteral("Put back the %1 that the write run of %2 replaced?")
                                 .arg(sidecarsText(target->sidecars), localTimeText(target->started));
    const QString detail = QStringLiteral("Each sidecar that still holds what the run wrote gets its earlier content "
                                          "back; one changed since is left alone and listed. Redo writes the "
                                          "changes again. Kept runs: %1, taking %2.")
                               .arg(countText(static_cast<std::int64_t>(history.keptCount())),
                                    QString::fromStdString(byteSizeText(history.totalBytes())));
    if (confirm(QStringLiteral("Undo Write Run?"), question, detail, QStringLiteral("Undo Write Run")))
        run_.undoRun(target->id);
}

void RunFlow::redoWriteRun() {
    if (run_.isProcessing() || run_.runsFolder().empty())
        return;
    const RunHistory& history = this->history();
    const std::optional<KeptRun> undoRun = history.latestRedoable();
    const std::optional<KeptRun> writeRun = undoRun ? history.find(undoRun->undoes) : std::nullopt;
    refresh();
    if (!undoRun || !writeRun || !writeRun->undoes.empty())
        return;
    const QString question = QStringLiteral("Write again the changes of the write run of %1 that the undo took back?")
                                 .arg(localTimeText(writeRun->started));
    const QString detail = QStringLiteral("%1 of the undo get the run's changes back; one changed since is left "
                                          "alone and listed.")
                               .arg(sidecarsText(undoRun->sidecars));
    // Undoing the undo is what puts the write run's changes back.
    if (confirm(QStringLiteral("Redo Write Run?"), question, detail, QStringLiteral("Redo Write Run")))
        run_.undoRun(undoRun->id);
}

const RunHistory& RunFlow::history() {
    if (!history_ || history_->folder() != run_.runsFolder())
        history_.emplace(run_.runsFolder());
    return *history_;
}

QString RunFlow::undoText(const KeptRun& writeRun) {
    return QStringLiteral("Undo Write Run of %1 (%2)\u2026")
        .arg(localTimeText(writeRun.started), sidecarsText(writeRun.sidecars));
}

QString RunFlow::redoText(const KeptRun& writeRun) {
    return QStringLiteral("Redo Write Run of %1\u2026").arg(localTimeText(writeRun.started));
}

void RunFlow::refresh() {
    const bool idle = !run_.isProcessing();
    open_->setEnabled(idle);
    openFolder_->setEnabled(idle);
    runAgain_->setEnabled(idle && !lastPaths_.empty());
    const bool canWrite = idle && !previewed_.empty();
    writeChanges_->setEnabled(canWrite);
    const QString writeText = canWrite ? writeChangesText(static_cast<std::int64_t>(previewed_.size()))
                                       : QStringLiteral("Write Changes\u2026");
    writeChanges_->setText(writeText);
    QPushButton* button = content_.resultsSection()->writeChangesButton();
    button->setText(writeText);
    button->setVisible(canWrite);

    std::optional<KeptRun> undoTarget;
    std::optional<KeptRun> redoTarget;
    if (idle && !run_.runsFolder().empty()) {
        const RunHistory& history = this->history();
        undoTarget = history.latestUndoableWrite();
        // Only an undo of a write run is redone; an undo of an undo is not a redo.
        if (const std::optional<KeptRun> undoRun = history.latestRedoable())
            if (redoTarget = history.find(undoRun->undoes); redoTarget && !redoTarget->undoes.empty())
                redoTarget.reset();
    }
    undo_->setEnabled(undoTarget.has_value());
    undo_->setText(undoTarget ? undoText(*undoTarget) : QStringLiteral("Undo"));
    redo_->setEnabled(redoTarget.has_value());
    redo_->setText(redoTarget ? redoText(*redoTarget) : QStringLiteral("Redo"));
}

void RunFlow::onCollectingStarted() {
    previewed_.clear();
    runIsDry_ = run_.undoneRunId().empty() && run_.options().dryRun;
    dryRunOptions_ = run_.options();
    if (!run_.droppedPaths().empty())
        lastPaths_ = run_.droppedPaths();
    refresh();
}

void RunFlow::onRunOver() {
    if (runIsDry_)
        for (const ProcessingResultDetail& detail : run_.results())
            if (const auto* updated = detail.result.get<ProcessingResult::Updated>(); updated && updated->dryRun)
                previewed_.push_back(detail.filePath);
    if (std::exchange(restoreDryRun_, false)) {
        ProcessingOptionValues options = run_.options();
        options.dryRun = true;
        run_.setOptions(options);
    }
    refresh();
}

void RunFlow::onOptionsChanged() {
    // A dry run still going stops being a preview too: its later files would
    // be judged with other options than its first ones.
    const bool previewing = !previewed_.empty() || (runIsDry_ && run_.isProcessing());
    if (!previewing || writesAlike(run_.options(), dryRunOptions_))
        return;
    previewed_.clear();
    runIsDry_ = false;
    content_.messageBar()->showMessage(
        QStringLiteral("previewDropped"),
        QStringLiteral("The settings changed since the dry run. Run Again (F5) to see what a write would do now."),
        MessageBar::Kind::information);
    refresh();
}

}  // namespace meridane::ui
