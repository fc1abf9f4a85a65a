// SPDX-License-Identifier: GPL-3.0-or-later
#include "base/Diagnostics.h"

#include "base/ControlText.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>

namespace meridane::diag {
namespace {

struct SinkState {
    std::mutex mutex;
    Sink sink;
    std::atomic<bool> listening{true};
};

SinkState& state() {
    static SinkState instance;
    return instance;
}

void writeToStdout(std::string_view line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

Sink exchangeSink(Sink next) {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    std::swap(s.sink, next);
    using Function = void (*)(std::string_view);
    const Function* function = s.sink.target<Function>();
    s.listening.store(!(function && *function == &discard), std::memory_order_relaxed);
    return next;
}

}  // namespace

void debug(std::string_view message) {
    if (!isListening())
        return;
    // A name or an EXIF text may hold line breaks or terminal escapes.
    std::string line = "[DEBUG] " + text::escapedControls(message);
    auto& s = state();
    std::lock_guard lock(s.mutex);
    if (s.sink)
        s.sink(line);
    else
        writeToStdout(line);
}

void setSink(Sink sink) { exchangeSink(std::move(sink)); }

void discard(std::string_view /*line*/) {}

bool isListening() { return state().listening.load(std::memory_order_relaxed); }

ScopedSink::ScopedSink(Sink sink) : previous_(exchangeSink(std::move(sink))) {}

ScopedSink::~ScopedSink() { exchangeSink(std::move(previous_)); }

LineCapture::LineCapture()
    : lines_(std::make_shared<std::vector<std::string>>()),
      sink_([lines = lines_](std::string_view line) { lines->emplace_back(line); }) {}

bool LineCapture::contains(std::string_view line) const {
    return std::find(lines_->begin(), lines_->end(), line) != lines_->end();
}

}  // namespace meridane::diag
