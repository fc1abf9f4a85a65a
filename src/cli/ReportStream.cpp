// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/ReportStream.h"

#include "base/Error.h"

#include <cerrno>

namespace meridane::cli {

bool ReportStream::write(std::string_view text) {
    if (failed())
        return false;
    errno = 0;
    std::fwrite(text.data(), 1, text.size(), stream_);
    return check();
}

bool ReportStream::flush() {
    if (failed())
        return false;
    errno = 0;
    std::fflush(stream_);
    return check();
}

bool ReportStream::check() {
    if (!std::ferror(stream_))
        return true;
    error_ = errno != 0 ? errno : EIO;
    return false;
}

std::string ReportStream::reason() const { return failed() ? systemErrorText(error_) : std::string(); }

}  // namespace meridane::cli
