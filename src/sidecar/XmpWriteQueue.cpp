#include "sidecar/internal/XmpWriteQueue.h"

#include <pthread.h>

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>

namespace meridane {

namespace {

struct Task {
    const std::function<void()>* job;
    std::exception_ptr failure;
    bool finished = false;
};

}  // namespace

struct XmpWriteQueue::State {
    std::mutex mutex;
    std::condition_variable submitted;
    std::condition_variable finished;
    std::deque<Task*> pending;
    std::thread worker;

    void run() {
        pthread_setname_np(pthread_self(), "xmpWriteQueue");
        for (;;) {
            Task* task;
            {
                std::unique_lock lock(mutex);
                submitted.wait(lock, [this] { return !pending.empty(); });
                task = pending.front();
                pending.pop_front();
            }
            std::exception_ptr failure;
            try {
                (*task->job)();
            } catch (...) {
                failure = std::current_exception();
            }
            {
                std::lock_guard lock(mutex);
                task->failure = failure;
                task->finished = true;
            }
            finished.notify_all();
        }
    }
};

XmpWriteQueue::XmpWriteQueue() : state_(new State) {
    state_->worker = std::thread([state = state_] { state->run(); });
}

XmpWriteQueue& XmpWriteQueue::shared() {
    // Never destroyed: the worker waits on this state until the process ends,
    // and static destructors must not pull it away from under the thread.
    static XmpWriteQueue* const queue = new XmpWriteQueue;
    return *queue;
}

std::thread::id XmpWriteQueue::workerId() const { return state_->worker.get_id(); }

void XmpWriteQueue::runSync(const std::function<void()>& job) {
    if (std::this_thread::get_id() == workerId()) {
        job();
        return;
    }
    Task task{&job, nullptr, false};
    {
        std::lock_guard lock(state_->mutex);
        state_->pending.push_back(&task);
    }
    state_->submitted.notify_one();
    {
        std::unique_lock lock(state_->mutex);
        state_->finished.wait(lock, [&task] { return task.finished; });
    }
    if (task.failure)
        std::rethrow_exception(task.failure);
}

}  // namespace meridane
