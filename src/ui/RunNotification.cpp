// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/RunNotification.h"

#include "engine/BatchRun.h"
#include "ui/AppIdentity.h"

#include <QDBusMessage>
#include <QVariantMap>
#include <QWidget>

namespace meridane::ui {

QString runSummary(const BatchRun& run) {
    int updated = 0;
    int failed = 0;
    for (const ProcessingResultDetail& detail : run.results()) {
        updated += detail.result.resultCase() == ProcessingResult::Case::updated;
        failed += detail.result.resultCase() == ProcessingResult::Case::failed;
    }
    return QStringLiteral("Meridane finished: %1 updated, %2 failed").arg(updated).arg(failed);
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
