#include "pelmar/platform/av/Player.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <vector>

#include "pelmar/platform/av/MutableComposition.h"
#include "pelmar/platform/av/QueuePlayer.h"
#include "pelmar/platform/av/URLAsset.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/dispatch/RunLoop.h"
#include "pelmar/platform/dispatch/testing/MainLoopFixture.h"
#include "pelmar/platform/foundation/NotificationCenter.h"
#include "testing/Matchers.h"

namespace pelmar::av {
namespace {

using dispatch::RunLoop;
using TCS = Player::TimeControlStatus;

// An item over a composition of `seconds` of video: it loads without reading any file.
std::shared_ptr<PlayerItem> itemOf(double seconds) {
    AssetTrack::Description d;
    d.trackID = 1;
    d.mediaType = TrackMediaType::Video;
    d.sourceURL = "/movies/source.mp4";
    d.timeRange = TimeRange::seconds(0, seconds);
    auto composition = MutableComposition::create();
    EXPECT_FALSE(composition->addMutableTrack(TrackMediaType::Video)
                         ->insertTimeRange(TimeRange::seconds(0, seconds),
                                           std::make_shared<const AssetTrack>(d),
                                           media::Time::zero()));
    return PlayerItem::create(composition);
}

double seconds(const Player& player) {
    return player.currentTime().seconds();
}

// Every end-of-item notification, in order, by sender.
struct EndLog {
    EndLog() {
        token = foundation::NotificationCenter::defaultCenter().addObserver(
                std::string(kPlayerItemDidPlayToEndTimeNotification),
                [this](const foundation::Notification& n) {
                    senders.push_back(n.objectAs<PlayerItem>());
                });
    }

    std::vector<std::shared_ptr<PlayerItem>> senders;
    foundation::NotificationCenter::Token token;
};

class PlayerTest : public dispatch::test::MainLoopFixture {
protected:
    // Records every timeControlStatus change the player announces, prior notices excluded.
    void record(Player& player) {
        token_ = player.timeControlStatus.observe([this](const auto& change) {
            if (!change.isPrior) {
                changes_.push_back(*change.newValue);
            }
        });
    }

