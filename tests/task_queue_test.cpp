#include "task_queue.h"

#include <glog/logging.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "clock.h"
#include "log_capture.h"

// Queues are never destroyed (their worker keeps using them), so every test
// creates its own with `new` and keeps it, and everything a task touches is
// shared with the task. Each queue holds one of the process-wide pool's 30
// workers for good, which is why the suites run in processes of their own.

namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using TestSupport::Clock;
using TestSupport::secondsBetween;

// What the tasks did, in order, with the time of each entry.
class Journal {
public:
    void record(const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex);
        entries.push_back({text, Clock::now()});
        condition.notify_all();
    }

    bool waitFor(const std::string& text, Clock::duration timeout) {
        std::unique_lock<std::mutex> lock(mutex);
        return condition.wait_for(lock, timeout, [&] { return indexOf(text) >= 0; });
    }

    bool contains(const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex);
        return indexOf(text) >= 0;
    }

    Clock::time_point at(const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex);
        const int index = indexOf(text);
        return index >= 0 ? entries[index].at : Clock::time_point();
    }

    std::vector<std::string> texts() {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<std::string> result;
        for (const Entry& entry : entries) {
            result.push_back(entry.text);
        }
        return result;
    }

private:
    struct Entry {
        std::string text;
        Clock::time_point at;
    };

    int indexOf(const std::string& text) const {
        for (size_t i = 0; i < entries.size(); ++i) {
            if (entries[i].text == text) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }

    std::mutex mutex;
    std::condition_variable condition;
    std::vector<Entry> entries;
};

// Holds tasks back until the test opens it.
class Gate {
public:
    void open() {
        std::lock_guard<std::mutex> lock(mutex);
        opened = true;
        condition.notify_all();
    }

    bool wait(Clock::duration timeout) {
        std::unique_lock<std::mutex> lock(mutex);
        return condition.wait_for(lock, timeout, [&] { return opened; });
    }

private:
    std::mutex mutex;
    std::condition_variable condition;
    bool opened = false;
};

// Journals "<id>:start" and "<id>:end" around its body, and counts cancels.
class TestTask : public TaskQueue::Task, public std::enable_shared_from_this<TestTask> {
public:
    using Body = std::function<void(TestTask&)>;

    TestTask(std::string name, std::shared_ptr<Journal> journal, Body body = {})
        : name(std::move(name)), journal(std::move(journal)), body(std::move(body)) {}

    std::string id() override { return name; }

    void run() override {
        journal->record(name + ":start");
        if (body) {
            body(*this);
        }
        journal->record(name + ":end");
    }

    void cancel() override {
        std::lock_guard<std::mutex> lock(mutex);
        ++cancels;
        condition.notify_all();
    }

    int cancelCount() {
        std::lock_guard<std::mutex> lock(mutex);
        return cancels;
    }

    bool waitForCancel(Clock::duration timeout) {
        std::unique_lock<std::mutex> lock(mutex);
        return condition.wait_for(lock, timeout, [&] { return cancels > 0; });
    }

private:
    const std::string name;
    const std::shared_ptr<Journal> journal;
    const Body body;
    std::mutex mutex;
    std::condition_variable condition;
    int cancels = 0;
};

std::shared_ptr<TestTask> task(const std::string& name, const std::shared_ptr<Journal>& journal,
                               TestTask::Body body = {}) {
    return std::make_shared<TestTask>(name, journal, std::move(body));
}

std::shared_ptr<TestTask> gatedTask(const std::string& name,
                                    const std::shared_ptr<Journal>& journal,
                                    const std::shared_ptr<Gate>& gate) {
    return task(name, journal, [gate](TestTask&) { gate->wait(seconds(30)); });
}

// Pushes fresh tasks named `name` until one is accepted, i.e. until the
// previous one has been removed from the queue.
bool pushOnceRemoved(TaskQueue& queue, const std::string& name,
                     const std::shared_ptr<Journal>& journal) {
    const Clock::time_point deadline = Clock::now() + seconds(5);
    while (Clock::now() < deadline) {
        if (queue.push(task(name, journal))) {
            return true;
        }
        std::this_thread::sleep_for(milliseconds(5));
    }
    return false;
}

