// SPDX-License-Identifier: GPL-3.0-or-later
// The processing options of the process. The window and the CLI set
// them; each file takes one snapshot when its processing starts and uses it
// for every decision and for its row, so a switch flipped during a run
// applies to the files that start after it.
#pragma once

#include "base/GPSText.h"

namespace meridane {

/// How an image's sidecar is named: "IMG_0001.xmp" (stem) or, as several
/// photo managers name it, "IMG_0001.HEIC.xmp" (full).
enum class SidecarNaming { stem, full };

struct ProcessingOptionValues {
    bool dryRun = true;
    bool alwaysOverwrite = false;
    bool appleOnly = true;
    bool silentlyIgnoreSkipped = false;
    CoordinateFormat coordinateFormat = CoordinateFormat::decimal;
    SidecarNaming sidecarNaming = SidecarNaming::stem;

    bool operator==(const ProcessingOptionValues&) const = default;
};

/// Thread-safe access to the one set of options of the process.
namespace processingOptions {

ProcessingOptionValues current();
void set(const ProcessingOptionValues& values);

}  // namespace processingOptions

/// Restores the options it found when it goes out of scope (tests, tools).
class ScopedProcessingOptions {
public:
    explicit ScopedProcessingOptions(const ProcessingOptionValues& values) : saved_(processingOptions::current()) {
        processingOptions::set(values);
    }
    ~ScopedProcessingOptions() { processingOptions::set(saved_); }
    ScopedProcessingOptions(const ScopedProcessingOptions&) = delete;
    ScopedProcessingOptions& operator=(const ScopedProcessingOptions&) = delete;

private:
    ProcessingOptionValues saved_;
};

}  // namespace meridane
