#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "pelmar/audio/PelmarAudioEngine.h"
#include "pelmar/audio/PelmarAudioPlayer.h"
#include "pelmar/audio/testing/AudioServiceApp.h"
#include "pelmar/audio/testing/WavFile.h"
#include "pelmar/core/Pelmar.h"
#include "pelmar/platform/av/Player.h"
#include "pelmar/platform/ui/ImageView.h"
#include "pelmar/platform/ui/Label.h"
#include "pelmar/platform/ui/Slider.h"
#include "pelmar/player/testing/PlayerEventLog.h"
#include "testing/TempDir.h"

namespace pelmar {
namespace {

using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

class PelmarAudioPlayerIntegrationTest : public ::testing::Test {
protected:
    void SetUp() override { app.facade->setPlayerDelegate(events); }

    // A WAV of `seconds` seconds of sound, served by the emulator; its token.
    std::string serve(const std::string& name, int seconds) {
        const auto path = dir.path() / name;
        EXPECT_TRUE(test::writeWav(path, 1, seconds * 44100, 0));
        return app.emulator.seedResource(test::MediaKind::Audio, "app-1", path).token;
    }

    // The player screen on top, once shown and playing its first entry.
    std::shared_ptr<PelmarAudioPlayer> shown() {
        app.settle();
        app.advance(0.5);  // the animated presentation
        auto screen = std::dynamic_pointer_cast<PelmarAudioPlayer>(app.topViewController());
        if (!screen || !waitPlaying(*screen)) {
            return nullptr;
        }
        return screen;
    }

    // Until the screen says "Playing" and all of the item has arrived, so that the clock can
    // play it through.
    bool waitPlaying(PelmarAudioPlayer& screen) {
        const auto player = PelmarAudioEngine::sharedInstance()->player();
        const bool playing = app.runUntil([&] {
            const auto item = player->currentItem();
            return text(screen.statusLabel) == "Playing" && item
                   && std::isinf(item->loadedSeconds());
        });
        app.settle();
        return playing;
    }

    std::vector<std::string> takeEvents() {
        auto all = events->events();
        std::vector<std::string> fresh(all.begin() + static_cast<long>(seen), all.end());
        seen = all.size();
        return fresh;
    }

    static std::string text(const std::weak_ptr<ui::Label>& label) { return label.lock()->text(); }

    static bool hidden(const std::weak_ptr<ui::View>& view) { return view.lock()->isHidden(); }

