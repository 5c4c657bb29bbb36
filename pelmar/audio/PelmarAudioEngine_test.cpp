#include "pelmar/audio/PelmarAudioEngine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pelmar/audio/SpringboardData.h"
#include "pelmar/audio/testing/AudioTestApp.h"
#include "pelmar/audio/testing/WavFile.h"
#include "pelmar/platform/av/Player.h"
#include "pelmar/platform/av/PlayerItem.h"
#include "pelmar/platform/av/URLAsset.h"
#include "pelmar/platform/foundation/NotificationCenter.h"
#include "pelmar/platform/mediaplayer/NowPlayingInfoCenter.h"
#include "testing/TempDir.h"

namespace pelmar {
namespace {

using ::testing::ElementsAre;

// What a playPauseMediaFile completion was called with.
struct Answer {
    std::optional<std::string> previous;
    double time = -1;
};

class PelmarAudioEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"a.wav", "b.wav"}) {
            ASSERT_TRUE(test::writeWav(dir.path() / name, 1, 20 * 44100, 20 * 44100));
        }
        a = (dir.path() / "a.wav").string();
        b = (dir.path() / "b.wav").string();
    }

    // Asks the engine for `url`; the answers land in `answers`.
    void request(const std::string& url) {
        PelmarAudioEngine::sharedInstance()->playPauseMediaFile(
                url, Json::object(), 0, [this](std::optional<std::string> previous, double t) {
                    answers.push_back({std::move(previous), t});
                });
    }

    test::AudioTestApp app;
    test::TempDir dir;
    std::string a;
    std::string b;
    std::vector<Answer> answers;
};

TEST_F(PelmarAudioEngineTest, NewUrlsAnswerOncePlayingAndTheCurrentOneToggles) {
    auto engine = PelmarAudioEngine::sharedInstance();
    EXPECT_EQ(engine->durationInSeconds(), 0.0);
    request(a);
    EXPECT_TRUE(answers.empty());
    ASSERT_TRUE(app.runUntil([&] { return answers.size() == 1; }));
    EXPECT_EQ(answers[0].previous, std::nullopt);
    EXPECT_EQ(answers[0].time, 0.0);
    EXPECT_TRUE(engine->isPlaying());
    EXPECT_DOUBLE_EQ(engine->durationInSeconds(), 20.0);
    EXPECT_EQ(engine->currentPlayingItem(), a);

    app.settle();  // the item has loaded
    app.advance(3.0);
    request(a);  // the current URL: a pause, answered at once
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[1].previous, std::nullopt);
    EXPECT_DOUBLE_EQ(answers[1].time, 3.0);
    EXPECT_FALSE(engine->isPlaying());
    request(a);
    EXPECT_TRUE(engine->isPlaying());

    app.advance(1.0);
    request(b);
    ASSERT_TRUE(app.runUntil([&] { return answers.size() == 4; }));
    EXPECT_EQ(answers[3].previous, a);
    EXPECT_DOUBLE_EQ(answers[3].time, 4.0);
    EXPECT_EQ(engine->currentPlayingItem(), b);
    EXPECT_DOUBLE_EQ(engine->currentTimeInSeconds(), 0.0);
}

TEST_F(PelmarAudioEngineTest, OnlyTheLatestOfQuickRequestsIsPlayed) {
    auto engine = PelmarAudioEngine::sharedInstance();
    request(a);
    request(b);
    ASSERT_TRUE(app.runUntil([&] { return !answers.empty(); }));
    app.settle();
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(engine->currentPlayingItem(), b);
    EXPECT_EQ(std::dynamic_pointer_cast<av::URLAsset>(engine->player()->currentItem()->asset())
                      ->url(),
              b);
    EXPECT_TRUE(engine->isPlaying());
}

