#include "pelmar/imageloader/PelmarRemoteImageDownloadTask.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <mutex>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "pelmar/imageloader/PelmarDecodedImage.h"
#include "pelmar/imageloader/testing/RemoteImageManagerFixture.h"
#include "pelmar/platform/dispatch/testing/MainLoopFixture.h"
#include "pelmar/platform/net/URLError.h"
#include "testing/NginxHttpServer.h"
#include "testing/ScriptedHttpServer.h"

namespace pelmar {
namespace {

using test::ScriptedHttpServer;
using test::ScriptedReply;
using test::ScriptedRequest;

using test::kPatience;

// What the image manager does for its download tasks: forwards the session's events.
class Router : public PelmarURLSessionManagerDelegate {
public:
    void didReceiveData(const std::string& data, const PelmarDataTask& from) override {
        if (auto task = task_.lock()) {
            task->didReceiveData(data, from);
        }
    }

    void didReceiveResponse(const std::shared_ptr<const net::HTTPURLResponse>& response,
                            const PelmarDataTask& from) override {
        if (auto task = task_.lock()) {
            task->didReceiveResponse(response, from);
        }
    }

    std::weak_ptr<PelmarRemoteImageDownloadTask> task_;
};

struct Result {
    std::optional<std::string> data;
    std::shared_ptr<const net::HTTPURLResponse> response;
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
        environment_.speedRecorder = recorder_;
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
        task->scheduleDownloadWithRequest(
                request, std::move(resume), skipRetry, kPelmarRemoteImageManagerPriorityDefault,
                [this](std::optional<std::string> data,
                       const std::shared_ptr<const net::HTTPURLResponse>& response,
                       const std::optional<Error>& error) {
                    results_.set_value(Result{std::move(data), response, error});
                });
    }

    Result result() {
        if (resultFuture_.wait_for(kPatience) != std::future_status::ready) {
            ADD_FAILURE() << "the download did not complete";
            return {std::nullopt, nullptr, Error{"test", -1, "no completion"}};
        }
        return resultFuture_.get();
    }

    // Lets the next download complete into a fresh result.
    void expectAnotherResult() {
        results_ = {};
        resultFuture_ = results_.get_future();
    }

    bool finished() {
        return resultFuture_.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    }

    std::shared_ptr<PelmarSpeedRecorder> recorder_ =
            std::make_shared<PelmarSpeedRecorder>([] { return std::optional<uint32_t>(); });
    std::shared_ptr<Router> router_ = std::make_shared<Router>();
    PelmarRemoteImageDownloadTask::Environment environment_;
    std::promise<Result> results_;
    std::future<Result> resultFuture_ = results_.get_future();
};

using test::waitUntil;
using test::WhileWaiting;

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
                std::make_shared<net::HTTPURLResponse>("http://h/x", 200, c.headers), nullptr);
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
        ASSERT_TRUE(waitUntil(WhileWaiting::RunMainLoop,
                              [&] { return task->numberOfRetries() == retry; }));
        clock().advance(delay - 0.5);
        EXPECT_EQ(server.requests().size(), static_cast<std::size_t>(retry));
        clock().advance(0.5);
        ASSERT_TRUE(waitUntil(WhileWaiting::RunMainLoop,
                              [&] { return server.requests().size() == retry + 1u; }));
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
        expectAnotherResult();
        auto task = makeTask();
        schedule(task, server.url("/img.jpg"), std::nullopt, c.skipRetry);
        const auto done = result();
        ASSERT_TRUE(done.error);
        EXPECT_EQ(done.error->code, c.code);
        EXPECT_FALSE(done.error->message.empty()) << "the failure says nothing";
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
    recorder_->updateSpeedsForHost("127.0.0.1", 10, 10, 0.01);
    auto task = makeTask();
    schedule(task, server.url("/slow.jpg"));
    ASSERT_TRUE(held.waitHeld());
    ASSERT_TRUE(waitUntil(WhileWaiting::RunMainLoop, [&] { return task->data().size() == 1000; }));
    std::optional<PelmarResume> resume;
    EXPECT_TRUE(task->cancelWithUUID("caller-1", &resume));
    ASSERT_TRUE(resume);
    EXPECT_EQ(*resume, (PelmarResume{body.substr(0, 1000), "\"e\"", 4000}));
    EXPECT_TRUE(waitUntil(WhileWaiting::RunMainLoop, [&] {
        return task->dataTask()->state() == net::URLSessionTask::State::Completed;
    }));
    EXPECT_FALSE(finished());
    held.release();
}

