// Measures the thread pool's post-to-run latency for a waiting worker and its
// post throughput from several threads, each beside a reference built from a
// bare mutex and condition variable in the same run.
#include "thread_pool.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>
#include <queue>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kLatencyWorkers = 16;
constexpr int kLatencyRounds = 3;
constexpr int kPosters = 4;
constexpr int kPostsPerPoster = 250000;
// Longer than a worker's pause, so that every worker waits for work.
constexpr std::chrono::milliseconds kSettle(2300);

double micros(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

// Completion signal for one closure, with the time it ran.
struct Arrival {
    std::mutex mutex;
    std::condition_variable condition;
    bool arrived = false;
    Clock::time_point at;

    void signal() {
        std::lock_guard<std::mutex> lock(mutex);
        at = Clock::now();
        arrived = true;
        condition.notify_one();
    }

    Clock::time_point wait() {
        std::unique_lock<std::mutex> lock(mutex);
        condition.wait(lock, [&] { return arrived; });
        arrived = false;
        return at;
    }
};

struct Summary {
    double median;
    double max;
};

Summary summarise(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return {samples[samples.size() / 2], samples.back()};
}

std::vector<double> poolLatencies() {
    ThreadPool::Pool pool(kLatencyWorkers);
    Arrival arrival;
    std::vector<double> samples;
    for (int round = 0; round < kLatencyRounds; ++round) {
        std::this_thread::sleep_for(kSettle);
        // Each post goes to a worker still waiting; the one that ran is pausing.
        for (int i = 0; i < kLatencyWorkers; ++i) {
            const Clock::time_point posted = Clock::now();
            pool.post([&arrival] { arrival.signal(); });
            samples.push_back(micros(arrival.wait() - posted));
        }
    }
    return samples;
}

// The same hand-over to a thread already waiting on a condition variable.
std::vector<double> referenceLatencies(size_t count) {
    std::mutex mutex;
    std::condition_variable condition;
    std::queue<std::function<void()>> queue;
    bool stop = false;
    std::thread worker([&] {
        for (;;) {
            std::function<void()> closure;
            {
                std::unique_lock<std::mutex> lock(mutex);
                condition.wait(lock, [&] { return stop || !queue.empty(); });
                if (stop) {
                    return;
                }
                closure = std::move(queue.front());
                queue.pop();
            }
            closure();
        }
    });
    Arrival arrival;
    std::vector<double> samples;
    for (size_t i = 0; i < count; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        const Clock::time_point posted = Clock::now();
        {
            std::lock_guard<std::mutex> lock(mutex);
            queue.push([&arrival] { arrival.signal(); });
            condition.notify_one();
        }
        samples.push_back(micros(arrival.wait() - posted));
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        stop = true;
        condition.notify_one();
    }
    worker.join();
    return samples;
}

// Posts per second from kPosters threads at once through `post`.
double postsPerSecond(const std::function<void(const std::function<void()>&)>& post) {
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> posters;
    for (int t = 0; t < kPosters; ++t) {
        posters.emplace_back([&] {
            ++ready;
            while (!go) {
                std::this_thread::yield();
            }
            for (int i = 0; i < kPostsPerPoster; ++i) {
                post([] {});
            }
        });
    }
    while (ready < kPosters) {
        std::this_thread::yield();
    }
    const Clock::time_point start = Clock::now();
    go = true;
    for (std::thread& poster : posters) {
        poster.join();
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return kPosters * kPostsPerPoster / seconds;
}

}  // namespace

int main() {
    const Summary pool = summarise(poolLatencies());
    const Summary reference = summarise(referenceLatencies(kLatencyWorkers * kLatencyRounds));
    std::printf("post-to-run latency, waiting worker (%d samples)\n",
                kLatencyWorkers * kLatencyRounds);
    std::printf("  pool       median %8.1f us   max %8.1f us\n", pool.median, pool.max);
    std::printf("  reference  median %8.1f us   max %8.1f us\n", reference.median, reference.max);
    std::printf("  ratio pool/reference (median) %.2f\n", pool.median / reference.median);

    double poolRate = 0;
    {
        ThreadPool::Pool throughputPool(kPosters);
        std::this_thread::sleep_for(kSettle);
        poolRate = postsPerSecond([&](const std::function<void()>& f) { throughputPool.post(f); });
    }
    std::mutex mutex;
    std::queue<std::function<void()>> queue;
    const double referenceRate = postsPerSecond([&](const std::function<void()>& f) {
        std::lock_guard<std::mutex> lock(mutex);
        queue.push(f);
    });
    std::printf("post throughput, %d threads x %d posts\n", kPosters, kPostsPerPoster);
    std::printf("  pool       %12.0f posts/s\n", poolRate);
    std::printf("  reference  %12.0f posts/s (mutex + queue, no wake-up)\n", referenceRate);
    std::printf("  ratio pool/reference %.2f\n", poolRate / referenceRate);
    return 0;
}
