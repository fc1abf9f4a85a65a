// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/RunNotification.h"

#include "engine/BatchRun.h"
#include "ui/AppIdentity.h"
#include "ui/RunTexts.h"

#include <QDBusMessage>
#include <QVariantMap>
#include <QWidget>

#include <array>

namespace meridane::ui {

QString runSummary(const BatchRun& run) {
    std::array<std::int64_t, ProcessingResult::kCaseCount> counts{};
    std::int64_t wouldUpdate = 0;
    for (const ProcessingResultDetail& detail : run.results()) {
        const auto* updated = detail.result.get<ProcessingResult::Updated>();
        if (updated && updated->dryRun)
            ++wouldUpdate;
        else
            ++counts[static_cast<std::size_t>(detail.result.resultCase())];
    }
    const auto count = [&counts](ProcessingResult::Case resultCase) {
        return countText(counts[static_cast<std::size_t>(resultCase)]);
    };
    using Case = ProcessingResult::Case;
    // An undo's rows are restored or not, never updated.
    if (!run.undoneRunId().empty())
        return QStringLiteral("Meridane finished the undo: %1 restored, %2 not restored, %3 failed")
            .arg(count(Case::restored), count(Case::notRestored), count(Case::failed));
    // A dry run wrote nothing: its rows would update.
    const bool dryRun = wouldUpdate > 0 || (counts[static_cast<std::size_t>(Case::updated)] == 0 && run.options().dryRun);
    if (dryRun)
        return QStringLiteral("Meridane finished the dry run: %1 would update, %2 failed")
            .arg(countText(wouldUpdate), count(Case::failed));
    return QStringLiteral("Meridane finished: %1 updated, %2 failed").arg(count(Case::updated), count(Case::failed));
}

RunNotification::RunNotification(BatchRun& run, const QWidget& window, QDBusConnection bus,
                                 std::chrono::milliseconds minimumRun, QObject* parent)
    : QObject(parent), run_(run), window_(window), bus_(std::move(bus)), minimumRun_(minimumRun) {
    connect(&run_, &BatchRun::collectingStarted, this, [this] { clock_.start(); });
    connect(&run_, &BatchRun::runFinished, this, &RunNotification::onRunFinished);
}

void RunNotification::onRunFinished() {
    if (!clock_.isValid() || clock_.elapsed() <= minimumRun_.count() || window_.isActiveWindow() ||
        !bus_.isConnected())
        return;
    const QString summary = runSummary(run_);
    QDBusMessage notify = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("desktop-entry"), applicationId()}};
    notify << QStringLiteral("Meridane") << 0u << applicationId() << summary << QString() << QStringList() << hints
           << -1;
    // No reply is awaited: without a notification service the call simply fails.
    bus_.call(notify, QDBus::NoBlock);
    Q_EMIT sent(summary);
}

}  // namespace meridane::ui
