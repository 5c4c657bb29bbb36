#include "pelmar/imageloader/PelmarRemoteImageManager.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <future>
#include <initializer_list>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "pelmar/imageloader/PelmarRemoteImageBasicCache.h"
#include "pelmar/imageloader/PelmarRemoteImageDiskCache.h"
#include "pelmar/imageloader/PelmarRequestRetryStrategy.h"
#include "pelmar/imageloader/internal/RemoteImageManagerPeer.h"
#include "pelmar/imageloader/testing/RemoteImageManagerFixture.h"
#include "pelmar/platform/dispatch/testing/MainLoopFixture.h"
#include "pelmar/platform/foundation/URL.h"
#include "pelmar/platform/image/testing/AnimatedGifFixtures.h"
#include "pelmar/platform/image/testing/ImageFixtures.h"
#include "pelmar/platform/net/URLError.h"
#include "testing/Matchers.h"
#include "testing/ScriptedHttpServer.h"
#include "testing/TempDir.h"

namespace pelmar {
namespace {

using imageloader::internal::RemoteImageManagerPeer;
using test::bestQuality;
using test::Collector;
using test::Gate;
using test::IsError;
using test::kPatience;
using test::PelmarRemoteImageManagerIntegrationTest;
using test::picture;
using test::waitUntil;
using test::WhileWaiting;

TEST_F(PelmarRemoteImageManagerIntegrationTest, NoUsableURLIsAnsweredAtOnceOnTheMainThread) {
    for (const std::optional<std::string>& url :
         {std::optional<std::string>(), std::optional<std::string>("not a url")}) {
        SCOPED_TRACE(url.value_or("none"));
        Collector collector;
        EXPECT_EQ(manager_->downloadImageWithURL(url, collector.completion()), std::nullopt);
        ASSERT_EQ(collector.results().size(), 1u) << "answered inside the call";
        const auto result = collector.results().front();
        EXPECT_THAT(result->error(),
                    IsError(net::kURLErrorDomain, net::kURLErrorUnsupportedURL, "unsupported URL"));
        EXPECT_EQ(result->resultType(), PelmarImageResultType::None);
    }
    EXPECT_TRUE(server_.requests().empty());
}

TEST_F(PelmarRemoteImageManagerIntegrationTest, EveryByteOfAURLIsJudgedWhereverItStands) {
    const auto unsafe = [](unsigned char c) {
        return c <= 0x20 || c == 0x7F
               || std::string_view("\"<>\\^`{|}").find(static_cast<char>(c))
                          != std::string_view::npos;
    };
    // Every usable URL below is in the memory cache, so each call answers at once.
    auto entry = std::make_shared<PelmarRemoteImageMemoryContainer>();
    {
        PelmarRemoteLock::Hold lock(entry->lock);
        entry->image = image::Bitmap::create(2, 2);
    }
    // Short URLs, and the byte first, in the middle and last of longer ones.
    for (const std::size_t length : {6u, 16u, 17u, 40u, 63u}) {
        for (const std::size_t at : {std::size_t{2}, length / 2, length - 1}) {
            for (int byte = 0; byte < 256; ++byte) {
                std::string url = "h:" + std::string(length - 2, 'a');
                url[at] = static_cast<char>(byte);
                SCOPED_TRACE(::testing::Message()
                             << "length " << length << " at " << at << " byte " << byte);
                manager_->cache()->setObjectInMemory(entry, url, 1);
                Collector collector;
                EXPECT_EQ(manager_->downloadImageWithURL(url, collector.completion()),
                          std::nullopt);
                ASSERT_EQ(collector.results().size(), 1u);
                const auto result = collector.results()[0];
                if (unsafe(static_cast<unsigned char>(byte))) {
                    EXPECT_THAT(result->error(),
                                IsError(net::kURLErrorDomain, net::kURLErrorUnsupportedURL));
                } else {
                    EXPECT_EQ(result->resultType(), PelmarImageResultType::MemoryHit);
                }
            }
        }
    }
    // The scheme: a letter, then letters, digits, "+", "-" or ".", up to the first colon.
    for (const auto& [url, usable] :
         std::initializer_list<std::pair<std::string, bool>>{{"a+b-c.d9:x", true},
                                                             {"9a:x", false},
                                                             {":x", false},
                                                             {"a_b:x", false},
                                                             {"ab", false},
                                                             {"a/b:x", false}}) {
        SCOPED_TRACE(url);
        manager_->cache()->setObjectInMemory(entry, url, 1);
        Collector collector;
        manager_->downloadImageWithURL(url, collector.completion());
        ASSERT_EQ(collector.results().size(), 1u);
        EXPECT_EQ(collector.results()[0]->error().has_value(), !usable);
    }
    EXPECT_TRUE(server_.requests().empty());
}

TEST_F(PelmarRemoteImageManagerIntegrationTest, ConcurrentReadsOfAnUndecodedEntryShareOneImage) {
    auto entry = std::make_shared<PelmarRemoteImageMemoryContainer>();
    {
        PelmarRemoteLock::Hold lock(entry->lock);
        entry->data = std::make_shared<const std::string>(picture());
    }
    manager_->cache()->setObjectInMemory(entry, "http://h/a.jpg", 1);
    constexpr std::size_t kReaders = 8;
    std::vector<PelmarImage> images(kReaders);
    std::vector<std::thread> readers;
    for (std::size_t i = 0; i < kReaders; ++i) {
        readers.emplace_back([&, i] {
            images[i] =
                    manager_->synchronousImageFromCacheWithCacheKey("http://h/a.jpg", 0)->image();
        });
    }
    for (auto& reader : readers) {
        reader.join();
    }
    ASSERT_TRUE(images[0]);
    for (const auto& image : images) {
        EXPECT_EQ(image, images[0]);
    }
    Collector hit;
    manager_->downloadImageWithURL("http://h/a.jpg", hit.completion());
    ASSERT_EQ(hit.results().size(), 1u);
    EXPECT_EQ(hit.results()[0]->image(), images[0]);
}

TEST_F(PelmarRemoteImageManagerIntegrationTest, MemoryHitsAnswerInsideTheCallOnlyWhenAllowed) {
    prime("/a.jpg");
    Collector now;
    EXPECT_EQ(manager_->downloadImageWithURL(server_.url("/a.jpg"), now.completion()),
              std::nullopt);
    ASSERT_EQ(now.results().size(), 1u) << "answered inside the call";
    EXPECT_EQ(now.results()[0]->resultType(), PelmarImageResultType::MemoryHit);
    EXPECT_EQ(now.results()[0]->requestDuration(), 0);
    EXPECT_TRUE(now.results()[0]->image());
    // Later hits of the decoded entry answer with the same result, built once.
    manager_->downloadImageWithURL(server_.url("/a.jpg"), now.completion());
    ASSERT_EQ(now.results().size(), 2u);
    EXPECT_EQ(now.results()[1], now.results()[0]);

    Collector later;
    EXPECT_EQ(manager_->downloadImageWithURL(server_.url("/a.jpg"),
                                             kPelmarImageRequestOptionAlwaysAsynchronous,
                                             later.completion()),
              std::nullopt);
    EXPECT_EQ(later.only()->resultType(), PelmarImageResultType::MemoryHit);
    EXPECT_EQ(later.queues()[0], "PelmarRemoteImageManagerCallbackQueue");

    Collector elsewhere;
    std::thread([&] {
        EXPECT_EQ(manager_->downloadImageWithURL(server_.url("/a.jpg"), elsewhere.completion()),
                  std::nullopt);
    }).join();
    EXPECT_EQ(elsewhere.only()->resultType(), PelmarImageResultType::MemoryHit);
    EXPECT_EQ(elsewhere.queues()[0], "PelmarRemoteImageManagerCallbackQueue");
    EXPECT_EQ(hits("/a.jpg"), 1u);
}

TEST_F(PelmarRemoteImageManagerIntegrationTest, MemoryHitsOfAnAnimatedGIFStayAnimations) {
    const std::string animated = image::test::patternGif(8, 8, 3);
    auto entry = std::make_shared<PelmarRemoteImageMemoryContainer>();
    {
        PelmarRemoteLock::Hold lock(entry->lock);
        entry->data = std::make_shared<const std::string>(animated);
        entry->image = image::Bitmap::create(8, 8);
    }
    manager_->cache()->setObjectInMemory(entry, "http://h/a.gif", 1);
    for (const auto options : {kPelmarImageRequestOptionNone, kPelmarImageRequestOptionNone,
                               kPelmarImageRequestOptionNoAlternateRepresentation}) {
        SCOPED_TRACE(options);
        Collector hit;
        manager_->downloadImageWithURL("http://h/a.gif", options, hit.completion());
        ASSERT_EQ(hit.results().size(), 1u);
        EXPECT_EQ(hit.results()[0]->resultType(), PelmarImageResultType::MemoryHit);
        const bool still = options == kPelmarImageRequestOptionNoAlternateRepresentation;
        EXPECT_EQ(hit.results()[0]->alternativeRepresentation() != nullptr, !still);
        EXPECT_EQ(hit.results()[0]->image() != nullptr, still);
    }
}

TEST_F(PelmarRemoteImageManagerIntegrationTest, PrefetchesGetAUUIDEachAndNeverComplete) {
    prime("/a.jpg");
    const auto uuids = manager_->prefetchImagesWithURLs(
            {server_.url("/a.jpg"), server_.url("/b.jpg"), server_.url("/a.jpg")});
    EXPECT_EQ(uuids.size(), 3u);
    EXPECT_EQ(std::set<std::string>(uuids.begin(), uuids.end()).size(), 3u);
    finish(manager_);
    // The memory hit was resolved by the cache lookup, not downloaded again.
    EXPECT_EQ(hits("/a.jpg"), 1u);
    Collector collector;
    manager_->downloadImageWithURL(server_.url("/b.jpg"), collector.completion());
    EXPECT_EQ(collector.only()->resultType(), PelmarImageResultType::MemoryHit);
}

TEST_F(PelmarRemoteImageManagerIntegrationTest, HundredIdenticalRequestsShareOneDownload) {
    constexpr std::size_t kCallers = 100;
    Collector collector;
    std::set<std::string> uuids;
    for (std::size_t i = 0; i < kCallers; ++i) {
        uuids.insert(*manager_->downloadImageWithURL(server_.url("/held/a.jpg"),
                                                     collector.completion()));
    }
    ASSERT_TRUE(waitUntil(WhileWaiting::RunMainLoop, [&] {
        return !(RemoteImageManagerPeer(*manager_).registeredUUIDCount() < kCallers);
    }));
    gate_.open();
    ASSERT_TRUE(collector.waitFor(kCallers));
    std::set<std::string> answered;
    for (const auto& result : collector.results()) {
        EXPECT_EQ(result->resultType(), PelmarImageResultType::Downloaded);
        EXPECT_TRUE(result->image());
        EXPECT_EQ(result->image(), collector.results().front()->image());
        answered.insert(result->UUID().value_or(""));
    }
    EXPECT_EQ(answered, uuids);
    EXPECT_EQ(hits("/held/a.jpg"), 1u);
    settle(manager_);
    EXPECT_EQ(RemoteImageManagerPeer(*manager_).taskCount(), 0u);
    EXPECT_EQ(RemoteImageManagerPeer(*manager_).registeredUUIDCount(), 0u);
}

TEST_F(PelmarRemoteImageManagerIntegrationTest, CancellingOneJoinedRequestLeavesTheOther) {
    Collector kept;
    Collector cancelled;
    const auto first =
            manager_->downloadImageWithURL(server_.url("/held/a.jpg"), cancelled.completion());
    manager_->downloadImageWithURL(server_.url("/held/a.jpg"), kept.completion());
    ASSERT_TRUE(waitUntil(WhileWaiting::RunMainLoop, [&] {
        return !(RemoteImageManagerPeer(*manager_).registeredUUIDCount() < 2);
    }));
    manager_->cancelTaskWithUUID(*first);
    settle(manager_);
    gate_.open();
    EXPECT_TRUE(kept.only()->image());
    settle(manager_);
    EXPECT_TRUE(cancelled.results().empty());
}

TEST_F(PelmarRemoteImageManagerIntegrationTest, CancellingTheLastRequestDropsTheTask) {
    Collector collector;
    const auto uuid =
            manager_->downloadImageWithURL(server_.url("/held/a.jpg"), collector.completion());
    ASSERT_TRUE(waitUntil(WhileWaiting::RunMainLoop, [&] { return !(hits("/held/a.jpg") == 0); }));
    manager_->cancelTaskWithUUID(*uuid);
    settle(manager_);
    EXPECT_EQ(RemoteImageManagerPeer(*manager_).taskCount(), 0u);
    EXPECT_EQ(RemoteImageManagerPeer(*manager_).registeredUUIDCount(), 0u);
    gate_.open();
    settle(manager_);
    EXPECT_TRUE(collector.results().empty());
}

TEST_F(PelmarRemoteImageManagerIntegrationTest, CancelBeforeRegistrationMakesNoRequest) {
    auto manager = makeManager(nullptr, {.maxConcurrentOperations = 2});
    // Hold both runners of the operation queue: an idle queue gives its first operation to the
    // serial runner (which always takes the oldest waiting operation), the second to the other.
    Gate serialGate;
    Gate otherGate;
    std::atomic<int> started{0};
    for (Gate* gate : {&serialGate, &otherGate}) {
        manager->concurrentOperationQueue()->scheduleOperation([&started, gate] {
            ++started;
            gate->wait();
        });
    }
    ASSERT_TRUE(waitUntil(WhileWaiting::RunMainLoop, [&] { return started == 2; }));
    Collector collector;
    const auto uuid = manager->downloadImageWithURL(server_.url("/a.jpg"), collector.completion());
    ASSERT_TRUE(uuid);
    manager->cancelTaskWithUUID(*uuid);
    // The free runner takes the high-priority cancel first, then the registration, which
    // finds itself cancelled and consumes the record.
    otherGate.open();
    ASSERT_TRUE(waitUntil(WhileWaiting::RunMainLoop, [&] {
        return RemoteImageManagerPeer(*manager).canceledTaskCount() == 0;
    }));
    serialGate.open();
    settle(manager);
    EXPECT_TRUE(collector.results().empty());
    EXPECT_TRUE(server_.requests().empty());
    EXPECT_EQ(RemoteImageManagerPeer(*manager).taskCount(), 0u);
    EXPECT_EQ(RemoteImageManagerPeer(*manager).canceledTaskCount(), 0u);
}

TEST_F(PelmarRemoteImageManagerIntegrationTest, CancelsOfFinishedOrUnknownRequestsLeaveNoRecord) {
    Collector collector;
    const auto done = manager_->downloadImageWithURL(server_.url("/a.jpg"), collector.completion());
    collector.only();
    settle(manager_);
    for (int i = 0; i < 50; ++i) {
        manager_->cancelTaskWithUUID(*done);
        manager_->cancelTaskWithUUID("unknown-" + std::to_string(i));
    }
    manager_->cancelAllTasks();
    settle(manager_);
    EXPECT_EQ(RemoteImageManagerPeer(*manager_).canceledTaskCount(), 0u);
}

TEST_F(PelmarRemoteImageManagerIntegrationTest, StaleUUIDCancelLeavesTheNewerTaskAlone) {
    Collector first;
    const auto old = manager_->downloadImageWithURL(server_.url("/held/a.jpg"), first.completion());
    gate_.open();
    first.only();
    settle(manager_);
    gate_.close();
    Collector second;
    manager_->downloadImageWithURL(server_.url("/held/a.jpg"), kPelmarImageRequestOptionBypassCache,
                                   second.completion());
    ASSERT_TRUE(waitUntil(WhileWaiting::RunMainLoop, [&] { return !(hits("/held/a.jpg") < 2); }));
    manager_->cancelTaskWithUUID(*old);
    settle(manager_);
    EXPECT_EQ(RemoteImageManagerPeer(*manager_).taskCount(), 1u);
    gate_.open();
    EXPECT_TRUE(second.only()->image());
    EXPECT_EQ(hits("/held/a.jpg"), 2u);
}

TEST_F(PelmarRemoteImageManagerIntegrationTest, ErrorsReachTheCompletion) {
    struct Case {
        const char* name;
        const char* path;
        std::string domain;
        long code;
    };

    const Case cases[] = {
            {"Undecodable", "/broken.jpg", std::string(kPelmarRemoteImageManagerErrorDomain),
             kPelmarImageErrorUndecodableData},
            {"HttpStatus", "/missing.jpg", std::string(kPelmarURLErrorDomain), 404},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Collector collector;
        manager_->downloadImageWithURL(server_.url(c.path), collector.completion());
        const auto result = collector.only();
        EXPECT_THAT(result->error(), IsError(c.domain, c.code));
        EXPECT_EQ(result->resultType(), PelmarImageResultType::None);
    }
}

TEST_F(PelmarRemoteImageManagerIntegrationTest, BypassCacheDownloadsAgain) {
    prime("/a.jpg");
    Collector collector;
    EXPECT_TRUE(manager_->downloadImageWithURL(
            server_.url("/a.jpg"), kPelmarImageRequestOptionBypassCache, collector.completion()));
    EXPECT_EQ(collector.only()->resultType(), PelmarImageResultType::Downloaded);
    EXPECT_EQ(hits("/a.jpg"), 2u);
}

TEST_F(PelmarRemoteImageManagerIntegrationTest, DataURLsAreAnsweredFromTheirContents) {
    const std::string url =
            "data:image/png,"
            + foundation::percentEncode(image::test::png(*image::test::photo(8, 8)));
    Collector collector;
    EXPECT_EQ(manager_->downloadImageWithURL(url, collector.completion()), std::nullopt);
    ASSERT_EQ(collector.results().size(), 1u);
    EXPECT_EQ(collector.results()[0]->resultType(), PelmarImageResultType::MemoryHit);
    EXPECT_EQ(collector.results()[0]->image()->width(), 8);
}

TEST_F(PelmarRemoteImageManagerIntegrationTest, FileURLsAreReadFromDiskAndCached) {
    test::TempDir dir;
    const auto path = dir.path() / "a photo #2.jpg";
    std::ofstream(path, std::ios::binary) << picture();
    const std::string url = foundation::fileURLFromPath(path);
    Collector collector;
    EXPECT_TRUE(manager_->downloadImageWithURL(url, collector.completion()));
    const auto result = collector.only();
    ASSERT_TRUE(result->image()) << *result->error();
    EXPECT_EQ(result->image()->width(), 64);
    EXPECT_EQ(result->resultType(), PelmarImageResultType::Downloaded);
    settle(manager_);
    Collector hit;
    manager_->downloadImageWithURL(url, hit.completion());
    ASSERT_EQ(hit.results().size(), 1u);
    EXPECT_EQ(hit.results()[0]->resultType(), PelmarImageResultType::MemoryHit);

    Collector missing;
    manager_->downloadImageWithURL(foundation::fileURLFromPath(dir.path() / "gone.jpg"),
                                   kPelmarImageRequestOptionNoRetry, missing.completion());
    EXPECT_THAT(missing.only()->error(),
                IsError(net::kURLErrorDomain, net::kURLErrorFileDoesNotExist));
    EXPECT_TRUE(server_.requests().empty());
}

TEST_F(PelmarRemoteImageManagerIntegrationTest, AMissingFileFailsAtOnceWhateverTheRetryStrategy) {
    test::TempDir dir;
    const std::string url = foundation::fileURLFromPath(dir.path() / "gone.jpg");
    // The clock never moves: a retry would wait for ever.
    Collector missing;
    manager_->downloadImageWithURL(url, missing.completion());
    const auto result = missing.only();
    ASSERT_TRUE(result) << "still waiting to retry";
    EXPECT_THAT(result->error(), IsError(net::kURLErrorDomain, net::kURLErrorFileDoesNotExist));

    // Nor does a host's strategy that retries everything read the file again.
    struct AlwaysRetry final : PelmarRequestRetryStrategy {
        bool shouldRetryWithError(const std::optional<Error>&) override { return true; }

        int32_t nextDelay() override { return 1; }

        void incrementRetryCount() override { ++retries; }

        int32_t numberOfRetries() override { return retries; }

        int32_t retries = 0;
    };

    auto manager = makeManager();
    manager->setRetryStrategyCreationBlock([] { return std::make_unique<AlwaysRetry>(); });
    settle(manager);
    Collector again;
    manager->downloadImageWithURL(url, again.completion());
    const auto againResult = again.only();
    ASSERT_TRUE(againResult) << "still waiting to retry";
    EXPECT_THAT(againResult->error(),
                IsError(net::kURLErrorDomain, net::kURLErrorFileDoesNotExist));
    EXPECT_TRUE(server_.requests().empty());
}

// A basic cache whose memory writes of processed images wait for a caller's answer.
class ProcessedStoreWatcher : public PelmarRemoteImageBasicCache {
public:
    static std::shared_ptr<ProcessedStoreWatcher> create() {
        return std::shared_ptr<ProcessedStoreWatcher>(new ProcessedStoreWatcher());
    }