TEST_F(PelmarRemoteImageDownloadTaskIntegrationTest, EventsOfAnotherDataTaskNeverJoinTheDownload) {
    const std::string body(4000, 'e');
    HeldBody held;
    ScriptedHttpServer server([&](const ScriptedRequest&) { return held.reply(body); });
    auto task = makeTask();
    schedule(task, server.url("/a.jpg"));
    ASSERT_TRUE(held.waitHeld());
    ASSERT_TRUE(waitUntil(WhileWaiting::RunMainLoop, [&] { return task->data().size() == 1000; }));
    // The late events of a data task this one replaced: its bytes and a restarting answer.
    const auto replaced =
            environment_.sessionManager->dataTaskWithRequest(net::URLRequest(server.url("/a.jpg")));
    task->didReceiveData(std::string(500, 'x'), replaced);
    EXPECT_EQ(task->data(), body.substr(0, 1000));
    task->didReceiveResponse(std::make_shared<net::HTTPURLResponse>(
                                     "http://h/a.jpg", 206,
                                     net::HTTPHeaderFields{{"Content-Range", "bytes 9-9/10"}}),
                             replaced);
    held.release();
    const auto done = result();
    EXPECT_EQ(done.data, body);
    EXPECT_FALSE(done.error);
    EXPECT_EQ(server.requests().size(), 1u) << "restarted by another task's answer";
}

