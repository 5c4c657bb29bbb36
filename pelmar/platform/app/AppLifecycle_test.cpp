#include "pelmar/platform/app/AppLifecycle.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pelmar/platform/foundation/NotificationCenter.h"

namespace pelmar::app {
namespace {

class AppLifecycleTest : public ::testing::Test {
protected:
    void SetUp() override { AppLifecycle::reset(); }

    void TearDown() override { AppLifecycle::reset(); }
};

TEST_F(AppLifecycleTest, PostsOnlyWhenEnteringOrLeavingTheBackground) {
    std::vector<std::string> posted;
    auto& center = foundation::NotificationCenter::defaultCenter();
    auto background = center.addObserver(std::string(AppLifecycle::kDidEnterBackgroundNotification),
                                         [&] { posted.emplace_back("background"); });
    auto foreground =
            center.addObserver(std::string(AppLifecycle::kWillEnterForegroundNotification),
                               [&] { posted.emplace_back("foreground"); });

    AppLifecycle::setState(ApplicationState::Inactive);
    AppLifecycle::setState(ApplicationState::Background);
    AppLifecycle::setState(ApplicationState::Background);
    AppLifecycle::setState(ApplicationState::Inactive);
    AppLifecycle::setState(ApplicationState::Active);

    EXPECT_EQ(posted, (std::vector<std::string>{"background", "foreground"}));
    EXPECT_EQ(AppLifecycle::state(), ApplicationState::Active);
}

TEST_F(AppLifecycleTest, BackgroundTasksAreCountedIdsThatExpireThroughTheirHandlers) {
    int expired = 0;
    const auto first = AppLifecycle::beginBackgroundTask("upload", [&] { ++expired; });
    BackgroundTaskIdentifier second = kInvalidBackgroundTask;
    second = AppLifecycle::beginBackgroundTask("export", [&] {
        ++expired;
        AppLifecycle::endBackgroundTask(second);
    });
    EXPECT_NE(first, kInvalidBackgroundTask);
    EXPECT_NE(first, second);
    EXPECT_EQ(AppLifecycle::backgroundTaskCount(), 2);

    AppLifecycle::endBackgroundTask(12345);  // unknown: ignored
    EXPECT_EQ(AppLifecycle::backgroundTaskCount(), 2);

    AppLifecycle::expireBackgroundTasks();
    EXPECT_EQ(expired, 2);
    EXPECT_EQ(AppLifecycle::backgroundTaskCount(), 0);
    AppLifecycle::endBackgroundTask(first);  // already ended: ignored
    EXPECT_EQ(AppLifecycle::backgroundTaskCount(), 0);
}

TEST_F(AppLifecycleTest, ExpiryRunsNoHandlerOfATaskEndedByAnEarlierHandler) {
    // The owner of the second task ends it (and would free what its handler refers to) while
    // the first task's handler runs.
    std::vector<std::string> ran;
    BackgroundTaskIdentifier second = kInvalidBackgroundTask;
    const auto first = AppLifecycle::beginBackgroundTask("upload", [&] {
        ran.emplace_back("upload");
        AppLifecycle::endBackgroundTask(second);
    });
    second = AppLifecycle::beginBackgroundTask("export", [&] { ran.emplace_back("export"); });
    ASSERT_NE(first, second);

    AppLifecycle::expireBackgroundTasks();

    EXPECT_EQ(ran, (std::vector<std::string>{"upload"}));
    EXPECT_EQ(AppLifecycle::backgroundTaskCount(), 0);
}

}  // namespace
}  // namespace pelmar::app
