#include "pelmar/imageloader/PelmarRemoteImageTask.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <future>
#include <mutex>
#include <string>
#include <vector>

#include "pelmar/imageloader/PelmarRemoteImageManager.h"
#include "pelmar/imageloader/PelmarRemoteImageManagerConfiguration.h"
#include "pelmar/imageloader/PelmarRemoteImageManagerResult.h"
#include "pelmar/imageloader/internal/RemoteImageManagerPeer.h"

namespace pelmar {
namespace {

// Collects the results a task hands out and waits for a number of them.
class Results {
public:
    PelmarImageCompletion completion() {
        return [this](const PelmarImageResult& result) {
            std::lock_guard lock(mutex_);
            results_.push_back(result);
        };
    }

    // The results after every job queued so far on `queue` has run.
    std::vector<PelmarImageResult> after(const std::shared_ptr<dispatch::Queue>& queue) {
        queue->sync([] {});
        std::lock_guard lock(mutex_);
        return results_;
    }

private:
    std::mutex mutex_;
    std::vector<PelmarImageResult> results_;
};

class PelmarRemoteImageTaskTest : public ::testing::Test {
protected:
    std::shared_ptr<dispatch::Queue> queue_ = dispatch::Queue::serial("callbacks");
    std::shared_ptr<PelmarRemoteImageTask> task_ =
            std::make_shared<PelmarRemoteImageTask>("key", queue_);
    Results results_;
};

TEST_F(PelmarRemoteImageTaskTest, ResultTypeFollowsImageAndCachedAndCarriesEachUUID) {
    struct Case {
        const char* name;
        bool image;
        bool cached;
        PelmarImageResultType type;
    };

    const Case cases[] = {
            {"DownloadedImage", true, false, PelmarImageResultType::Downloaded},
            {"CachedImage", true, true, PelmarImageResultType::CacheHit},
            {"NothingCached", false, true, PelmarImageResultType::None},
            {"NothingDownloaded", false, false, PelmarImageResultType::None},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Results results;
        task_->addCallbacksWithCompletionBlock(results.completion(), nullptr, nullptr, "one");
        task_->addCallbacksWithCompletionBlock(results.completion(), nullptr, nullptr, "two");
        task_->addCallbacksWithCompletionBlock(nullptr, nullptr, nullptr, "silent");
        const PelmarImage image = c.image ? image::Bitmap::create(2, 2) : nullptr;
        task_->callCompletionsWithImage(image, nullptr, c.cached, nullptr, std::nullopt, true);
        const auto answered = results.after(queue_);
        ASSERT_EQ(answered.size(), 2u);
        std::vector<std::string> uuids;
        for (const auto& result : answered) {
            EXPECT_EQ(result->resultType(), c.type);
            EXPECT_EQ(result->image(), image);
            uuids.push_back(result->UUID().value_or(""));
        }
        EXPECT_THAT(uuids, ::testing::UnorderedElementsAre("one", "two"));
        EXPECT_EQ(task_->callbackCount(), 0u);
    }
}

TEST_F(PelmarRemoteImageTaskTest, RemoveDecidesWhetherASecondCompletionFindsCallers) {
    task_->addCallbacksWithCompletionBlock(results_.completion(), nullptr, nullptr, "one");
    task_->addCallbacksWithCompletionBlock(results_.completion(), nullptr, nullptr, "two");
    task_->callCompletionsWithImage(nullptr, nullptr, false, nullptr, std::nullopt, false);
    task_->callCompletionsWithImage(nullptr, nullptr, false, nullptr, std::nullopt, true);
    EXPECT_EQ(results_.after(queue_).size(), 4u);
    task_->callCompletionsWithImage(nullptr, nullptr, false, nullptr, std::nullopt, true);
    EXPECT_EQ(results_.after(queue_).size(), 4u);
}

TEST_F(PelmarRemoteImageTaskTest, CancellingAnswersWhetherCallbacksAreLeft) {
    task_->addCallbacksWithCompletionBlock(nullptr, nullptr, nullptr, "one");
    task_->addCallbacksWithCompletionBlock(nullptr, nullptr, nullptr, "two");
    EXPECT_FALSE(task_->cancelWithUUID("unknown", nullptr));
    EXPECT_FALSE(task_->cancelWithUUID("one", nullptr));
    EXPECT_TRUE(task_->cancelWithUUID("two", nullptr));
    EXPECT_THAT(
            task_->description(),
            ::testing::MatchesRegex("<PelmarRemoteImageTask: 0x[0-9a-f]+> completionBlocks: 0"));
}

TEST_F(PelmarRemoteImageTaskTest, ProcessorTaskCancelsItsInnerRequestWithItsLastCaller) {
    auto manager = PelmarRemoteImageManager::create();
    auto task = std::make_shared<PelmarRemoteImageProcessorTask>("key", queue_, manager);
    task->addCallbacksWithCompletionBlock(nullptr, nullptr, nullptr, "one");
    task->addCallbacksWithCompletionBlock(nullptr, nullptr, nullptr, "two");
    task->setDownloadTaskUUID("inner");
    EXPECT_FALSE(task->cancelWithUUID("one", nullptr));
    EXPECT_EQ(task->downloadTaskUUID(), "inner");
    EXPECT_TRUE(task->cancelWithUUID("two", nullptr));
    EXPECT_EQ(task->downloadTaskUUID(), std::nullopt);
}

TEST(PelmarRemoteImageManagerResultTest, DescriptionHasNineLinesInOrderEvenWhenEmpty) {
    const auto result = PelmarRemoteImageManagerResult::imageResultWithImage(
            nullptr, nullptr, 0.5, PelmarImageResultType::None, std::nullopt, nullptr,
            std::nullopt);
    EXPECT_THAT(result->description(),
                ::testing::MatchesRegex("<PelmarRemoteImageManagerResult: 0x[0-9a-f]+>"
                                        "image: \\(null\\)\n"
                                        "alternativeRepresentation: \\(null\\)\n"
                                        "requestDuration: 0\\.500000\n"
                                        "error: \\(null\\)\n"
                                        "resultType: 0\n"
                                        "UUID: \\(null\\)\n"
                                        "response: \\(null\\)\n"
                                        "renderedImageQuality: 1\\.000000\n"
                                        "bytesSavedByResuming: 0"));
}

TEST(PelmarRemoteImageManagerConfigurationTest, OperationsDefaultToTwicePerProcessorAtLeastTwo) {
    EXPECT_EQ(PelmarRemoteImageManagerConfiguration::defaultMaxConcurrentOperations(4), 8u);
    EXPECT_EQ(PelmarRemoteImageManagerConfiguration::defaultMaxConcurrentOperations(0), 2u);
}

}  // namespace
}  // namespace pelmar

