// SPDX-License-Identifier: GPL-3.0-or-later
// Standard output for the rows of a run, which must notice when nobody can
// read them any more: a reader that quit (`| head`), a full disk, a closed
// descriptor. Rows written then are lost, so the run stops and says why.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace meridane::cli {

class ReportStream {
public:
    explicit ReportStream(std::FILE* stream) : stream_(stream) {}

    /// Writes text unless an earlier write failed; false once one has.
    bool write(std::string_view text);
    /// Flushes what is buffered; false once any write has failed.
    bool flush();

    bool failed() const { return error_ != 0; }
    /// The system's words for the first failure, e.g. "Broken pipe".
    std::string reason() const;

private:
    bool check();

    std::FILE* stream_;
    int error_ = 0;
};

}  // namespace meridane::cli
