#pragma once

// Many files at once: the work runs on several threads, the results are
// handed over in the order given, each as soon as it and all before it are
// done, so that the output of a long list starts at once and stays ordered.
// The items are taken from their source only as workers need them, so a
// list of any length (standard input, say) is never held whole.

#include <algorithm>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace selavia::cli {

// Runs `work` on every item `next` gives (until it gives nullopt) on up to
// `threads` threads and calls `emit` on the calling thread with the results
// in the order of the items. `next` is called by one thread at a time, and
// never more than about 2 × `threads` items ahead of what was handed over,
// so that few items and results wait at once. `work` must not throw.
template <typename Item, typename Result>
void runInOrder(const std::function<std::optional<Item>()>& next, int threads,
                const std::function<Result(Item&)>& work, const std::function<void(Result&)>& emit)
{
    std::mutex mutex;
    std::condition_variable changed;
    std::map<long long, Result> results; // done, not yet handed over
    long long taken = 0;                 // items asked of `next`, or being asked
    long long emitted = 0;               // items handed over
    std::optional<long long> count;      // known once `next` said there is no more
    std::mutex sourceMutex;
    long long read = 0; // items `next` gave; under sourceMutex
    const int workers = std::max(threads, 1);
    const long long ahead = 2LL * workers;

    auto worker = [&] {
        std::unique_lock lock(mutex);
        for (;;) {
            changed.wait(lock, [&] { return count.has_value() || taken < emitted + ahead; });
            if (count)
                return;
            ++taken;
            lock.unlock();
            std::optional<Item> item;
            long long index = 0;
            {
                const std::lock_guard source(sourceMutex);
                item = next();
                index = item ? read++ : read;
            }
            lock.lock();
            if (!item) {
                count = index;
                changed.notify_all();
                return;
            }
            lock.unlock();
            Result result = work(*item);
            lock.lock();
            results.emplace(index, std::move(result));
            changed.notify_all();
        }
    };
    std::vector<std::thread> pool;
    for (int n = 0; n < workers; ++n)
        pool.emplace_back(worker);
    for (long long item = 0;; ++item) {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return results.contains(item) || (count && item >= *count); });
        const auto found = results.find(item);
        if (found == results.end())
            break;
        Result result = std::move(found->second);
        results.erase(found);
        lock.unlock();
        emit(result);
        lock.lock();
        emitted = item + 1;
        changed.notify_all();
    }
    for (std::thread& thread : pool)
        thread.join();
}

} // namespace selavia::cli
