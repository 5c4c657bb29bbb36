#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <iterator>
#include <memory>
#include <set>
#include <vector>

#include "pelmar/platform/av/ImageGenerator.h"
#include "pelmar/platform/av/Player.h"
#include "pelmar/platform/av/PlayerLayer.h"
#include "pelmar/platform/av/PlayerView.h"
#include "pelmar/platform/av/PlayerViewController.h"
#include "pelmar/platform/av/QueuePlayer.h"
#include "pelmar/platform/av/internal/PlaybackDecoder.h"
#include "pelmar/platform/av/testing/OffsetMovies.h"
#include "pelmar/platform/av/testing/ServedTestMovie.h"
#include "pelmar/platform/dispatch/RunLoop.h"
#include "pelmar/platform/dispatch/testing/MainLoopFixture.h"
#include "pelmar/platform/foundation/NotificationCenter.h"
#include "pelmar/platform/ui/Snapshot.h"
#include "testing/CountingMovie.h"
#include "testing/Matchers.h"
#include "testing/TempDir.h"

namespace pelmar::av {
namespace {

using dispatch::RunLoop;
using TCS = Player::TimeControlStatus;

// Real movies, on disk and from nginx (also throttled under "/slow/"), played on the manual
// clock. One nginx per test program.
class PlayerIntegrationTest : public dispatch::test::MainLoopFixture {
protected:
    static constexpr int64_t kSlowBytesPerSecond = 160 * 1024;

    static void SetUpTestSuite() {
        movie_ = std::make_unique<test::ServedTestMovie>(test::TestMovie{}, kSlowBytesPerSecond);
    }

    static void TearDownTestSuite() { movie_.reset(); }

    void SetUp() override {
        MainLoopFixture::SetUp();
        ASSERT_TRUE(movie_->failure().empty()) << movie_->failure();
    }

