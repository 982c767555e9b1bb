#include "thread_pool.h"

#include <glog/logging.h>
#include <gtest/gtest.h>

#include <QThread>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "clock.h"
#include "log_capture.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using TestSupport::Clock;
using TestSupport::secondsBetween;

// Values recorded by closures on any thread, with the time each arrived.
class Recorder {
public:
    struct Event {
        int value;
        Clock::time_point at;
    };

    void record(int value) {
        std::lock_guard<std::mutex> lock(mutex);
        events.push_back({value, Clock::now()});
        condition.notify_all();
    }

    // Waits until at least `count` events arrived; false on timeout.
    bool waitFor(size_t count, Clock::duration timeout) {
        std::unique_lock<std::mutex> lock(mutex);
        return condition.wait_for(lock, timeout, [&] { return events.size() >= count; });
    }

    std::vector<Event> snapshot() {
        std::lock_guard<std::mutex> lock(mutex);
        return events;
    }

private:
    std::mutex mutex;
    std::condition_variable condition;
    std::vector<Event> events;
};

int workerCount(ThreadPool::Pool& pool) {
    return pool.findChildren<QThread*>(QString(), Qt::FindDirectChildrenOnly).size();
}

TEST(PoolTiming, FirstTakeWaitsForThePauseAndAWaitingWorkerTakesAtOnce) {
    Recorder recorder;
    const Clock::time_point created = Clock::now();
    ThreadPool::Pool pool(2);
    pool.post([&] { recorder.record(1); });
    ASSERT_TRUE(recorder.waitFor(1, seconds(10)));
    const double firstRun = secondsBetween(created, recorder.snapshot()[0].at);
    EXPECT_GE(firstRun, 1.9) << "a worker must pause before its first take";
    EXPECT_LT(firstRun, 8.0);

    // One worker is pausing again after its closure; the other has been
    // waiting since its own pause ended and must take the next closure at once.
    std::this_thread::sleep_for(milliseconds(200));
    const Clock::time_point posted = Clock::now();
    pool.post([&] { recorder.record(2); });
    ASSERT_TRUE(recorder.waitFor(2, seconds(10)));
    EXPECT_LT(secondsBetween(posted, recorder.snapshot()[1].at), 1.0);
}

TEST(PoolTiming, OneWorkerTakesInPostOrderPausingBeforeEachTake) {
    Recorder recorder;
    const Clock::time_point created = Clock::now();
    ThreadPool::Pool pool(1);
    for (int i = 0; i < 3; ++i) {
        pool.post([&recorder, i] { recorder.record(i); });
    }
    ASSERT_TRUE(recorder.waitFor(3, seconds(20)));
    const std::vector<Recorder::Event> events = recorder.snapshot();
    Clock::time_point previous = created;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(events[i].value, i);
        EXPECT_GE(secondsBetween(previous, events[i].at), 1.9) << "take " << i;
        previous = events[i].at;
    }
}

TEST(PoolTiming, WorkersRunConcurrentlyAndClosuresMayPost) {
    constexpr int kWorkers = 3;
    std::mutex mutex;
    std::condition_variable condition;
    int running = 0;
    Recorder recorder;
    ThreadPool::Pool pool(kWorkers);
    for (int i = 0; i < kWorkers; ++i) {
        pool.post([&] {
            // Posting from a closure would deadlock if the pool's lock were held here.
            pool.post([] {});
            std::unique_lock<std::mutex> lock(mutex);
            ++running;
            condition.notify_all();
            const bool allMet =
                condition.wait_for(lock, seconds(10), [&] { return running == kWorkers; });
            // Done with `mutex` before the test learns of it and lets it go.
            lock.unlock();
            recorder.record(allMet ? 1 : 0);
        });
    }
    ASSERT_TRUE(recorder.waitFor(kWorkers, seconds(20)));
    for (const Recorder::Event& event : recorder.snapshot()) {
        EXPECT_EQ(event.value, 1) << "the closures did not all run at the same time";
    }
}

