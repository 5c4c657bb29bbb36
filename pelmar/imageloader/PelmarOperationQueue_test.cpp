#include "pelmar/imageloader/PelmarOperationQueue.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <mutex>
#include <string>
#include <vector>

#include "pelmar/imageloader/PelmarOperationGroup.h"
#include "testing/Patience.h"

namespace pelmar {
namespace {

using test::kPatience;
using ::testing::ElementsAre;

// A one-shot signal between the test and an operation.
class Signal {
public:
    void fire() {
        std::call_once(once_, [this] { promise_.set_value(); });
    }

    bool wait() const { return future_.wait_for(kPatience) == std::future_status::ready; }

    bool fired() const {
        return future_.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    }

private:
    std::once_flag once_;
    std::promise<void> promise_;
    std::shared_future<void> future_ = promise_.get_future().share();
};

// Records which operations ran, in order, and on which queue.
class Log {
public:
    void add(const std::string& name) {
        const auto queue = dispatch::Queue::current();
        std::lock_guard lock(mutex_);
        entries_.push_back(name);
        queues_[name] = queue ? queue->label() : "";
    }

    std::vector<std::string> entries() const {
        std::lock_guard lock(mutex_);
        return entries_;
    }

    std::string queueOf(const std::string& name) const {
        std::lock_guard lock(mutex_);
        const auto it = queues_.find(name);
        return it == queues_.end() ? "" : it->second;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> entries_;
    std::map<std::string, std::string> queues_;
};

constexpr const char* kSerial = "PelmarOperationQueue Serial Queue";

// Schedules an operation that holds a runner (the serial one when it is free, else a slot) until
// `release` fires, and waits until it has started.
PelmarOperationReference holdRunner(PelmarOperationQueue& queue, const Signal& release) {
    auto started = std::make_shared<Signal>();
    const auto reference = queue.scheduleOperation([started, &release] {
        started->fire();
        EXPECT_TRUE(release.wait());
    });
    EXPECT_TRUE(started->wait());
    return reference;
}

TEST(PelmarOperationQueueTest, OldestRunsSeriallyWhileHighPriorityTakesASlotAtTheSameTime) {
    auto queue = PelmarOperationQueue::create(2);
    Signal aStarted, bStarted;
    Log log;
    queue->scheduleOperation(
            [&] {
                log.add("A");
                aStarted.fire();
                EXPECT_TRUE(bStarted.wait());
            },
            kPelmarOperationQueuePriorityLow);
    queue->scheduleOperation(
            [&] {
                log.add("B");
                bStarted.fire();
                EXPECT_TRUE(aStarted.wait());
            },
            kPelmarOperationQueuePriorityHigh);
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(log.queueOf("A"), kSerial);
    EXPECT_EQ(log.queueOf("B"), "PelmarOperationQueue Concurrent Queue");
}

TEST(PelmarOperationQueueTest, FreedSlotTakesHighestPriorityAndFreedSerialRunnerTakesOldest) {
    auto queue = PelmarOperationQueue::create(2);
    Signal releaseSerial, releaseSlot, releaseD, dStarted;
    Log log;
    holdRunner(*queue, releaseSerial);
    holdRunner(*queue, releaseSlot);
    queue->scheduleOperation([&] { log.add("C"); }, kPelmarOperationQueuePriorityDefault);
    queue->scheduleOperation(
            [&] {
                log.add("D");
                dStarted.fire();
                EXPECT_TRUE(releaseD.wait());
            },
            kPelmarOperationQueuePriorityHigh);

    releaseSlot.fire();
    ASSERT_TRUE(dStarted.wait());
    EXPECT_THAT(log.entries(), ElementsAre("D"));
    releaseSerial.fire();  // the serial runner takes C, the oldest, although D holds the slot
    queue->scheduleOperation([&] { releaseD.fire(); }, kPelmarOperationQueuePriorityLow);
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_THAT(log.entries(), ElementsAre("D", "C"));
    EXPECT_EQ(log.queueOf("C"), kSerial);
}

TEST(PelmarOperationQueueTest, CoalescedSchedulingsRunOnceWithCombinedDataAndEveryCompletion) {
    auto queue = PelmarOperationQueue::create(1);
    Signal release;
    holdRunner(*queue, release);

    std::vector<std::string> events;
    std::mutex mutex;
    const auto note = [&](std::string event) {
        std::lock_guard lock(mutex);
        events.push_back(std::move(event));
    };
    const auto add = [](const std::any& a, const std::any& b) {
        return std::any(std::any_cast<int>(a) + std::any_cast<int>(b));
    };
    const auto first = queue->scheduleOperation(
            [&](const std::any& data) { note("W1 " + std::to_string(std::any_cast<int>(data))); },
            kPelmarOperationQueuePriorityDefault, "x", 1, add, [&] { note("done 1"); });
    const auto second = queue->scheduleOperation([&](const std::any&) { note("W2"); },
                                                 kPelmarOperationQueuePriorityHigh, "x", 2, add,
                                                 [&] { note("done 2"); });
    EXPECT_EQ(first, second);
    release.fire();
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_THAT(events, ElementsAre("W1 3", "done 1", "done 2"));

    // Once taken for a run, the identifier coalesces no more.
    const auto third =
            queue->scheduleOperation([&](const std::any&) { note("W3"); },
                                     kPelmarOperationQueuePriorityDefault, "x", 0, add, nullptr);
    EXPECT_NE(third, first);
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(events.back(), "W3");
}

TEST(PelmarOperationQueueTest, CancelWithdrawsOnlyWaitingOperations) {
    auto queue = PelmarOperationQueue::create(1);
    Signal release;
    const auto running = holdRunner(*queue, release);
    bool ran = false;
    bool completed = false;
    const auto waiting = queue->scheduleOperation([&](const std::any&) { ran = true; },
                                                  kPelmarOperationQueuePriorityDefault, "k", {},
                                                  nullptr, [&] { completed = true; });
    EXPECT_TRUE(queue->cancelOperation(waiting));
    EXPECT_FALSE(queue->cancelOperation(waiting));
    EXPECT_FALSE(queue->cancelOperation(running));
    EXPECT_FALSE(queue->cancelOperation(12345));
    queue->setOperationPriority(kPelmarOperationQueuePriorityHigh, running);  // ignored
    release.fire();
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_FALSE(ran);
    EXPECT_FALSE(completed);
}

TEST(PelmarOperationQueueTest, PriorityChangeMovesWaitingOperationToTheEndOfItsNewPriority) {
    auto queue = PelmarOperationQueue::create(2);
    Signal releaseSerial, releaseSlot;
    Log log;
    holdRunner(*queue, releaseSerial);
    holdRunner(*queue, releaseSlot);
    const auto a =
            queue->scheduleOperation([&] { log.add("A"); }, kPelmarOperationQueuePriorityHigh);
    queue->scheduleOperation([&] { log.add("B"); }, kPelmarOperationQueuePriorityHigh);
    const auto c =
            queue->scheduleOperation([&] { log.add("C"); }, kPelmarOperationQueuePriorityLow);
    queue->setOperationPriority(kPelmarOperationQueuePriorityHigh, c);
    queue->setOperationPriority(7, a);  // unknown values count as default
    releaseSlot.fire();
    // The slot runs B, C, then A; the serial runner is still busy throughout.
    queue->scheduleOperation([&] { releaseSerial.fire(); }, kPelmarOperationQueuePriorityLow);
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_THAT(log.entries(), ElementsAre("B", "C", "A"));
}

TEST(PelmarOperationQueueTest, LimitIsAtLeastOneAndRaisingItStartsWaitingOperations) {
    auto queue = PelmarOperationQueue::create(0);
    EXPECT_EQ(queue->maxConcurrentOperations(), 1u);
    queue->setMaxConcurrentOperations(0);
    EXPECT_EQ(queue->maxConcurrentOperations(), 1u);

    queue->setMaxConcurrentOperations(2);
    Signal release;
    std::vector<std::unique_ptr<Signal>> started;
    for (int i = 0; i < 6; ++i) {
        started.push_back(std::make_unique<Signal>());
    }
    for (int i = 0; i < 6; ++i) {
        queue->scheduleOperation([&, i] {
            started[static_cast<std::size_t>(i)]->fire();
            EXPECT_TRUE(release.wait());
        });
    }
    ASSERT_TRUE(started[0]->wait());
    ASSERT_TRUE(started[1]->wait());
    EXPECT_FALSE(started[2]->fired());
    queue->setMaxConcurrentOperations(4);
    EXPECT_TRUE(started[2]->wait());
    EXPECT_TRUE(started[3]->wait());
    EXPECT_FALSE(started[4]->fired());
    queue->setMaxConcurrentOperations(1);  // running ones go on; the rest run one by one
    release.fire();
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_TRUE(started[5]->fired());
}

TEST(PelmarOperationGroupTest, CompletionRunsOnceAfterEveryBlockOnTheGlobalQueue) {
    auto queue = PelmarOperationQueue::create(3);
    auto group = PelmarOperationGroup::asyncOperationGroupWithQueue(queue);
    std::atomic<int> ran{0};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(group->addOperation([&] { ++ran; }), i + 1);
    }
    Signal completed;
    std::atomic<int> completions{0};
    std::atomic<int> ranBeforeCompletion{-1};
    group->setCompletion([&] {
        ranBeforeCompletion = ran.load();
        ++completions;
        completed.fire();
    });
    group->start();
    EXPECT_FALSE(group->addOperation([] {}));
    ASSERT_TRUE(completed.wait());
    group->waitUntilComplete();
    EXPECT_EQ(ranBeforeCompletion, 3);
    EXPECT_EQ(completions, 1);
}

TEST(PelmarOperationGroupTest, CancelBeforeTheBlocksRunDropsThemAndTheCompletion) {
    auto queue = PelmarOperationQueue::create(1);
    Signal release;
    holdRunner(*queue, release);
    auto group = PelmarOperationGroup::asyncOperationGroupWithQueue(queue);
    std::atomic<int> ran{0};
    bool completed = false;
    group->addOperation([&] { ++ran; });
    group->addOperation([&] { ++ran; });
    group->setCompletion([&] { completed = true; });
    group->start();
    group->cancel();
    release.fire();
    group->waitUntilComplete();
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(ran, 0);
    EXPECT_FALSE(completed);
}

}  // namespace
}  // namespace pelmar
