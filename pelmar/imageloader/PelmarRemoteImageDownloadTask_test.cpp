#include "pelmar/imageloader/PelmarRemoteImageDownloadTask.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>

#include "pelmar/platform/dispatch/testing/MainLoopFixture.h"
#include "pelmar/platform/net/URLError.h"
#include "testing/ScriptedHttpServer.h"

namespace pelmar {
namespace {

using test::ScriptedHttpServer;
using test::ScriptedReply;
using test::ScriptedRequest;

constexpr auto kPatience = std::chrono::seconds(20);

// What the image manager does for its download tasks: forwards the session's events.
class Router : public PelmarURLSessionManagerDelegate {
public:
    void didReceiveData(const std::string& data, const PelmarDataTask&) override {
        if (auto task = task_.lock()) {
            task->didReceiveData(data);
        }
    }

    void didReceiveResponse(const std::shared_ptr<const net::HTTPURLResponse>& response,
                            const PelmarDataTask&) override {
        if (auto task = task_.lock()) {
            task->didReceiveResponse(response);
        }
    }

    std::weak_ptr<PelmarRemoteImageDownloadTask> task_;
};

struct Result {
    std::optional<std::string> data;
    std::optional<Error> error;
};

// The body of a resource answered with a strong ETag, honouring Range and If-Range.
ScriptedReply rangeReply(const ScriptedRequest& request,
                         const std::string& body,
                         const std::string& etag) {
    ScriptedReply reply;
    reply.headers = {{"ETag", etag}, {"Accept-Ranges", "bytes"}};
    const auto range = request.header("Range");
    const auto ifRange = request.header("If-Range");
    if (range && range->rfind("bytes=", 0) == 0 && (!ifRange || *ifRange == etag)) {
        const std::size_t start = std::stoul(range->substr(6));
        reply.status = 206;
        reply.headers.emplace_back("Content-Range", "bytes " + std::to_string(start) + "-"
                                                            + std::to_string(body.size() - 1) + "/"
                                                            + std::to_string(body.size()));
        reply.body = body.substr(start);
    } else {
        reply.body = body;
    }
    return reply;
}

class PelmarRemoteImageDownloadTaskIntegrationTest : public dispatch::test::MainLoopFixture {
protected:
    void SetUp() override {
        MainLoopFixture::SetUp();
        environment_.sessionManager = PelmarURLSessionManager::create({}, recorder_);
        environment_.sessionManager->setDelegate(router_);
        environment_.downloadQueue =
                PelmarRemoteImageDownloadQueue::queueWithMaxConcurrentDownloads(10);
        environment_.operationQueue = PelmarOperationQueue::create(4);
        environment_.callbackQueue =
                dispatch::Queue::concurrent("PelmarRemoteImageManagerCallbackQueue");
        environment_.speedRecorder = &recorder_;
    }

    std::shared_ptr<PelmarRemoteImageDownloadTask> makeTask(
            std::unique_ptr<PelmarRequestRetryStrategy> strategy = nullptr) {
        auto task = PelmarRemoteImageDownloadTask::create("key", environment_, std::move(strategy));
        task->addCallbacks("caller-1", {});
        router_->task_ = task;
        return task;
    }

    void schedule(const std::shared_ptr<PelmarRemoteImageDownloadTask>& task,
                  const std::string& url,
                  std::optional<PelmarResume> resume = std::nullopt,
                  bool skipRetry = false) {
        net::URLRequest request;
        request.url = url;
        task->scheduleDownloadWithRequest(request, std::move(resume), skipRetry,
                                          kPelmarRemoteImageManagerPriorityDefault,
                                          [this](std::optional<std::string> data,
                                                 const std::shared_ptr<const net::HTTPURLResponse>&,
                                                 const std::optional<Error>& error) {
                                              results_.set_value(Result{std::move(data), error});
                                          });
    }

    Result result() {
        if (resultFuture_.wait_for(kPatience) != std::future_status::ready) {
            ADD_FAILURE() << "the download did not complete";
            return {std::nullopt, Error{"test", -1, "no completion"}};
        }
        return resultFuture_.get();
    }

    bool finished() {
        return resultFuture_.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    }

