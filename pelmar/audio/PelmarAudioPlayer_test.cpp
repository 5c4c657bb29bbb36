#include "pelmar/audio/PelmarAudioPlayer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "pelmar/audio/PelmarAudioEngine.h"
#include "pelmar/audio/testing/AudioTestApp.h"
#include "pelmar/audio/testing/InkSpan.h"
#include "pelmar/audio/testing/WavFile.h"
#include "pelmar/platform/foundation/NotificationCenter.h"
#include "pelmar/platform/ui/Label.h"
#include "pelmar/platform/ui/Slider.h"
#include "pelmar/platform/ui/Snapshot.h"
#include "pelmar/player/testing/PlayerEventLog.h"
#include "testing/TempDir.h"

namespace pelmar {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class PelmarAudioPlayerTest : public ::testing::Test {
protected:
    // A player screen over two local 30-second files, shown and playing the first.
    std::shared_ptr<PelmarAudioPlayer> open() {
        std::vector<std::string> paths;
        for (const char* name : {"a.wav", "b.wav"}) {
            EXPECT_TRUE(test::writeWav(dir.path() / name, 1, 30 * 44100, 0));
            paths.push_back((dir.path() / name).string());
        }
        app.sdk()->setPlayerDelegate(events);
        auto screen = PelmarAudioPlayer::create(app.sdk(), paths);
        app.root()->present(screen, false);
        app.runUntil(
                [&] { return screen->isAppeared() && text(screen->statusLabel) == "Playing"; });
        app.settle();
        return screen;
    }

    // The delegate's calls since the last look.
    std::vector<std::string> fresh() {
        auto all = events->events();
        std::vector<std::string> result(all.begin() + static_cast<long>(seen), all.end());
        seen = all.size();
        return result;
    }

    static std::string text(const std::weak_ptr<ui::Label>& label) { return label.lock()->text(); }