    static inline std::unique_ptr<test::ServedTestMovie> movie_;
};

TEST_F(PlayerIntegrationTest, LocalAndRemoteMoviesPlayToTheirEndInAQueue) {
    auto local = PlayerItem::create(movie_->path().string());
    auto remote = PlayerItem::create(movie_->url());
    auto player = std::make_shared<QueuePlayer>(std::vector{local, remote});
    player->play();
    ASSERT_TRUE(
            RunLoop::runUntil([&] { return player->timeControlStatus.get() == TCS::Playing; }, 30));
    EXPECT_NEAR(local->duration().seconds(), 5.0, 0.05);
    RunLoop::advance(local->duration().seconds());
    EXPECT_EQ(player->currentItem(), remote);
    // A remote item plays what has arrived: the clock waits until all of it has.
    ASSERT_TRUE(RunLoop::runUntil(
            [&] {
                return player->timeControlStatus.get() == TCS::Playing
                       && std::isinf(remote->loadedSeconds());
            },
            30));
    EXPECT_NEAR(remote->duration().seconds(), 5.0, 0.05);
    RunLoop::advance(remote->duration().seconds());
    EXPECT_TRUE(player->items().empty());
}

TEST_F(PlayerIntegrationTest, AThrottledItemLoadsAsItsBytesArriveAndStallsAtTheirEnd) {
    auto item = PlayerItem::create(movie_->url("/slow/movie.mp4"));
    std::vector<double> loaded;
    auto ranges = item->loadedTimeRanges.observe([&](const auto& change) {
        if (change.newValue && !change.newValue->empty()) {
            EXPECT_EQ(change.newValue->front().start.seconds(), 0.0);
            loaded.push_back(change.newValue->front().end().seconds());
        }
    });
    int stalls = 0;
    auto stalled = foundation::NotificationCenter::defaultCenter().addObserver(
            std::string(kPlayerItemPlaybackStalledNotification), item, [&] { ++stalls; });
    auto player = std::make_shared<Player>(item);
    player->play();
    ASSERT_TRUE(
            RunLoop::runUntil([&] { return player->timeControlStatus.get() == TCS::Playing; }, 30));
    ASSERT_FALSE(loaded.empty());
    const double duration = item->duration().seconds();
    ASSERT_LT(item->loadedSeconds(), duration) << "the first bytes, not the whole movie";
    EXPECT_EQ(stalls, 0);

    // The clock runs past what has arrived: playback waits at its end and says so once.
    RunLoop::advance(duration);
    EXPECT_EQ(stalls, 1);
    EXPECT_EQ(player->timeControlStatus.get(), TCS::WaitingToPlayAtSpecifiedRate);
    EXPECT_LT(player->currentTime().seconds(), duration);
    EXPECT_EQ(player->rate(), 1.0f);

    // The rest arrives, in steps, and playback goes on by itself to the end.
    ASSERT_TRUE(RunLoop::runUntil([&] { return std::isinf(item->loadedSeconds()); }, 30));
    EXPECT_GE(loaded.size(), 3u);
    EXPECT_TRUE(std::is_sorted(loaded.begin(), loaded.end()));
    EXPECT_NEAR(loaded.back(), duration, 1e-6);
    ASSERT_TRUE(
            RunLoop::runUntil([&] { return player->timeControlStatus.get() == TCS::Playing; }, 30));
    RunLoop::advance(duration);
    EXPECT_NEAR(player->currentTime().seconds(), duration, 1e-6);
    EXPECT_EQ(player->rate(), 0.0f);
    EXPECT_EQ(stalls, 1);
}

TEST_F(PlayerIntegrationTest, UnplayableSourcesFailTheirItem) {
    struct Case {
        const char* name;
        std::string url;
        long code;
    } cases[] = {
            {"missing file", (movie_->folder() / "none.mp4").string(), kAssetErrorNotFound},
            {"404", movie_->url("/none.mp4"), kAssetErrorNotFound},
    };

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto item = PlayerItem::create(c.url);
        auto player = std::make_shared<Player>(item);
        player->play();
        ASSERT_TRUE(RunLoop::runUntil(
                [&] { return item->status.get() == PlayerItem::Status::Failed; }, 30));
        RunLoop::runUntilIdle();
        EXPECT_THAT(item->error(), pelmar::test::IsError(kAssetErrorDomain, c.code));
        EXPECT_EQ(player->timeControlStatus.get(), TCS::Paused);
        EXPECT_FALSE(item->duration().isValid());
    }
}

TEST_F(PlayerIntegrationTest, LayerGivesThePictureAtThePlayersCurrentTime) {
    auto player = std::make_shared<Player>(movie_->path().string());
    PlayerLayer layer(player);
    EXPECT_FALSE(layer.isReadyForDisplay());
    player->play();
    ASSERT_TRUE(
            RunLoop::runUntil([&] { return player->timeControlStatus.get() == TCS::Playing; }, 30));
    EXPECT_TRUE(layer.isReadyForDisplay());
    RunLoop::advance(2.0);
    auto [image, error] = layer.copyCurrentImage(320, 320);
    ASSERT_TRUE(image) << error->message;
    EXPECT_EQ(image->width(), 320);
    EXPECT_EQ(image->height(), 180);
    ImageGenerator generator(movie_->path());
    generator.maximumWidth = 320;
    auto [atTwo, e2] = generator.copyImage(2.0);
    auto [atZero, e0] = generator.copyImage(0.0);
    ASSERT_TRUE(atTwo && atZero);
    const auto same = [](const image::Bitmap& a, const image::Bitmap& b) {
        return std::equal(a.row(90), a.row(90) + 320 * 4, b.row(90));
    };
    EXPECT_TRUE(same(*image, *atTwo));
    EXPECT_FALSE(same(*image, *atZero));

    PlayerLayer empty;
    EXPECT_THAT(empty.copyCurrentImage().second,
                pelmar::test::IsError(kAssetErrorDomain, kAssetErrorUnparsable));
}

TEST_F(PlayerIntegrationTest, SublayerPaintsThePictureCoveringItsFrameOnly) {
    auto player = std::make_shared<Player>(movie_->path().string());
    auto layer = std::make_shared<PlayerLayer>(player);
    layer->setVideoGravity(LayerVideoGravity::ResizeAspectFill);
    layer->setFrame({50, 50, 100, 100});
    auto view = std::make_shared<ui::View>(ui::Rect{0, 0, 200, 200});
    view->layer()->setBackgroundColor(ui::Color::white());
    view->layer()->addSublayer(layer);
    player->play();
    ASSERT_TRUE(
            RunLoop::runUntil([&] { return player->timeControlStatus.get() == TCS::Playing; }, 30));
    RunLoop::advance(1.0);
    auto shown = ui::render(*view);
    ASSERT_TRUE(shown);
    const auto white = [&](int x, int y) {
        const uint8_t* p = shown->pixel(x, y);
        return p[0] > 250 && p[1] > 250 && p[2] > 250;
    };
    EXPECT_TRUE(white(25, 100));
    EXPECT_TRUE(white(100, 175));
    // The 16:9 picture covers the whole square frame: its top and bottom rows are picture too.
    int lit = 0;
    for (int x = 52; x < 148; x += 8) {
        lit += white(x, 51) ? 0 : 1;
        lit += white(x, 148) ? 0 : 1;
    }
    EXPECT_GT(lit, 18);

    layer->removeFromSuperlayer();
    EXPECT_TRUE(view->layer()->sublayers().empty());
    auto gone = ui::render(*view);
    EXPECT_TRUE(gone && gone->pixel(100, 100)[0] > 250);
}

TEST_F(PlayerIntegrationTest, PlayerScreenShowsThePictureFittedInBlack) {
    auto screen = std::make_shared<PlayerViewController>();
    EXPECT_TRUE(screen->showsPlaybackControls);
    EXPECT_TRUE(screen->allowsPictureInPicturePlayback);
    EXPECT_FALSE(screen->entersFullScreenWhenPlaybackBegins);
    auto player = std::make_shared<Player>(movie_->path().string());
    screen->setPlayer(player);
    auto view = screen->view();
    ASSERT_EQ(screen->playerView(), view);
    EXPECT_EQ(screen->playerView()->player(), player);
    view->setFrame({0, 0, 320, 320});
    player->play();
    ASSERT_TRUE(
            RunLoop::runUntil([&] { return player->timeControlStatus.get() == TCS::Playing; }, 30));
    RunLoop::advance(1.0);
    auto shown = ui::render(*view);
    ASSERT_TRUE(shown);
    // 640x360 fitted into 320x320: bars of 70 points above and below the picture.
    const auto dark = [&](int x, int y) {
        const uint8_t* p = shown->pixel(x, y);
        return p[0] < 8 && p[1] < 8 && p[2] < 8;
    };
    EXPECT_TRUE(dark(160, 10));
    EXPECT_TRUE(dark(160, 310));
    int lit = 0;
    for (int x = 0; x < 320; x += 8) {
        lit += dark(x, 160) ? 0 : 1;
    }
    EXPECT_GT(lit, 20);
    const std::filesystem::path folder = PELMAR_SNAPSHOT_DIR;
    std::filesystem::create_directories(folder);
    EXPECT_FALSE(ui::snapshot(*view, folder / "PlayerViewController_playing.png"));
}

TEST_F(PlayerIntegrationTest, APaintedRemoteItemIsFetchedOnce) {
    // Its own name on the server, so that no other test's requests are counted.
    const auto served = movie_->server().root() / "painted.mp4";
    std::filesystem::copy_file(movie_->path(), served,
                               std::filesystem::copy_options::overwrite_existing);
    const auto size = static_cast<int64_t>(std::filesystem::file_size(served));
    {
        auto item = PlayerItem::create(movie_->url("/painted.mp4"));
        auto player = std::make_shared<Player>(item);
        auto view = std::make_shared<PlayerView>(ui::Rect{0, 0, 320, 180});
        view->setPlayer(player);
        player->play();
        ASSERT_TRUE(RunLoop::runUntil(
                [&] { return player->timeControlStatus.get() == TCS::Playing; }, 30));
        // Painted once per frame for two seconds, as a screen at 30 frames a second.
        std::shared_ptr<image::Bitmap> shown;
        for (int frame = 0; frame < 60; ++frame) {
            shown = ui::render(*view);
            ASSERT_TRUE(shown);
            RunLoop::advance(1.0 / 30);
        }
        const uint8_t* centre = shown->pixel(160, 90);
        EXPECT_GT(centre[0] + centre[1] + centre[2], 30) << "the picture came from the fetch";
        ASSERT_TRUE(RunLoop::runUntil([&] { return std::isinf(item->loadedSeconds()); }, 30));
    }
    const auto fetches = [](const std::vector<pelmar::test::NginxRequest>& requests) {
        std::vector<pelmar::test::NginxRequest> mine;
        std::copy_if(requests.begin(), requests.end(), std::back_inserter(mine),
                     [](const auto& r) { return r.uri == "/painted.mp4"; });
        return mine;
    };
    // Logged by nginx once the connection is done with.
    ASSERT_TRUE(movie_->server().WaitForRequests(
            [&](const auto& requests) { return !fetches(requests).empty(); }));
    const auto mine = fetches(movie_->server().requests());
    ASSERT_EQ(mine.size(), 1u);
    // The whole file from its first byte (asked for as the range "bytes=0-").
    EXPECT_THAT(mine.front().status, ::testing::AnyOf(200, 206));
    EXPECT_EQ(mine.front().bodyBytes, size);
}

// A movie whose every frame is its own flat colour (10 fps, a key frame each second), painted
// through a player view as a screen shows it.
class PlayerPictureIntegrationTest : public dispatch::test::MainLoopFixture {
protected:
    static constexpr int kRate = 10;
    static constexpr int kFrames = 40;

