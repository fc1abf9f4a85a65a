// SPDX-License-Identifier: GPL-3.0-or-later
// One save at a time in this process: every sidecar save runs while holding
// the process's write queue, so no two saves ever overlap, whichever threads
// ask for them, and the caller waits for its own save's outcome. (Saves of
// other processes are kept apart by each sidecar's lock.)
#pragma once

#include <mutex>
#include <type_traits>
#include <utility>

namespace meridane {

class XmpWriteQueue {
public:
    /// The queue of the process, created on first use and never destroyed.
    static XmpWriteQueue& shared();

    /// Runs `job` on the calling thread once no other job runs, and returns
    /// what it returns. Jobs that wait are let in in no particular order.
    template <typename Job>
    auto sync(Job&& job) -> std::invoke_result_t<Job&> {
        std::lock_guard lock(mutex_);
        return job();
    }

    XmpWriteQueue(const XmpWriteQueue&) = delete;
    XmpWriteQueue& operator=(const XmpWriteQueue&) = delete;

private:
    XmpWriteQueue() = default;
    ~XmpWriteQueue() = delete;  // lives for the process: threads may still save at exit
    std::mutex mutex_;
};

}  // namespace meridane
