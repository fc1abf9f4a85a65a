#include "core/ProcessingOptions.h"

#include <atomic>

namespace meridane {
namespace {

std::atomic<bool> gDryRun{true};
std::atomic<bool> gAlwaysOverwrite{false};
std::atomic<bool> gAppleOnly{true};
std::atomic<bool> gSilentlyIgnoreSkipped{false};

}  // namespace

bool ProcessingOptions::dryRun() { return gDryRun.load(); }
bool ProcessingOptions::alwaysOverwrite() { return gAlwaysOverwrite.load(); }
bool ProcessingOptions::appleOnly() { return gAppleOnly.load(); }
bool ProcessingOptions::silentlyIgnoreSkipped() { return gSilentlyIgnoreSkipped.load(); }

ProcessingOptionValues ProcessingOptions::current() {
    return {dryRun(), alwaysOverwrite(), appleOnly(), silentlyIgnoreSkipped()};
}

void ProcessingOptions::set(const ProcessingOptionValues& values) {
    gDryRun.store(values.dryRun);
    gAlwaysOverwrite.store(values.alwaysOverwrite);
    gAppleOnly.store(values.appleOnly);
    gSilentlyIgnoreSkipped.store(values.silentlyIgnoreSkipped);
}

}  // namespace meridane
