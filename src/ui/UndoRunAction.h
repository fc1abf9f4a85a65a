// SPDX-License-Identifier: GPL-3.0-or-later
// "Undo Last Run…" (Ctrl+Z): enabled while no run is in progress and a kept
// run can be undone; asks, with the count of sidecars and the space kept
// runs take, then undoes that run in the window's batch run, rows and all.
#pragma once

#include <QAction>

#include <cstdint>
#include <functional>

namespace meridane {
class BatchRun;
struct KeptRun;
}

namespace meridane::ui {

class UndoRunAction : public QAction {
    Q_OBJECT
public:
    UndoRunAction(BatchRun& run, QWidget* window);

    static QString actionText();
    /// The question asked before an undo; the text is the message box's.
    static QString questionText(const KeptRun& run);
    static QString detailText(std::size_t keptRuns, std::uint64_t keptBytes);

    /// Replaces the message box (tests): answers whether to undo.
    using Confirmation = std::function<bool(const KeptRun& run, const QString& question, const QString& detail)>;
    void setConfirmation(Confirmation confirmation);

    /// Looks again whether a run can be undone (kept runs may come from other processes).
    void refresh();

private:
    void undoLastRun();

    BatchRun& run_;
    QWidget* window_;
    Confirmation confirmation_;
};

}  // namespace meridane::ui
