#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "pelmar/imageloader/PelmarRemoteImageBasicCache.h"
#include "pelmar/imageloader/PelmarRemoteImageDiskCache.h"
#include "pelmar/imageloader/PelmarRemoteImageDownloadQueue.h"
#include "pelmar/imageloader/PelmarRequestRetryStrategy.h"
#include "pelmar/imageloader/internal/RemoteImageManagerPeer.h"
#include "pelmar/imageloader/testing/RemoteImageManagerFixture.h"
#include "testing/TempDir.h"

namespace pelmar {
namespace {

using imageloader::internal::RemoteImageManagerPeer;
using test::Collector;
using test::Gate;
using test::IsError;
using test::kPatience;
using test::PelmarRemoteImageManagerIntegrationTest;
using test::picture;
using test::returnsFromAnotherThread;
using test::ScriptedHttpServer;
using test::ScriptedReply;
using test::ScriptedRequest;
using test::waitUntil;
using test::WhileWaiting;

TEST_F(PelmarRemoteImageManagerIntegrationTest, AFailedAlternativeKeepsTheLowerEntries) {
    auto manager = PelmarRemoteImageManager::create(
            std::nullopt, nullptr, nullptr,
            PelmarRemoteImageManagerConfiguration{.shouldUpgradeLowQualityImages = true},
            recorder_);
    const std::vector<std::string> urls = {server_.url("/alt-failed/0.jpg"),
                                           server_.url("/alt-failed/1.jpg"),
                                           server_.url("/alt-failed/missing/2.jpg")};
    Collector primed;
    manager->downloadImageWithURL(urls[0], primed.completion());
    ASSERT_TRUE(primed.only()->image());
    settle(manager);
    // Fast enough for the best quality, which then fails.
    recorder_->resetMeasurements();
    recorder_->updateSpeedsForHost("127.0.0.1", 1e7f, 1e7f, 0.01);
    Collector collector;
    manager->downloadImageWithURLs(urls, 0, nullptr, nullptr, collector.completion());
    EXPECT_THAT(collector.only()->error(), IsError(std::string(kPelmarURLErrorDomain), 404));
    settle(manager);
    EXPECT_EQ(hits("/alt-failed/missing/2.jpg"), 1u);
    EXPECT_TRUE(manager->cache()->objectExistsForKey(urls[0]));
}

TEST_F(PelmarRemoteImageManagerIntegrationTest, MetricsReachTheHostWithoutTheManagerLock) {
    std::mutex mutex;
    std::vector<std::string> urls;
    std::vector<std::size_t> transactions;
    bool unlocked = true;
    std::promise<void> set;
    manager_->setMetricsCallback(
            [&](const std::string& url, const net::URLSessionTaskMetrics& metrics) {
                // A handler may call back into the manager, which takes its lock.
                const bool returned = returnsFromAnotherThread([manager = manager_] {
                    (void)RemoteImageManagerPeer(*manager).taskCount();
                });
                std::lock_guard lock(mutex);
                urls.push_back(url);
                transactions.push_back(metrics.transactionMetrics.size());
                unlocked = unlocked && returned;
            },
            [&] { set.set_value(); });
    set.get_future().wait();
    Collector collector;
    manager_->downloadImageWithURL(server_.url("/metrics.jpg"), collector.completion());
    ASSERT_TRUE(collector.only()->image());
    ASSERT_TRUE(waitUntil(WhileWaiting::RunMainLoop, [&] {
        std::lock_guard lock(mutex);
        return !urls.empty();
    }));
    std::lock_guard lock(mutex);
    EXPECT_EQ(urls, std::vector<std::string>{server_.url("/metrics.jpg")});
    EXPECT_EQ(transactions, std::vector<std::size_t>{1});
    EXPECT_TRUE(unlocked) << "the callback ran under the manager lock";
}

TEST_F(PelmarRemoteImageManagerIntegrationTest, AnEntryKeptEncodedShowsAtTheScaleOfItsKey) {
    const std::string key = "http://h/photo@2x.jpg";
    const auto store = [&] {
        auto entry = std::make_shared<PelmarRemoteImageMemoryContainer>();
        PelmarRemoteLock::Hold lock(entry->lock);
        entry->data = std::make_shared<const std::string>(picture());
        manager_->cache()->setObjectInMemory(entry, key, 1);
    };
    // The early answer of a download has the URL; the cache reads have only the key.
    store();
    Collector early;
    manager_->downloadImageWithURL(key, kPelmarImageRequestOptionKeepEncoded, early.completion());
    ASSERT_TRUE(early.only()->image());
    EXPECT_EQ(early.only()->image()->scale(), 2.0);
    store();
    Collector read;
    manager_->imageFromCacheWithCacheKey(key, kPelmarImageRequestOptionKeepEncoded,
                                         read.completion());
    ASSERT_TRUE(read.only()->image());
    EXPECT_EQ(read.only()->image()->scale(), 2.0);
    store();
    const auto sync = manager_->synchronousImageFromCacheWithCacheKey(
            key, kPelmarImageRequestOptionKeepEncoded);
    ASSERT_TRUE(sync && sync->image());
    EXPECT_EQ(sync->image()->scale(), 2.0);
    EXPECT_EQ(sync->image()->pointWidth(), 32);
}

// A memory cache with age limits that records the limit of every store.
class AgeLimitedCache : public PelmarRemoteImageBasicCache {
public:
    AgeLimitedCache() : PelmarRemoteImageBasicCache(defaultTotalCostLimit()) {}

