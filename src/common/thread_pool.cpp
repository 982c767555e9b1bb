#include "thread_pool.h"

#include <glog/logging.h>

#include <algorithm>
#include <chrono>
#include <exception>

namespace ThreadPool {

namespace {

constexpr std::chrono::milliseconds kPause(2000);
// The pause is slept in slices so that a stop request does not have to wait
// out a whole pause.
constexpr std::chrono::milliseconds kPauseSlice(50);
constexpr int kInstanceSize = 30;

void runGuarded(const std::function<void()>& closure) {
    try {
        closure();
    } catch (const std::exception& e) {
        LOG(ERROR) << "线程池任务抛出异常: " << e.what();
    } catch (...) {
        LOG(ERROR) << "线程池任务抛出未知异常";
    }
}

}  // namespace

Thread::Thread(QObject* parent, std::condition_variable& condition,
               std::queue<std::function<void()>>& queue, std::mutex& mutex)
    : QThread(parent), condition(condition), queue(queue), mutex(mutex) {}

Thread::~Thread() = default;

bool Thread::pause() {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + kPause;
    while (!isInterruptionRequested()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return true;
        }
        QThread::msleep(static_cast<unsigned long>(std::min(left, kPauseSlice).count()));
    }
    return false;
}

void Thread::run() {
    for (;;) {
        if (!pause()) {
            return;
        }
        std::function<void()> closure;
        {
            std::unique_lock<std::mutex> lock(mutex);
            // The stop flag is set before the pool's notify_all, which is issued
            // under this mutex, so checking it here under the lock cannot miss it.
            while (queue.empty() && !isInterruptionRequested()) {
                condition.wait(lock);
            }
            if (isInterruptionRequested()) {
                return;
            }
            closure = std::move(queue.front());
            queue.pop();
        }
        runGuarded(closure);
    }
}

Pool::Pool(int n) : QObject(nullptr) {
    for (int i = 0; i < n; ++i) {
        Thread* worker = new Thread(this, condition, queue, mutex);
        worker->start(QThread::InheritPriority);
    }
}

Pool::~Pool() {
    const QList<QThread*> workers = findChildren<QThread*>(QString(), Qt::FindDirectChildrenOnly);
    for (QThread* worker : workers) {
        worker->requestInterruption();
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        condition.notify_all();
    }
    // The workers use this object's members, so they must have ended before the
    // members go; QObject deletes the finished threads afterwards.
    for (QThread* worker : workers) {
        worker->wait();
    }
    // QThread::wait() orders a worker's end before this point through Qt's own
    // locks, which ThreadSanitizer cannot see in a Qt built without it. Every
    // worker touches its members only before releasing this mutex, so taking
    // it once more makes that order visible before QObject deletes them.
    std::lock_guard<std::mutex> lock(mutex);
}

void Pool::post(const std::function<void()>& f) {
    if (!f) {
        return;
    }
    std::lock_guard<std::mutex> lock(mutex);
    queue.push(f);
    condition.notify_one();
}

Pool* instance() {
    static Pool* ins = new Pool(kInstanceSize);
    return ins;
}

}  // namespace ThreadPool
