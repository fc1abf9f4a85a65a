// SPDX-License-Identifier: GPL-3.0-or-later
// The one route for "[DEBUG] " diagnostic lines. They go to standard output
// unless a front end installs its own sink (the CLI sends them to standard
// error on request; tests capture them).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace meridane::diag {

/// Receives one complete line, "[DEBUG] " prefix included, without newline.
using Sink = std::function<void(std::string_view line)>;

/// Writes "[DEBUG] " + message as one line through the current sink, its
/// control characters written as \xHH.
/// Safe to call from any thread; lines never interleave.
void debug(std::string_view message);

/// Replaces the sink; an empty function restores standard output.
void setSink(Sink sink);

/// A sink that drops every line (a front end that shows no diagnostics).
void discard(std::string_view line);

/// False only while `discard` is the sink: then debug() returns at once, and
/// a caller may skip building lines that nobody reads.
bool isListening();

/// As debug(message) with the message made of these parts (anything a
/// std::string_view can be made from), joined only when a sink listens: the
/// lines of every decision cost nothing while nobody reads them.
template <typename... Parts>
    requires(sizeof...(Parts) > 1)
void debug(const Parts&... parts) {
    if (!isListening())
        return;
    std::string message;
    message.reserve((std::string_view(parts).size() + ...));
    (message.append(std::string_view(parts)), ...);
    debug(std::string_view(message));
}

/// Installs a sink for the lifetime of the object, then restores the previous one.
class ScopedSink {
public:
    explicit ScopedSink(Sink sink);
    ~ScopedSink();
    ScopedSink(const ScopedSink&) = delete;
    ScopedSink& operator=(const ScopedSink&) = delete;

private:
    Sink previous_;
};

/// Collects every line written while it lives; for tests and tools.
class LineCapture {
public:
    LineCapture();
    const std::vector<std::string>& lines() const { return *lines_; }
    bool contains(std::string_view line) const;

private:
    std::shared_ptr<std::vector<std::string>> lines_;
    ScopedSink sink_;
};

}  // namespace meridane::diag
