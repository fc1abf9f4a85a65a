#include "core/Diagnostics.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <mutex>

namespace meridane::diag {
namespace {

struct SinkState {
    std::mutex mutex;
    Sink sink;
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
    return next;
}

}  // namespace

void debug(std::string_view message) {
    std::string line;
    line.reserve(8 + message.size());
    line.append("[DEBUG] ").append(message);
    auto& s = state();
    std::lock_guard lock(s.mutex);
    if (s.sink)
        s.sink(line);
    else
        writeToStdout(line);
}

void setSink(Sink sink) { exchangeSink(std::move(sink)); }

ScopedSink::ScopedSink(Sink sink) : previous_(exchangeSink(std::move(sink))) {}

ScopedSink::~ScopedSink() { exchangeSink(std::move(previous_)); }

LineCapture::LineCapture()
    : lines_(std::make_shared<std::vector<std::string>>()),
      sink_([lines = lines_](std::string_view line) { lines->emplace_back(line); }) {}

bool LineCapture::contains(std::string_view line) const {
    return std::find(lines_->begin(), lines_->end(), line) != lines_->end();
}

}  // namespace meridane::diag
