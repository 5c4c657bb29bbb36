#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#include "pelmar/platform/av/Player.h"
#include "pelmar/platform/av/QueuePlayer.h"
#include "pelmar/platform/av/URLAsset.h"
#include "pelmar/platform/av/testing/TestMovie.h"
#include "pelmar/platform/dispatch/RunLoop.h"
#include "pelmar/platform/dispatch/testing/MainLoopFixture.h"
#include "pelmar/platform/foundation/Observable.h"
#include "testing/TempDir.h"

namespace pelmar::av {
namespace {

using dispatch::RunLoop;
using TCS = Player::TimeControlStatus;

// One real movie shared by the tests; threads use the asset and the player at once.
class PlayerConcurrencyTest : public dispatch::test::MainLoopFixture {
protected:
    static void SetUpTestSuite() {
        folder_ = std::make_unique<pelmar::test::TempDir>("player-threads");
        movie_ = folder_->path() / "movie.mp4";
        made_ = test::TestMovie(2, 160, 120, 10, 10).make(movie_);
    }

    static void TearDownTestSuite() { folder_.reset(); }

    void SetUp() override {
        MainLoopFixture::SetUp();
        ASSERT_TRUE(made_);
    }

    static inline std::unique_ptr<pelmar::test::TempDir> folder_;
    static inline std::filesystem::path movie_;
    static inline bool made_ = false;
};

TEST_F(PlayerConcurrencyTest, FirstUsesOnManyThreadsLoadTheAssetOnce) {
    auto asset = URLAsset::create(movie_.string());
    std::vector<std::thread> threads;
    std::vector<Asset::Tracks> seen(8);
    for (size_t i = 0; i < seen.size(); ++i) {
        threads.emplace_back([&, i] { seen[i] = asset->tracks(); });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    std::set<const AssetTrack*> distinct;
    for (const auto& tracks : seen) {
        ASSERT_EQ(tracks.size(), 2u);
        distinct.insert(tracks.front().get());
    }
    // One load made the tracks that every thread sees.
    EXPECT_EQ(distinct.size(), 1u);
}

TEST_F(PlayerConcurrencyTest, CommandsFromManyThreadsWhileTheClockRuns) {
    auto player = std::make_shared<QueuePlayer>(
            std::vector{PlayerItem::create(movie_.string()), PlayerItem::create(movie_.string())});
    auto observer =
            player->addPeriodicTimeObserver(media::Time::make(1, 10), nullptr, [](media::Time) {});
    player->play();
    ASSERT_TRUE(RunLoop::runUntil([&] { return player->timeControlStatus.get() == TCS::Playing; }));
    std::atomic<int> running{4};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                switch ((i + t) % 4) {
                    case 0:
                        player->play();
                        break;
                    case 1:
                        player->seek(media::Time::makeWithSeconds(i % 3 * 0.5, 1000));
                        break;
                    case 2:
                        (void)player->currentTime();
                        (void)player->items();
                        break;
                    default:
                        player->setRate(static_cast<float>(i % 3));
                        break;
                }
            }
            --running;
        });
    }
    while (running > 0) {
        RunLoop::advance(0.05);
    }
    for (auto& thread : threads) {
        thread.join();
    }
    player->removeTimeObserver(observer);
    player->pause();
    RunLoop::runUntilIdle();
    EXPECT_EQ(player->timeControlStatus.get(), TCS::Paused);
    const double now = player->currentTime().seconds();
    EXPECT_GE(now, 0.0);
    EXPECT_LE(now, 2.1);
}

TEST_F(PlayerConcurrencyTest, APauseMadeWhileAnEarlierChangeIsBeingToldHasTheLastWord) {
    // Play is asked for before the item has loaded; its start is told once the item is ready,
    // and another thread pauses just then, before that start has reached timeControlStatus.
    auto player = std::make_shared<Player>();
    player->play();
    std::atomic<bool> paused{false};
    auto token = player->status.observe([&](const auto& change) {
        if (change.newValue == Player::Status::ReadyToPlay && !paused.exchange(true)) {
            std::thread([&] { player->pause(); }).join();
        }
    });
    player->replaceCurrentItem(PlayerItem::create(movie_.string()));
    ASSERT_TRUE(RunLoop::runUntil([&] { return paused.load(); }, 30));
    RunLoop::runUntilIdle();
    EXPECT_EQ(player->rate(), 0.0f);
    EXPECT_EQ(player->timeControlStatus.get(), TCS::Paused);
}

TEST_F(PlayerConcurrencyTest, PicturesWhileOtherThreadsSeekAndReplaceTheItem) {
    auto player = std::make_shared<QueuePlayer>(std::vector{PlayerItem::create(movie_.string())});
    player->prepareVideo();
    player->play();
    ASSERT_TRUE(RunLoop::runUntil([&] { return player->timeControlStatus.get() == TCS::Playing; }));
    std::atomic<int> running{3};
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 30; ++i) {
                switch ((i + t) % 3) {
                    case 0:
                        player->seek(media::Time::makeWithSeconds(i % 4 * 0.5, 1000));
                        break;
                    case 1:
                        player->replaceCurrentItem(PlayerItem::create(movie_.string()));
                        break;
                    default:
                        (void)player->copyCurrentPicture(40, 30);
                        break;
                }
            }
            --running;
        });
    }
    // The main thread paints meanwhile, as a screen does.
    while (running > 0) {
        (void)player->currentPicture(80, 60);
        RunLoop::advance(0.05);
    }
    for (auto& thread : threads) {
        thread.join();
    }
    player->pause();
    ASSERT_TRUE(RunLoop::runUntil([&] {
        auto item = player->currentItem();
        return item && item->status.get() == PlayerItem::Status::ReadyToPlay;
    }));
    const auto picture = player->currentPicture(80, 60);
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->width(), 80);
    // Dropping the player stops and joins its decoder.
    player.reset();
    RunLoop::runUntilIdle();
}

}  // namespace
}  // namespace pelmar::av
