// The four process-wide processing options. The pipeline reads them at the
// moment a step needs them, never as arguments, so a switch flipped during a
// run applies to every later read, also for files already in flight.
#pragma once

namespace meridane {

struct ProcessingOptionValues {
    bool dryRun = true;
    bool alwaysOverwrite = false;
    bool appleOnly = true;
    bool silentlyIgnoreSkipped = false;

    bool operator==(const ProcessingOptionValues&) const = default;
};

/// Thread-safe access to the one set of options of the process.
class ProcessingOptions {
public:
    ProcessingOptions() = delete;

    static bool dryRun();
    static bool alwaysOverwrite();
    static bool appleOnly();
    static bool silentlyIgnoreSkipped();

    static ProcessingOptionValues current();
    /// Copies all four values, in the order dryRun, alwaysOverwrite,
    /// appleOnly, silentlyIgnoreSkipped.
    static void set(const ProcessingOptionValues& values);
};

/// Restores the options it found when it goes out of scope (tests, tools).
class ScopedProcessingOptions {
public:
    explicit ScopedProcessingOptions(const ProcessingOptionValues& values)
        : saved_(ProcessingOptions::current()) {
        ProcessingOptions::set(values);
    }
    ~ScopedProcessingOptions() { ProcessingOptions::set(saved_); }
    ScopedProcessingOptions(const ScopedProcessingOptions&) = delete;
    ScopedProcessingOptions& operator=(const ScopedProcessingOptions&) = delete;

private:
    ProcessingOptionValues saved_;
};

}  // namespace meridane
