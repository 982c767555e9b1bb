#pragma once

#include <QObject>
#include <QThread>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <queue>

namespace ThreadPool {

// A worker of a `Pool`: pauses 2 seconds before every attempt to take a
// closure, takes the oldest one (waiting while there is none) and runs it with
// no lock held. A closure that throws is caught here and logged at ERROR with
// the exception's text; the worker goes on with the next one. The loop ends
// only on a stop request (`QThread::requestInterruption` followed by a
// `notify_all` under the pool's mutex), which `Pool`'s destructor issues.
class Thread : public QThread {
public:
    // Stores the references to the pool's state; does not start the thread.
    Thread(QObject* parent, std::condition_variable& condition,
           std::queue<std::function<void()>>& queue, std::mutex& mutex);
    ~Thread() override;

protected:
    void run() override;

private:
    // Sleeps the pause before a take; returns false when a stop was requested.
    bool pause();

    std::condition_variable& condition;
    std::queue<std::function<void()>>& queue;
    std::mutex& mutex;
};

// A fixed number of workers running posted closures in the order they were
// posted (order of taking; completion order is not defined). The workers are
// children of the pool.
class Pool : public QObject {
public:
    // Creates and starts `n` workers; none when `n` <= 0 (posts are then
    // accepted and never run). Each worker starts with its 2-second pause.
    explicit Pool(int n);

    // Asks every worker to stop, wakes those waiting, and joins them: blocks
    // until closures that are running have returned (and for at most a short
    // slice of a pause). Queued closures are released without running. Must
    // not be called from one of the pool's own closures.
    ~Pool() override;

    // Queues a copy of `f` and wakes one waiting worker. Any thread may call
    // it, including the pool's own closures. An empty `f` is ignored.
    void post(const std::function<void()>& f);

private:
    std::mutex mutex;
    std::condition_variable condition;
    std::queue<std::function<void()>> queue;
};

// The process-wide pool of 30 workers, created by the first call (thread-safe)
// and never destroyed. Any thread may call it.
Pool* instance();

}  // namespace ThreadPool
