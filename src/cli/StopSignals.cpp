// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/StopSignals.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace meridane::cli {
namespace {

// What the handler may touch: plain values, set before it is installed.
int pipeEnds[2] = {-1, -1};
volatile std::sig_atomic_t signalsSeen = 0;
struct sigaction previousInterrupt {};
struct sigaction previousTerminate {};
struct sigaction previousBrokenPipe {};

extern "C" void onStopSignal(int signal) {
    const bool again = signalsSeen != 0;
    signalsSeen = 1;
    if (again) {
        // Saves are atomic, so ending in the middle of one loses nothing.
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(pipeEnds[1], &byte, 1);
    errno = savedErrno;
}

}  // namespace

StopSignals::StopSignals(std::function<void(int)> onFirstSignal, QObject* parent)
    : QObject(parent), onFirstSignal_(std::move(onFirstSignal)) {
    if (::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;  // without the pipe the signals keep their default action
    signalsSeen = 0;
    notifier_ = std::make_unique<QSocketNotifier>(pipeEnds[0], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &StopSignals::onReadable);
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, &previousInterrupt);
    ::sigaction(SIGTERM, &action, &previousTerminate);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, &previousBrokenPipe);
}

StopSignals::~StopSignals() {
    if (!notifier_)
        return;
    ::sigaction(SIGINT, &previousInterrupt, nullptr);
    ::sigaction(SIGTERM, &previousTerminate, nullptr);
    ::sigaction(SIGPIPE, &previousBrokenPipe, nullptr);
    notifier_.reset();
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
    pipeEnds[0] = pipeEnds[1] = -1;
}

int StopSignals::received() {
    if (notifier_)
        onReadable();
    return received_;
}

void StopSignals::onReadable() {
    unsigned char byte = 0;
    while (::read(pipeEnds[0], &byte, 1) == 1) {
        if (received_ != 0)
            continue;
        received_ = byte;
        if (onFirstSignal_)
            onFirstSignal_(received_);
    }
}

}  // namespace meridane::cli