    test::AudioTestApp app;
    test::TempDir dir;
    std::shared_ptr<test::PlayerEventLog> events = std::make_shared<test::PlayerEventLog>();
    size_t seen = 0;
};

TEST_F(PelmarAudioPlayerTest, TimeTextsInShortAndLongForm) {
    EXPECT_EQ(PelmarAudioPlayer::timeLabelString(5), "0:05");
    EXPECT_EQ(PelmarAudioPlayer::timeLabelString(754), "12:34");
    EXPECT_EQ(PelmarAudioPlayer::timeLabelString(3600), "60:00");
    EXPECT_EQ(PelmarAudioPlayer::longTimeString(3725), "01:02:05");
}

// Read off the painted pixels across the whole width of the screen: the status, the position,
// the play button and the row of controls all stand on the screen's middle.
TEST_F(PelmarAudioPlayerTest, TheStatusAndThePositionStandCentred) {
    auto screen = open();
    ASSERT_TRUE(screen);
    app.advance(3.0);
    app.settle();
    auto painted = ui::render(*screen->view(), 2);
    ASSERT_TRUE(painted);
    const double width = screen->view()->frame().width;
    const auto inkAcross = [&](const ui::Rect& frame) {
        return test::inkSpan(*painted, {0, frame.y, width, frame.height}, ui::Color::white());
    };
    const ui::Rect play = screen->playButtonView.lock()->frame();
    const auto button = test::inkSpan(*painted, play, ui::Color::white());
    const auto row = inkAcross(play);
    ASSERT_TRUE(button);
    ASSERT_TRUE(row);
    EXPECT_NEAR(button->middle(), width / 2, 1.0) << "the play button";
    EXPECT_NEAR(row->middle(), width / 2, 1.0) << "the row of controls";
    for (const auto& label : {screen->statusLabel.lock(), screen->durationLabel.lock()}) {
        SCOPED_TRACE(label->text());
        ASSERT_FALSE(label->text().empty());
        const auto ink = inkAcross(label->frame());
        ASSERT_TRUE(ink);
        EXPECT_NEAR(ink->middle(), width / 2, 2.0);
        EXPECT_NEAR(ink->middle(), button->middle(), 2.0) << "the text stands over the button";
    }
}

TEST_F(PelmarAudioPlayerTest, PositionsAreReportedRoundedToHundredthsOnceEach) {
    auto screen = open();
    ASSERT_TRUE(screen);
    fresh();
    screen->updateCurrentTimeLabel(59.999f);
    EXPECT_EQ(text(screen->currentTimeLabel), "0:59");
    EXPECT_EQ(text(screen->durationLabel), "00:00:59");
    screen->updateCurrentTimeLabel(60.001f);  // the same hundredth: nothing new to tell
    screen->updateCurrentTimeLabel(std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(text(screen->currentTimeLabel), "1:00");
    EXPECT_THAT(fresh(), ElementsAre("seek 60"));
}

TEST_F(PelmarAudioPlayerTest, TheSliderSeeksOnlyWhilePlaying) {
    auto screen = open();
    ASSERT_TRUE(screen);
    auto engine = PelmarAudioEngine::sharedInstance();
    screen->onPlayOrPause();
    ASSERT_FALSE(engine->isPlaying());
    screen->timeSlider.lock()->dragTo(12.0f);
    app.settle();
    EXPECT_DOUBLE_EQ(engine->currentTimeInSeconds(), 0.0);
    screen->onPlayOrPause();
    screen->timeSlider.lock()->dragTo(12.0f);
    app.settle();
    EXPECT_DOUBLE_EQ(engine->currentTimeInSeconds(), 12.0);
}

TEST_F(PelmarAudioPlayerTest, LoadSharesCountAsCompleteWhenTheyRoundToAHundred) {
    auto screen = open();
    ASSERT_TRUE(screen);
    fresh();
    auto& center = foundation::NotificationCenter::defaultCenter();
    for (double share : {50.0, 99.4, 99.99999, 100.0}) {
        center.post(kMediaLoadProgress, std::make_shared<double>(share));
    }
    center.post(kMediaLoadProgress);  // no share at all
    EXPECT_THAT(fresh(), ElementsAre("ready", "ready"));
}

TEST_F(PelmarAudioPlayerTest, EngineNotificationsFromAnotherThreadAreHandledOnTheMainThread) {
    auto screen = open();
    ASSERT_TRUE(screen);
    fresh();
    std::thread poster(
            [] { foundation::NotificationCenter::defaultCenter().post(kPlayerDidReachEnd); });
    poster.join();
    EXPECT_THAT(fresh(), IsEmpty());
    app.settle();
    const auto heard = fresh();
    EXPECT_NE(std::find(heard.begin(), heard.end(), "ended"), heard.end());
    EXPECT_TRUE(app.runUntil([&] { return screen->currentItemIndex() == 1; }));
}

TEST_F(PelmarAudioPlayerTest, ClosingWhileTheNextEntryIsPreparedLeavesNothingPlaying) {
    auto screen = open();
    ASSERT_TRUE(screen);
    auto engine = PelmarAudioEngine::sharedInstance();
    screen->onPlayNextItem();
    EXPECT_FALSE(engine->isPlaying());
    screen->onClose();
    app.settle();
    EXPECT_EQ(engine->currentPlayingItem(), screen->audioPaths()[1]);
    EXPECT_FALSE(engine->isPlaying());
    EXPECT_FALSE(screen->hasSliderTimer());
    EXPECT_EQ(fresh().back(), "cancelled");
    EXPECT_TRUE(app.expectFreedAfterDismiss(std::move(screen)));
}

TEST_F(PelmarAudioPlayerTest, AnEntryThatIsNotAURLShowsPausedAndTheNextStillPlays) {
    const auto wav = dir.path() / "b.wav";
    ASSERT_TRUE(test::writeWav(wav, 1, 5 * 44100, 0));
    app.sdk()->setPlayerDelegate(events);
    auto screen = PelmarAudioPlayer::create(app.sdk(), {"not a url://x y", wav.string()});
    app.root()->present(screen, false);
    ASSERT_TRUE(app.runUntil(
            [&] { return screen->isAppeared() && text(screen->statusLabel) == "Paused"; }, 3))
            << "status: " << text(screen->statusLabel);
    app.settle();
    auto engine = PelmarAudioEngine::sharedInstance();
    EXPECT_EQ(engine->currentPlayingItem(), "not a url://x y");
    EXPECT_FALSE(engine->isPlaying());
    EXPECT_EQ(engine->durationInSeconds(), 0.0);
    screen->onPlayNextItem();
    ASSERT_TRUE(app.runUntil([&] { return text(screen->statusLabel) == "Playing"; }));
    EXPECT_EQ(engine->currentPlayingItem(), wav.string());
    EXPECT_TRUE(engine->isPlaying());
}

TEST_F(PelmarAudioPlayerTest, AnEmptyListPlaysNothingAndCloses) {
    app.sdk()->setPlayerDelegate(events);
    auto screen = PelmarAudioPlayer::create(app.sdk(), {});
    app.root()->present(screen, false);
    app.settle();
    app.advance(0.5);  // the animated dismissal
    EXPECT_EQ(app.topViewController(), app.root());
    EXPECT_FALSE(PelmarAudioEngine::sharedInstance()->currentPlayingItem());
    EXPECT_THAT(fresh(), IsEmpty());
    EXPECT_TRUE(app.expectFreedAfterDismiss(std::move(screen)));
}

}  // namespace
}  // namespace pelmar
