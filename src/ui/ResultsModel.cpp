// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ResultsModel.h"

#include "engine/BatchRun.h"
#include "engine/Report.h"
#include "ui/PathText.h"

#include <algorithm>

namespace meridane::ui {

namespace {

bool isDryRunUpdate(const ProcessingResult& result) {
    const auto* updated = result.get<ProcessingResult::Updated>();
    return updated && updated->dryRun;
}

// Whether `file` lies in `folder` (or is it), compared component by component.
bool isWithin(const std::filesystem::path& file, const std::filesystem::path& folder) {
    auto f = file.begin();
    for (auto d = folder.begin(); d != folder.end(); ++d, ++f) {
        if (d->empty() && std::next(d) == folder.end())
            break;  // a trailing separator
        if (f == file.end() || *f != *d)
            return false;
    }
    return true;
}

}  // namespace

ResultsModel::ResultsModel(BatchRun& run, QObject* parent)
    : QAbstractListModel(parent), run_(run), shownOptions_(run.options()) {
    batchTimer_.setSingleShot(true);
    batchTimer_.setInterval(batchIntervalMs);
    connect(&batchTimer_, &QTimer::timeout, this, &ResultsModel::flushPending);
    connect(&run_, &BatchRun::runReset, this, &ResultsModel::onRunReset);
    connect(&run_, &BatchRun::resultRecorded, this, &ResultsModel::onResultRecorded);
    connect(&run_, &BatchRun::runFinished, this, &ResultsModel::flushPending);
    connect(&run_, &BatchRun::optionsChanged, this, &ResultsModel::onOptionsChanged);
    const auto& results = run_.results();
    for (std::size_t i = 0; i < results.size(); ++i)
        count(results[i], i);
    rebuild();
}

int ResultsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

Qt::ItemFlags ResultsModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren : Qt::NoItemFlags;
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
    case FolderRole: {
        const auto seen = names_.find(shown.filePath.filename().native());
        if (seen == names_.end() || seen->second.count < 2)
            return QString();
        return folderText(shown);
    }
    default:
        return {};
    }
}

QString ResultsModel::folderText(const ProcessingResultDetail& detail) const {
    const std::filesystem::path folder = detail.filePath.parent_path();
    const std::filesystem::path* best = nullptr;
    for (const std::filesystem::path& dropped : run_.droppedPaths())
        if (isWithin(detail.filePath, dropped) &&
            (!best || std::distance(dropped.begin(), dropped.end()) > std::distance(best->begin(), best->end())))
            best = &dropped;
    if (!best)
        return pathText(folder);
    if (detail.filePath == *best)  // a dropped file: the folder it is in
        return pathText(folder.filename());
    std::filesystem::path root = best->has_filename() ? *best : best->parent_path();
    const std::filesystem::path inside = folder.lexically_relative(root);
    std::filesystem::path shown = root.filename();
    if (!inside.empty() && inside != ".")
        shown /= inside;
    return pathText(shown);
}

bool ResultsModel::passes(Filter filter, ProcessingResult::Case resultCase) {
    using Case = ProcessingResult::Case;
    switch (filter) {
    case Filter::all:
        return true;
    case Filter::changes:
        return resultCase == Case::updated || resultCase == Case::restored;
    case Filter::problems:
        return resultCase == Case::failed || resultCase == Case::skippedDifferentGPS ||
               resultCase == Case::fileNotFound || resultCase == Case::unsupportedFile ||
               resultCase == Case::notRestored;
    }
    return true;
}

bool ResultsModel::isVisible(const ProcessingResultDetail& detail) const {
    const ProcessingResult& result = detail.result;
    if (shownOptions_.silentlyIgnoreSkipped && BatchRun::isHiddenWhenSilent(result))
        return false;
    if (!passes(filter_, result.resultCase()))
        return false;
    return search_.isEmpty() ||
           QString::fromStdString(fileNameText(detail.filePath)).contains(search_, Qt::CaseInsensitive);
}

void ResultsModel::count(const ProcessingResultDetail& detail, std::size_t resultIndex) {
    ++counts_.total;
    if (isDryRunUpdate(detail.result))
        ++counts_.wouldUpdate;
    else
        ++counts_.perCase[static_cast<std::size_t>(detail.result.resultCase())];
    NameSeen& seen = names_[detail.filePath.filename().native()];
    if (++seen.count == 1) {
        seen.first = static_cast<Row>(resultIndex);
    } else if (seen.count == 2) {
        // The first row of this name now shows its folder too.
        const auto shown = std::lower_bound(rows_.begin(), rows_.end(), seen.first);
        if (shown != rows_.end() && *shown == seen.first) {
            const QModelIndex first = index(static_cast<int>(shown - rows_.begin()));
            Q_EMIT dataChanged(first, first, {FolderRole});
        }
    }
}

void ResultsModel::onRunReset() {
    batchTimer_.stop();
    pending_.clear();
    names_.clear();
    counts_ = {};
    Q_EMIT countsChanged();
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
    count(results[index], index);
    if (isVisible(results[index]))
        pending_.push_back(static_cast<Row>(index));
    if (!batchTimer_.isActive())
        batchTimer_.start();
}

void ResultsModel::flushPending() {
    batchTimer_.stop();
    Q_EMIT countsChanged();
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
    if (filterChanged)
        rebuild();
}

void ResultsModel::setFilter(Filter filter) {
    if (filter == filter_)
        return;
    filter_ = filter;
    rebuild();
}

void ResultsModel::setSearchText(const QString& text) {
    const QString trimmed = text.trimmed();
    if (trimmed == search_)
        return;
    search_ = trimmed;
    rebuild();
}

std::vector<const ProcessingResultDetail*> ResultsModel::shownDetails() const {
    std::vector<const ProcessingResultDetail*> shown;
    shown.reserve(rows_.size() + pending_.size());
    for (const std::vector<Row>* rows : {&rows_, &pending_})
        for (Row row : *rows)
            shown.push_back(&run_.results().at(row));
    return shown;
}

void ResultsModel::rebuild() {
    batchTimer_.stop();
    const int before = rowCount();
    pending_.clear();
    beginResetModel();
    rows_.clear();
    const auto& results = run_.results();
    for (std::size_t i = 0; i < results.size(); ++i) {
        if (isVisible(results[i]))
            rows_.push_back(static_cast<Row>(i));
    }
    endResetModel();
    if (rowCount() != before)
        Q_EMIT visibleCountChanged(rowCount());
}

}  // namespace meridane::ui
