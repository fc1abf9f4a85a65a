// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/UndoRunAction.h"

#include "engine/BatchRun.h"
#include "engine/Report.h"
#include "engine/RunHistory.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>

namespace meridane::ui {

UndoRunAction::UndoRunAction(BatchRun& run, QWidget* window) : QAction(actionText(), window), run_(run), window_(window) {
    setObjectName(QStringLiteral("undoLastRun"));
    setShortcut(QKeySequence::Undo);
    connect(this, &QAction::triggered, this, &UndoRunAction::undoLastRun);
    for (auto signal : {&BatchRun::collectingStarted, &BatchRun::collectingFinished, &BatchRun::runFinished})
        connect(&run_, signal, this, &UndoRunAction::refresh);
    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state == Qt::ApplicationActive)
            refresh();
    });
    refresh();
}

QString UndoRunAction::actionText() { return QStringLiteral("Undo Last Run\u2026"); }

QString UndoRunAction::questionText(const KeptRun& run) {
    return QStringLiteral("Put back the %1 %2 that the run of %3 replaced?")
        .arg(run.sidecars)
        .arg(run.sidecars == 1 ? QStringLiteral("sidecar") : QStringLiteral("sidecars"),
             QString::fromStdString(utcTimeText(run.started)));
}

QString UndoRunAction::detailText(std::size_t keptRuns, std::uint64_t keptBytes) {
    return QStringLiteral("Each sidecar that still holds what the run wrote gets its earlier content back; one "
                          "changed since is left alone and listed. The undo can be undone in turn. Kept runs: %1, "
                          "taking %2.")
        .arg(keptRuns)
        .arg(QString::fromStdString(byteSizeText(keptBytes)));
}

void UndoRunAction::setConfirmation(Confirmation confirmation) { confirmation_ = std::move(confirmation); }

void UndoRunAction::refresh() {
    setEnabled(!run_.isProcessing() && !run_.runsFolder().empty() &&
               RunHistory(run_.runsFolder()).latestUndoable().has_value());
}

void UndoRunAction::undoLastRun() {
    if (run_.isProcessing() || run_.runsFolder().empty())
        return;
    // One reading of the newest journals serves the question and the state.
    const RunHistory history(run_.runsFolder());
    const std::optional<KeptRun> target = history.latestUndoable();
    setEnabled(target.has_value());
    if (!target)
        return;
    const QString question = questionText(*target);
    const QString detail = detailText(history.keptCount(), history.totalBytes());
    bool confirmed = false;
    if (confirmation_) {
        confirmed = confirmation_(*target, question, detail);
    } else {
        QMessageBox box(QMessageBox::Question, QStringLiteral("Undo Last Run?"), question, QMessageBox::NoButton,
                        window_);
        box.setInformativeText(detail);
        QPushButton* undo = box.addButton(QStringLiteral("Undo Run"), QMessageBox::AcceptRole);
        box.addButton(QMessageBox::Cancel);
        box.setDefaultButton(undo);
        box.exec();
        confirmed = box.clickedButton() == undo;
    }
    if (confirmed)
        run_.undoRun(target->id);
}

}  // namespace meridane::ui
