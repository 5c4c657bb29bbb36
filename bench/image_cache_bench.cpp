// The image manager's memory hits and request coalescing, in one run:
// - the synchronous answer on the main thread (downloadImageWithURL of a URL whose image is in
//   the memory cache) against a bare std::unordered_map lookup of the URL plus a std::function
//   call;
// - the asynchronous answer through the callback queue (with
//   kPelmarImageRequestOptionAlwaysAsynchronous) against posting the same callback to that queue
//   directly, both timed until every callback ran;
// - 100 identical requests made at once against a loopback server, counting the requests the
//   server saw.
// The URL is held as the manager's URL type, as its callers hold it. Each latency is the best of
// several rounds. The last line gives the two ratios (ours over the peer) and the server-side
// request count.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "pelmar/imageloader/PelmarRemoteImageManager.h"
#include "pelmar/platform/image/testing/ImageFixtures.h"
#include "testing/ScriptedHttpServer.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kSyncCalls = 200000;
constexpr int kAsyncCalls = 20000;
constexpr int kRounds = 7;
constexpr int kCallers = 100;

double nanosecondsPer(Clock::time_point start, int calls) {
    return std::chrono::duration<double, std::nano>(Clock::now() - start).count() / calls;
}

// Counts callbacks and wakes the waiter once `expected` have run.
class Countdown {
public:
    void reset(int expected) {
        std::lock_guard lock(mutex_);
        left_ = expected;
    }

    void tick() {
        if (left_.fetch_sub(1) == 1) {
            std::lock_guard lock(mutex_);
            done_.notify_all();
        }
    }

    void wait() {
        std::unique_lock lock(mutex_);
        done_.wait(lock, [&] { return left_.load() <= 0; });
    }

private:
    std::mutex mutex_;
    std::condition_variable done_;
    std::atomic<int> left_{0};
};

}  // namespace

int main() {
    using namespace pelmar;
    const std::string picture = image::test::jpeg(*image::test::photo(256, 192), 90);
    test::ScriptedHttpServer server([&](const test::ScriptedRequest&) {
        test::ScriptedReply reply;
        reply.headers = {{"Content-Type", "image/jpeg"}};
        reply.body = picture;
        // Held a little, so that every caller joins the one request in flight.
        reply.beforeWrite = [](std::size_t) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        };
        return reply;
    });
    auto manager = PelmarRemoteImageManager::create();
    const std::string url = server.url("/images/picture-of-a-typical-length.jpg");
    // Passed as it is: a std::string would be copied into the URL's type at every call.
    const std::optional<std::string> requestURL = url;

    Countdown countdown;
    countdown.reset(1);
    manager->downloadImageWithURL(url, [&](const PelmarImageResult&) { countdown.tick(); });
    countdown.wait();

    // Synchronous hits against a bare map lookup plus a std::function call.
    std::unordered_map<std::string, PelmarImage> bare;
    bare[url] = image::Bitmap::create(256, 192);
    std::size_t sink = 0;
    const std::function<void(const PelmarImage&)> bareCallback = [&](const PelmarImage& image) {
        sink += image ? 1 : 0;
    };
    const PelmarImageCompletion completion = [&](const PelmarImageResult& result) {
        sink += result->image() ? 1 : 0;
    };
    double bestOurs = 1e18;
    double bestBare = 1e18;
    for (int round = 0; round < kRounds; ++round) {
        auto start = Clock::now();
        for (int i = 0; i < kSyncCalls; ++i) {
            manager->downloadImageWithURL(requestURL, completion);
        }
        bestOurs = std::min(bestOurs, nanosecondsPer(start, kSyncCalls));
        start = Clock::now();
        for (int i = 0; i < kSyncCalls; ++i) {
            const auto found = bare.find(url);
            bareCallback(found == bare.end() ? nullptr : found->second);
        }
        bestBare = std::min(bestBare, nanosecondsPer(start, kSyncCalls));
    }
    if (sink != static_cast<std::size_t>(2 * kRounds * kSyncCalls)) {
        std::fprintf(stderr, "image_cache: %zu of %d synchronous answers had an image\n", sink,
                     2 * kRounds * kSyncCalls);
        return 1;
    }
    std::printf("synchronous hit: %.1f ns, map lookup and call: %.1f ns\n", bestOurs, bestBare);

    // Asynchronous hits against posting the same callback to the callback queue.
    const PelmarImageCompletion asyncCompletion = [&](const PelmarImageResult&) {
        countdown.tick();
    };
    double bestAsync = 1e18;
    double bestPost = 1e18;
    const auto queue = manager->callbackQueue();
    const auto posted = image::Bitmap::create(1, 1);
    for (int round = 0; round < kRounds; ++round) {
        countdown.reset(kAsyncCalls);
        auto start = Clock::now();
        for (int i = 0; i < kAsyncCalls; ++i) {
            manager->downloadImageWithURL(requestURL, kPelmarImageRequestOptionAlwaysAsynchronous,
                                          asyncCompletion);
        }
        countdown.wait();
        bestAsync = std::min(bestAsync, nanosecondsPer(start, kAsyncCalls));
        countdown.reset(kAsyncCalls);
        start = Clock::now();
        for (int i = 0; i < kAsyncCalls; ++i) {
            queue->async([&, posted] { bareCallback(posted), countdown.tick(); });
        }
        countdown.wait();
        bestPost = std::min(bestPost, nanosecondsPer(start, kAsyncCalls));
    }
    std::printf("asynchronous hit: %.1f ns, direct post: %.1f ns\n", bestAsync, bestPost);

    // Coalescing: identical requests for an image not yet loaded.
    const std::string fresh = server.url("/images/coalesced.jpg");
    countdown.reset(kCallers);
    for (int i = 0; i < kCallers; ++i) {
        manager->downloadImageWithURL(fresh, asyncCompletion);
    }
    countdown.wait();
    int coalesced = 0;
    for (const auto& request : server.requests()) {
        coalesced += request.target == "/images/coalesced.jpg" ? 1 : 0;
    }

    std::printf("image_cache: hit_ratio=%.2f async_ratio=%.2f coalesced_requests=%d\n",
                bestOurs / bestBare, bestAsync / bestPost, coalesced);
    return 0;
}