// Kept first: it relies on the process-wide pool being created by its queue.
TEST(TaskQueueStartup, TasksPushedBeforeTheWorkerStartsRunInOrderAfterThePauses) {
    auto journal = std::make_shared<Journal>();
    const Clock::time_point created = Clock::now();
    TaskQueue* queue = new TaskQueue;
    for (const char* name : {"a", "b", "c"}) {
        EXPECT_TRUE(queue->push(task(name, journal)));
    }
    ASSERT_TRUE(journal->waitFor("c:end", seconds(20)));
    EXPECT_EQ(journal->texts(), (std::vector<std::string>{"a:start", "a:end", "b:start", "b:end",
                                                          "c:start", "c:end"}));
    EXPECT_GE(secondsBetween(created, journal->at("a:start")), 2.9)
        << "the pool's pause and the queue's pause both come before the first task";
    EXPECT_GE(secondsBetween(journal->at("a:end"), journal->at("b:start")), 0.95);
    EXPECT_GE(secondsBetween(journal->at("b:end"), journal->at("c:start")), 0.95);
}

TEST(TaskQueueDuplicates, RefusedWhileQueuedOrRunningAcceptedAfterRemoval) {
    auto journal = std::make_shared<Journal>();
    auto gate = std::make_shared<Gate>();
    TaskQueue* queue = new TaskQueue;
    EXPECT_TRUE(queue->push(gatedTask("head", journal, gate)));
    EXPECT_TRUE(queue->push(task("a", journal)));
    EXPECT_FALSE(queue->push(task("a", journal))) << "queued behind the head";
    EXPECT_FALSE(queue->push(task("head", journal))) << "at the head, before it runs";
    ASSERT_TRUE(journal->waitFor("head:start", seconds(20)));
    EXPECT_FALSE(queue->push(task("head", journal))) << "running";
    gate->open();
    ASSERT_TRUE(journal->waitFor("a:end", seconds(10)));
    EXPECT_TRUE(pushOnceRemoved(*queue, "head", journal));
    EXPECT_TRUE(pushOnceRemoved(*queue, "a", journal));
}

TEST(TaskQueueDuplicates, IdentifiersCompareByteForByte) {
    auto journal = std::make_shared<Journal>();
    auto gate = std::make_shared<Gate>();
    TaskQueue* queue = new TaskQueue;
    EXPECT_TRUE(queue->push(gatedTask("id", journal, gate)));
    for (const std::string& other :
         {std::string("ID"), std::string("id "), std::string(" id"), std::string("i"),
          std::string("id\0", 3), std::string("i\0d", 3),
          std::string("\xC3\xAF"
                      "d")}) {
        EXPECT_TRUE(queue->push(task(other, journal))) << other;
    }
    EXPECT_FALSE(queue->push(task("id", journal)));
    gate->open();
}

// Journals "<label>.id" at every call of its `id`; its run waits for the gate.
class IdJournalingTask : public TaskQueue::Task {
public:
    IdJournalingTask(std::string label, std::string name, std::shared_ptr<Journal> journal,
                     std::shared_ptr<Gate> gate)
        : label(std::move(label)),
          name(std::move(name)),
          journal(std::move(journal)),
          gate(std::move(gate)) {}

    std::string id() override {
        journal->record(label + ".id");
        return name;
    }
    void run() override { gate->wait(seconds(30)); }
    void cancel() override {}

private:
    const std::string label;
    const std::string name;
    const std::shared_ptr<Journal> journal;
    const std::shared_ptr<Gate> gate;
};

