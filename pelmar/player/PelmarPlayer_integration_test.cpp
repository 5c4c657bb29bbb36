#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "pelmar/core/Pelmar.h"
#include "pelmar/core/testing/ServiceFixture.h"
#include "pelmar/platform/av/URLAsset.h"
#include "pelmar/platform/dispatch/RunLoop.h"
#include "pelmar/platform/foundation/Console.h"
#include "pelmar/platform/foundation/Log.h"
#include "pelmar/platform/foundation/NotificationCenter.h"
#include "pelmar/player/PelmarPlayer.h"
#include "pelmar/player/testing/PlayerEventLog.h"
#include "pelmar/player/testing/PlayerTestMovie.h"
#include "pelmar/player/testing/SeededTestVideo.h"
#include "testing/App.h"
#include "testing/TempDir.h"

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

TEST_F(PelmarPlayerIntegrationTest, AtTheEndOfTheQueueThePauseIsToldBeforeTheEnd) {
    auto item = av::PlayerItem::create(test::PlayerTestMovie::shared().path().string());
    const auto player = PelmarPlayer::create(facade, item);
    player->play();
    ASSERT_TRUE(app.runUntil([&] { return events->has("playing"); }));
    app.advance(item->duration().seconds() + 0.5);
    ASSERT_TRUE(app.runUntil([&] { return events->has("ended"); }));
    app.settle();
    EXPECT_TRUE(player->items().empty());
    const std::vector<std::string> told = events->events();
    ASSERT_GE(told.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(told.end() - 3, told.end()),
              (std::vector<std::string>{"playing", "paused", "ended"}));
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

    // The text is parsed before it becomes an item: a service host that is no URL gives none.
    facade->config().setCdnAPIUrl("http://bad host");
    EXPECT_TRUE(PelmarPlayer::create(facade, std::string("vid-1"))->items().empty());
}

TEST_F(PelmarPlayerIntegrationTest, AnEmptyQueueHearsNoOtherItemsEnd) {
    const auto player = PelmarPlayer::create(facade, PelmarPlayer::Items{});
    auto screen = std::make_shared<ui::ViewController>();
    app.root()->present(screen, false);
    app.settle();
    postEnd(av::PlayerItem::create(test::PlayerTestMovie::shared().path().string()));
    app.settle();
    app.advance(1.0);
    app.settle();
    EXPECT_EQ(app.topViewController(), screen);
    EXPECT_TRUE(events->events().empty());
}

TEST_F(PelmarPlayerIntegrationTest, AnItemThatCannotPlayIsLogged) {
    pelmar::test::TempDir folder("unplayable");
    const auto text = folder.path() / "notes.txt";
    std::ofstream(text) << "These are notes, not a movie.\n";

    const struct {
        const char* name;
        std::string path;
    } cases[] = {{"missing file", (folder.path() / "gone.mp4").string()},
                 {"text file", text.string()}};

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        foundation::Log::Capture log;
        std::shared_ptr<PelmarPlayer> player;
        PelmarPlayer::createQueuePlayerWithAdditionalParams(
                facade, {}, {c.path}, std::nullopt,
                [&](std::shared_ptr<PelmarPlayer> made) { player = made; });
        ASSERT_TRUE(player);
        player->play();
        const std::string line = "PelmarPlayer: cannot play the item: ";
        ASSERT_TRUE(app.runUntil([&] { return log.contains(line); }));
        app.settle();
        EXPECT_EQ(log.lines().size(), 1u);
        EXPECT_TRUE(log.contains(c.path)) << "the line names the file";
        EXPECT_FALSE(events->has("ready"));
    }
}

// The token roads against the service emulator.
class PelmarPlayerServiceIntegrationTest : public test::ServiceFixture {
protected:
    void SetUp() override {
        ServiceFixture::SetUp();
        facade_->setPlayerDelegate(events_);
    }

