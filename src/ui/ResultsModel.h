// SPDX-License-Identifier: GPL-3.0-or-later
// The results list's model: one row per shown result of the batch run, in
// arrival order. It keeps its own map from shown rows to the run's results,
// extended as results arrive and rebuilt only when a filter changes, and it
// hands new rows to the view in batches so a fast run does not re-lay out the
// list for every single file. Besides the hidden kinds of a silent run, rows
// can be narrowed to changes or problems and to names holding a search text.
#pragma once

#include "engine/ProcessingOptions.h"
#include "engine/ProcessingResult.h"

#include <QAbstractListModel>
#include <QTimer>

#include <array>
#include <cstdint>
#include <string>
#include <unordered_map>
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
        FolderRole,  ///< the folder, relative to what was dropped, when another row has the same name; else empty
    };

    enum class Filter { all, changes, problems };

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

    /// Changes: updated (or would update) and restored. Problems: failed,
    /// GPS differs, not found, unsupported and not restored.
    static bool passes(Filter filter, ProcessingResult::Case resultCase);
    void setFilter(Filter filter);
    Filter filter() const { return filter_; }
    /// Rows whose file name holds the text, in any letter case; empty shows all.
    void setSearchText(const QString& text);
    const QString& searchText() const { return search_; }
    bool isNarrowed() const { return filter_ != Filter::all || !search_.isEmpty(); }

    /// Results of the current or last run per case; an updated row of a dry
    /// run counts as wouldUpdate, not as updated.
    struct Counts {
        std::array<std::int64_t, ProcessingResult::kCaseCount> perCase{};
        std::int64_t wouldUpdate = 0;
        std::int64_t total = 0;
    };
    const Counts& counts() const { return counts_; }

    /// The shown rows' details, in order (what "Copy All Results" copies).
    std::vector<const ProcessingResultDetail*> shownDetails() const;

Q_SIGNALS:
    /// The number of rows changed (results arrived, a filter changed, or a
    /// new run cleared the list).
    void visibleCountChanged(int count);
    /// counts() changed.
    void countsChanged();

private:
    /// The index of the row's result in the run's results.
    using Row = std::uint32_t;
    struct NameSeen {
        std::uint32_t count = 0;
        Row first = 0;
    };

    void onRunReset();
    void onResultRecorded();
    void onOptionsChanged();
    void rebuild();
    bool isVisible(const ProcessingResultDetail& detail) const;
    void count(const ProcessingResultDetail& detail, std::size_t resultIndex);
    QString folderText(const ProcessingResultDetail& detail) const;

    BatchRun& run_;
    ProcessingOptionValues shownOptions_;
    Filter filter_ = Filter::all;
    QString search_;
    std::vector<Row> rows_;
    std::vector<Row> pending_;
    Counts counts_;
    std::unordered_map<std::string, NameSeen> names_;
    QTimer batchTimer_;
    QTimer countsTimer_;
};

}  // namespace meridane::ui
