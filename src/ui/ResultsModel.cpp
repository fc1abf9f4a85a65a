// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ResultsModel.h"

#include "engine/BatchRun.h"
#include "engine/Report.h"

namespace meridane::ui {

ResultsModel::ResultsModel(BatchRun& run, QObject* parent)
    : QAbstractListModel(parent), run_(run), shownOptions_(run.options()) {
    batchTimer_.setSingleShot(true);
    batchTimer_.setInterval(batchIntervalMs);
    connect(&batchTimer_, &QTimer::timeout, this, &ResultsModel::flushPending);
    connect(&run_, &BatchRun::runReset, this, &ResultsModel::onRunReset);
    connect(&run_, &BatchRun::resultRecorded, this, &ResultsModel::onResultRecorded);
    connect(&run_, &BatchRun::runFinished, this, &ResultsModel::flushPending);
    connect(&run_, &BatchRun::optionsChanged, this, &ResultsModel::onOptionsChanged);
    rebuild();
}

int ResultsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

Qt::ItemFlags ResultsModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemNeverHasChildren : Qt::NoItemFlags;
}

const ProcessingResultDetail& ResultsModel::detail(int row) const {
    return run_.results().at(rows_.at(static_cast<std::size_t>(row)));
}

QVariant ResultsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() < 0 || index.row() >= rowCount())
        return {};
    // The row shows what the clipboard gets: the report's texts, control
    // characters escaped; a name that is not UTF-8 shows U+FFFD.
    const ProcessingResultDetail& shown = detail(index.row());
    switch (role) {
    case FileNameRole:
        return QString::fromStdString(fileNameText(shown.filePath));
    case ReportTextRole:
        return QString::fromStdString(reportText(shown.result));
    case LineRole:
    case Qt::AccessibleTextRole:
    case Qt::ToolTipRole:  // the whole name, where the row has to shorten it
        return QString::fromStdString(resultLine(shown));
    case CaseRole:
        return static_cast<int>(shown.result.resultCase());
    default:
        return {};
    }
}

bool ResultsModel::isVisible(const ProcessingResult& result) const {
    return !shownOptions_.silentlyIgnoreSkipped || !BatchRun::isHiddenWhenSilent(result);
}

ResultsModel::Row ResultsModel::makeRow(std::size_t resultIndex) const {
    return static_cast<Row>(resultIndex);
}

void ResultsModel::onRunReset() {
    batchTimer_.stop();
    pending_.clear();
    if (rows_.empty())
        return;
    beginResetModel();
    rows_.clear();
    endResetModel();
    Q_EMIT visibleCountChanged(0);
}

void ResultsModel::onResultRecorded() {
    const auto& results = run_.results();
    if (results.empty())
        return;
    const std::size_t index = results.size() - 1;
    if (!isVisible(results[index].result))
        return;
    pending_.push_back(makeRow(index));
    if (!batchTimer_.isActive())
        batchTimer_.start();
}

void ResultsModel::flushPending() {
    batchTimer_.stop();
    if (pending_.empty())
        return;
    const int first = rowCount();
    beginInsertRows({}, first, first + static_cast<int>(pending_.size()) - 1);
    rows_.insert(rows_.end(), pending_.begin(), pending_.end());
    pending_.clear();
    endInsertRows();
    Q_EMIT visibleCountChanged(rowCount());
}

void ResultsModel::onOptionsChanged() {
    const ProcessingOptionValues options = run_.options();
    const bool filterChanged = options.silentlyIgnoreSkipped != shownOptions_.silentlyIgnoreSkipped;
    shownOptions_ = options;
    if (filterChanged) {
        const int before = rowCount();
        rebuild();
        if (rowCount() != before)
            Q_EMIT visibleCountChanged(rowCount());
    }
}

void ResultsModel::rebuild() {
    batchTimer_.stop();
    pending_.clear();
    beginResetModel();
    rows_.clear();
    const auto& results = run_.results();
    for (std::size_t i = 0; i < results.size(); ++i) {
        if (isVisible(results[i].result))
            rows_.push_back(makeRow(i));
    }
    endResetModel();
}

}  // namespace meridane::ui
