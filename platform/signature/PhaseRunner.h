#pragma once

#include "ValidationServices.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace selavia::signature {

// Runs a phase's tasks on a bounded number of threads; a task may add more.
// Progress is told, and cancellation heard, on the thread that runs it. With
// one thread the tasks run on that very thread: nothing is started.
class PhaseRunner {
public:
    explicit PhaseRunner(int threads) : threads_(threads < 1 ? 1 : threads) {}

    // Thread-safe; ignored once the phase was cancelled.
    void add(std::function<void()> task);

    // Runs every task, calling `progress` whenever a task ends and at least
    // every 100 ms. When it returns false, `abort` is called, queued tasks
    // are dropped and the running ones are waited for. Returns false when
    // cancelled. A task that throws counts as done.
    bool run(const PhaseProgress& progress, const std::function<void()>& abort);

private:
    void work();
    // Both with the lock held on entry and on return. Runs the next task.
    void runNext(std::unique_lock<std::mutex>& lock);
    // Tells `progress` how far the phase is; a refusal cancels it.
    bool tell(std::unique_lock<std::mutex>& lock, const PhaseProgress& progress,
              const std::function<void()>& abort);

    const int threads_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::function<void()>> queue_;
    qint64 done_ = 0;
    qint64 total_ = 0;
    int running_ = 0;
    bool cancelled_ = false;
};

} // namespace selavia::signature