namespace pelmar {
namespace {

TEST(PelmarRemoteImageManagerSharedTest, TheFirstSessionConfigurationWinsForTheWholeProcess) {
    net::URLSessionConfiguration first;
    first.timeoutIntervalForRequest = 7;
    PelmarRemoteImageManager::setSharedImageManagerWithConfiguration(first);
    const auto shared = PelmarRemoteImageManager::sharedImageManager();
    net::URLSessionConfiguration later;
    later.timeoutIntervalForRequest = 99;
    PelmarRemoteImageManager::setSharedImageManagerWithConfiguration(later);
    EXPECT_EQ(PelmarRemoteImageManager::sharedImageManager(), shared);
    EXPECT_EQ(imageloader::internal::RemoteImageManagerPeer(*shared)
                      .requestWithURL("http://h/a.jpg", nullptr)
                      .timeoutInterval,
              7);
    // Without a configuration of its own, a manager's requests time out after 30 s of silence.
    EXPECT_EQ(imageloader::internal::RemoteImageManagerPeer(*PelmarRemoteImageManager::create())
                      .requestWithURL("http://h/", nullptr)
                      .timeoutInterval,
              30);
}

}  // namespace
}  // namespace pelmar

namespace pelmar {
namespace {

// What a host could call to wedge the manager, or to reach into the books of its tasks.
template <class Manager>
concept ExposesLock = requires(Manager& m) {
    m.lock();
    m.unlock();
};

template <class Manager>
concept ExposesTaskEntryPoints = requires(Manager& m) {
    m.requestWithURL(std::string(), nullptr);
};

template <class Manager>
concept ExposesCounters = requires(Manager& m) {
    m.taskCount();
}

|| requires(Manager& m) {
    m.registeredUUIDCount();
}

|| requires(Manager& m) {
    m.canceledTaskCount();
};

TEST(PelmarRemoteImageManagerInterfaceTest, HostsSeeNeitherTheLockNorWhatOnlyTasksAndTestsUse) {
    EXPECT_FALSE(ExposesLock<PelmarRemoteImageManager>);
    EXPECT_FALSE(ExposesTaskEntryPoints<PelmarRemoteImageManager>);
    EXPECT_FALSE(ExposesCounters<PelmarRemoteImageManager>);
}

}  // namespace
}  // namespace pelmar
