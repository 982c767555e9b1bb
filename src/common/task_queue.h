#pragma once

#include <condition_variable>
#include <list>
#include <memory>
#include <mutex>
#include <string>

// Runs identified tasks one at a time, in push order, on one worker borrowed
// for good from `ThreadPool::instance()`. The worker pauses 1 second before
// each task (after the pool's own 2-second pause before it first starts).
//
// A queue is never destroyed: its worker keeps using it for the rest of the
// process, so create it with `new` and keep it (destroying it is undefined).
// Each queue takes one of the process-wide pool's 30 workers; queues beyond
// the free workers never run their tasks.
class TaskQueue {
public:
    // A queued task, held through std::shared_ptr. `id` and `cancel` are called
    // with the queue's lock held, so they must not push to or cancel on the
    // same queue; `run` may push further tasks (but not its own identifier,
    // which stays taken until `run` returns). `cancel` may be called on another
    // thread while `run` is in progress. An exception escaping `run` is logged
    // at ERROR and the queue goes on with the next task; one escaping `id` or
    // `cancel` is logged at ERROR by the `push` or `cancel` that called it.
    class Task {
    public:
        virtual ~Task() = default;
        // The identifier, compared byte for byte.
        virtual std::string id() = 0;
        // Does the work; called once, on the queue's worker thread.
        virtual void run() = 0;
        // Asks the task to stop; called on the canceller's thread, once per
        // `TaskQueue::cancel` of its identifier while it is at the head.
        virtual void cancel() = 0;
    };

    // Starts the worker loop on the process-wide pool; does not wait for it.
    TaskQueue();

    TaskQueue(const TaskQueue&) = delete;
    TaskQueue& operator=(const TaskQueue&) = delete;

    // Queues `task`. False when a task with the same identifier is queued or
    // running, when `task` is empty, or when an `id` call threw. Any thread.
    bool push(const std::shared_ptr<Task>& task);

    // A waiting task with this identifier is dropped without its `cancel`
    // being called; the task at the head (running, or next to run) gets its
    // `cancel` called and still runs to its end. Unknown identifiers are
    // ignored. Any thread.
    void cancel(const std::string& id);

private:
    // The worker loop; never returns.
    void work();

    std::mutex mutex;
    std::condition_variable condition;
    std::list<std::shared_ptr<Task>> tasks;
};