TEST(PoolLifecycle, ZeroOrNegativeSizeAcceptsPostsAndNeverRuns) {
    for (int n : {0, -1}) {
        auto token = std::make_shared<int>(0);
        std::atomic<bool> ran{false};
        {
            ThreadPool::Pool pool(n);
            EXPECT_EQ(workerCount(pool), 0) << n;
            pool.post([token, &ran] { ran = true; });
            EXPECT_EQ(token.use_count(), 2) << "the closure must be kept queued";
        }
        EXPECT_FALSE(ran);
        EXPECT_EQ(token.use_count(), 1) << "destruction must release queued closures";
    }
}

TEST(PoolLifecycle, DestructionStopsPausingWorkersAndDropsQueuedClosures) {
    auto token = std::make_shared<int>(0);
    std::atomic<bool> ran{false};
    auto pool = std::make_unique<ThreadPool::Pool>(2);
    EXPECT_EQ(workerCount(*pool), 2);
    pool->post([token, &ran] { ran = true; });
    const Clock::time_point start = Clock::now();
    pool.reset();
    EXPECT_LT(secondsBetween(start, Clock::now()), 1.0) << "a stop must cut the pause short";
    EXPECT_FALSE(ran);
    EXPECT_EQ(token.use_count(), 1);
}

TEST(PoolLifecycle, DestructionWaitsForRunningClosuresAndWakesWaitingWorkers) {
    Recorder started;
    std::atomic<bool> finished{false};
    auto pool = std::make_unique<ThreadPool::Pool>(2);
    pool->post([&] {
        started.record(1);
        std::this_thread::sleep_for(milliseconds(500));
        finished = true;
    });
    ASSERT_TRUE(started.waitFor(1, seconds(10)));
    // The second worker now waits on the condition variable and must be woken.
    const Clock::time_point start = Clock::now();
    pool.reset();
    EXPECT_TRUE(finished) << "destruction returned while a closure was running";
    EXPECT_LT(secondsBetween(start, Clock::now()), 3.0);
}

TEST(PoolFailures, ThrowingClosuresAreLoggedAndTheWorkersGoOn) {
    TestSupport::LogCapture sink;
    Recorder recorder;
    ThreadPool::Pool pool(2);
    pool.post([] { throw std::runtime_error("closure failed on purpose"); });
    pool.post([] { throw 42; });
    // Both workers have thrown by the time one of them takes this.
    pool.post([&] { recorder.record(1); });
    ASSERT_TRUE(recorder.waitFor(1, seconds(20)));
    const std::string lines = sink.text(google::GLOG_ERROR);
    EXPECT_NE(lines.find("closure failed on purpose"), std::string::npos) << lines;
    EXPECT_NE(lines.find("未知异常"), std::string::npos) << lines;
}

TEST(PoolInstance, OnePoolOfThirtyWorkersForConcurrentFirstCallers) {
    constexpr int kCallers = 8;
    std::atomic<int> ready{0};
    std::vector<ThreadPool::Pool*> seen(kCallers, nullptr);
    std::vector<std::thread> callers;
    for (int i = 0; i < kCallers; ++i) {
        callers.emplace_back([&, i] {
            ++ready;
            while (ready < kCallers) {
                std::this_thread::yield();
            }
            seen[i] = ThreadPool::instance();
        });
    }
    for (std::thread& caller : callers) {
        caller.join();
    }
    ASSERT_NE(seen[0], nullptr);
    for (ThreadPool::Pool* pool : seen) {
        EXPECT_EQ(pool, seen[0]);
    }
    EXPECT_EQ(ThreadPool::instance(), seen[0]);
    EXPECT_EQ(workerCount(*seen[0]), 30);

    // Shared, since the process-wide pool outlives this test.
    auto recorder = std::make_shared<Recorder>();
    ThreadPool::instance()->post([recorder] { recorder->record(1); });
    EXPECT_TRUE(recorder->waitFor(1, seconds(10)));
}

}  // namespace