    static void SetUpTestSuite() {
        folder_ = std::make_unique<pelmar::test::TempDir>("player-pictures");
        movie_ = folder_->path() / "counting.mp4";
        pelmar::test::CountingMovie counting;
        counting.seconds = 4.0;
        counting.rate = kRate;
        counting.size = "160x120";
        counting.keyFrameInterval = kRate;
        made_ = counting.write(movie_).status == 0;
    }

    static void TearDownTestSuite() { folder_.reset(); }

    void SetUp() override {
        MainLoopFixture::SetUp();
        ASSERT_TRUE(made_);
        view_->setFrame({0, 0, 160, 120});
    }

    // Whether the painted view shows frame `index` of the movie (the painting is BGRA).
    ::testing::AssertionResult PaintsFrame(int index) {
        auto shown = ui::render(*view_);
        if (!shown) {
            return ::testing::AssertionFailure() << "nothing painted";
        }
        const auto expected = test::MovieProbe::pixel(movie_, index, 80, 60);
        if (!expected) {
            return ::testing::AssertionFailure() << "ffmpeg cannot decode frame " << index;
        }
        const uint8_t* got = shown->pixel(80, 60);
        const int rgb[3] = {got[2], got[1], got[0]};
        for (int c = 0; c < 3; ++c) {
            if (std::abs(rgb[c] - (*expected)[c]) > 4) {
                return ::testing::AssertionFailure()
                       << "channel " << c << " is " << rgb[c] << ", frame " << index << " has "
                       << (*expected)[c];
            }
        }
        return ::testing::AssertionSuccess();
    }

