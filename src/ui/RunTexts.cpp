// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/RunTexts.h"

#include <QDateTime>
#include <QLocale>
#include <QStringList>

#include <utility>

namespace meridane::ui {

QString countText(std::int64_t count) { return QLocale().toString(static_cast<qlonglong>(count)); }

QString localTimeText(std::chrono::system_clock::time_point time, std::chrono::system_clock::time_point now) {
    const auto msecs = [](std::chrono::system_clock::time_point t) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
    };
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(msecs(time)).toLocalTime();
    const QDateTime today = QDateTime::fromMSecsSinceEpoch(msecs(now)).toLocalTime();
    const QLocale locale;
    if (local.date() == today.date())
        return locale.toString(local.time(), QLocale::ShortFormat);
    return locale.toString(local, QLocale::ShortFormat);
}

QString outcomeCountsText(const ResultsModel::Counts& counts) {
    using Case = ProcessingResult::Case;
    const auto of = [&counts](Case resultCase) { return counts.perCase[static_cast<std::size_t>(resultCase)]; };
    const std::pair<std::int64_t, const char*> parts[] = {
        {of(Case::updated), "updated"},
        {counts.wouldUpdate, "would update"},
        {of(Case::restored), "restored"},
        {of(Case::alreadyCorrect), "already correct"},
        {of(Case::withinTolerance), "within tolerance"},
        {of(Case::notRestored), "not restored"},
        {of(Case::skippedMissing), "skipped: missing"},
        {of(Case::skippedNonApple), "skipped: other camera"},
        {of(Case::skippedDifferentGPS), "skipped: GPS differs"},
        {of(Case::fileNotFound), "not found"},
        {of(Case::unsupportedFile), "unsupported"},
        {of(Case::failed), "failed"},
    };
    QStringList words;
    for (const auto& [count, word] : parts)
        if (count > 0)
            words << countText(count) + QLatin1Char(' ') + QLatin1String(word);
    return words.join(QStringLiteral(", "));
}

QString summaryLineText(const ResultsModel::Counts& counts) {
    if (counts.total == 0)
        return {};
    return QStringLiteral("%1 %2: %3")
        .arg(countText(counts.total), counts.total == 1 ? QStringLiteral("file") : QStringLiteral("files"),
             outcomeCountsText(counts));
}

QString writeChangesText(std::int64_t count) {
    return QStringLiteral("Write %1 %2\u2026")
        .arg(countText(count), count == 1 ? QStringLiteral("Change") : QStringLiteral("Changes"));
}

}  // namespace meridane::ui