    std::vector<TCS> changes_;
    foundation::Observable<TCS>::Token token_;
};

TEST_F(PlayerTest, PlayWaitsForTheItemThenTimeFollowsTheClockAndRate) {
    auto item = itemOf(5);
    auto player = std::make_shared<Player>(item);
    record(*player);
    player->play();
    EXPECT_EQ(player->timeControlStatus.get(), TCS::WaitingToPlayAtSpecifiedRate);
    ASSERT_TRUE(RunLoop::runUntil([&] { return player->timeControlStatus.get() == TCS::Playing; }));
    EXPECT_EQ(player->status.get(), Player::Status::ReadyToPlay);
    EXPECT_EQ(item->duration(), media::Time::makeWithSeconds(5, 1000));
    EXPECT_DOUBLE_EQ(seconds(*player), 0);

    RunLoop::advance(1.5);
    EXPECT_DOUBLE_EQ(seconds(*player), 1.5);
    player->setRate(2);
    RunLoop::advance(1);
    EXPECT_DOUBLE_EQ(seconds(*player), 3.5);
    player->pause();
    RunLoop::advance(1);
    EXPECT_DOUBLE_EQ(seconds(*player), 3.5);
    EXPECT_THAT(changes_, ::testing::ElementsAre(TCS::WaitingToPlayAtSpecifiedRate, TCS::Playing,
                                                 TCS::Paused));
}

TEST_F(PlayerTest, ItemEndIsPostedWithTheItemAsSenderThenThePlayerPauses) {
    EndLog ends;
    auto item = itemOf(5);
    auto player = std::make_shared<Player>(item);
    player->play();
    ASSERT_TRUE(RunLoop::runUntil([&] { return player->timeControlStatus.get() == TCS::Playing; }));
    RunLoop::advance(4.9);
    EXPECT_TRUE(ends.senders.empty());
    RunLoop::advance(0.2);
    ASSERT_EQ(ends.senders.size(), 1u);
    EXPECT_EQ(ends.senders[0], item);
    EXPECT_EQ(player->rate(), 0);
    EXPECT_EQ(player->timeControlStatus.get(), TCS::Paused);
    EXPECT_EQ(player->currentItem(), item);
    EXPECT_DOUBLE_EQ(seconds(*player), 5);
    RunLoop::advance(10);
    EXPECT_EQ(ends.senders.size(), 1u);
}

TEST_F(PlayerTest, QueueAdvancesAtEachEndAndIsEmptyAfterTheLast) {
    EndLog ends;
    auto first = itemOf(2);
    auto second = itemOf(3);
    auto player = std::make_shared<QueuePlayer>(
            std::vector<std::shared_ptr<PlayerItem>>{first, second, first, nullptr});
    EXPECT_EQ(player->items(), (std::vector{first, second}));
    // Both loaded first, so that the second plays on at once (loading runs off the clock).
    ASSERT_TRUE(RunLoop::runUntil(
            [&] { return second->status.get() == PlayerItem::Status::ReadyToPlay; }));
    player->play();
    ASSERT_TRUE(RunLoop::runUntil([&] { return player->timeControlStatus.get() == TCS::Playing; }));
    RunLoop::advance(2);
    EXPECT_EQ(ends.senders, (std::vector{first}));
    EXPECT_EQ(player->currentItem(), second);
    EXPECT_EQ(player->timeControlStatus.get(), TCS::Playing);
    EXPECT_DOUBLE_EQ(seconds(*player), 0);
    RunLoop::advance(1);
    EXPECT_DOUBLE_EQ(seconds(*player), 1);
    RunLoop::advance(2);
    EXPECT_EQ(ends.senders, (std::vector{first, second}));
    EXPECT_TRUE(player->items().empty());
    EXPECT_EQ(player->currentItem(), nullptr);
    EXPECT_EQ(player->rate(), 0);
    EXPECT_EQ(player->timeControlStatus.get(), TCS::Paused);
}

TEST_F(PlayerTest, SeekWhilePlayingWaitsOneTurnAndCompletesOnlyTheLatest) {
    auto player = std::make_shared<Player>(itemOf(5));
    player->play();
    ASSERT_TRUE(RunLoop::runUntil([&] { return player->timeControlStatus.get() == TCS::Playing; }));
    record(*player);
    std::vector<std::pair<int, bool>> completions;
    player->seek(media::Time::makeWithSeconds(4.004, 1000),
                 [&](bool finished) { completions.emplace_back(1, finished); });
    player->seek(media::Time::makeWithSeconds(2, 1),
                 [&](bool finished) { completions.emplace_back(2, finished); });
    EXPECT_EQ(player->timeControlStatus.get(), TCS::WaitingToPlayAtSpecifiedRate);
    EXPECT_DOUBLE_EQ(seconds(*player), 2);
    RunLoop::runUntilIdle();
    EXPECT_THAT(completions,
                ::testing::UnorderedElementsAre(std::pair{1, false}, std::pair{2, true}));
    EXPECT_THAT(changes_, ::testing::ElementsAre(TCS::WaitingToPlayAtSpecifiedRate, TCS::Playing));
    RunLoop::advance(1);
    EXPECT_DOUBLE_EQ(seconds(*player), 3);

    // Out of range: clamped to the item.
    player->pause();
    player->seek(media::Time::makeWithSeconds(-3, 1));
    EXPECT_DOUBLE_EQ(seconds(*player), 0);
    player->seek(media::Time::makeWithSeconds(60, 1));
    EXPECT_DOUBLE_EQ(seconds(*player), 5);
    // Paused: no waiting state.
    EXPECT_EQ(player->timeControlStatus.get(), TCS::Paused);

    auto empty = std::make_shared<Player>();
    std::optional<bool> emptyFinished;
    empty->seek(media::Time::zero(), [&](bool finished) { emptyFinished = finished; });
    RunLoop::runUntilIdle();
    EXPECT_EQ(emptyFinished, false);
}

TEST_F(PlayerTest, PeriodicObserverRunsOnItsQueueWhilePlayingUntilRemoved) {
    auto player = std::make_shared<Player>(itemOf(10));
    auto queue = dispatch::Queue::serial("observer");
    std::atomic<int> offQueue{0};
    std::mutex mutex;
    std::vector<double> times;
    auto observer =
            player->addPeriodicTimeObserver(media::Time::make(1, 1), queue, [&](media::Time time) {
                if (!queue->isCurrent()) {
                    ++offQueue;
                }
                std::lock_guard lock(mutex);
                times.push_back(time.seconds());
            });
    RunLoop::advance(3);
    player->play();
    ASSERT_TRUE(RunLoop::runUntil([&] { return player->timeControlStatus.get() == TCS::Playing; }));
    RunLoop::advance(3);
    const auto seen = [&] {
        std::lock_guard lock(mutex);
        return times;
    };
    ASSERT_TRUE(RunLoop::runUntil([&] { return seen().size() == 4; }));
    EXPECT_THAT(seen(), ::testing::ElementsAre(0, 1, 2, 3));
    player->removeTimeObserver(observer);
    RunLoop::advance(3);
    queue->sync([] {});
    EXPECT_EQ(seen().size(), 4u);
    EXPECT_EQ(offQueue, 0);
}

TEST_F(PlayerTest, FailedItemIsSkippedByAQueueAndStopsAPlainPlayer) {
    std::vector<std::shared_ptr<PlayerItem>> failures;
    auto token = foundation::NotificationCenter::defaultCenter().addObserver(
            std::string(kPlayerItemFailedToPlayToEndTimeNotification),
            [&](const foundation::Notification& n) {
                failures.push_back(n.objectAs<PlayerItem>());
            });
    auto missing = PlayerItem::create("/no/such/folder/movie.mp4");
    auto good = itemOf(3);
    auto queue = std::make_shared<QueuePlayer>(std::vector{missing, good});
    queue->play();
    ASSERT_TRUE(RunLoop::runUntil([&] { return queue->timeControlStatus.get() == TCS::Playing; }));
    EXPECT_EQ(queue->currentItem(), good);
    EXPECT_EQ(missing->status.get(), PlayerItem::Status::Failed);
    EXPECT_THAT(missing->error(), test::IsError(kAssetErrorDomain, kAssetErrorNotFound));
    EXPECT_EQ(failures, (std::vector{missing}));

    auto lost = PlayerItem::create("/no/such/folder/other.mp4");
    auto plain = std::make_shared<Player>(lost);
    plain->play();
    ASSERT_TRUE(
            RunLoop::runUntil([&] { return lost->status.get() == PlayerItem::Status::Failed; }));
    RunLoop::runUntilIdle();
    EXPECT_EQ(plain->timeControlStatus.get(), TCS::Paused);
    EXPECT_EQ(plain->rate(), 0);
    EXPECT_EQ(plain->status.get(), Player::Status::Unknown);
    EXPECT_THAT(plain->error(), test::IsError(kAssetErrorDomain, kAssetErrorNotFound));
}

TEST_F(PlayerTest, ReplacingTheItemStartsTheNewOneAtZeroAndKeepsTheRate) {
    auto first = itemOf(5);
    auto second = itemOf(8);
    auto player = std::make_shared<Player>(first);
    player->play();
    ASSERT_TRUE(RunLoop::runUntil([&] { return player->timeControlStatus.get() == TCS::Playing; }));
    RunLoop::advance(2);
    player->replaceCurrentItem(second);
    EXPECT_EQ(player->currentItem(), second);
    EXPECT_DOUBLE_EQ(seconds(*player), 0);
    ASSERT_TRUE(RunLoop::runUntil([&] { return player->timeControlStatus.get() == TCS::Playing; }));
    RunLoop::advance(6);
    EXPECT_DOUBLE_EQ(seconds(*player), 6);
    player->replaceCurrentItem(nullptr);
    EXPECT_EQ(player->currentItem(), nullptr);
    EXPECT_EQ(player->timeControlStatus.get(), TCS::Paused);
}

}  // namespace
}  // namespace pelmar::av
