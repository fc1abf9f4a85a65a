// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/ProcessingOptions.h"

#include <mutex>

namespace meridane::processingOptions {
namespace {

// One lock for the four values, so a snapshot never mixes two settings.
struct Store {
    std::mutex mutex;
    ProcessingOptionValues values;
};

Store& store() {
    static Store instance;
    return instance;
}

}  // namespace

ProcessingOptionValues current() {
    std::lock_guard lock(store().mutex);
    return store().values;
}

void set(const ProcessingOptionValues& values) {
    std::lock_guard lock(store().mutex);
    store().values = values;
}

}  // namespace meridane::processingOptions
