// SPDX-License-Identifier: GPL-3.0-or-later
// SIGINT and SIGTERM for a run that must not end half-reported: the first
// one asks the run to stop after the files in flight (its handler only
// writes to a pipe that the event loop watches), a second one ends the
// process at once with the signal's own default action. SIGPIPE is ignored
// meanwhile: a reader of the report that goes away must not end the process
// in the middle of a save; the write fails instead, and the run stops.
#pragma once

#include <QObject>

#include <functional>
#include <memory>

class QSocketNotifier;

namespace meridane::cli {

class StopSignals : public QObject {
    Q_OBJECT
public:
    /// Installs the handlers; onFirstSignal runs in the event loop.
    explicit StopSignals(std::function<void(int signal)> onFirstSignal, QObject* parent = nullptr);
    /// Puts back the handlers that were there before.
    ~StopSignals() override;

    /// The first signal received, or 0; also one that arrived after the
    /// event loop last ran.
    int received();

private:
    void onReadable();

    std::function<void(int)> onFirstSignal_;
    std::unique_ptr<QSocketNotifier> notifier_;
    int received_ = 0;
};

}  // namespace meridane::cli
