#include "task_queue.h"

#include "thread_pool.h"

#include <glog/logging.h>
#include <QThread>

#include <exception>
#include <iterator>

namespace {

constexpr unsigned long kPauseSeconds = 1;

// Call only inside a catch block: logs the exception being handled.
void logCurrentException(const std::string& context) {
    try {
        throw;
    } catch (const std::exception& e) {
        LOG(ERROR) << context << e.what();
    } catch (...) {
        LOG(ERROR) << context << "未知异常";
    }
}

// The identifier for a log line; a task whose `id` throws is named by a placeholder.
std::string describe(TaskQueue::Task& task) {
    try {
        return task.id();
    } catch (...) {
        return "<?>";
    }
}

}  // namespace

TaskQueue::TaskQueue() {
    ThreadPool::instance()->post([this] { work(); });
}

bool TaskQueue::push(const std::shared_ptr<Task>& task) {
    if (!task) {
        return false;
    }
    try {
        std::lock_guard<std::mutex> lock(mutex);
        for (const std::shared_ptr<Task>& entry : tasks) {
            // The new task's identifier is read first, once per entry compared;
            // the operands of == alone would leave that order to the compiler.
            const std::string newId = task->id();
            if (newId == entry->id()) {
                return false;
            }
        }
        tasks.push_back(task);
        condition.notify_one();
        return true;
    } catch (...) {
        logCurrentException("任务入队时读取标识抛出异常: ");
        return false;
    }
}

void TaskQueue::cancel(const std::string& id) {
    // Released after the lock, so that a dropped task's destructor may use the queue.
    std::shared_ptr<Task> dropped;
    try {
        std::lock_guard<std::mutex> lock(mutex);
        if (tasks.empty()) {
            return;
        }
        if (tasks.front()->id() == id) {
            // The head may already be running; it is told to stop and the
            // worker removes it once its run returns.
            tasks.front()->cancel();
            return;
        }
        for (auto it = std::next(tasks.begin()); it != tasks.end(); ++it) {
            if ((*it)->id() == id) {
                dropped = std::move(*it);
                tasks.erase(it);
                return;
            }
        }
    } catch (...) {
        logCurrentException("取消任务 " + id + " 时抛出异常: ");
    }
}

void TaskQueue::work() {
    for (;;) {
        QThread::sleep(kPauseSeconds);
        std::shared_ptr<Task> task;
        {
            std::unique_lock<std::mutex> lock(mutex);
            condition.wait(lock, [this] { return !tasks.empty(); });
            task = tasks.front();
        }
        try {
            task->run();
        } catch (...) {
            logCurrentException("任务 " + describe(*task) + " 执行时抛出异常: ");
        }
        {
            std::lock_guard<std::mutex> lock(mutex);
            tasks.pop_front();
        }
        // `task` is released here, outside the lock, so a task's destructor may
        // use the queue.
    }
}