    bool supportsAgeLimits() const override { return true; }

    bool memoryCacheIsTTLCache() const override { return true; }

    void setObjectInMemory(std::shared_ptr<PelmarRemoteImageMemoryContainer> object,
                           const std::string& key,
                           uint64_t cost) override {
        record(key, std::nullopt);
        PelmarRemoteImageBasicCache::setObjectInMemory(std::move(object), key, cost);
    }

    void setObjectInMemoryWithAgeLimit(std::shared_ptr<PelmarRemoteImageMemoryContainer> object,
                                       const std::string& key,
                                       uint64_t cost,
                                       double ageLimit) override {
        record(key, ageLimit);
        PelmarRemoteImageBasicCache::setObjectInMemory(std::move(object), key, cost);
    }

    // Every store of `key`: its age limit, or none for a store without one.
    std::vector<std::optional<double>> storesOf(const std::string& key) {
        std::lock_guard lock(mutex_);
        return stores_[key];
    }

private:
    void record(const std::string& key, std::optional<double> ageLimit) {
        std::lock_guard lock(mutex_);
        stores_[key].push_back(ageLimit);
    }

    std::mutex mutex_;
    std::map<std::string, std::vector<std::optional<double>>> stores_;
};

TEST_F(PelmarRemoteImageManagerIntegrationTest, TheAnswersMaxAgeLimitsItsMemoryEntry) {
    struct Case {
        const char* name;
        std::string path;
        PelmarImageRequestOptions options;
        std::vector<std::optional<double>> stores;
    };

    const Case cases[] = {
            {"max-age", "/max-age/600/a.jpg", 0, {600.0}},
            {"max-age 0 is not kept", "/max-age/0/b.jpg", 0, {}},
            {"a negative max-age is 0", "/max-age/-5/c.jpg", 0, {}},
            {"no max-age", "/d.jpg", 0, {std::nullopt}},
            {"cache headers ignored",
             "/max-age/600/e.jpg",
             kPelmarImageRequestOptionIgnoreCacheHeaders,
             {std::nullopt}},
    };
    auto cache = std::make_shared<AgeLimitedCache>();
    auto manager = makeManager(cache);
    ASSERT_TRUE(manager->memoryCacheTTLIsEnabled());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Collector collector;
        manager->downloadImageWithURL(server_.url(c.path), c.options, collector.completion());
        ASSERT_TRUE(collector.only()->image());
        settle(manager);
        EXPECT_EQ(cache->storesOf(server_.url(c.path)), c.stores);
    }
}

TEST_F(PelmarRemoteImageManagerIntegrationTest, ARaisedPriorityStartsBeforeEarlierWaitingOnes) {
    auto manager = makeManager(nullptr, {.maxConcurrentDownloads = 1});
    Collector first;
    manager->downloadImageWithURL(server_.url("/held/first.jpg"), first.completion());
    ASSERT_TRUE(waitUntil(WhileWaiting::RunMainLoop, [&] { return hits("/held/first.jpg") == 1; }));
    Collector waiting;
    manager->downloadImageWithURL(server_.url("/early.jpg"), 0,
                                  kPelmarRemoteImageManagerPriorityLow, nullptr, nullptr,
                                  waiting.completion());
    const auto late = manager->downloadImageWithURL(server_.url("/late.jpg"), 0,
                                                    kPelmarRemoteImageManagerPriorityLow, nullptr,
                                                    nullptr, waiting.completion());
    ASSERT_TRUE(late);
    // Both wait for the one slot once their lookups ran.
    ASSERT_TRUE(waitUntil(WhileWaiting::RunMainLoop,
                          [&] { return manager->urlSessionTaskQueue()->waitingCount() == 2; }));
    manager->setPriority(kPelmarRemoteImageManagerPriorityHigh, *late);
    settle(manager);
    gate_.open();
    ASSERT_TRUE(waiting.waitFor(2));
    const auto requests = server_.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[1].target, "/late.jpg");
    EXPECT_EQ(requests[2].target, "/early.jpg");
    finish(manager);
}

