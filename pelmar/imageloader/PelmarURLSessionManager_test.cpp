#include "pelmar/imageloader/PelmarURLSessionManager.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <map>
#include <mutex>

#include "pelmar/imageloader/PelmarRemoteImageDownloadQueue.h"
#include "pelmar/imageloader/PelmarRequestRetryStrategy.h"
#include "pelmar/platform/net/URLError.h"
#include "testing/ScriptedHttpServer.h"
#include "testing/Waits.h"

namespace pelmar {
namespace {

using test::kPatience;
using test::ScriptedHttpServer;
using test::ScriptedReply;
using test::ScriptedRequest;
using ::testing::ElementsAre;

// What a task heard, in order: "response", "data <bytes>", "metrics", "complete <code>".
class RecordingDelegate : public PelmarURLSessionManagerDelegate {
public:
    void didReceiveData(const std::string& data, const PelmarDataTask& task) override {
        note(task, "data", data);
    }

    void didCollectMetrics(const net::URLSessionTaskMetrics&, const std::string& url) override {
        std::lock_guard lock(mutex_);
        metricsURLs_.push_back(url);
    }

    void didReceiveResponse(const std::shared_ptr<const net::HTTPURLResponse>&,
                            const PelmarDataTask& task) override {
        note(task, "response", "");
    }

    void didCompleteTask(const PelmarDataTask& task, const std::optional<Error>& error) override {
        note(task, "complete", error ? std::to_string(error->code) : "ok");
        changed_.notify_all();
    }

    // Waits until `task` completed; its events with data chunks joined.
    std::vector<std::string> eventsOf(const PelmarDataTask& task) {
        std::unique_lock lock(mutex_);
        const bool done = changed_.wait_for(lock, kPatience, [&] {
            const auto& events = events_[task->taskIdentifier()];
            return !events.empty() && events.back().starts_with("complete");
        });
        EXPECT_TRUE(done);
        std::vector<std::string> joined;
        for (const auto& event : events_[task->taskIdentifier()]) {
            if (event.starts_with("data ") && !joined.empty()
                && joined.back().starts_with("data ")) {
                joined.back() += event.substr(5);
            } else {
                joined.push_back(event);
            }
        }
        return joined;
    }

    std::set<std::string> queuesOf(const PelmarDataTask& task) {
        std::lock_guard lock(mutex_);
        return queues_[task->taskIdentifier()];
    }

private:
    void note(const PelmarDataTask& task, const std::string& what, const std::string& detail) {
        const auto queue = dispatch::Queue::current();
        std::lock_guard lock(mutex_);
        events_[task->taskIdentifier()].push_back(what + (detail.empty() ? "" : " " + detail));
        queues_[task->taskIdentifier()].insert(queue ? queue->label() : "");
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<uint64_t, std::vector<std::string>> events_;
    std::map<uint64_t, std::set<std::string>> queues_;
    std::vector<std::string> metricsURLs_;
};

using ErrorOutcome = test::Outcome<std::optional<Error>>;

// A completion block that hands its error to `outcome`.
PelmarURLSessionManager::Completion completeInto(const ErrorOutcome& outcome) {
    return [outcome](const PelmarDataTask&, const std::optional<Error>& error) {
        outcome.set(error);
    };
}

class PelmarURLSessionManagerIntegrationTest : public ::testing::Test {
protected:
    std::shared_ptr<PelmarURLSessionManager> makeManager(
            net::URLSessionConfiguration configuration = {}) {
        auto manager = PelmarURLSessionManager::create(configuration, recorder_);
        manager->setDelegate(delegate_);
        return manager;
    }

    net::URLRequest get(const std::string& url) {
        net::URLRequest request;
        request.url = url;
        return request;
    }

