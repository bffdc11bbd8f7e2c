#pragma once

// Many files at once: the work runs on several threads, the results are
// handed over in the order given, each as soon as it and all before it are
// done, so that the output of a long list starts at once and stays ordered.

#include <algorithm>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace selavia::cli {

// Runs `work(i)` for every i below `count` on up to `threads` threads and
// calls `emit(i, result)` on the calling thread in order of i. A worker
// runs at most `threads` items ahead of what was handed over, so that few
// results wait at once. `work` must not throw.
template <typename Result>
void runInOrder(int count, int threads, const std::function<Result(int)>& work,
                const std::function<void(int, Result&)>& emit)
{
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::optional<Result>> results(static_cast<size_t>(count));
    int next = 0;    // the next item a worker takes
    int emitted = 0; // items handed over
    const int workers = std::clamp(threads, 1, std::max(count, 1));
    const int ahead = 2 * workers;

    auto worker = [&] {
        std::unique_lock lock(mutex);
        for (;;) {
            changed.wait(lock, [&] { return next >= count || next < emitted + ahead; });
            if (next >= count)
                return;
            const int item = next++;
            lock.unlock();
            Result result = work(item);
            lock.lock();
            results[static_cast<size_t>(item)] = std::move(result);
            changed.notify_all();
        }
    };
    std::vector<std::thread> pool;
    for (int n = 0; n < workers; ++n)
        pool.emplace_back(worker);
    for (int item = 0; item < count; ++item) {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return results[static_cast<size_t>(item)].has_value(); });
        Result result = std::move(*results[static_cast<size_t>(item)]);
        results[static_cast<size_t>(item)].reset();
        lock.unlock();
        emit(item, result);
        lock.lock();
        emitted = item + 1;
        changed.notify_all();
    }
    for (std::thread& thread : pool)
        thread.join();
}

} // namespace selavia::cli