// A basic cache that notes the keys of the memory writes, in order.
class MemoryWriteLog : public PelmarRemoteImageBasicCache {
public:
    static std::shared_ptr<MemoryWriteLog> create() {
        return std::shared_ptr<MemoryWriteLog>(new MemoryWriteLog());
    }

    void setObjectInMemory(std::shared_ptr<PelmarRemoteImageMemoryContainer> object,
                           const std::string& key,
                           uint64_t cost) override {
        {
            std::lock_guard lock(mutex_);
            keys_.push_back(key);
        }
        PelmarRemoteImageBasicCache::setObjectInMemory(std::move(object), key, cost);
    }

    std::vector<std::string> keys() {
        std::lock_guard lock(mutex_);
        return keys_;
    }

private:
    MemoryWriteLog() : PelmarRemoteImageBasicCache(defaultTotalCostLimit()) {}

    std::mutex mutex_;
    std::vector<std::string> keys_;
};

TEST_F(PelmarRemoteImageManagerIntegrationTest, ADownloadIsFinishedAtItsRequestsPriority) {
    // Two operations at a time: the queue's oldest one, and the one of highest priority.
    PelmarRemoteImageManagerConfiguration two;
    two.maxConcurrentOperations = 2;
    auto cache = MemoryWriteLog::create();
    auto manager = makeManager(cache, two);
    Gate lowAnswer;
    Gate highAnswer;
    ScriptedHttpServer server([&](const ScriptedRequest& request) {
        ScriptedReply reply;
        reply.headers = {{"Content-Type", "image/jpeg"}};
        reply.body = picture();
        Gate& gate = request.target == "/low.jpg" ? lowAnswer : highAnswer;
        reply.beforeWrite = [&gate](std::size_t) { gate.wait(); };
        return reply;
    });
    Collector low;
    Collector high;
    manager->downloadImageWithURL(server.url("/low.jpg"), 0, kPelmarRemoteImageManagerPriorityLow,
                                  nullptr, nullptr, low.completion());
    manager->downloadImageWithURL(server.url("/high.jpg"), 0, kPelmarRemoteImageManagerPriorityHigh,
                                  nullptr, nullptr, high.completion());
    ASSERT_TRUE(waitUntil(WhileWaiting::RunMainLoop,
                          [&] { return manager->urlSessionTaskQueue()->runningCount() == 2; }));
    // Both places are held while both downloads end, the low one first; then only the place
    // that takes the highest priority first opens.
    Gate oldestHeld;
    Gate highestHeld;
    std::atomic<int> holding{0};
    for (Gate* held : {&oldestHeld, &highestHeld}) {
        manager->concurrentOperationQueue()->scheduleOperation(
                [&holding, held] {
                    ++holding;
                    held->wait();
                },
                kPelmarOperationQueuePriorityHigh);
    }
    ASSERT_TRUE(waitUntil([&] { return holding.load() == 2; }));

    // Whatever the test meets, nothing waits at a gate once the test ends.
    struct OpenAtEnd {
        std::vector<Gate*> gates;
        std::shared_ptr<PelmarRemoteImageManager> manager;

        ~OpenAtEnd() {
            for (Gate* gate : gates) {
                gate->open();
            }
            manager->concurrentOperationQueue()->waitUntilAllOperationsAreFinished();
        }
    } openAtEnd{{&lowAnswer, &highAnswer, &oldestHeld, &highestHeld}, manager};

    lowAnswer.open();
    ASSERT_TRUE(waitUntil(WhileWaiting::RunMainLoop,
                          [&] { return manager->urlSessionTaskQueue()->runningCount() == 1; }));
    highAnswer.open();
    ASSERT_TRUE(waitUntil(WhileWaiting::RunMainLoop,
                          [&] { return manager->urlSessionTaskQueue()->runningCount() == 0; }));
    highestHeld.open();
    ASSERT_TRUE(low.only()->image());
    ASSERT_TRUE(high.only()->image());
    EXPECT_EQ(cache->keys(),
              (std::vector<std::string>{server.url("/high.jpg"), server.url("/low.jpg")}));
    oldestHeld.open();
    finish(manager);
    server.stop();
}