    test::AudioServiceApp app;
    test::TempDir dir;
    std::shared_ptr<test::PlayerEventLog> events = std::make_shared<test::PlayerEventLog>();
    size_t seen = 0;
};

TEST_F(PelmarAudioPlayerIntegrationTest, PlaysAServedListTogglesSkipsSeeksWrapsAndAdvances) {
    app.facade->startAudioPlayer(
            {serve("one.wav", 25), serve("two.wav", 15), serve("three.wav", 12)});
    auto screen = shown();
    ASSERT_TRUE(screen);
    auto engine = PelmarAudioEngine::sharedInstance();
    EXPECT_EQ(screen->modalPresentationStyle(), ui::ModalPresentationStyle::FullScreen);
    EXPECT_EQ(*engine->currentPlayingItem(), screen->audioPaths()[0]);
    EXPECT_TRUE(engine->currentPlayingItem()->ends_with("/audio.aac"));
    EXPECT_EQ(text(screen->totalTimeLabel), "0:25");
    EXPECT_FALSE(hidden(screen->beforeButtonView));
    EXPECT_FALSE(hidden(screen->nextButtonView));
    EXPECT_EQ(screen->playImageView.lock()->image()->name(), "pause-black");
    // Ready when the first answer comes, and again once the item has loaded whole (whichever
    // comes first).
    EXPECT_THAT(takeEvents(), UnorderedElementsAre("ready", "playing", "ready"));

    app.advance(3.0);
    EXPECT_EQ(text(screen->currentTimeLabel), "0:03");
    EXPECT_EQ(text(screen->durationLabel), "00:00:03");
    EXPECT_FLOAT_EQ(screen->timeSlider.lock()->value(), 3.0f);
    EXPECT_THAT(takeEvents(), ElementsAre("seek 1", "seek 2", "seek 3"));

    // Play/pause on the current entry toggles at once.
    app.tap(screen->playButtonView);
    EXPECT_EQ(text(screen->statusLabel), "Paused");
    app.tap(screen->playButtonView);
    EXPECT_EQ(text(screen->statusLabel), "Playing");
    EXPECT_THAT(takeEvents(), ElementsAre("ready", "paused", "ready", "playing"));

    // Back 10 s from 3 s stops at the start; forward goes to 10 s.
    app.tap(screen->rewindButtonView);
    app.settle();
    EXPECT_DOUBLE_EQ(engine->currentTimeInSeconds(), 0.0);
    app.tap(screen->forwardButtonView);
    app.settle();
    EXPECT_DOUBLE_EQ(engine->currentTimeInSeconds(), 10.0);

    // The slider seeks while playing.
    screen->timeSlider.lock()->dragTo(20.0f);
    app.settle();
    EXPECT_DOUBLE_EQ(engine->currentTimeInSeconds(), 20.0);
    takeEvents();

    // The end of the entry plays the next one.
    app.advance(5.5);
    ASSERT_TRUE(waitPlaying(*screen));
    EXPECT_EQ(screen->currentItemIndex(), 1);
    EXPECT_EQ(text(screen->totalTimeLabel), "0:15");
    const auto atEnd = takeEvents();
    EXPECT_NE(std::find(atEnd.begin(), atEnd.end(), "ended"), atEnd.end());
    EXPECT_TRUE(app.writeSnapshot(*screen->view(), "PelmarAudioPlayer_playing.png"));
    app.expectLooksRight(*screen->view());

    // Previous and next wrap around the list.
    struct Step {
        const char* name;
        void (PelmarAudioPlayer::*action)();
        int64_t index;
    };

    for (const Step& step : {Step{"previous", &PelmarAudioPlayer::onPlayBeforeItem, 0},
                             Step{"previous of the first", &PelmarAudioPlayer::onPlayBeforeItem, 2},
                             Step{"next of the last", &PelmarAudioPlayer::onPlayNextItem, 0}}) {
        SCOPED_TRACE(step.name);
        ((*screen).*step.action)();
        EXPECT_EQ(text(screen->statusLabel), "Loading");
        ASSERT_TRUE(waitPlaying(*screen));
        EXPECT_EQ(screen->currentItemIndex(), step.index);
        EXPECT_EQ(*engine->currentPlayingItem(),
                  screen->audioPaths()[static_cast<size_t>(step.index)]);
    }

    takeEvents();
    screen->onClose();
    EXPECT_FALSE(engine->isPlaying());
    EXPECT_FALSE(screen->hasSliderTimer());
    const auto closing = takeEvents();
    ASSERT_FALSE(closing.empty());
    EXPECT_EQ(closing.back(), "cancelled");
    app.advance(0.5);
    EXPECT_FALSE(screen->isObserving());
    EXPECT_FALSE(screen->hasSliderTimer());
    EXPECT_TRUE(app.expectFreedAfterDismiss(std::move(screen)));
}

TEST_F(PelmarAudioPlayerIntegrationTest, AOneEntryListHidesPreviousAndNextAndClosesAtTheEnd) {
    const auto path = dir.path() / "only.wav";
    ASSERT_TRUE(test::writeWav(path, 2, 4 * 44100, 0));
    app.facade->startAudioPlayer(Pelmar::AudioURLs{{path.string()}});
    auto screen = shown();
    ASSERT_TRUE(screen);
    EXPECT_TRUE(hidden(screen->beforeButtonView));
    EXPECT_TRUE(hidden(screen->nextButtonView));
    takeEvents();
    app.advance(4.5);
    app.settle();
    app.advance(0.5);  // the animated dismissal
    EXPECT_NE(app.topViewController(), screen);
    const auto atEnd = takeEvents();
    EXPECT_NE(std::find(atEnd.begin(), atEnd.end(), "ended"), atEnd.end());
    EXPECT_EQ(std::find(atEnd.begin(), atEnd.end(), "cancelled"), atEnd.end());
    EXPECT_FALSE(screen->hasSliderTimer());
    EXPECT_FALSE(screen->isObserving());
    EXPECT_TRUE(app.expectFreedAfterDismiss(std::move(screen)));
}

TEST_F(PelmarAudioPlayerIntegrationTest, EmptyListsOpenNothing) {
    app.facade->startAudioPlayer(std::vector<std::string>{});
    app.facade->startAudioPlayer(Pelmar::AudioURLs{});
    app.settle();
    EXPECT_EQ(app.topViewController(), app.root());
}

}  // namespace
}  // namespace pelmar