TEST(TaskQueueDuplicates, PushReadsTheNewIdentifierFirstAndStopsAtTheFirstMatch) {
    auto journal = std::make_shared<Journal>();
    auto gate = std::make_shared<Gate>();
    TaskQueue* queue = new TaskQueue;
    auto idTask = [&](const std::string& label, const std::string& name) {
        return std::make_shared<IdJournalingTask>(label, name, journal, gate);
    };
    EXPECT_TRUE(queue->push(idTask("x", "x")));
    EXPECT_TRUE(queue->push(idTask("y", "y")));
    EXPECT_TRUE(queue->push(idTask("z", "z")));
    EXPECT_FALSE(queue->push(idTask("x2", "x")));
    // The gated head stays at the front, so the list is x, y, z throughout.
    EXPECT_EQ(journal->texts(), (std::vector<std::string>{"y.id", "x.id",                  //
                                                          "z.id", "x.id", "z.id", "y.id",  //
                                                          "x2.id", "x.id"}));
    gate->open();
}

TEST(TaskQueueDuplicates, ConcurrentPushesOfOneIdentifierAcceptExactlyOne) {
    constexpr int kThreads = 4;
    constexpr int kNames = 200;
    auto journal = std::make_shared<Journal>();
    auto gate = std::make_shared<Gate>();
    TaskQueue* queue = new TaskQueue;
    // Keeps the worker busy so that nothing is removed while the threads push.
    ASSERT_TRUE(queue->push(gatedTask("blocker", journal, gate)));
    std::atomic<int> ready{0};
    std::atomic<int> accepted{0};
    std::vector<std::thread> pushers;
    for (int t = 0; t < kThreads; ++t) {
        pushers.emplace_back([&] {
            ++ready;
            while (ready < kThreads) {
                std::this_thread::yield();
            }
            for (int i = 0; i < kNames; ++i) {
                if (queue->push(task("t" + std::to_string(i), journal))) {
                    ++accepted;
                }
            }
        });
    }
    for (std::thread& pusher : pushers) {
        pusher.join();
    }
    EXPECT_EQ(accepted, kNames);
    gate->open();
}

TEST(TaskQueueRunning, RunMayPushOtherTasksButNotItself) {
    auto journal = std::make_shared<Journal>();
    TaskQueue* queue = new TaskQueue;
    EXPECT_TRUE(queue->push(task("self", journal, [queue, journal](TestTask& self) {
        journal->record(queue->push(self.shared_from_this()) ? "again:accepted" : "again:refused");
        journal->record(queue->push(task("next", journal)) ? "next:accepted" : "next:refused");
    })));
    ASSERT_TRUE(journal->waitFor("next:end", seconds(20)));
    EXPECT_TRUE(journal->contains("again:refused"));
    EXPECT_TRUE(journal->contains("next:accepted"));
    EXPECT_GE(secondsBetween(journal->at("self:end"), journal->at("next:start")), 0.95);
}

TEST(TaskQueueRunning, ThrowingRunIsLoggedRemovedAndTheQueueGoesOn) {
    TestSupport::LogCapture sink;
    auto journal = std::make_shared<Journal>();
    TaskQueue* queue = new TaskQueue;
    EXPECT_TRUE(queue->push(task(
        "boom", journal, [](TestTask&) { throw std::runtime_error("task failed on purpose"); })));
    EXPECT_TRUE(queue->push(task("bang", journal, [](TestTask&) { throw 42; })));
    EXPECT_TRUE(queue->push(task("after", journal)));
    ASSERT_TRUE(journal->waitFor("after:end", seconds(20)));
    const std::string lines = sink.text(google::GLOG_ERROR);
    EXPECT_NE(lines.find("boom"), std::string::npos) << lines;
    EXPECT_NE(lines.find("task failed on purpose"), std::string::npos) << lines;
    EXPECT_NE(lines.find("bang"), std::string::npos) << lines;
    EXPECT_TRUE(queue->push(task("boom", journal))) << "a task that threw must still be removed";
}

// A task whose identifier cannot be read.
class BadIdTask : public TaskQueue::Task {
public:
    std::string id() override { throw std::runtime_error("no identifier"); }
    void run() override {}
    void cancel() override {}
};

