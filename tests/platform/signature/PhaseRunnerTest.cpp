#include "platform/signature/PhaseRunner.h"

#include <atomic>
#include <gtest/gtest.h>
#include <mutex>
#include <set>
#include <thread>

namespace sig = selavia::signature;

namespace {

// Every task runs once, those tasks add too; with one thread all on the
// caller's, with more never on it; a progress that says stop drops the rest.
TEST(PhaseRunnerTest, RunsEveryTaskOnceOnTheCallersThreadOnlyAlone)
{
    struct Case {
        int threads;
        int stopAfter; // progress says stop once this many are done; 0: never
    };
    for (const Case& c : {Case{1, 0}, Case{4, 0}, Case{1, 3}}) {
        SCOPED_TRACE(testing::Message() << c.threads << " threads, stop after " << c.stopAfter);
        sig::PhaseRunner runner(c.threads);
        std::mutex mutex;
        std::multiset<int> ran;
        std::set<std::thread::id> threads;
        std::atomic<int> aborted = 0;
        const auto task = [&](int n) {
            const std::lock_guard lock(mutex);
            ran.insert(n);
            threads.insert(std::this_thread::get_id());
        };
        for (int n = 0; n < 5; ++n)
            runner.add([&, n] {
                task(n);
                // Each first-level task adds one more, as a chain's check
                // adds its issuer's.
                runner.add([&, n] { task(10 + n); });
            });
        qint64 lastDone = -1;
        const bool finished = runner.run(
            [&](qint64 done, qint64 total) {
                EXPECT_LE(done, total);
                EXPECT_GE(done, lastDone);
                lastDone = done;
                return c.stopAfter == 0 || done < c.stopAfter;
            },
            [&] { ++aborted; });
        if (c.stopAfter == 0) {
            EXPECT_TRUE(finished);
            EXPECT_EQ(ran, (std::multiset<int>{0, 1, 2, 3, 4, 10, 11, 12, 13, 14}));
            EXPECT_EQ(lastDone, 10);
            EXPECT_EQ(aborted, 0);
        } else {
            EXPECT_FALSE(finished);
            EXPECT_EQ(static_cast<int>(ran.size()), c.stopAfter);
            EXPECT_EQ(aborted, 1);
        }
        EXPECT_EQ(threads.contains(std::this_thread::get_id()), c.threads == 1);
    }
}

} // namespace
