#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "pelmar/imageloader/PelmarRemoteImageManager.h"
#include "pelmar/imageloader/internal/RemoteImageManagerPeer.h"
#include "pelmar/platform/dispatch/testing/MainLoopFixture.h"
#include "pelmar/platform/image/testing/ImageFixtures.h"
#include "testing/Matchers.h"
#include "testing/ScriptedHttpServer.h"
#include "testing/Waits.h"

// What the image manager's loopback tests share: a collector of completions, a gate, and the
// fixture whose scripted server answers by path (see answer()).

namespace pelmar::test {

inline const std::string& picture() {
    static const std::string bytes = image::test::jpeg(*image::test::photo(64, 48));
    return bytes;
}

// Results of completions, in arrival order, with the queue each one ran on.
class Collector {
public:
    PelmarImageCompletion completion() {
        return [this](const PelmarImageResult& result) {
            const auto queue = dispatch::Queue::current();
            std::lock_guard lock(mutex_);
            results_.push_back(result);
            queues_.push_back(queue ? queue->label() : std::string());
            changed_.notify_all();
        };
    }

    // Waits until `count` results arrived; false after kPatience.
    bool waitFor(std::size_t count) {
        return waitUntil([&](const std::vector<PelmarImageResult>& results) {
            return results.size() >= count;
        });
    }

    // Waits until `condition` holds for the results so far; false after kPatience.
    template <class Condition>
    bool waitUntil(Condition condition) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kPatience, [&] { return condition(results_); });
    }

    std::vector<PelmarImageResult> results() {
        std::lock_guard lock(mutex_);
        return results_;
    }

    std::vector<std::string> queues() {
        std::lock_guard lock(mutex_);
        return queues_;
    }

    PelmarImageResult only() {
        EXPECT_TRUE(waitFor(1)) << "no completion";
        const auto all = results();
        EXPECT_EQ(all.size(), 1u);
        return all.empty() ? nullptr : all.front();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<PelmarImageResult> results_;
    std::vector<std::string> queues_;
};

// The highest rendered quality among `results`; 0 when there are none.
inline double bestQuality(const std::vector<PelmarImageResult>& results) {
    double best = 0;
    for (const auto& result : results) {
        best = std::max(best, result->renderedImageQuality());
    }
    return best;
}