TEST(TaskQueueRunning, ThrowingIdentifierIsRefusedAndLeavesTheQueueUsable) {
    TestSupport::LogCapture sink;
    auto journal = std::make_shared<Journal>();
    auto gate = std::make_shared<Gate>();
    TaskQueue* queue = new TaskQueue;
    EXPECT_TRUE(queue->push(gatedTask("head", journal, gate)));
    EXPECT_FALSE(queue->push(std::make_shared<BadIdTask>()));
    EXPECT_FALSE(queue->push(nullptr));
    EXPECT_NE(sink.text(google::GLOG_ERROR).find("no identifier"), std::string::npos);
    // A lock left held by the failed push would hang these.
    EXPECT_TRUE(queue->push(task("after", journal)));
    queue->cancel("after");
    EXPECT_TRUE(queue->push(task("after", journal)));
    gate->open();
    EXPECT_TRUE(journal->waitFor("after:end", seconds(20)));
}

TEST(TaskQueueCancel, WaitingTaskIsDroppedWithoutItsCancel) {
    auto journal = std::make_shared<Journal>();
    auto gate = std::make_shared<Gate>();
    TaskQueue* queue = new TaskQueue;
    auto head = gatedTask("head", journal, gate);
    auto waiting = task("w", journal);
    EXPECT_TRUE(queue->push(head));
    EXPECT_TRUE(queue->push(waiting));
    queue->cancel("w");
    EXPECT_EQ(waiting->cancelCount(), 0);
    EXPECT_EQ(waiting.use_count(), 1) << "the queue must release a dropped task";
    EXPECT_TRUE(queue->push(task("after", journal)));
    gate->open();
    ASSERT_TRUE(journal->waitFor("after:end", seconds(20)));
    EXPECT_FALSE(journal->contains("w:start"));
    EXPECT_EQ(head->cancelCount(), 0);
}

TEST(TaskQueueCancel, HeadTaskGetsItsCancelAndStillRuns) {
    auto journal = std::make_shared<Journal>();
    TaskQueue* queue = new TaskQueue;
    auto running = task("r", journal, [journal](TestTask& self) {
        journal->record(self.waitForCancel(seconds(30)) ? "r:noticed" : "r:timed-out");
    });
    // Held back until after its cancel, so that a stalled test thread cannot
    // find it already run and removed.
    auto gate = std::make_shared<Gate>();
    auto next = gatedTask("h", journal, gate);
    EXPECT_TRUE(queue->push(running));
    EXPECT_TRUE(queue->push(next));
    ASSERT_TRUE(journal->waitFor("r:start", seconds(20)));
    queue->cancel("r");
    EXPECT_EQ(running->cancelCount(), 1);
    ASSERT_TRUE(journal->waitFor("r:end", seconds(5)));
    EXPECT_TRUE(journal->contains("r:noticed"));

    // Once "r" is accepted again the old one is gone, and "h" is at the head,
    // normally still in the worker's pause.
    ASSERT_TRUE(pushOnceRemoved(*queue, "r", journal));
    queue->cancel("h");
    EXPECT_EQ(next->cancelCount(), 1);
    gate->open();
    ASSERT_TRUE(journal->waitFor("h:end", seconds(10))) << "a cancelled head must still run";
    EXPECT_TRUE(pushOnceRemoved(*queue, "h", journal));
}

TEST(TaskQueueCancel, UnknownIdentifiersChangeNothing) {
    auto journal = std::make_shared<Journal>();
    auto gate = std::make_shared<Gate>();
    TaskQueue* queue = new TaskQueue;
    queue->cancel("t");  // empty queue
    auto head = gatedTask("head", journal, gate);
    auto waiting = task("t", journal);
    EXPECT_TRUE(queue->push(head));
    EXPECT_TRUE(queue->push(waiting));
    for (const char* unknown : {"T", "t ", "", "nope", "hea"}) {
        queue->cancel(unknown);
    }
    EXPECT_EQ(head->cancelCount(), 0);
    EXPECT_EQ(waiting->cancelCount(), 0);
    EXPECT_FALSE(queue->push(task("t", journal))) << "the waiting task must still be queued";
    gate->open();
    EXPECT_TRUE(journal->waitFor("t:end", seconds(20)));
}

}  // namespace