TEST_F(PelmarRemoteImageDownloadTaskIntegrationTest, NearlyDoneDownloadOutlivesItsLastCaller) {
    const std::string body(4000, 'd');
    HeldBody held;
    ScriptedHttpServer server([&](const ScriptedRequest&) { return held.reply(body); });
    // Fast host with a slow first byte: 3000 bytes take far less than a new request's wait.
    recorder_->updateSpeedsForHost("127.0.0.1", 1e9, 1e9, 5.0);
    auto task = makeTask();
    schedule(task, server.url("/fast.jpg"));
    schedule(task, server.url("/fast.jpg"));  // in flight: starts nothing new
    ASSERT_TRUE(held.waitHeld());
    ASSERT_TRUE(waitUntil(WhileWaiting::RunMainLoop, [&] { return task->data().size() == 1000; }));
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

// A PNG of opaque noise (it hardly compresses, so it arrives in many pieces) and its size.
struct NoisyPicture {
    NoisyPicture(int pixelsWide, int pixelsHigh, uint32_t seed)
        : width(pixelsWide), height(pixelsHigh) {
        auto bitmap = image::Bitmap::create(
                width, height, image::Bitmap::Layout{.premultiplied = false, .opaque = true});
        std::mt19937 random(seed);
        for (int y = 0; y < height; ++y) {
            uint8_t* row = bitmap->row(y);
            for (int x = 0; x < width; ++x) {
                const auto value = random();
                std::copy_n(reinterpret_cast<const uint8_t*>(&value), 3, row + 4 * x);
                row[4 * x + 3] = 255;
            }
        }
        png = PelmarDecodedImage::PNGRepresentation(*bitmap).value();
    }

    int width;
    int height;
    std::string png;
};

// Downloads of real files from nginx, which answers range requests itself, throttles "/slow/",
// and serves whatever the test has just put in its folder. One nginx per test program.
class PelmarRemoteImageDownloadTaskNginxTest : public PelmarRemoteImageDownloadTaskIntegrationTest {
protected:
    static constexpr int64_t kSlowBytesPerSecond = 256 * 1024;

    static void SetUpTestSuite() {
        server_ = std::make_unique<test::NginxHttpServer>(kSlowBytesPerSecond);
        try {
            server_->Start();
        } catch (const std::exception& e) {
            failure_ = e.what();
        }
    }

    static void TearDownTestSuite() { server_.reset(); }

    void SetUp() override {
        ASSERT_TRUE(failure_.empty()) << failure_;
        PelmarRemoteImageDownloadTaskIntegrationTest::SetUp();
        // A slow host: the rest of a file always takes longer than a new request, so cancelling
        // is never refused as nearly done.
        recorder_->updateSpeedsForHost("127.0.0.1", 10, 10, 0.01);
    }

    static test::NginxHttpServer& server() { return *server_; }

    // Puts `bytes` at `name` in one step, as a deployment would, with a modification time that
    // differs from any earlier file's (nginx's validator is made of the time and the size).
    static void publish(const std::string& name, const std::string& bytes) {
        static int generation = 0;
        const auto path = server().root() / name;
        auto staged = path;
        staged += ".new";
        std::ofstream(staged, std::ios::binary) << bytes;
        std::filesystem::last_write_time(staged, std::filesystem::file_time_type::clock::now()
                                                         + std::chrono::hours(++generation));
        std::filesystem::rename(staged, path);
    }

    // Starts downloading `url` slowly and cancels it once some bytes (but not all) arrived; the
    // resume record the cancel leaves.
    PelmarResume cutDownload(const std::string& url, std::size_t size) {
        auto task = makeTask();
        schedule(task, url);
        EXPECT_TRUE(waitUntil(WhileWaiting::RunMainLoop,
                              [&] { return task->data().size() >= size / 4; }));
        std::optional<PelmarResume> resume;
        EXPECT_TRUE(task->cancelWithUUID("caller-1", &resume));
        if (!resume) {
            ADD_FAILURE() << "no resume record";
            return {};
        }
        EXPECT_LT(resume->resumeData.size(), size);
        EXPECT_EQ(resume->totalBytes, static_cast<int64_t>(size));
        return *resume;
    }

    // The one request for `uri` that asked for a range, once nginx has logged both requests
    // for it.
    static std::optional<test::NginxRequest> rangeRequest(const std::string& uri) {
        const auto forUri = [&](const std::vector<test::NginxRequest>& all) {
            std::vector<test::NginxRequest> found;
            std::copy_if(all.begin(), all.end(), std::back_inserter(found),
                         [&](const auto& request) { return request.uri == uri; });
            return found;
        };
        EXPECT_TRUE(server().WaitForRequests([&](const auto& all) {
            return forUri(all).size() >= 2;
        })) << server().Log();
        std::optional<test::NginxRequest> found;
        for (const auto& request : forUri(server().requests())) {
            if (request.range) {
                EXPECT_FALSE(found) << "a second range request for " << uri;
                found = request;
            }
        }
        return found;
    }

    static void expectPicture(const Result& done, const NoisyPicture& picture) {
        ASSERT_FALSE(done.error) << done.error->description();
        ASSERT_TRUE(done.data);
        EXPECT_TRUE(*done.data == picture.png)
                << done.data->size() << " bytes, not the " << picture.png.size() << " served";
        const auto decoded = PelmarDecodedImage::decodedImageWithData(*done.data);
        ASSERT_TRUE(decoded);
        EXPECT_EQ(decoded->width(), picture.width);
        EXPECT_EQ(decoded->height(), picture.height);
    }

    static inline std::unique_ptr<test::NginxHttpServer> server_;
    static inline std::string failure_;
};

TEST_F(PelmarRemoteImageDownloadTaskNginxTest, CutDownloadResumesWithRangeAndIfRange) {
    const NoisyPicture picture(256, 256, 1);
    publish("cut.png", picture.png);
    const auto resume = cutDownload(server().Url("/slow/cut.png"), picture.png.size());
    const auto cut = resume.resumeData.size();
    EXPECT_TRUE(resume.resumeData == picture.png.substr(0, cut));

    expectAnotherResult();
    auto task = makeTask();
    schedule(task, server().Url("/slow/cut.png"), resume);
    const auto done = result();
    expectPicture(done, picture);
    ASSERT_TRUE(done.response);
    EXPECT_EQ(done.response->statusCode(), 206);
    const auto resumed = rangeRequest("/slow/cut.png");
    ASSERT_TRUE(resumed);
    EXPECT_EQ(resumed->range, "bytes=" + std::to_string(cut) + "-");
    EXPECT_EQ(resumed->ifRange, resume.ifRange);
    EXPECT_EQ(resumed->status, 206);
    EXPECT_EQ(resumed->bodyBytes, static_cast<int64_t>(picture.png.size() - cut));
}

TEST_F(PelmarRemoteImageDownloadTaskNginxTest, ReplacedFileRestartsResumedDownloadFromZero) {
    const NoisyPicture before(256, 256, 2);
    publish("changed.png", before.png);
    const auto resume = cutDownload(server().Url("/slow/changed.png"), before.png.size());

    const NoisyPicture after(200, 180, 3);
    publish("changed.png", after.png);
    expectAnotherResult();
    auto task = makeTask();
    schedule(task, server().Url("/slow/changed.png"), resume);
    const auto done = result();
    expectPicture(done, after);  // none of the old bytes joined to the new file
    const auto resumed = rangeRequest("/slow/changed.png");
    ASSERT_TRUE(resumed);
    EXPECT_EQ(resumed->ifRange, resume.ifRange);
    EXPECT_EQ(resumed->status, 200);
    EXPECT_EQ(resumed->bodyBytes, static_cast<int64_t>(after.png.size()));
}

TEST_F(PelmarRemoteImageDownloadTaskNginxTest, ThrottledDownloadReportsProgressInOrder) {
    const NoisyPicture picture(256, 256, 4);
    publish("progress.png", picture.png);
    const auto size = static_cast<int64_t>(picture.png.size());
    // One callback at a time, so their order is the order they were reported in.
    environment_.callbackQueue = dispatch::Queue::serial("progress");
    std::mutex mutex;
    std::vector<std::pair<int64_t, int64_t>> progress;
    auto task = makeTask();
    task->addCallbacksWithCompletionBlock(
            nullptr, nullptr,
            [&](int64_t received, int64_t expected) {
                std::lock_guard lock(mutex);
                progress.emplace_back(received, expected);
            },
            "caller-1");
    schedule(task, server().Url("/slow/progress.png"));
    expectPicture(result(), picture);

    const auto reported = [&] {
        std::lock_guard lock(mutex);
        return progress;
    };
    ASSERT_TRUE(waitUntil(WhileWaiting::RunMainLoop, [&] {
        const auto seen = reported();
        return !seen.empty() && seen.back().first == size;
    }));
    // Each report gives the transfer's count when it is made, which may already include chunks
    // still to be delivered, so a count can repeat; it never goes back.
    const auto seen = reported();
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    std::set<int64_t> counts;
    for (const auto& report : seen) {
        counts.insert(report.first);
    }
    EXPECT_GT(counts.size(), 2u) << "a throttled transfer arrives in several pieces";
    for (const auto& [received, expected] : seen) {
        EXPECT_EQ(expected, size) << "at " << received;
    }
}

}  // namespace
}  // namespace pelmar
