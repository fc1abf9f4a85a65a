// SPDX-License-Identifier: GPL-3.0-or-later
#include "sidecar/internal/XmpWriteQueue.h"

namespace meridane {

XmpWriteQueue& XmpWriteQueue::shared() {
    // Never destroyed: a save still running at exit must not lose its mutex.
    static XmpWriteQueue* const queue = new XmpWriteQueue;
    return *queue;
}

}  // namespace meridane
