#include "PhaseRunner.h"

#include <chrono>
#include <exception>
#include <thread>
#include <vector>

namespace selavia::signature {

void PhaseRunner::add(std::function<void()> task)
{
    {
        std::lock_guard lock(mutex_);
        if (cancelled_)
            return;
        queue_.push_back(std::move(task));
        ++total_;
    }
    changed_.notify_all();
}

void PhaseRunner::runNext(std::unique_lock<std::mutex>& lock)
{
    std::function<void()> task = std::move(queue_.front());
    queue_.pop_front();
    ++running_;
    lock.unlock();
    try {
        task();
    } catch (const std::exception&) {
        // A check that fails leaves its certificate unanswered.
    }
    lock.lock();
    --running_;
    ++done_;
    changed_.notify_all();
}

bool PhaseRunner::tell(std::unique_lock<std::mutex>& lock, const PhaseProgress& progress,
                       const std::function<void()>& abort)
{
    const qint64 done = done_;
    const qint64 total = total_;
    lock.unlock();
    const bool goOn = !progress || progress(done, total);
    lock.lock();
    if (!goOn) {
        cancelled_ = true;
        queue_.clear();
        changed_.notify_all();
        lock.unlock();
        if (abort)
            abort();
        lock.lock();
    }
    return goOn;
}

void PhaseRunner::work()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return cancelled_ || !queue_.empty() || running_ == 0; });
        if (cancelled_ || queue_.empty())
            return;
        runNext(lock);
    }
}

bool PhaseRunner::run(const PhaseProgress& progress, const std::function<void()>& abort)
{
    if (threads_ == 1) {
        // Nothing waits on the network: the checks run here, one after the
        // other, told as each ends, without a thread to start per document.
        std::unique_lock lock(mutex_);
        while (!cancelled_ && !queue_.empty()) {
            runNext(lock);
            tell(lock, progress, abort);
        }
        return !cancelled_;
    }
    std::vector<std::thread> workers;
    {
        std::lock_guard lock(mutex_);
        if (queue_.empty())
            return true;
        for (int i = 0; i < threads_; ++i)
            workers.emplace_back([this] { work(); });
    }
    std::unique_lock lock(mutex_);
    qint64 told = -1;
    while (running_ > 0 || !queue_.empty()) {
        changed_.wait_for(lock, std::chrono::milliseconds(100));
        if (cancelled_ || !progress)
            continue;
        told = done_;
        tell(lock, progress, abort);
    }
    const bool cancelled = cancelled_;
    const qint64 done = done_;
    const qint64 total = total_;
    changed_.notify_all();
    lock.unlock();
    for (std::thread& worker : workers)
        worker.join();
    if (!cancelled && progress && told != done)
        return progress(done, total);
    return !cancelled;
}

} // namespace selavia::signature