TEST_F(PelmarRemoteImageManagerIntegrationTest, AReplacedProgressImageBlockGetsTheRenders) {
    Collector replaced;
    Collector completion;
    const auto uuid = manager_->downloadImageWithURL(
            server_.url("/progressive-replaced.jpg"), 0, kPelmarRemoteImageManagerPriorityDefault,
            replaced.completion(), nullptr, completion.completion());
    ASSERT_TRUE(uuid);
    // The change applies to a registered request: wait for the registration.
    ASSERT_TRUE(waitUntil(WhileWaiting::RunMainLoop, [&] {
        return RemoteImageManagerPeer(*manager_).registeredUUIDCount() == 1;
    }));
    // The server paces the download by the renders that reach progressiveRenders_.
    manager_->setProgressImageCallback(progressiveRenders_.completion(), *uuid);
    EXPECT_EQ(completion.only()->image()->width(), 640);
    EXPECT_GE(progressiveRenders_.results().size(), 1u);
    EXPECT_TRUE(replaced.results().empty());
}

TEST_F(PelmarRemoteImageManagerIntegrationTest, ANewRetryFactoryServesLaterDownloads) {
    std::atomic<int> made{0};
    manager_->setRetryStrategyCreationBlock([&made] {
        ++made;
        return std::make_unique<PelmarRequestExponentialRetryStrategy>(0, 4);
    });
    settle(manager_);
    // The default strategy would try a 500 again after 1, 4 and 16 s; this one gives up at once.
    Collector collector;
    manager_->downloadImageWithURL(server_.url("/error.jpg"), collector.completion());
    EXPECT_THAT(collector.only()->error(), IsError(std::string(kPelmarURLErrorDomain), 500));
    EXPECT_EQ(hits("/error.jpg"), 1u);
    EXPECT_EQ(made.load(), 1);
}

TEST_F(PelmarRemoteImageManagerIntegrationTest, ARetryFactoryMayCallBackIntoTheManager) {
    // Whether each call into the manager, made by the factory or by the destruction of the
    // factory it replaced, came back: a call waiting for the manager lock would not.
    struct Calls {
        std::mutex mutex;
        std::vector<bool> fromFactory;
        std::vector<bool> fromDestruction;

        void probe(const std::weak_ptr<PelmarRemoteImageManager>& weak, std::vector<bool>& into) {
            const auto manager = weak.lock();
            const bool answered = manager && returnsFromAnotherThread([manager] {
                                      (void)RemoteImageManagerPeer(*manager).taskCount();
                                  });
            std::lock_guard lock(mutex);
            into.push_back(answered);
        }
    };

    struct ProbeOnDestruction {
        ProbeOnDestruction(std::shared_ptr<Calls> c, std::weak_ptr<PelmarRemoteImageManager> m)
            : calls(std::move(c)), manager(std::move(m)) {}

        std::shared_ptr<Calls> calls;
        std::weak_ptr<PelmarRemoteImageManager> manager;

        ~ProbeOnDestruction() { calls->probe(manager, calls->fromDestruction); }
    };

    const auto calls = std::make_shared<Calls>();
    auto probe = std::make_shared<ProbeOnDestruction>(calls, manager_);
    manager_->setRetryStrategyCreationBlock([calls, weak = std::weak_ptr(manager_), probe] {
        calls->probe(weak, calls->fromFactory);
        return std::make_unique<PelmarRequestExponentialRetryStrategy>(0, 4);
    });
    probe.reset();
    settle(manager_);
    Collector collector;
    manager_->downloadImageWithURL(server_.url("/factory.jpg"), collector.completion());
    ASSERT_TRUE(collector.only()->image());
    // The replacement destroys the first factory, and its probe with it.
    manager_->setRetryStrategyCreationBlock(&PelmarRemoteImageManager::defaultRetryStrategy);
    settle(manager_);
    std::lock_guard lock(calls->mutex);
    EXPECT_EQ(calls->fromFactory, std::vector<bool>{true})
            << "the factory ran under the manager lock";
    EXPECT_EQ(calls->fromDestruction, std::vector<bool>{true})
            << "the replaced factory was destroyed under the manager lock";
}