    void playUntilPlaying(Player& player) {
        player.play();
        ASSERT_TRUE(RunLoop::runUntil(
                [&] { return player.timeControlStatus.get() == TCS::Playing; }, 30));
    }

    static inline std::unique_ptr<pelmar::test::TempDir> folder_;
    static inline std::filesystem::path movie_;
    static inline bool made_ = false;
    std::shared_ptr<PlayerView> view_ = std::make_shared<PlayerView>();
};

TEST_F(PlayerPictureIntegrationTest, PlayingDecodesEachFrameOnceAndPaintsItAtItsTime) {
    auto player = std::make_shared<Player>(movie_.string());
    view_->setPlayer(player);
    playUntilPlaying(*player);
    const std::set<int> checked{0, 1, 9, 10, 26, 39};
    for (int frame = 0; frame < kFrames; ++frame) {
        SCOPED_TRACE(frame);
        if (checked.count(frame) != 0) {
            EXPECT_TRUE(PaintsFrame(frame));
        } else {
            ASSERT_TRUE(ui::render(*view_));
        }
        // Never more than the frame shown and the few decoded ahead of it.
        EXPECT_LE(player->videoFramesDecoded(),
                  frame + 2 + internal::PlaybackDecoder::kFramesAhead);
        RunLoop::advance(1.0 / kRate);
    }
    EXPECT_EQ(player->videoFramesDecoded(), kFrames);
    // Paused at the end, the last picture stays.
    RunLoop::advance(1.0);
    EXPECT_EQ(player->rate(), 0.0f);
    EXPECT_TRUE(PaintsFrame(kFrames - 1));
    EXPECT_EQ(player->videoFramesDecoded(), kFrames);
}

TEST_F(PlayerPictureIntegrationTest, SeekDecodesFromTheKeyFrameOnceThenGoesOnInOrder) {
    struct Case {
        const char* name;
        double from;
        double to;
    } cases[] = {
            {"forward past a key frame", 0.0, 2.5},
            {"backward", 3.2, 1.3},
    };

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto player = std::make_shared<Player>(movie_.string());
        view_->setPlayer(player);
        playUntilPlaying(*player);
        RunLoop::advance(c.from);
        ASSERT_TRUE(ui::render(*view_));
        player->pause();
        const int64_t before = player->videoFramesDecoded();
        bool done = false;
        player->seek(media::Time::makeWithSeconds(c.to, 1000), [&](bool) { done = true; });
        ASSERT_TRUE(RunLoop::runUntil([&] { return done; }, 30));
        const int target = static_cast<int>(std::lround(c.to * kRate));
        EXPECT_TRUE(PaintsFrame(target));
        // From the key frame at or before the time through it, and a few ahead; the count may
        // also hold the few that were being decoded ahead of the old time. Decoding from the
        // start of the movie, or once per paint, would count more.
        const int fromKey = target - target / kRate * kRate + 1;
        EXPECT_LE(player->videoFramesDecoded() - before,
                  fromKey + 2 * (internal::PlaybackDecoder::kFramesAhead + 1));
        // Paused, the picture stays; playing on, the next frames follow in order.
        EXPECT_TRUE(PaintsFrame(target));
        player->play();
        for (int next = target + 1; next <= target + 3; ++next) {
            RunLoop::advance(1.0 / kRate);
            EXPECT_TRUE(PaintsFrame(next));
        }
    }
}