    PelmarSpeedRecorder recorder_{[] { return std::optional<uint32_t>(); }};
    std::shared_ptr<Router> router_ = std::make_shared<Router>();
    PelmarRemoteImageDownloadTask::Environment environment_;
    std::promise<Result> results_;
    std::future<Result> resultFuture_ = results_.get_future();
};

// Waits (in real time, for other threads) until `condition` holds.
template <class F>
bool eventually(F condition) {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::yield();
    }
    return true;
}

TEST_F(PelmarRemoteImageDownloadTaskIntegrationTest, ResumesFromStoredBytesWithRangeAndIfRange) {
    const std::string body(5000, 'r');
    ScriptedHttpServer server(
            [&](const ScriptedRequest& request) { return rangeReply(request, body, "\"v1\""); });
    auto task = makeTask();
    schedule(task, server.url("/img.jpg"), PelmarResume{body.substr(0, 1000), "\"v1\"", 5000});
    const auto done = result();
    ASSERT_FALSE(done.error);
    EXPECT_EQ(done.data, body);
    const auto sent = server.requests().at(0);
    EXPECT_EQ(sent.header("Range"), "bytes=1000-");
    EXPECT_EQ(sent.header("If-Range"), "\"v1\"");
}

TEST_F(PelmarRemoteImageDownloadTaskIntegrationTest, ChangedValidatorRestartsFromTheStart) {
    const std::string body(3000, 'n');
    ScriptedHttpServer server(
            [&](const ScriptedRequest& request) { return rangeReply(request, body, "\"v2\""); });
    auto task = makeTask();
    schedule(task, server.url("/img.jpg"), PelmarResume{std::string(1000, 'o'), "\"v1\"", 3000});
    const auto done = result();
    ASSERT_FALSE(done.error);
    EXPECT_EQ(done.data, body);  // the stale bytes are dropped, not joined
}

TEST_F(PelmarRemoteImageDownloadTaskIntegrationTest,
       PartialAnswerNotContinuingStoredBytesRestarts) {
    const std::string body(3000, 'p');
    ScriptedHttpServer server([&](const ScriptedRequest& request) {
        ScriptedReply reply;
        if (request.header("Range")) {  // a server that answers from the wrong offset
            reply.status = 206;
            reply.headers = {{"Content-Range", "bytes 0-2999/3000"}};
        }
        reply.body = body;
        return reply;
    });
    auto task = makeTask();
    schedule(task, server.url("/img.jpg"), PelmarResume{body.substr(0, 1000), "\"v1\"", 3000});
    const auto done = result();
    ASSERT_FALSE(done.error);
    EXPECT_EQ(done.data, body);
    ASSERT_EQ(server.requests().size(), 2u);
    EXPECT_FALSE(server.requests()[1].header("Range"));
}

TEST_F(PelmarRemoteImageDownloadTaskIntegrationTest, ValidatorComesFromStrongETagOrLastModified) {
    const struct {
        const char* name;
        std::vector<std::pair<std::string, std::string>> headers;
        std::optional<std::string> ifRange;
    } cases[] = {
            {"noAcceptRanges", {{"ETag", "\"a\""}}, std::nullopt},
            {"acceptRangesNone", {{"Accept-Ranges", "none"}, {"ETag", "\"a\""}}, std::nullopt},
            {"weakETag",
             {{"Accept-Ranges", "bytes"}, {"ETag", "W/\"a\""}, {"Last-Modified", "Mon"}},
             std::nullopt},
            {"strongETag", {{"accept-ranges", "bytes"}, {"etag", "\"a\""}}, "\"a\""},
            {"lastModifiedOnly",
             {{"Accept-Ranges", "bytes"}, {"Last-Modified", "Wed, 21 Oct 2015 07:28:00 GMT"}},
             "Wed, 21 Oct 2015 07:28:00 GMT"},
    };

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto task = makeTask();
        task->didReceiveResponse(
                std::make_shared<net::HTTPURLResponse>("http://h/x", 200, c.headers));
        EXPECT_EQ(task->ifRange(), c.ifRange);
    }
}

TEST_F(PelmarRemoteImageDownloadTaskIntegrationTest, ServerErrorsAreRetriedAfter4Then16Then64) {
    ScriptedHttpServer server([](const ScriptedRequest&) {
        ScriptedReply reply;
        reply.status = 503;
        reply.body = "busy";
        return reply;
    });
    auto task = makeTask();
    schedule(task, server.url("/img.jpg"));
    const int32_t delays[] = {4, 16, 64};
    for (int32_t retry = 1; retry <= 3; ++retry) {
        const int32_t delay = delays[retry - 1];
        SCOPED_TRACE(delay);
        // The failure was handled and its retry is waiting on the clock.
        ASSERT_TRUE(eventually([&] { return task->numberOfRetries() == retry; }));
        clock().advance(delay - 0.5);
        EXPECT_EQ(server.requests().size(), static_cast<std::size_t>(retry));
        clock().advance(0.5);
        ASSERT_TRUE(eventually([&] { return server.requests().size() == retry + 1u; }));
    }
    const auto done = result();
    ASSERT_TRUE(done.error);
    EXPECT_EQ(done.error->domain, kPelmarURLErrorDomain);
    EXPECT_EQ(done.error->code, 503);
    EXPECT_EQ(server.requests().size(), 4u);
}

