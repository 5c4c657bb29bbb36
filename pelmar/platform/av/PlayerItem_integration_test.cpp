#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "pelmar/platform/av/ImageGenerator.h"
#include "pelmar/platform/av/MutableComposition.h"
#include "pelmar/platform/av/Player.h"
#include "pelmar/platform/av/PlayerItem.h"
#include "pelmar/platform/av/PlayerItemLoader.h"
#include "pelmar/platform/av/QueuePlayer.h"
#include "pelmar/platform/av/URLAsset.h"
#include "pelmar/platform/av/internal/ByteCache.h"
#include "pelmar/platform/av/testing/ServedTestMovie.h"
#include "pelmar/platform/dispatch/RunLoop.h"
#include "pelmar/platform/dispatch/testing/MainLoopFixture.h"
#include "testing/TempDir.h"

namespace pelmar::av {
namespace {

using dispatch::RunLoop;
using TCS = Player::TimeControlStatus;
using pelmar::test::NginxRequest;

constexpr double kWait = 30;

// A remote item's bytes as nginx sent them: an 8 s, 4 MB movie with its index at the end (as
// cameras write it) and a 3 s one, served at 500 KB/s under "/slow/" and without ranges under
// "/noranges/". Each test serves its own copy, so that it counts only its own requests.
class PlayerItemRemoteTest : public dispatch::test::MainLoopFixture {
protected:
    static constexpr int64_t kBytesPerSecond = 500 * 1000;

    static void SetUpTestSuite() {
        test::TestMovie movie{8, 640, 360, 30, 30};
        movie.extraOptions = "-b:v 4M";
        movie.indexAtEnd = true;
        served_ = std::make_unique<test::ServedTestMovie>(movie, kBytesPerSecond);
        test::TestMovie small{3, 320, 180, 30, 30};
        small.extraOptions = "-b:v 1M";
        small.indexAtEnd = true;
        if (served_->failure().empty() && !small.make(served_->folder() / "small.mp4")) {
            failure_ = "cannot make the small movie";
        }
    }

    static void TearDownTestSuite() { served_.reset(); }

    void SetUp() override {
        MainLoopFixture::SetUp();
        ASSERT_TRUE(served_->failure().empty()) << served_->failure();
        ASSERT_TRUE(failure_.empty()) << failure_;
    }

    // Serves the big (or small) movie as "/<name>"; its size.
    static int64_t serve(const std::string& name, bool small = false) {
        const auto source = small ? served_->folder() / "small.mp4" : served_->path();
        std::filesystem::copy_file(source, served_->server().root() / name,
                                   std::filesystem::copy_options::overwrite_existing);
        return static_cast<int64_t>(std::filesystem::file_size(source));
    }

    static std::string url(const std::string& path) { return served_->url(path); }

    // The requests for `uri` nginx has answered, once every connection the test made is done:
    // a last request after they closed is logged after them.
    static std::vector<NginxRequest> requestsFor(const std::string& uri) {
        const std::string marker = "marker-" + std::to_string(++markers_) + ".txt";
        std::ofstream(served_->server().root() / marker) << "x";
        auto loader = PlayerItemLoader::start(url("/" + marker), nullptr);
        EXPECT_TRUE(served_->server().WaitForRequests([&](const auto& requests) {
            return std::any_of(requests.begin(), requests.end(),
                               [&](const auto& r) { return r.uri == "/" + marker; });
        }));
        std::vector<NginxRequest> mine;
        for (const auto& r : served_->server().requests()) {
            if (r.uri == uri) {
                mine.push_back(r);
            }
        }
        return mine;
    }

    static int64_t bodyBytes(const std::vector<NginxRequest>& requests) {
        return std::accumulate(requests.begin(), requests.end(), int64_t{0},
                               [](int64_t sum, const auto& r) { return sum + r.bodyBytes; });
    }

    // Waits until nothing holds `cache` (its fetch has ended and closed its connections).
    static bool released(const std::weak_ptr<internal::ByteCache>& cache) {
        return RunLoop::runUntil([&] { return cache.expired(); }, kWait);
    }