TEST_F(PlayerPictureIntegrationTest, AQueuePlayedToItsEndKeepsTheLastPicture) {
    auto player = std::make_shared<QueuePlayer>(std::vector{PlayerItem::create(movie_.string())});
    view_->setPlayer(player);
    playUntilPlaying(*player);
    RunLoop::advance(1.0);
    EXPECT_TRUE(PaintsFrame(kRate));
    RunLoop::advance(5.0);
    ASSERT_TRUE(player->items().empty()) << "the queue advanced past its last item";
    EXPECT_TRUE(PaintsFrame(kFrames - 1));

    // A queue emptied by hand shows nothing any more.
    player->removeAllItems();
    auto shown = ui::render(*view_);
    ASSERT_TRUE(shown);
    EXPECT_LT(shown->pixel(80, 60)[1], 8);
}

template <typename Picture>
constexpr bool kHoldsADecodedFrame = requires(const Picture& picture) {
    picture.frame;
};

TEST(PlaybackDecoderPictureTest, AQueuedPictureHoldsItsBitmapAndNoDecodedFrame) {
    // A few pictures wait ahead of the one showing; a decoded frame kept with each (12 MB at 4K)
    // would multiply the memory of a playing movie.
    EXPECT_FALSE(kHoldsADecodedFrame<internal::PlaybackDecoder::Picture>);
}

// Movies whose first frame is not at timestamp zero, played on the manual clock and sought while
// playing and while paused: the pictures keep to the item's time, and a seek to or before the
// first picture decodes it once.
class PlayerTimeBaseIntegrationTest : public dispatch::test::MainLoopFixture {
protected:
    using Movies = test::OffsetMovies;

