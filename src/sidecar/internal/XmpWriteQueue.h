// The one serial executor that every sidecar save runs on: a single worker
// thread, started by the first save and kept for the rest of the process, so
// that no two saves ever overlap, whichever threads ask for them.
#pragma once

#include <functional>
#include <optional>
#include <thread>
#include <type_traits>
#include <utility>

namespace meridane {

class XmpWriteQueue {
public:
    /// The queue of the process, created on first use and never destroyed.
    static XmpWriteQueue& shared();

    /// Runs `job` on the worker thread and returns once it has finished;
    /// an exception thrown by the job is rethrown here. Jobs run one at a
    /// time in the order they were submitted. Called from the worker itself
    /// (a job that saves again), the job runs at once instead of deadlocking.
    void runSync(const std::function<void()>& job);

    /// As runSync, handing back what the job returns.
    template <typename Job>
    auto sync(Job&& job) -> std::invoke_result_t<Job&> {
        using R = std::invoke_result_t<Job&>;
        if constexpr (std::is_void_v<R>) {
            runSync([&] { job(); });
        } else {
            std::optional<R> result;
            runSync([&] { result.emplace(job()); });
            return std::move(*result);
        }
    }

    /// The worker's id; tests use it to see where a job ran.
    std::thread::id workerId() const;

    XmpWriteQueue(const XmpWriteQueue&) = delete;
    XmpWriteQueue& operator=(const XmpWriteQueue&) = delete;

private:
    XmpWriteQueue();
    ~XmpWriteQueue() = delete;  // lives for the process: threads may still wait on it at exit
    struct State;
    State* state_;
};

}  // namespace meridane