TEST_F(PelmarRemoteImageDownloadTaskIntegrationTest, FailuresThatAreNotRetriedCompleteAtOnce) {
    const struct {
        const char* name;
        int status;
        bool skipRetry;
        std::string body;
        long code;
    } cases[] = {
            {"skipRetry", 503, true, "busy", 503},
            {"notFound", 404, false, "none", 404},
            {"emptyBody", 200, false, "", kPelmarImageErrorEmptyDownload},
    };

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedHttpServer server([&](const ScriptedRequest&) {
            ScriptedReply reply;
            reply.status = c.status;
            reply.body = c.body;
            return reply;
        });
        results_ = {};
        resultFuture_ = results_.get_future();
        auto task = makeTask();
        schedule(task, server.url("/img.jpg"), std::nullopt, c.skipRetry);
        const auto done = result();
        ASSERT_TRUE(done.error);
        EXPECT_EQ(done.error->code, c.code);
        EXPECT_EQ(task->numberOfRetries(), 0);
        EXPECT_EQ(server.requests().size(), 1u);
    }
}

// Holds the answer after its first 1000 bytes until the test releases it.
class HeldBody {
public:
    ScriptedReply reply(const std::string& body) {
        ScriptedReply reply;
        reply.headers = {{"ETag", "\"e\""}, {"Accept-Ranges", "bytes"}};
        reply.body = body;
        reply.writeSize = 1000;
        reply.beforeWrite = [this](std::size_t sent) {
            if (sent == 1000) {
                std::unique_lock lock(mutex_);
                held_ = true;
                changed_.notify_all();
                changed_.wait(lock, [&] { return released_; });
            }
        };
        return reply;
    }

    bool waitHeld() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kPatience, [&] { return held_; });
    }

    void release() {
        std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool held_ = false;
    bool released_ = false;
};

TEST_F(PelmarRemoteImageDownloadTaskIntegrationTest, CancelLeavesResumeRecordUnlessNearlyDone) {
    const std::string body(4000, 'c');
    HeldBody held;
    ScriptedHttpServer server([&](const ScriptedRequest&) { return held.reply(body); });

    // Slow host: the rest would take long; cancelling stops the transfer and keeps the bytes.
    recorder_.updateSpeedsForHost("127.0.0.1", 10, 10, 0.01);
    auto task = makeTask();
    schedule(task, server.url("/slow.jpg"));
    ASSERT_TRUE(held.waitHeld());
    ASSERT_TRUE(eventually([&] { return task->data().size() == 1000; }));
    std::optional<PelmarResume> resume;
    EXPECT_TRUE(task->cancelWithUUID("caller-1", &resume));
    ASSERT_TRUE(resume);
    EXPECT_EQ(*resume, (PelmarResume{body.substr(0, 1000), "\"e\"", 4000}));
    EXPECT_TRUE(eventually(
            [&] { return task->dataTask()->state() == net::URLSessionTask::State::Completed; }));
    EXPECT_FALSE(finished());
    held.release();
}

TEST_F(PelmarRemoteImageDownloadTaskIntegrationTest, NearlyDoneDownloadOutlivesItsLastCaller) {
    const std::string body(4000, 'd');
    HeldBody held;
    ScriptedHttpServer server([&](const ScriptedRequest&) { return held.reply(body); });
    // Fast host with a slow first byte: 3000 bytes take far less than a new request's wait.
    recorder_.updateSpeedsForHost("127.0.0.1", 1e9, 1e9, 5.0);
    auto task = makeTask();
    schedule(task, server.url("/fast.jpg"));
    schedule(task, server.url("/fast.jpg"));  // in flight: starts nothing new
    ASSERT_TRUE(held.waitHeld());
    ASSERT_TRUE(eventually([&] { return task->data().size() == 1000; }));
    std::optional<PelmarResume> resume;
    EXPECT_FALSE(task->cancelWithUUID("caller-1", &resume));
    EXPECT_FALSE(resume);
    EXPECT_EQ(task->callbackCount(), 1u);
    held.release();
    const auto done = result();
    ASSERT_FALSE(done.error);
    EXPECT_EQ(done.data, body);
    EXPECT_EQ(server.requests().size(), 1u);
}

}  // namespace
}  // namespace pelmar