    static void SetUpTestSuite() {
        folder_ = std::make_unique<pelmar::test::TempDir>("player-time-base");
        made_ = movies_.write(folder_->path());
    }

    static void TearDownTestSuite() { folder_.reset(); }

    void SetUp() override {
        MainLoopFixture::SetUp();
        ASSERT_TRUE(made_);
    }

    // Whether the player's picture now is the frame due at its current time.
    static ::testing::AssertionResult ShowsTheFrameDue(Player& player, const Movies::Movie& movie) {
        const double now = player.currentTime().seconds();
        const int due = Movies::frameAt(movie, now);
        const auto picture = player.currentPicture(160, 120);
        if (!picture) {
            return ::testing::AssertionFailure() << "no picture at " << now << " s";
        }
        const auto expected = test::MovieProbe::pixel(movie.path, due, 80, 60);
        if (!expected) {
            return ::testing::AssertionFailure() << "ffmpeg cannot decode frame " << due;
        }
        const uint8_t* got = picture->pixel(80, 60);
        const int rgb[3] = {got[2], got[1], got[0]};
        for (int c = 0; c < 3; ++c) {
            if (std::abs(rgb[c] - (*expected)[c]) > 4) {
                return ::testing::AssertionFailure()
                       << "at " << now << " s channel " << c << " is " << rgb[c] << ", frame "
                       << due << " has " << (*expected)[c];
            }
        }
        return ::testing::AssertionSuccess();
    }

    static inline std::unique_ptr<pelmar::test::TempDir> folder_;
    static inline Movies movies_;
    static inline bool made_ = false;
};

TEST_F(PlayerTimeBaseIntegrationTest, PicturesFollowTheItemsTimeThroughSeeksPlayingAndPaused) {
    // Decoding from the key frame at or before a seek's time through it, and a few ahead.
    constexpr int kPerSeek = Movies::kRate + 2 * (internal::PlaybackDecoder::kFramesAhead + 1);
    for (const auto& movie : movies_.movies) {
        SCOPED_TRACE(movie.name);
        auto item = PlayerItem::create(movie.path.string());
        auto player = std::make_shared<Player>(item);
        player->prepareVideo();
        player->play();
        ASSERT_TRUE(RunLoop::runUntil(
                [&] { return player->timeControlStatus.get() == TCS::Playing; }, 30));
        // One time base: the duration and the pictures count from the same start.
        const double lead = movie.firstPictureAt;
        EXPECT_NEAR(item->duration().seconds(), Movies::kSeconds + lead, 0.05);

        int shown = 0;
        int seeks = 0;
        const auto step = [&](int frames) {
            for (int i = 0; i < frames; ++i) {
                EXPECT_TRUE(ShowsTheFrameDue(*player, movie));
                ++shown;
                RunLoop::advance(1.0 / Movies::kRate);
            }
        };
        const auto seekTo = [&](double seconds) {
            bool done = false;
            player->seek(media::Time::makeWithSeconds(seconds, 1000), [&](bool) { done = true; });
            ASSERT_TRUE(RunLoop::runUntil([&] { return done; }, 30));
            ++seeks;
            EXPECT_NEAR(player->currentTime().seconds(), seconds, 1e-6);
        };

        step(10);
        for (const bool playing : {true, false}) {
            SCOPED_TRACE(playing ? "playing" : "paused");
            if (!playing) {
                player->pause();
            }
            for (const double to : {0.0, 2.05, 0.0}) {
                SCOPED_TRACE(to);
                seekTo(to);
                // Paused, the same picture stays; playing, the next ones follow in order.
                step(6);
                EXPECT_LE(player->videoFramesDecoded(), shown + (seeks + 1) * kPerSeek);
            }
        }
        // Played on to the end: the last picture stays.
        player->play();
        RunLoop::advance(Movies::kSeconds + lead);
        EXPECT_EQ(player->rate(), 0.0f);
        EXPECT_TRUE(ShowsTheFrameDue(*player, movie));
        EXPECT_LE(player->videoFramesDecoded(), Movies::kFrames + (seeks + 1) * kPerSeek);
    }
}

}  // namespace
}  // namespace pelmar::av