    std::shared_ptr<PelmarSpeedRecorder> recorder_ =
            std::make_shared<PelmarSpeedRecorder>([] { return std::optional<uint32_t>(); });
    std::shared_ptr<RecordingDelegate> delegate_ = std::make_shared<RecordingDelegate>();
};

TEST_F(PelmarURLSessionManagerIntegrationTest, HttpStatusesBecomeErrorsExceptRecoverable404) {
    ScriptedHttpServer server([](const ScriptedRequest& request) {
        ScriptedReply reply;
        const auto slash = request.target.find('/', 1);
        reply.status = std::stoi(request.target.substr(1, slash - 1));
        if (slash != std::string::npos) {
            reply.headers.emplace_back("Content-Type", request.target.substr(slash + 1));
        }
        reply.body = reply.status == 304 ? "" : "body";
        return reply;
    });

    const struct {
        const char* path;
        std::optional<long> code;
    } cases[] = {
            {"/500", 500},
            {"/503/text/plain", 503},
            {"/404/image/png", std::nullopt},
            {"/404/text/html", 404},
            {"/404", 404},
            {"/304", std::nullopt},
            {"/399", std::nullopt},
            {"/200", std::nullopt},
            {"/400", 400},
    };

    auto manager = makeManager();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        ErrorOutcome outcome;
        manager->dataTaskWithRequest(get(server.url(c.path)), completeInto(outcome))->resume();
        const auto error = outcome.get();
        ASSERT_EQ(error.has_value(), c.code.has_value());
        if (error) {
            EXPECT_EQ(error->domain, kPelmarURLErrorDomain);
            EXPECT_EQ(error->code, *c.code);
            EXPECT_EQ(error->message, "HTTP Error Response.");
        }
    }
}

TEST_F(PelmarURLSessionManagerIntegrationTest, EachTaskHearsResponseDataInOrderThenCompletion) {
    const std::string bodyA(64 * 1024, 'a');
    std::string bodyB;
    for (int i = 0; i < 20000; ++i) {
        bodyB += std::to_string(i) + ",";
    }
    ScriptedHttpServer server([&](const ScriptedRequest& request) {
        ScriptedReply reply;
        reply.body = request.target == "/a" ? bodyA : bodyB;
        reply.writeSize = 4096;
        reply.chunked = request.target == "/b";
        return reply;
    });
    auto manager = makeManager();
    auto a = manager->dataTaskWithRequest(get(server.url("/a")), nullptr);
    auto b = manager->dataTaskWithRequest(get(server.url("/b")), nullptr);
    b->resume();
    a->resume();
    EXPECT_THAT(delegate_->eventsOf(a), ElementsAre("response", "data " + bodyA, "complete ok"));
    EXPECT_THAT(delegate_->eventsOf(b), ElementsAre("response", "data " + bodyB, "complete ok"));
    EXPECT_THAT(delegate_->queuesOf(a), ElementsAre("PelmarURLSessionManager delegate queue - "
                                                    + std::to_string(a->taskIdentifier())));
    // The metrics reached the speed recorder of the manager before the completion.
    EXPECT_TRUE(recorder_->measurementForHost("127.0.0.1"));
}

TEST_F(PelmarURLSessionManagerIntegrationTest, CancelEndsSuspendedAndRunningTasksWithCancelled) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::promise<void> sending;
    ScriptedHttpServer server([&](const ScriptedRequest&) {
        ScriptedReply reply;
        reply.body = std::string(10000, 'x');
        reply.writeSize = 1000;
        reply.beforeWrite = [&](std::size_t sent) {
            if (sent == 1000) {
                sending.set_value();
                released.wait();
            }
        };
        return reply;
    });
    auto manager = makeManager();
    ErrorOutcome suspended, running;
    manager->dataTaskWithRequest(get(server.url("/s")), completeInto(suspended))->cancel();
    auto task = manager->dataTaskWithRequest(get(server.url("/r")), completeInto(running));
    task->resume();
    ASSERT_EQ(sending.get_future().wait_for(kPatience), std::future_status::ready);
    task->cancel();
    for (auto* outcome : {&suspended, &running}) {
        const auto error = outcome->get();
        ASSERT_TRUE(error);
        EXPECT_EQ(error->domain, net::kURLErrorDomain);
        EXPECT_EQ(error->code, net::kURLErrorCancelled);
    }
    release.set_value();
}

TEST_F(PelmarURLSessionManagerIntegrationTest, DataURLsRedirectsAndTheBodyCap) {
    ScriptedHttpServer server([&](const ScriptedRequest& request) {
        ScriptedReply reply;
        if (request.target == "/moved") {
            reply.status = 302;
            reply.headers.emplace_back("Location", "/image");
        } else {
            reply.body = std::string(5000, 'i');
        }
        return reply;
    });
    auto manager = makeManager();
    auto data = manager->dataTaskWithRequest(get("data:image/gif;base64,R0lGODlhAQ=="), nullptr);
    data->resume();
    EXPECT_THAT(delegate_->eventsOf(data),
                ElementsAre("response", std::string("data GIF89a\x01", 12), "complete ok"));

    auto moved = manager->dataTaskWithRequest(get(server.url("/moved")), nullptr);
    moved->resume();
    EXPECT_THAT(delegate_->eventsOf(moved),
                ElementsAre("response", "data " + std::string(5000, 'i'), "complete ok"));
    EXPECT_EQ(moved->currentRequest().url, server.url("/image"));
    EXPECT_EQ(moved->originalRequest().url, server.url("/moved"));

    net::URLSessionConfiguration small;
    small.maximumResponseBytes = 1000;
    ErrorOutcome capped;
    auto cappedManager = makeManager(small);
    cappedManager->dataTaskWithRequest(get(server.url("/image")), completeInto(capped))->resume();
    const auto error = capped.get();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, net::kURLErrorDataLengthExceedsMaximum);
}