    std::string seedVideo() {
        const std::string token = test::seedTestVideo(emulator_, kApp, sandbox_.root());
        EXPECT_FALSE(token.empty());
        return token;
    }

    std::string videoURL(const std::string& token) const {
        return emulator_.cdnApiBase() + "/v1/applications/" + kApp + "/videos/" + token
               + "/video.mp4";
    }

    std::shared_ptr<test::PlayerEventLog> events_ = std::make_shared<test::PlayerEventLog>();
};

TEST_F(PelmarPlayerServiceIntegrationTest, ManyVideosAreOnePlainQueueInTokenOrder) {
    const std::string first = seedVideo();
    const std::string second = seedVideo();
    std::shared_ptr<av::QueuePlayer> player;
    PelmarPlayer::createPlayerForMultipleVideos(
            facade_, {first, "vid-404", second}, Json{{"k", "v"}},
            test::onMainQueue([&](std::shared_ptr<av::QueuePlayer> made) { player = made; }));
    runUntil([&] { return player != nullptr; });
    EXPECT_EQ(std::dynamic_pointer_cast<PelmarPlayer>(player), nullptr);
    const auto items = player->items();
    ASSERT_EQ(items.size(), 3u) << "a video without a description still plays";
    const std::vector<std::string> tokens{first, "vid-404", second};
    for (size_t i = 0; i < items.size(); ++i) {
        SCOPED_TRACE(tokens[i]);
        const std::string url = urlOf(items[i]);
        EXPECT_EQ(url.rfind(videoURL(tokens[i]) + "?k=v&", 0), 0u) << url;
        EXPECT_NE(url.find("seed="), std::string::npos) << url;
    }
    // One description at a time, in token order.
    std::vector<std::string> asked;
    for (const auto& line : requestLines()) {
        for (const auto& token : tokens) {
            if (line.rfind("GET", 0) == 0 && line.find("/videos/" + token) != std::string::npos
                && line.find("video.mp4") == std::string::npos) {
                asked.push_back(token);
            }
        }
    }
    EXPECT_EQ(asked, tokens);
}

TEST_F(PelmarPlayerServiceIntegrationTest, AuthTokenFactoriesPutTheirTokenFirst) {
    const std::string token = seedVideo();

    const struct {
        const char* key;
        void (*make)(std::shared_ptr<Pelmar>,
                     const std::string&,
                     const std::string&,
                     PelmarPlayer::PlayerCallback);
    } cases[] = {{"client_auth", &PelmarPlayer::createPlayerWithClientAuthToken},
                 {"server_auth", &PelmarPlayer::createPlayerWithServerAuthToken}};

    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        std::shared_ptr<PelmarPlayer> player;
        c.make(facade_, token, "a+b",
               test::onMainQueue([&](std::shared_ptr<PelmarPlayer> made) { player = made; }));
        runUntil([&] { return player != nullptr; });
        ASSERT_EQ(player->items().size(), 1u);
        const std::string url = urlOf(player->items().front());
        EXPECT_EQ(url.rfind(videoURL(token) + "?" + c.key + "=a%2Bb&", 0), 0u) << url;
    }
}

TEST_F(PelmarPlayerServiceIntegrationTest, TheTokenPlayerTellsOnlyItsEnd) {
    const auto player = PelmarPlayer::create(facade_, seedVideo());
    ASSERT_EQ(player->items().size(), 1u);
    const auto item = player->items().front();
    player->play();
    runUntil([&] {
        return player->timeControlStatus.get() == av::Player::TimeControlStatus::Playing
               && std::isinf(item->loadedSeconds());
    });
    player->pause();
    player->play();
    dispatch::RunLoop::advance(item->duration().seconds() + 0.1);
    runUntil([&] { return events_->has("ended"); });
    EXPECT_EQ(events_->events(), std::vector<std::string>{"ended"});
    EXPECT_EQ(player->beforeEvent(), "pelmarPlayerEnded");
}

}  // namespace
}  // namespace pelmar
