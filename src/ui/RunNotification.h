// SPDX-License-Identifier: GPL-3.0-or-later
// Tells the desktop when a long run has ended while the user looked at
// something else: a notification over org.freedesktop.Notifications, nothing
// when no notification service is there.
#pragma once

#include <QDBusConnection>
#include <QElapsedTimer>
#include <QObject>

#include <chrono>

class QWidget;

namespace meridane {
class BatchRun;
}

namespace meridane::ui {

/// "Meridane finished: N updated, M failed", for a dry run "Meridane
/// finished the dry run: N would update, M failed", or for an undo
/// "Meridane finished the undo: N restored, M not restored, K failed".
QString runSummary(const BatchRun& run);

class RunNotification : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds longRun{10000};

    /// Watches the run; notifies when a run longer than minimumRun ends while
    /// `window` is not the active window.
    RunNotification(BatchRun& run, const QWidget& window, QDBusConnection bus = QDBusConnection::sessionBus(),
                    std::chrono::milliseconds minimumRun = longRun, QObject* parent = nullptr);

Q_SIGNALS:
    /// The notification was sent (whether a service took it is not known).
    void sent(const QString& summary);

private:
    void onRunFinished();

    BatchRun& run_;
    const QWidget& window_;
    QDBusConnection bus_;
    std::chrono::milliseconds minimumRun_;
    QElapsedTimer clock_;
};

}  // namespace meridane::ui