// A server whose answers each wait until the test releases their path.
class HeldServer {
public:
    HeldServer()
        : server_([this](const ScriptedRequest& request) {
              {
                  std::unique_lock lock(mutex_);
                  arrived_.push_back(request.target);
                  changed_.notify_all();
                  changed_.wait(lock, [&] {
                      return releaseAll_ || released_.count(request.target) != 0;
                  });
              }
              ScriptedReply reply;
              reply.body = "done";
              return reply;
          }) {}

    ~HeldServer() {
        {
            std::lock_guard lock(mutex_);
            releaseAll_ = true;
            changed_.notify_all();
        }
        server_.stop();
    }

    std::string url(const std::string& path) const { return server_.url(path); }

    void release(const std::string& path) {
        std::lock_guard lock(mutex_);
        released_.insert(path);
        changed_.notify_all();
    }

    // Waits until `count` requests arrived; the paths in arrival order.
    std::vector<std::string> arrived(std::size_t count) {
        std::unique_lock lock(mutex_);
        EXPECT_TRUE(changed_.wait_for(lock, kPatience, [&] { return arrived_.size() >= count; }));
        return arrived_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> arrived_;
    std::set<std::string> released_;
    bool releaseAll_ = false;
    ScriptedHttpServer server_;
};

class PelmarRemoteImageDownloadQueueIntegrationTest
    : public PelmarURLSessionManagerIntegrationTest {
protected:
    PelmarDataTask add(const std::string& path, PelmarRemoteImageManagerPriority priority) {
        return queue_->addDownloadWithSessionManager(*manager_, get(held_.url(path)), priority,
                                                     nullptr);
    }

    HeldServer held_;
    std::shared_ptr<PelmarURLSessionManager> manager_ = makeManager();
    std::shared_ptr<PelmarRemoteImageDownloadQueue> queue_ =
            PelmarRemoteImageDownloadQueue::queueWithMaxConcurrentDownloads(2);
};

TEST_F(PelmarRemoteImageDownloadQueueIntegrationTest, StartsByPriorityWithinTheLimit) {
    add("/A", kPelmarRemoteImageManagerPriorityLow);
    add("/B", kPelmarRemoteImageManagerPriorityDefault);
    add("/C", kPelmarRemoteImageManagerPriorityHigh);
    add("/D", kPelmarRemoteImageManagerPriorityDefault);
    auto first = held_.arrived(2);
    EXPECT_THAT(std::set<std::string>(first.begin(), first.end()), ElementsAre("/A", "/B"));
    held_.release("/A");
    EXPECT_EQ(held_.arrived(3).back(), "/C");
    held_.release("/B");
    EXPECT_EQ(held_.arrived(4).back(), "/D");
    held_.release("/C");
    held_.release("/D");
}

TEST_F(PelmarRemoteImageDownloadQueueIntegrationTest, RaisingTheLimitStartsWaitingTasksAtOnce) {
    for (const char* path : {"/1", "/2", "/3", "/4", "/5", "/6"}) {
        add(path, kPelmarRemoteImageManagerPriorityDefault);
    }
    held_.arrived(2);
    EXPECT_EQ(queue_->runningCount(), 2u);
    queue_->setMaxNumberOfConcurrentDownloads(4);
    EXPECT_EQ(queue_->runningCount(), 4u);
    EXPECT_EQ(held_.arrived(4).size(), 4u);
    queue_->setMaxNumberOfConcurrentDownloads(0);
    EXPECT_EQ(queue_->maxNumberOfConcurrentDownloads(), 1u);
    for (const char* path : {"/1", "/2", "/3", "/4", "/5", "/6"}) {
        held_.release(path);
    }
    EXPECT_EQ(held_.arrived(6).size(), 6u);
}

TEST_F(PelmarRemoteImageDownloadQueueIntegrationTest, PriorityChangeMovesOnlyWaitingTasks) {
    queue_->setMaxNumberOfConcurrentDownloads(1);
    auto running = add("/run", kPelmarRemoteImageManagerPriorityLow);
    held_.arrived(1);
    auto x = add("/X", kPelmarRemoteImageManagerPriorityHigh);
    add("/Y", kPelmarRemoteImageManagerPriorityHigh);
    auto z = add("/Z", kPelmarRemoteImageManagerPriorityLow);
    queue_->setQueuePriority(kPelmarRemoteImageManagerPriorityHigh, running);  // nothing happens
    queue_->setQueuePriority(kPelmarRemoteImageManagerPriorityHigh, z);        // after Y
    queue_->setQueuePriority(kPelmarRemoteImageManagerPriorityHigh, x);        // after Z
    EXPECT_FALSE(queue_->removeDownloadTaskFromQueue(running));
    for (const char* path : {"/run", "/Y", "/Z", "/X"}) {
        held_.release(path);
    }
    EXPECT_THAT(held_.arrived(4), ElementsAre("/run", "/Y", "/Z", "/X"));
}

TEST_F(PelmarRemoteImageDownloadQueueIntegrationTest, APriorityChangeTakesASlotThatIsFree) {
    queue_->setMaxNumberOfConcurrentDownloads(1);
    add("/first", kPelmarRemoteImageManagerPriorityDefault);
    const auto moved = add("/moved", kPelmarRemoteImageManagerPriorityLow);
    const auto left = add("/left", kPelmarRemoteImageManagerPriorityLow);
    held_.arrived(1);
    // Taken out of the waiting list, a task is not started by a slot that frees up...
    ASSERT_TRUE(queue_->removeDownloadTaskFromQueue(moved));
    ASSERT_TRUE(queue_->removeDownloadTaskFromQueue(left));
    queue_->setMaxNumberOfConcurrentDownloads(2);
    EXPECT_EQ(queue_->runningCount(), 1u);
    // ...but the priority change that puts it back hands it that slot at once.
    queue_->setQueuePriority(kPelmarRemoteImageManagerPriorityHigh, moved, true);
    EXPECT_EQ(queue_->runningCount(), 2u);
    EXPECT_THAT(held_.arrived(2), ElementsAre("/first", "/moved"));
    // Without being asked to, a change puts back no task that neither waits nor runs.
    queue_->setQueuePriority(kPelmarRemoteImageManagerPriorityHigh, left);
    EXPECT_EQ(left->state(), net::URLSessionTask::State::Suspended);
    left->cancel();
    held_.release("/first");
    held_.release("/moved");
}

}  // namespace
}  // namespace pelmar