// A gate that a server answer or an operation waits at until the test opens it.
class Gate {
public:
    void open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }

    void close() {
        std::lock_guard lock(mutex_);
        open_ = false;
    }

    void wait() {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, kPatience, [&] { return open_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
};

class PelmarRemoteImageManagerIntegrationTest : public dispatch::test::MainLoopFixture {
protected:
    void SetUp() override {
        MainLoopFixture::SetUp();
        manager_ = makeManager();
    }

    void TearDown() override {
        gate_.open();
        manager_.reset();
        server_.stop();
        MainLoopFixture::TearDown();
    }

    std::shared_ptr<PelmarRemoteImageManager> makeManager(
            std::shared_ptr<PelmarRemoteImageCaching> cache = nullptr,
            PelmarRemoteImageManagerConfiguration configuration = {}) {
        return PelmarRemoteImageManager::create(std::nullopt, nullptr, std::move(cache),
                                                configuration, recorder_);
    }

    // Served paths: "/held/..." waits at gate_, "/broken..." is not an image, "/missing..." (or
    // any path holding "/missing/") is a 404, "/error..." a 500, "/max-age/<n>/..." carries
    // "Cache-Control: max-age=<n>", "/resumable..." answers byte ranges and holds its whole
    // answer at gate_ after half of it, "/progressive..." is a
    // progressive JPEG paced by its renders, anything else is the picture.
    ScriptedReply answer(const ScriptedRequest& request) {
        ScriptedReply reply;
        reply.headers = {{"Content-Type", "image/jpeg"}};
        reply.body = picture();
        if (request.target.find("/missing/") != std::string::npos) {
            reply.status = 404;
            reply.headers = {{"Content-Type", "text/html"}};
            reply.body = "gone";
        } else if (request.target.rfind("/error", 0) == 0) {
            reply.status = 500;
            reply.headers = {{"Content-Type", "text/plain"}};
            reply.body = "broken server";
        } else if (request.target.rfind("/max-age/", 0) == 0) {
            const auto end = request.target.find('/', 9);
            reply.headers.emplace_back("Cache-Control",
                                       "max-age=" + request.target.substr(9, end - 9));
        } else if (request.target.rfind("/resumable", 0) == 0) {
            const std::string& body = picture();
            reply.headers.emplace_back("Accept-Ranges", "bytes");
            reply.headers.emplace_back("ETag", "\"v1\"");
            const auto range = request.header("Range");
            if (range && range->rfind("bytes=", 0) == 0) {
                const std::size_t from = std::stoul(range->substr(6));
                reply.status = 206;
                reply.headers.emplace_back("Content-Range",
                                           "bytes " + std::to_string(from) + "-"
                                                   + std::to_string(body.size() - 1) + "/"
                                                   + std::to_string(body.size()));
                reply.body = body.substr(from);
            } else {
                reply.writeSize = body.size() / 4 + 1;
                reply.beforeWrite = [this, size = body.size()](std::size_t sent) {
                    if (sent * 2 >= size) {
                        gate_.wait();
                    }
                };
            }
        } else if (request.target.rfind("/held", 0) == 0) {
            reply.beforeWrite = [this](std::size_t) { gate_.wait(); };
        } else if (request.target.rfind("/broken", 0) == 0) {
            reply.body = "not an image at all";
        } else if (request.target.rfind("/missing", 0) == 0) {
            reply.status = 404;
            reply.headers = {{"Content-Type", "text/html"}};
            reply.body = "gone";
        } else if (request.target.rfind("/progressive", 0) == 0) {
            static const std::string progressive =
                    image::test::jpeg(*image::test::photo(640, 480), 90, true);
            reply.body = progressive;
            reply.writeSize = progressive.size() / 20 + 1;
            // Paced by the client's renders, whatever the load: past 40% the rest waits for a
            // first render, past 70% for one of at least the 0.65 threshold.
            reply.beforeWrite = [this, size = progressive.size()](std::size_t sent) {
                if (sent * 10 >= size * 7) {
                    progressiveRenders_.waitUntil(
                            [](const auto& results) { return bestQuality(results) >= 0.65; });
                } else if (sent * 10 >= size * 4) {
                    progressiveRenders_.waitFor(1);
                }
            };
        }
        return reply;
    }

    std::size_t hits(const std::string& path) {
        std::size_t count = 0;
        for (const auto& request : server_.requests()) {
            count += request.target == path ? 1 : 0;
        }
        return count;
    }

    // Waits until the manager's queue has nothing left to run.
    void settle(const std::shared_ptr<PelmarRemoteImageManager>& manager) {
        manager->concurrentOperationQueue()->waitUntilAllOperationsAreFinished();
    }

    // Waits until every task of the manager has been answered.
    void finish(const std::shared_ptr<PelmarRemoteImageManager>& manager) {
        // Queued registrations count among the cancellation records until they run.
        EXPECT_TRUE(waitUntil(WhileWaiting::RunMainLoop, [&] {
            return imageloader::internal::RemoteImageManagerPeer(*manager).taskCount() == 0
                   && imageloader::internal::RemoteImageManagerPeer(*manager).canceledTaskCount()
                              == 0;
        }));
        settle(manager);
    }

    // Downloads `path` so that its image is in the memory cache.
    void prime(const std::string& path) {
        Collector collector;
        manager_->downloadImageWithURL(server_.url(path), collector.completion());
        ASSERT_TRUE(collector.only()->image());
        settle(manager_);
    }

    std::shared_ptr<PelmarSpeedRecorder> recorder_ =
            std::make_shared<PelmarSpeedRecorder>([] { return std::optional<uint32_t>(); });
    Gate gate_;
    // Intermediate renders of "/progressive..." downloads, which pace the server's answer.
    Collector progressiveRenders_;
    ScriptedHttpServer server_{[this](const ScriptedRequest& request) { return answer(request); }};
    std::shared_ptr<PelmarRemoteImageManager> manager_;
};

}  // namespace pelmar::test
