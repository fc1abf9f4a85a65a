// SPDX-License-Identifier: GPL-3.0-or-later
// The results list's model: one row per visible result of the batch run, in
// arrival order. It keeps its own map from visible rows to the run's results,
// extended as results arrive and rebuilt only when the filter changes, and it
// hands new rows to the view in batches so a fast run does not re-lay out the
// list for every single file.
#pragma once

#include "engine/ProcessingOptions.h"
#include "engine/ProcessingResult.h"

#include <QAbstractListModel>
#include <QTimer>

#include <cstdint>
#include <string>
#include <vector>

namespace meridane {
class BatchRun;
}

namespace meridane::ui {

class ResultsModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role {
        FileNameRole = Qt::DisplayRole,
        ReportTextRole = Qt::UserRole + 1,  ///< reportText of the row's result
        LineRole,                           ///< file name + ": " + report text
        CaseRole,                           ///< ProcessingResult::Case as int
    };

    /// How long new results may wait before they reach the view.
    static constexpr int batchIntervalMs = 25;

    explicit ResultsModel(BatchRun& run, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    const ProcessingResultDetail& detail(int row) const;
    /// Hands waiting results to the view now.
    void flushPending();
    bool hasPending() const { return !pending_.empty(); }

Q_SIGNALS:
    /// The number of rows changed (results arrived, the filter changed, or a
    /// new run cleared the list).
    void visibleCountChanged(int count);

private:
    /// The index of the row's result in the run's results.
    using Row = std::uint32_t;

    void onRunReset();
    void onResultRecorded();
    void onOptionsChanged();
    void rebuild();
    bool isVisible(const ProcessingResult& result) const;
    Row makeRow(std::size_t resultIndex) const;

    BatchRun& run_;
    ProcessingOptionValues shownOptions_;
    std::vector<Row> rows_;
    std::vector<Row> pending_;
    QTimer batchTimer_;
};

}  // namespace meridane::ui