TEST_F(PelmarRemoteImageManagerIntegrationTest, EveryNewTaskGetsTheHostsRetryStrategy) {
    std::atomic<int> made{0};
    manager_->setRetryStrategyCreationBlock([&made] {
        ++made;
        return std::make_unique<PelmarRequestExponentialRetryStrategy>(0, 4);
    });
    settle(manager_);
    const std::string url = server_.url("/held/ending.jpg");
    Collector first;
    const auto firstUUID = manager_->downloadImageWithURL(url, first.completion());
    ASSERT_TRUE(firstUUID);
    ASSERT_TRUE(waitUntil(WhileWaiting::RunMainLoop,
                          [&] { return RemoteImageManagerPeer(*manager_).taskCount() == 1; }));
    EXPECT_EQ(made.load(), 1);

    // The second request for the same key finds the first one's task, which ends (its only
    // caller cancels) just before the second joins: the second needs a task of its own.
    std::atomic<bool> placed{false};
    std::atomic<bool> ended{false};
    RemoteImageManagerPeer(*manager_).setBeforeJoin([&](const std::string& uuid) {
        if (uuid == *firstUUID || placed.exchange(true)) {
            return;
        }
        manager_->cancelTaskWithUUID(*firstUUID);
        EXPECT_TRUE(waitUntil([&] { return RemoteImageManagerPeer(*manager_).taskCount() == 0; }));
        ended = true;
    });
    Collector second;
    ASSERT_TRUE(manager_->downloadImageWithURL(url, second.completion()));
    // Once the first task has gone, the one task is the second's.
    ASSERT_TRUE(waitUntil(WhileWaiting::RunMainLoop, [&] {
        return ended.load() && RemoteImageManagerPeer(*manager_).taskCount() == 1;
    }));
    RemoteImageManagerPeer(*manager_).setBeforeJoin(nullptr);
    EXPECT_EQ(made.load(), 2) << "the new task has no strategy of the host's";
    gate_.open();
    ASSERT_TRUE(second.only()->image());
    EXPECT_TRUE(first.results().empty());
    finish(manager_);
}

TEST_F(PelmarRemoteImageManagerIntegrationTest, ACancelWithResumeDataIsResumedByTheNextRequest) {
    test::TempDir folder("image-cache");
    auto cache = PelmarRemoteImageDiskCache::create(folder.path());
    auto manager = makeManager(cache);
    // A slow host: the rest always takes longer than a new request, so the cancel is honoured.
    recorder_->updateSpeedsForHost("127.0.0.1", 10, 10, 0.01);
    const std::string url = server_.url("/resumable.jpg");
    Collector cancelled;
    std::atomic<int64_t> received{0};
    const auto uuid = manager->downloadImageWithURL(
            url, 0, kPelmarRemoteImageManagerPriorityDefault, nullptr,
            [&received](int64_t bytes, int64_t) { received = bytes; }, cancelled.completion());
    ASSERT_TRUE(uuid);
    const auto resumeKey = PelmarRemoteImageManager::resumeCacheKeyForURL(url);
    ASSERT_TRUE(resumeKey);
    // Half of the picture has arrived when the answer stops at the gate.
    ASSERT_TRUE(waitUntil(WhileWaiting::RunMainLoop, [&] {
        return received.load() * 2 >= static_cast<int64_t>(picture().size());
    }));
    manager->cancelTaskWithUUID(*uuid, true);
    ASSERT_TRUE(waitUntil(WhileWaiting::RunMainLoop, [&] {
        return cache->objectExistsForKey(*resumeKey);
    })) << "no resume data was stored";
    finish(manager);
    gate_.open();

    Collector resumed;
    manager->downloadImageWithURL(url, resumed.completion());
    const auto result = resumed.only();
    ASSERT_TRUE(result->image()) << *result->error();
    EXPECT_EQ(result->image()->width(), 64);
    const auto requests = server_.requests();
    ASSERT_EQ(requests.size(), 2u);
    const auto range = requests[1].header("Range");
    ASSERT_TRUE(range);
    EXPECT_NE(*range, "bytes=0-");
    EXPECT_EQ(requests[1].header("If-Range"), "\"v1\"");
    EXPECT_TRUE(cancelled.results().empty());
    settle(manager);
    EXPECT_FALSE(cache->objectExistsForKey(*resumeKey));
}

}  // namespace
}  // namespace pelmar