    static inline std::unique_ptr<test::ServedTestMovie> served_;
    static inline std::string failure_;
    static inline int markers_ = 0;
};

TEST_F(PlayerItemRemoteTest, AMovieWithItsIndexAtTheEndStartsAfterItsIndexAndFirstPictures) {
    const int64_t size = serve("start.mp4");
    std::weak_ptr<internal::ByteCache> cache;
    {
        auto item = PlayerItem::create(url("/slow/start.mp4"));
        auto player = std::make_shared<Player>(item);
        player->play();
        ASSERT_TRUE(RunLoop::runUntil([&] { return player->currentPicture(160, 90) != nullptr; },
                                      kWait));
        cache = item->fetchedBytes();
        // Dropped at the first picture: the fetch stops, and what it fetched is in the log.
    }
    ASSERT_TRUE(released(cache));
    const auto requests = requestsFor("/slow/start.mp4");
    ASSERT_FALSE(requests.empty());
    EXPECT_LT(bodyBytes(requests), size / 3)
            << "the index at the end and the first pictures, not the " << size << "-byte file";
    EXPECT_TRUE(std::any_of(requests.begin(), requests.end(), [&](const auto& r) {
        return r.range && std::atoll(r.range->c_str() + 6) > size / 2;
    })) << "the index was asked for by its range";
}

TEST_F(PlayerItemRemoteTest, ASeekFarAheadPlaysWithoutWaitingForTheBytesBetween) {
    const int64_t size = serve("seek.mp4");
    auto item = PlayerItem::create(url("/slow/seek.mp4"));
    auto player = std::make_shared<Player>(item);
    player->play();
    ASSERT_TRUE(RunLoop::runUntil([&] { return player->timeControlStatus.get() == TCS::Playing; },
                                  kWait));
    bool sought = false;
    player->seek(media::Time::makeWithSeconds(6.5, 600), [&](bool finished) { sought = finished; });
    // Painted meanwhile, as a screen does: the picture at 6.5 s is asked for.
    ASSERT_TRUE(RunLoop::runUntil(
            [&] {
                const bool painted = player->currentPicture(160, 90) != nullptr;
                return painted && sought && player->timeControlStatus.get() == TCS::Playing;
            },
            kWait));
    // Half a second more arrives from there and plays.
    ASSERT_TRUE(RunLoop::runUntil([&] { return item->loadedSecondsFrom(6.5) >= 7.1; }, kWait));
    RunLoop::advance(0.5);
    EXPECT_GE(player->currentTime().seconds(), 6.99) << "playing there, not stalled";
    const auto bytes = item->fetchedBytes();
    ASSERT_TRUE(bytes);
    EXPECT_LT(bytes->contiguous(), size * 6 / 10) << "the bytes between have not all arrived";
    const auto ranges = item->loadedTimeRanges.get();
    EXPECT_TRUE(std::any_of(ranges.begin(), ranges.end(), [](const auto& range) {
        return range.start.seconds() > 1 && range.start.seconds() <= 6.5
               && range.end().seconds() >= 7.1;
    })) << "a loaded range of its own from the seek on";
}

TEST_F(PlayerItemRemoteTest, AWholePlayFetchesEachByteOnce) {
    struct Case {
        const char* name;
        std::string path;
        bool ranges;
    };

    const std::vector<Case> cases = {
            {"a server with ranges", "/slow/once.mp4", true},
            {"a server without ranges", "/noranges/once.mp4", false},
    };
    const int64_t size = serve("once.mp4", true);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::weak_ptr<internal::ByteCache> cache;
        {
            auto item = PlayerItem::create(url(c.path));
            auto player = std::make_shared<Player>(item);
            player->play();
            ASSERT_TRUE(RunLoop::runUntil(
                    [&] { return player->timeControlStatus.get() == TCS::Playing; }, kWait));
            cache = item->fetchedBytes();
            ASSERT_TRUE(
                    RunLoop::runUntil([&] { return std::isinf(item->loadedSeconds()); }, kWait));
            RunLoop::advance(item->duration().seconds());
            EXPECT_EQ(player->rate(), 0.0f) << "played to its end";
        }
        ASSERT_TRUE(released(cache));
        const auto requests = requestsFor(c.path);
        const int64_t sent = bodyBytes(requests);
        EXPECT_GE(sent, size);
        // What was on its way when the fetch turned to the index is the only byte sent twice.
        EXPECT_LE(sent, size + size / 20);
        if (!c.ranges) {
            ASSERT_EQ(requests.size(), 1u) << "one front-to-back fetch";
            EXPECT_EQ(requests.front().status, 200);
        }
    }
}

TEST_F(PlayerItemRemoteTest, AQueueFetchesOnlyTheHeadsOfTheItemsAfterTheCurrentOne) {
    const int64_t size = serve("q1.mp4");
    serve("q2.mp4");
    serve("q3.mp4");
    std::vector<std::weak_ptr<internal::ByteCache>> caches;
    {
        std::vector<std::shared_ptr<PlayerItem>> items;
        for (const char* name : {"/slow/q1.mp4", "/slow/q2.mp4", "/slow/q3.mp4"}) {
            items.push_back(PlayerItem::create(url(name)));
        }
        auto player = std::make_shared<QueuePlayer>(items);
        ASSERT_TRUE(RunLoop::runUntil(
                [&] {
                    return std::all_of(items.begin(), items.end(), [](const auto& item) {
                        return item->status.get() == PlayerItem::Status::ReadyToPlay;
                    });
                },
                kWait));
        // The current item arrives whole although nothing plays; the others wait meanwhile.
        ASSERT_TRUE(
                RunLoop::runUntil([&] { return std::isinf(items[0]->loadedSeconds()); }, kWait));
        for (const auto& item : items) {
            caches.push_back(item->fetchedBytes());
        }
    }
    for (const auto& cache : caches) {
        ASSERT_TRUE(released(cache));
    }
    EXPECT_LE(bodyBytes(requestsFor("/slow/q1.mp4")), size + size / 20);
    for (const char* later : {"/slow/q2.mp4", "/slow/q3.mp4"}) {
        SCOPED_TRACE(later);
        EXPECT_LT(bodyBytes(requestsFor(later)), size / 4);
    }
}

TEST_F(PlayerItemRemoteTest, AnAssetOutlivesTheItemThatFetchedForItWithoutItsBytes) {
    serve("asset.mp4");
    // Dropped while its fetch is under way: the asset loads all the same, by itself.
    auto asset = URLAsset::create(url("/slow/asset.mp4"));
    PlayerItem::create(asset)->load();
    ASSERT_TRUE(RunLoop::runUntil(
            [&] {
                return asset->status() != Asset::Status::Unknown
                       && asset->status() != Asset::Status::Loading;
            },
            kWait));
    ASSERT_EQ(asset->status(), Asset::Status::Loaded)
            << (asset->error() ? asset->error()->message : "");
    auto again = PlayerItem::create(asset);
    again->load();
    ASSERT_TRUE(RunLoop::runUntil(
            [&] { return again->status.get() == PlayerItem::Status::ReadyToPlay; }, kWait));

    // Once loaded, the asset holds none of the bytes its item fetched.
    auto other = URLAsset::create(url("/slow/asset.mp4"));
    auto item = PlayerItem::create(other);
    item->load();
    ASSERT_TRUE(RunLoop::runUntil(
            [&] { return item->status.get() == PlayerItem::Status::ReadyToPlay; }, kWait));
    std::weak_ptr<internal::ByteCache> cache = item->fetchedBytes();
    ASSERT_FALSE(cache.expired());
    item.reset();
    EXPECT_TRUE(released(cache));
    EXPECT_EQ(other->status(), Asset::Status::Loaded);
}

TEST_F(PlayerItemRemoteTest, ACompositionOfARemoteMovieLoadsThroughItsCacheAndStallsAtItsEnd) {
    serve("composed.mp4");
    // As a subtitled video plays: the movie's video and audio tracks in a composition.
    auto movie = URLAsset::create(url("/slow/composed.mp4"));
    bool loaded = false;
    movie->loadValuesAsynchronously([&] { loaded = true; });
    ASSERT_TRUE(RunLoop::runUntil([&] { return loaded; }, kWait));
    ASSERT_EQ(movie->status(), Asset::Status::Loaded);
    auto composition = MutableComposition::create();
    const auto range = TimeRange::make(media::Time::zero(), movie->duration());
    for (auto type : {TrackMediaType::Video, TrackMediaType::Audio}) {
        ASSERT_FALSE(composition->addMutableTrack(type)->insertTimeRange(
                range, movie->tracks(type).front(), media::Time::zero()));
    }
    auto item = PlayerItem::create(composition);
    auto player = std::make_shared<Player>(item);
    player->play();
    ASSERT_TRUE(RunLoop::runUntil(
            [&] { return item->status.get() == PlayerItem::Status::ReadyToPlay; }, kWait));
    EXPECT_FALSE(std::isinf(item->loadedSeconds())) << "not loaded before its bytes arrive";
    ASSERT_TRUE(
            RunLoop::runUntil([&] { return player->currentPicture(160, 90) != nullptr; }, kWait));
    ASSERT_TRUE(item->fetchedBytes());
    EXPECT_GT(item->fetchedBytes()->stored(), 0) << "the decoder reads what the item fetches";
    RunLoop::advance(item->duration().seconds());
    EXPECT_EQ(player->timeControlStatus.get(), TCS::WaitingToPlayAtSpecifiedRate)
            << "stalled where its bytes end";
    EXPECT_LT(player->currentTime().seconds(), item->duration().seconds());
}

TEST_F(PlayerItemRemoteTest, AnItemLargerThanItsBoundFailsAndSaysSo) {
    serve("bound.mp4");
    auto item = PlayerItem::create(url("/bound.mp4"));
    item->setMaximumCacheBytes(1024 * 1024);
    item->load();
    ASSERT_TRUE(RunLoop::runUntil([&] { return item->status.get() == PlayerItem::Status::Failed; },
                                  kWait));
    ASSERT_TRUE(item->error());
    EXPECT_THAT(item->error()->message, ::testing::HasSubstr("cache limit of 1048576 bytes"));
    const auto bytes = item->fetchedBytes();
    ASSERT_TRUE(bytes);
    EXPECT_EQ(bytes->diskBytes(), 0);
}

// Media from a server whose certificate no authority signed, on every road a remote movie is
// opened by: the player item's fetch, the asset's own load, and a direct open of the movie.
class PlayerItemTlsTest : public dispatch::test::MainLoopFixture {};

TEST_F(PlayerItemTlsTest, AMovieFromAnUntrustedServerIsRefusedOnEveryRoad) {
    test::TestMovie movie{1, 160, 120, 10, 10};
    pelmar::test::TempDir folder("tls-movie");
    ASSERT_TRUE(movie.make(folder.path() / "movie.mp4"));
    pelmar::test::NginxHttpServer server;
    server.UseTLS();
    server.Start();
    std::filesystem::copy_file(folder.path() / "movie.mp4", server.root() / "movie.mp4");
    const std::string url = server.Url("/movie.mp4");
    ASSERT_THAT(url, ::testing::StartsWith("https://"));

    auto item = PlayerItem::create(url);
    item->load();
    ASSERT_TRUE(RunLoop::runUntil([&] { return item->status.get() != PlayerItem::Status::Unknown; },
                                  kWait));
    EXPECT_EQ(item->status.get(), PlayerItem::Status::Failed);
    ASSERT_TRUE(item->error());
    EXPECT_THAT(item->error()->message, ::testing::HasSubstr("certificate"));

    auto asset = URLAsset::create(url);
    bool loaded = false;
    asset->loadValuesAsynchronously([&] { loaded = true; });
    ASSERT_TRUE(RunLoop::runUntil([&] { return loaded; }, kWait));
    EXPECT_EQ(asset->status(), Asset::Status::Failed);

    const auto [picture, error] = ImageGenerator(url).copyImage(0.0);
    EXPECT_FALSE(picture);
    EXPECT_TRUE(error);
}

TEST_F(PlayerItemRemoteTest, ARemotePlaylistCannotOpenALocalFile) {
    pelmar::test::TempDir local("private-recording");
    const auto recording = local.path() / "private-recording.ts";
    const std::string command = "ffmpeg -nostdin -v error -y -i '" + served_->path().string()
                                + "' -t 2 -c copy -f mpegts '" + recording.string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::ofstream(served_->server().root() / "list.m3u8")
            << "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:2\n#EXT-X-MEDIA-SEQUENCE:0\n"
            << "#EXTINF:2.0,\nfile://" << recording.string() << "\n#EXT-X-ENDLIST\n";
    const std::string playlist = url("/list.m3u8");

    // Through the item's byte cache, and through the asset's own load.
    auto item = PlayerItem::create(playlist);
    item->load();
    ASSERT_TRUE(RunLoop::runUntil([&] { return item->status.get() != PlayerItem::Status::Unknown; },
                                  kWait));
    EXPECT_EQ(item->status.get(), PlayerItem::Status::Failed);

    auto asset = URLAsset::create(playlist);
    bool loaded = false;
    asset->loadValuesAsynchronously([&] { loaded = true; });
    ASSERT_TRUE(RunLoop::runUntil([&] { return loaded; }, kWait));
    EXPECT_EQ(asset->status(), Asset::Status::Failed);
    EXPECT_TRUE(asset->tracks().empty());
}

}  // namespace
}  // namespace pelmar::av