    void setObjectInMemory(std::shared_ptr<PelmarRemoteImageMemoryContainer> object,
                           const std::string& key,
                           uint64_t cost) override {
        if (key.find("-<") != std::string::npos) {
            answeredBeforeStore = answered.wait_for(kPatience) == std::future_status::ready;
        }
        PelmarRemoteImageBasicCache::setObjectInMemory(std::move(object), key, cost);
    }

    std::promise<void> callerAnswered;
    std::shared_future<void> answered = callerAnswered.get_future().share();
    std::atomic<bool> answeredBeforeStore{false};

private:
    ProcessedStoreWatcher() : PelmarRemoteImageBasicCache(defaultTotalCostLimit()) {}
};

TEST_F(PelmarRemoteImageManagerIntegrationTest, ProcessorAnswersCallersBeforeStoringTheImage) {
    auto cache = ProcessedStoreWatcher::create();
    auto manager = makeManager(cache);
    std::atomic<int> processed{0};
    auto half = [&](const PelmarImageResult& result, uint64_t* cost) {
        ++processed;
        *cost = 7;
        return image::Bitmap::create(result->image()->width() / 2, result->image()->height() / 2);
    };
    Collector collector;
    manager->downloadImageWithURL(server_.url("/a.jpg"), 0, "half", half,
                                  [&](const PelmarImageResult& result) {
                                      cache->callerAnswered.set_value();
                                      collector.completion()(result);
                                  });
    const auto result = collector.only();
    EXPECT_EQ(result->image()->width(), 32);
    EXPECT_EQ(result->resultType(), PelmarImageResultType::Downloaded);
    finish(manager);
    EXPECT_TRUE(cache->answeredBeforeStore);
    EXPECT_EQ(RemoteImageManagerPeer(*manager).taskCount(), 0u);

    Collector again;
    EXPECT_EQ(manager->downloadImageWithURL(server_.url("/a.jpg"), 0, "half", half,
                                            again.completion()),
              std::nullopt);
    ASSERT_EQ(again.results().size(), 1u);
    EXPECT_EQ(again.results()[0]->resultType(), PelmarImageResultType::MemoryHit);
    EXPECT_EQ(processed, 1);
    EXPECT_EQ(hits("/a.jpg"), 1u);
}

TEST_F(PelmarRemoteImageManagerIntegrationTest, ProcessorFailuresCarryTheirCause) {
    struct Case {
        const char* name;
        const char* path;
        std::string processorKey;
        bool returnsImage;
        std::string domain;
        long code;
        int calls;
    };

    const std::string ours(kPelmarRemoteImageManagerErrorDomain);
    const Case cases[] = {
            {"ReturnedNil", "/a.jpg", "p", false, ours, kPelmarImageErrorProcessorReturnedNil, 1},
            {"InnerErrorPassedOn", "/missing.jpg", "p", true, std::string(kPelmarURLErrorDomain),
             404, 0},
            {"InnerUndecodable", "/broken.jpg", "p", true, ours, kPelmarImageErrorUndecodableData,
             0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::atomic<int> calls{0};
        Collector collector;
        manager_->downloadImageWithURL(
                server_.url(c.path), 0, c.processorKey,
                [&](const PelmarImageResult& result, uint64_t*) -> PelmarImage {
                    ++calls;
                    return c.returnsImage ? result->image() : nullptr;
                },
                collector.completion());
        EXPECT_THAT(collector.only()->error(), IsError(c.domain, c.code));
        finish(manager_);
        EXPECT_EQ(calls, c.calls);
    }
}

TEST_F(PelmarRemoteImageManagerIntegrationTest, AProcessorWithoutAKeyIsNeverCalled) {
    std::atomic<int> calls{0};
    Collector collector;
    manager_->downloadImageWithURL(
            server_.url("/a.jpg"), 0, "",
            [&](const PelmarImageResult& result, uint64_t*) {
                ++calls;
                return result->image();
            },
            collector.completion());
    EXPECT_EQ(collector.only()->image()->width(), 64);
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(manager_->cache()->objectExistsForKey(server_.url("/a.jpg")));
}

// A cache that hands out an undecodable entry for one key a few times, as a cache shared with
// another writer might.
class UnusableEntryCache : public PelmarRemoteImageBasicCache {
public:
    static std::shared_ptr<UnusableEntryCache> create(std::string key, int times) {
        return std::shared_ptr<UnusableEntryCache>(new UnusableEntryCache(std::move(key), times));
    }

    std::shared_ptr<PelmarRemoteImageMemoryContainer> objectFromMemoryForKey(
            const std::string& key) override {
        if (key == key_ && left_.fetch_sub(1) > 0) {
            auto entry = std::make_shared<PelmarRemoteImageMemoryContainer>();
            PelmarRemoteLock::Hold lock(entry->lock);
            entry->data = std::make_shared<const std::string>("garbage");
            return entry;
        }
        return PelmarRemoteImageBasicCache::objectFromMemoryForKey(key);
    }

private:
    UnusableEntryCache(std::string key, int times)
        : PelmarRemoteImageBasicCache(defaultTotalCostLimit()),
          key_(std::move(key)),
          left_(times) {}

    const std::string key_;
    std::atomic<int> left_;
};

TEST_F(PelmarRemoteImageManagerIntegrationTest, JoinedRequestsSurviveAnUnusableCacheEntry) {
    const std::string url = server_.url("/a.jpg");
    // Two early checks and the cache lookup all find the unusable entry.
    auto manager = makeManager(UnusableEntryCache::create(url, 3));
    Collector collector;
    manager->downloadImageWithURL(url, collector.completion());
    manager->downloadImageWithURL(url, collector.completion());
    ASSERT_TRUE(collector.waitFor(2));
    for (const auto& result : collector.results()) {
        EXPECT_TRUE(result->image());
        EXPECT_FALSE(result->error());
    }
    EXPECT_EQ(hits("/a.jpg"), 1u);
    finish(manager);
}

TEST_F(PelmarRemoteImageManagerIntegrationTest, AlternativeURLsFollowCacheAndMeasuredSpeed) {
    struct Case {
        const char* name;
        std::vector<int> cached;
        bool upgrade;
        float bytesPerSecond;
        int loaded;
        std::vector<int> cachedAfter;
    };

    const Case cases[] = {
            {"HighestCachedWinsOverSlowNetwork", {2}, true, 1000, 2, {2}},
            {"LowestCachedKeptWithoutUpgrade", {0}, false, 1e7f, 0, {0}},
            {"UpgradeDropsLowerEntries", {0}, true, 1e7f, 2, {2}},
            {"NothingCachedMiddleSpeed", {}, false, 275000, 1, {1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto recorder =
                std::make_shared<PelmarSpeedRecorder>([] { return std::optional<uint32_t>(); });
        auto manager = PelmarRemoteImageManager::create(
                std::nullopt, nullptr, nullptr,
                PelmarRemoteImageManagerConfiguration{.shouldUpgradeLowQualityImages = c.upgrade},
                recorder);
        const std::string base = std::string("/alt/") + c.name + "/";
        const std::vector<std::string> urls = {server_.url(base + "0.jpg"),
                                               server_.url(base + "1.jpg"),
                                               server_.url(base + "2.jpg")};
        for (const int index : c.cached) {
            Collector primed;
            manager->downloadImageWithURL(urls[index], primed.completion());
            primed.only();
        }
        settle(manager);
        // The measured speed is the case's, not that of the priming downloads.
        recorder->resetMeasurements();
        recorder->updateSpeedsForHost("127.0.0.1", c.bytesPerSecond, c.bytesPerSecond, 0.01);
        Collector collector;
        manager->downloadImageWithURLs(urls, 0, nullptr, nullptr, collector.completion());
        EXPECT_TRUE(collector.only()->image());
        settle(manager);
        for (int i = 0; i < 3; ++i) {
            const bool wanted =
                    std::find(c.cachedAfter.begin(), c.cachedAfter.end(), i) != c.cachedAfter.end();
            EXPECT_EQ(manager->cache()->objectExistsForKey(urls[i]), wanted) << "url " << i;
            const bool primed = std::find(c.cached.begin(), c.cached.end(), i) != c.cached.end();
            EXPECT_EQ(hits(base + std::to_string(i) + ".jpg"), primed || i == c.loaded ? 1u : 0u)
                    << "url " << i;
        }
    }
}

TEST_F(PelmarRemoteImageManagerIntegrationTest, AlternativeURLChoiceFollowsTheMeasuredSpeed) {
    auto recorder = std::make_shared<PelmarSpeedRecorder>([] { return std::optional<uint32_t>(); });
    auto manager = PelmarRemoteImageManager::create(std::nullopt, nullptr, nullptr, std::nullopt,
                                                    recorder);
    // An earlier transfer of the picture from this host took two seconds, well below the
    // low-quality threshold of 50 kB/s.
    recorder->processMetrics(net::URLSessionTaskMetrics{{{0.0, 0.1, 2.1}}},
                             static_cast<int64_t>(picture().size()), server_.url("/warm.jpg"));
    ASSERT_LT(recorder->weightedAdjustedBytesPerSecondForHost("127.0.0.1"), 50000);
    Collector collector;
    manager->downloadImageWithURLs(
            {server_.url("/low.jpg"), server_.url("/mid.jpg"), server_.url("/high.jpg")}, 0,
            nullptr, nullptr, collector.completion());
    EXPECT_TRUE(collector.only()->image());
    EXPECT_EQ(hits("/low.jpg"), 1u);
    EXPECT_EQ(hits("/high.jpg"), 0u);
}

TEST_F(PelmarRemoteImageManagerIntegrationTest, ProgressiveDownloadsSendAFewIntermediateRenders) {
    Collector collector;
    const auto uuid = manager_->downloadImageWithURL(
            server_.url("/progressive.jpg"), 0, kPelmarRemoteImageManagerPriorityDefault,
            progressiveRenders_.completion(), nullptr, collector.completion());
    EXPECT_EQ(collector.only()->image()->width(), 640);
    finish(manager_);
    const auto intermediate = progressiveRenders_.results();
    // A render by 45% and one at 65% or more are due by the pacing; the three thresholds allow
    // no more than three.
    ASSERT_GE(intermediate.size(), 2u);
    EXPECT_LE(intermediate.size(), 3u);
    EXPECT_GE(bestQuality(intermediate), 0.65);
    for (const auto& result : intermediate) {
        EXPECT_EQ(result->resultType(), PelmarImageResultType::Progressive);
        EXPECT_EQ(result->UUID(), uuid);
        EXPECT_LT(result->renderedImageQuality(), 0.99);
        EXPECT_EQ(result->image()->width(), 640);
    }
}

TEST_F(PelmarRemoteImageManagerIntegrationTest, PersistentCacheSurvivesARestartOfTheManager) {
    test::TempDir folder("image-cache");
    {
        auto manager = makeManager(PelmarRemoteImageDiskCache::create(folder.path()));
        Collector collector;
        manager->downloadImageWithURL(server_.url("/a.jpg"), collector.completion());
        EXPECT_EQ(collector.only()->resultType(), PelmarImageResultType::Downloaded);
        settle(manager);
    }
    auto restarted = makeManager(PelmarRemoteImageDiskCache::create(folder.path()));
    Collector collector;
    EXPECT_TRUE(restarted->downloadImageWithURL(server_.url("/a.jpg"), collector.completion()));
    const auto result = collector.only();
    EXPECT_EQ(result->resultType(), PelmarImageResultType::CacheHit);
    EXPECT_EQ(result->image()->width(), 64);
    EXPECT_EQ(hits("/a.jpg"), 1u);
}

TEST_F(PelmarRemoteImageManagerIntegrationTest, CacheReadsAnswerHitsAtOnceAndMissesLater) {
    prime("/a.jpg");
    const auto key = *PelmarRemoteImageManager::cacheKeyForURL(server_.url("/a.jpg"));
    Collector hit;
    manager_->imageFromCacheWithCacheKey(key, 0, hit.completion());
    ASSERT_EQ(hit.results().size(), 1u);
    EXPECT_EQ(hit.results()[0]->resultType(), PelmarImageResultType::MemoryHit);

    Collector miss;
    manager_->imageFromCacheWithCacheKey("http://nowhere/b.jpg", 0, miss.completion());
    const auto result = miss.only();
    EXPECT_EQ(result->resultType(), PelmarImageResultType::CacheHit);
    EXPECT_FALSE(result->image());
    EXPECT_FALSE(result->error());
    EXPECT_EQ(miss.queues()[0], "PelmarRemoteImageManagerCallbackQueue");
}

TEST_F(PelmarRemoteImageManagerIntegrationTest, UnusableEntriesAreReportedAndRemoved) {
    auto entry = std::make_shared<PelmarRemoteImageMemoryContainer>();
    {
        PelmarRemoteLock::Hold lock(entry->lock);
        entry->data = std::make_shared<const std::string>("garbage");
    }
    manager_->cache()->setObjectInMemory(entry, "k", 7);
    const auto result = manager_->synchronousImageFromCacheWithCacheKey("k", 0);
    EXPECT_THAT(result->error(),
                IsError(kPelmarRemoteImageManagerErrorDomain, kPelmarImageErrorUnusableCacheEntry));
    EXPECT_FALSE(manager_->cache()->objectExistsForKey("k"));
}

TEST_F(PelmarRemoteImageManagerIntegrationTest, InsertedDataIsKeptOnlyByAPersistentTier) {
    const std::string png = image::test::png(*image::test::photo(8, 8));
    EXPECT_TRUE(manager_->insertImageDataIntoCache(png, "http://h/a.png", "", 0));
    EXPECT_FALSE(manager_->cache()->objectExistsForKey("http://h/a.png"));
    EXPECT_FALSE(manager_->insertImageDataIntoCache(std::nullopt, "http://h/a.png", "", 0));

    test::TempDir folder("image-cache");
    auto manager = makeManager(PelmarRemoteImageDiskCache::create(folder.path()));
    EXPECT_TRUE(manager->insertImageDataIntoCache(png, "http://h/a.png", "", 0));
    EXPECT_EQ(manager->cache()->objectFromDiskForKey("http://h/a.png"), png);
}

TEST_F(PelmarRemoteImageManagerIntegrationTest, HeaderFieldsAndRequestHookShapeEveryRequest) {
    manager_->setValueForHTTPHeaderField("token", "X-Auth");
    manager_->setRequestConfiguration([](const net::URLRequest& request) {
        auto changed = request;
        changed.setValue("yes", "X-Hooked");
        return changed;
    });
    // The setters apply on the global queue; wait until both show in a request.
    EXPECT_TRUE(waitUntil([&] {
        const auto request = RemoteImageManagerPeer(*manager_).requestWithURL("http://h/", nullptr);
        return request.value("X-Auth") && request.value("X-Hooked");
    }));
    Collector collector;
    manager_->downloadImageWithURL(server_.url("/a.jpg"), collector.completion());
    collector.only();
    const auto sent = server_.requests().back();
    EXPECT_EQ(sent.header("X-Auth"), "token");
    EXPECT_EQ(sent.header("X-Hooked"), "yes");
}

}  // namespace
}  // namespace pelmar