TEST_F(PelmarAudioEngineTest, SkipsSeekAndTheEndOfItsOwnItemIsPosted) {
    auto engine = PelmarAudioEngine::sharedInstance();
    std::vector<std::string> posted;
    auto& center = foundation::NotificationCenter::defaultCenter();
    auto ends =
            center.addObserver(std::string(kPlayerDidReachEnd),
                               [&](const foundation::Notification&) { posted.push_back("end"); });
    auto progress = center.addObserver(
            std::string(kMediaLoadProgress), [&](const foundation::Notification& n) {
                posted.push_back("loaded " + std::to_string(*n.objectAs<double>()));
            });
    request(a);
    ASSERT_TRUE(app.runUntil([&] { return answers.size() == 1; }));
    app.settle();
    EXPECT_THAT(posted, ElementsAre("loaded 100.000000"));

    app.advance(3.0);
    engine->skipDirection(SkipDirection::backward, 10, engine->currentTimeInSeconds());
    app.settle();
    EXPECT_DOUBLE_EQ(engine->currentTimeInSeconds(), 0.0);
    engine->skipDirection(SkipDirection::forward, 10, engine->currentTimeInSeconds());
    app.settle();
    EXPECT_DOUBLE_EQ(engine->currentTimeInSeconds(), 10.0);
    // Without now-playing information there is nothing to write the time into.
    EXPECT_FALSE(mediaplayer::NowPlayingInfoCenter::defaultCenter().nowPlayingInfo());

    // The end of another player's item is not the engine's.
    auto other = av::PlayerItem::create(b);
    center.post(av::kPlayerItemDidPlayToEndTimeNotification, other);
    EXPECT_THAT(posted, ElementsAre("loaded 100.000000"));

    bool seeked = false;
    engine->seekPlayerToTime(18.0, [&] { seeked = true; });
    ASSERT_TRUE(app.runUntil([&] { return seeked; }));
    app.advance(2.5);
    EXPECT_THAT(posted, ElementsAre("loaded 100.000000", "end"));
    EXPECT_DOUBLE_EQ(engine->currentTimeInSeconds(), 0.0);
    EXPECT_FALSE(engine->isPlaying());
    EXPECT_EQ(skipDirectionFromRawValue(-1.0), SkipDirection::backward);
    EXPECT_FALSE(skipDirectionFromRawValue(0.5));
}

TEST_F(PelmarAudioEngineTest, StallsAndTimeJumpsOfItsOwnItemBecomeItsNotifications) {
    auto engine = PelmarAudioEngine::sharedInstance();
    request(a);
    ASSERT_TRUE(app.runUntil([&] { return answers.size() == 1; }));
    app.settle();
    EXPECT_TRUE(
            mediaplayer::NowPlayingInfoCenter::defaultCenter().isReceivingRemoteControlEvents());
    app.advance(2.0);
    auto& center = foundation::NotificationCenter::defaultCenter();
    std::vector<std::string> heard;
    auto stalls =
            center.addObserver(std::string(kPlayerStalled), [&](const foundation::Notification& n) {
                const bool current =
                        n.objectAs<av::PlayerItem>() == engine->player()->currentItem();
                heard.push_back(current ? "stalled" : "stalled other");
            });
    auto jumps = center.addObserver(
            std::string(kPlayerTimeDidChange), [&](const foundation::Notification& n) {
                heard.push_back("time " + std::to_string(*n.objectAs<double>()));
            });
    const auto other = av::PlayerItem::create(b);
    for (const auto& item : {other, engine->player()->currentItem()}) {
        center.post("AVPlayerItemPlaybackStalledNotification", item);
        center.post(av::kPlayerItemTimeJumpedNotification, item);
    }
    EXPECT_THAT(heard, ElementsAre("stalled", "time 2.000000"));
}

TEST_F(PelmarAudioEngineTest, AnUnreadableUrlIsMadeCurrentWithoutALoadShare) {
    auto engine = PelmarAudioEngine::sharedInstance();
    int progress = 0;
    auto token = foundation::NotificationCenter::defaultCenter().addObserver(
            std::string(kMediaLoadProgress), [&](const foundation::Notification&) { ++progress; });
    const std::string missing = (dir.path() / "missing.wav").string();
    request(missing);
    ASSERT_TRUE(app.runUntil([&] { return answers.size() == 1; }));
    app.settle();
    EXPECT_EQ(engine->currentPlayingItem(), missing);
    EXPECT_EQ(engine->durationInSeconds(), 0.0);
    EXPECT_EQ(progress, 0);
}

TEST(SpringboardDataTest, DictionaryBecomesNowPlayingInformationAndTheTimeGoesOnlyIntoExistingOne) {
    test::AudioTestApp app;
    auto& center = mediaplayer::NowPlayingInfoCenter::defaultCenter();
    SpringboardData::updateLockScreenCurrentTime(4.0);
    EXPECT_FALSE(center.nowPlayingInfo());

    const Json dict = SpringboardData::springboardDictionary("Pelmar", "", 300, "Pelmar Title",
                                                             "/no/such/icon.png");
    EXPECT_EQ(dict.dump(), R"({"TitleKey":"Pelmar","AuthorKey":"","DurationKey":300,)"
                           R"("ListScreenTitle":"Pelmar Title","ImagePath":"/no/such/icon.png"})");
    SpringboardData::setupLockScreenElementsWithDictionary(dict);
    SpringboardData::updateLockScreenCurrentTime(4.5);
    app.settle();
    // An image that cannot be read leaves the artwork out.
    EXPECT_EQ(center.nowPlayingInfo()->dump(),
              R"({"title":"Pelmar","artist":"","playbackDuration":300,)"
              R"("podcastTitle":"Pelmar Title","elapsedPlaybackTime":4.5})");
}

}  // namespace
}  // namespace pelmar
