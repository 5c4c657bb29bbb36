#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "pelmar/core/Pelmar.h"
#include "pelmar/platform/av/URLAsset.h"
#include "pelmar/platform/foundation/Console.h"
#include "pelmar/platform/foundation/NotificationCenter.h"
#include "pelmar/player/PelmarPlayer.h"
#include "pelmar/player/testing/PlayerEventLog.h"
#include "pelmar/player/testing/PlayerTestMovie.h"
#include "testing/App.h"

namespace pelmar {
namespace {

std::string urlOf(const std::shared_ptr<av::PlayerItem>& item) {
    const auto asset = std::dynamic_pointer_cast<av::URLAsset>(item->asset());
    return asset ? asset->url() : "";
}

void postEnd(const std::shared_ptr<av::PlayerItem>& item) {
    foundation::NotificationCenter::defaultCenter().post(
            av::kPlayerItemDidPlayToEndTimeNotification, item);
}

class PelmarPlayerIntegrationTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(test::PlayerTestMovie::shared().failure(), "");
        facade->setPlayerDelegate(events);
        // Items start loading once queued: a closed local port answers at once.
        facade->config().setCdnAPIUrl("http://127.0.0.1:9");
    }

    test::App app;
    // A facade with service objects; nothing here reaches the service.
    std::shared_ptr<Pelmar> facade = std::make_shared<Pelmar>("app-1");
    std::shared_ptr<test::PlayerEventLog> events = std::make_shared<test::PlayerEventLog>();
};

TEST_F(PelmarPlayerIntegrationTest, QueueHoldsTokensThenURLsAndPathsInOrder) {
    std::shared_ptr<PelmarPlayer> player;
    PelmarPlayer::createQueuePlayerWithAdditionalParams(
            facade, {"t1", "t2"},
            {"https://127.0.0.1:9/a.mp4", "http://bad host/b.mp4", "/local/c d.mp4"},
            Json{{"k", "v"}}, [&](std::shared_ptr<PelmarPlayer> made) { player = made; });
    ASSERT_TRUE(player) << "called back before returning";
    const auto items = player->items();
    ASSERT_EQ(items.size(), 4u);
    const std::string videos = facade->config().cdnAPIUrl() + "/v1/applications/app-1/videos/";
    EXPECT_EQ(urlOf(items[0]), videos + "t1/video.mp4");
    EXPECT_EQ(urlOf(items[1]), videos + "t2/video.mp4");
    EXPECT_EQ(urlOf(items[2]), "https://127.0.0.1:9/a.mp4");
    EXPECT_EQ(urlOf(items[3]), "file:///local/c%20d.mp4");

    std::shared_ptr<PelmarPlayer> empty;
    PelmarPlayer::createQueuePlayerWithAdditionalParams(
            facade, {}, {}, std::nullopt,
            [&](std::shared_ptr<PelmarPlayer> made) { empty = made; });
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->items().empty());
}

TEST_F(PelmarPlayerIntegrationTest, AnUnusableURLCallsBackWithNoPlayer) {
    int calls = 0;
    std::shared_ptr<PelmarPlayer> player = PelmarPlayer::create();
    PelmarPlayer::createPlayerWithAdditionalParams(facade, "", "http://bad host/x.mp4",
                                                   std::nullopt,
                                                   [&](std::shared_ptr<PelmarPlayer> made) {
                                                       ++calls;
                                                       player = made;
                                                   });
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(player, nullptr);
    std::shared_ptr<av::PlayerItem> item;
    PelmarPlayer::createPlayerItemWithAdditionalParams(
            facade, "", test::PlayerTestMovie::shared().path().string(), std::nullopt,
            [&](std::shared_ptr<av::PlayerItem> made) { item = made; });
    ASSERT_TRUE(item);
    EXPECT_EQ(urlOf(item), "file://" + test::PlayerTestMovie::shared().path().string());
}

TEST_F(PelmarPlayerIntegrationTest, TellsEventsOnceEachAndEndsOnceWithADismissalPerEnd) {
    auto item = av::PlayerItem::create(test::PlayerTestMovie::shared().path().string());
    const auto player = PelmarPlayer::create(facade, item);
    player->play();
    ASSERT_TRUE(app.runUntil([&] { return events->has("playing"); }));
    player->pause();
    player->play();
    app.settle();
    // Notices come before and after each change, so the state being left can be told too
    // (waiting counts as a seek); only an immediate repeat is held back.
    std::vector<std::string> told = events->events();
    ASSERT_GE(told.size(), 4u);
    EXPECT_EQ(std::count(told.begin(), told.end(), "ready"), 1);
    EXPECT_EQ(std::vector<std::string>(told.end() - 3, told.end()),
              (std::vector<std::string>{"playing", "paused", "playing"}));
    for (size_t i = 1; i < told.size(); ++i) {
        EXPECT_NE(told[i], told[i - 1]);
    }

    auto first = std::make_shared<ui::ViewController>();
    app.root()->present(first, false);
    app.settle();
    auto second = std::make_shared<ui::ViewController>();
    first->present(second, false);
    app.settle();
    // Another player's item ending is not this player's end.
    postEnd(av::PlayerItem::create(test::PlayerTestMovie::shared().path().string()));
    app.settle();
    EXPECT_FALSE(events->has("ended"));
    // Each end dismisses the screen on top then, on the main queue.
    postEnd(item);
    app.settle();
    app.advance(1.0);
    ASSERT_TRUE(app.runUntil([&] { return app.topViewController() == first; }));
    postEnd(item);
    app.settle();
    app.advance(1.0);
    ASSERT_TRUE(app.runUntil([&] { return app.topViewController() == app.root(); }));
    told = events->events();
    EXPECT_EQ(std::count(told.begin(), told.end(), "ended"), 1);
    EXPECT_EQ(player->beforeEvent(), "pelmarPlayerEnded");
}

TEST_F(PelmarPlayerIntegrationTest, SeeksWhilePlayingAreToldWithTheirTime) {
    const auto player = PelmarPlayer::create(
            facade, av::PlayerItem::create(test::PlayerTestMovie::shared().path().string()));
    player->play();
    ASSERT_TRUE(app.runUntil([&] { return events->has("playing"); }));
    player->seek(media::Time::makeWithSeconds(2.004, 1000));
    app.settle();
    player->seek(media::Time::makeWithSeconds(2.006, 1000));
    app.settle();
    EXPECT_TRUE(events->has("seek 2"));
    EXPECT_TRUE(events->has("seek 2.01"));
}

TEST_F(PelmarPlayerIntegrationTest, PlayersWithoutAFacadeTellNothing) {
    const auto player = PelmarPlayer::create(test::PlayerTestMovie::shared().path().string());
    ASSERT_EQ(player->items().size(), 1u);
    player->play();
    app.advance(1.0);
    app.settle();
    postEnd(player->items().front());
    app.settle();
    EXPECT_TRUE(events->events().empty());
    EXPECT_EQ(player->beforeEvent(), "");
}

TEST_F(PelmarPlayerIntegrationTest, AManyVideoPlayerWithoutTokensIsAnEmptyPlainQueue) {
    std::shared_ptr<av::QueuePlayer> player;
    PelmarPlayer::createPlayerForMultipleVideos(
            facade, {}, std::nullopt,
            [&](std::shared_ptr<av::QueuePlayer> made) { player = made; });
    ASSERT_TRUE(player);
    EXPECT_TRUE(player->items().empty());
    EXPECT_EQ(std::dynamic_pointer_cast<PelmarPlayer>(player), nullptr);
}

TEST_F(PelmarPlayerIntegrationTest, PlayWithAdsOnlyLogsTheRequest) {
    foundation::Console::Capture console;
    const auto player = PelmarPlayer::create(facade, PelmarPlayer::Items{});
    auto container = std::make_shared<ui::View>(ui::Rect{0, 0, 10, 20});
    player->playWithAds("https://ads/tag?a=1", container, app.root(), nullptr);
    ASSERT_EQ(console.lines().size(), 1u);
    EXPECT_EQ(console.lines()[0],
              "PELMAR_IMA: requestAds(adTagURLString: \"https://ads/tag?a=1\", "
              "playerContainer: "
                      + container->describe() + ", playerViewController: nil");
    EXPECT_TRUE(player->items().empty());
}

TEST_F(PelmarPlayerIntegrationTest, TokenPlayerCarriesASeed) {
    const auto player = PelmarPlayer::create(facade, std::string("vid-1"));
    ASSERT_EQ(player->items().size(), 1u);
    const std::string url = urlOf(player->items().front());
    EXPECT_NE(url.find("/videos/vid-1/video.mp4?seed="), std::string::npos) << url;
    EXPECT_NE(url, urlOf(PelmarPlayer::create(facade, std::string("vid-1"))->items().front()));
}

}  // namespace
}  // namespace pelmar
