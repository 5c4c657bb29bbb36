#include "pelmar/audio/AudioVisualizationView.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "pelmar/audio/testing/WavFile.h"
#include "pelmar/platform/dispatch/RunLoop.h"
#include "pelmar/platform/dispatch/testing/MainLoopFixture.h"
#include "pelmar/platform/foundation/Console.h"
#include "pelmar/platform/ui/RecordingContext.h"
#include "pelmar/platform/ui/Snapshot.h"
#include "pelmar/platform/ui/testing/Pixels.h"
#include "testing/TempDir.h"

namespace pelmar {
namespace {

using Mode = AudioVisualizationView::AudioVisualizationMode;
using ::testing::ElementsAre;
using ::testing::FloatNear;

class AudioVisualizationViewTest : public dispatch::test::MainLoopFixture {
protected:
    // `bars` bars of 3 + 2 points fit in the width.
    std::shared_ptr<AudioVisualizationView> makeView(int bars, Mode mode) {
        auto view = std::make_shared<AudioVisualizationView>(ui::Rect{0, 0, bars * 5.0, 100});
        view->audioVisualizationMode = mode;
        return view;
    }

    std::shared_ptr<AudioVisualizationView> recorded(int bars, const std::vector<float>& levels) {
        auto view = makeView(bars, Mode::write);
        for (float level : levels) {
            view->add(level);
        }
        return view;
    }
};

TEST_F(AudioVisualizationViewTest, ResamplesRecordedLevelsToOneValuePerBar) {
    struct Case {
        const char* name;
        int bars;
        std::vector<float> levels;
        std::vector<float> expected;
    };

    const std::vector<Case> cases = {
            // Means from the previous bar's level to this one's, boundaries shared.
            {"more levels than bars",
             5,
             {0, .1f, .2f, .3f, .4f, .5f, .6f, .7f, .8f, .9f},
             {0, .1f, .3f, .5f, .7f}},
            // Linear between neighbours; past the last level, the last level.
            {"fewer levels than bars", 5, {.2f, .6f}, {.2f, .36f, .52f, .6f, .6f}},
            {"as many levels as bars", 3, {.1f, .5f, .9f}, {.1f, .3f, .7f}},
            {"no bar fits", 0, {.5f, .5f}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto view = recorded(c.bars, c.levels);
        const int redraws = view->displayRequests();
        const auto values = view->scaleSoundDataToFitScreen();
        ASSERT_EQ(values.size(), c.expected.size());
        for (size_t i = 0; i < values.size(); ++i) {
            EXPECT_NEAR(values[i], c.expected[i], 1e-6) << i;
        }
        EXPECT_EQ(view->meteringLevelsClusteredArray(), values);
        EXPECT_EQ(view->displayRequests(), redraws + 1);
    }
}

TEST_F(AudioVisualizationViewTest, GivenLevelsAreDrawnOnlyWithoutARecordedHistory) {
    auto view = makeView(4, Mode::read);
    view->setMeteringLevels(std::vector<float>{.5f});
    EXPECT_TRUE(view->scaleSoundDataToFitScreen().empty());
    EXPECT_THAT(view->meteringLevelsClusteredArray(), ElementsAre(.5f));
    EXPECT_EQ(view->currentGradientPercentage, 0.0f);

    auto withHistory = recorded(2, {.2f, .4f, .6f, .8f});
    withHistory->audioVisualizationMode = Mode::read;
    withHistory->setMeteringLevels(std::vector<float>{1, 1, 1});
    EXPECT_THAT(withHistory->meteringLevelsClusteredArray(),
                ElementsAre(FloatNear(.2f, 1e-6), FloatNear(.4f, 1e-6)));
}

TEST_F(AudioVisualizationViewTest, DrawsTheNewestLevelsAsHalvesAroundTheMiddle) {
    // Seven levels, five bars: the last five, the newest at the right.
    auto view = recorded(5, {.1f, .2f, .3f, .4f, .5f, .6f, .8f});
    ui::RecordingContext context;
    view->draw(context);
    EXPECT_THAT(context.operations("fillRect"),
                ElementsAre("fillRect 0 35 3 15 r=2", "fillRect 0 50 3 15 r=2",
                            "fillRect 5 30 3 20 r=2", "fillRect 5 50 3 20 r=2",
                            "fillRect 10 25 3 25 r=2", "fillRect 10 50 3 25 r=2",
                            "fillRect 15 20 3 30 r=2", "fillRect 15 50 3 30 r=2",
                            "fillRect 20 10 3 40 r=2", "fillRect 20 50 3 40 r=2"));
    // The bars make one mask, and one gradient runs through it from the start colour at the left
    // edge to the end colour at the newest bar's right edge.
    EXPECT_THAT(context.operations("gradient"),
                ElementsAre("gradient 0 50 23 50 stops 0:0.196078 0.196078 0.196078 1 "
                            "1:0.392157 0.392157 0.392157 1"));
    const auto& ops = context.operations();
    const auto at = [&](const std::string& line) {
        return std::find(ops.begin(), ops.end(), line) - ops.begin();
    };
    EXPECT_LT(at("beginMask"), at("fillRect 0 35 3 15 r=2"));
    EXPECT_LT(at("fillRect 20 50 3 40 r=2"), at("endMask"));
    EXPECT_LT(at("endMask"), at(context.operations("gradient").front()));

    view->setMeteringLevelBarSingleStick(true);
    context.clear();
    view->draw(context);
    EXPECT_EQ(context.operations("fillRect").front(), "fillRect 0 35 3 30 r=2");

    auto empty = makeView(5, Mode::write);
    context.clear();
    empty->draw(context);
    EXPECT_TRUE(context.operations().empty());
}

// While recording, a history shorter than the row takes one bar per level from the left, and
// the gradient ends at the newest bar; the rest of the row stays empty until it fills.
TEST_F(AudioVisualizationViewTest, AShortHistoryInWriteModeFillsTheRowFromTheLeft) {
    auto view = recorded(10, {.2f, .4f, .6f});
    ui::RecordingContext context;
    view->draw(context);
    EXPECT_THAT(context.operations("fillRect"),
                ElementsAre("fillRect 0 40 3 10 r=2", "fillRect 0 50 3 10 r=2",
                            "fillRect 5 30 3 20 r=2", "fillRect 5 50 3 20 r=2",
                            "fillRect 10 20 3 30 r=2", "fillRect 10 50 3 30 r=2"));
    EXPECT_THAT(context.operations("gradient"),
                ElementsAre("gradient 0 50 13 50 stops 0:0.196078 0.196078 0.196078 1 "
                            "1:0.392157 0.392157 0.392157 1"));
    EXPECT_EQ(view->xLeftMostBar(), 10);
}

TEST_F(AudioVisualizationViewTest, PlaybackPaintsTheUnplayedPartInTheStartColour) {
    auto view = makeView(5, Mode::read);
    view->setMeteringLevels(std::vector<float>{.5f, .5f, .5f, .5f, .5f});
    view->currentGradientPercentage = 0.5f;  // played up to x = 12.5, inside the third bar
    view->setMeteringLevelBarSingleStick(true);
    ui::RecordingContext context;
    view->draw(context);
    const auto& ops = context.operations();
    // The gradient ends where playback is (x = 12.5, inside the third bar); the rest of the
    // bars, through the same mask, carry the start colour.
    EXPECT_THAT(context.operations("clip"), ElementsAre("clip 0 0 25 100 r=0"));
    ASSERT_GE(ops.size(), 4u);
    EXPECT_THAT(context.operations("gradient"),
                ElementsAre("gradient 0 50 12.5 50 stops 0:0.196078 0.196078 0.196078 1 "
                            "1:0.392157 0.392157 0.392157 1"));
    EXPECT_EQ(ops[ops.size() - 3], "fillColor 0.196078 0.196078 0.196078 1");
    EXPECT_EQ(ops[ops.size() - 2], "fillRect 12.5 0 12.5 100 r=0");
    EXPECT_EQ(context.operations("fillRect").size(), 6u);
}

// Painted, each bar shows the gradient running on inside it, and nothing shows between bars.
TEST_F(AudioVisualizationViewTest, OneContinuousGradientShowsThroughTheBars) {
    auto view = std::make_shared<AudioVisualizationView>(ui::Rect{0, 0, 120, 40});
    view->audioVisualizationMode = Mode::read;
    view->setMeteringLevelBarWidth(20);
    view->setMeteringLevelBarInterItem(20);
    view->setMeteringLevelBarCornerRadius(0);
    view->setGradientStartColor(ui::Color::black());
    view->setGradientEndColor(ui::Color::white());
    view->setMeteringLevels(std::vector<float>{1, 1, 1});
    view->currentGradientPercentage.reset();  // not playing
    auto host = std::make_shared<ui::View>(ui::Rect{0, 0, 120, 40});
    host->layer()->setBackgroundColor(ui::Color{1, 0, 0, 1});
    host->addSubview(view);
    auto painted = ui::render(*host);
    ASSERT_TRUE(painted);
    using ui::test::colorAt;
    // Bars at x 0..20, 40..60 and 80..100; the gradient runs from 0 to 100, the newest edge.
    const double leftOfBar = colorAt(*painted, 41, 20).green;
    const double rightOfBar = colorAt(*painted, 59, 20).green;
    EXPECT_NEAR(leftOfBar, 0.41, 0.03);
    EXPECT_NEAR(rightOfBar, 0.59, 0.03) << "the colour runs on inside a bar";
    EXPECT_TRUE(ui::test::looksLike(colorAt(*painted, 30, 20), ui::Color{1, 0, 0, 1}))
            << "the gaps stay clear";
}

TEST_F(AudioVisualizationViewTest, PlaybackAnimatesOverItsDurationAndPausesWhereItIs) {
    auto view = makeView(10, Mode::read);
    view->setMeteringLevels(std::vector<float>{.3f, .6f});
    view->play(1.0);
    dispatch::RunLoop::advance(0.5);
    ASSERT_TRUE(view->currentGradientPercentage);
    EXPECT_NEAR(*view->currentGradientPercentage, 0.5f, 0.051f);

    view->pause();
    const float paused = *view->currentGradientPercentage;
    dispatch::RunLoop::advance(1.0);
    EXPECT_EQ(view->currentGradientPercentage, paused);

    // A second play restarts the paused animation where it was.
    view->play(1.0);
    dispatch::RunLoop::advance(0.2);
    EXPECT_GT(*view->currentGradientPercentage, paused);
    dispatch::RunLoop::advance(1.0);
    EXPECT_FALSE(view->currentGradientPercentage);
    EXPECT_FALSE(view->hasAnimation());

    // After its end (or with nothing to animate) a pause has nothing to do.
    view->pause();
    view->stop();
    EXPECT_FALSE(view->currentGradientPercentage);
}

TEST_F(AudioVisualizationViewTest, CallsInTheWrongModeAreRefusedWithTheirText) {
    struct Case {
        const char* name;
        std::function<void(AudioVisualizationView&)> call;
        const char* text;
    };

    const std::vector<Case> cases = {
            {"add in read mode",
             [](AudioVisualizationView& v) {
                 v.audioVisualizationMode = Mode::read;
                 v.add(.5f);
             },
             "trying to populate audio visualization view in read mode"},
            {"play in write mode",
             [](AudioVisualizationView& v) {
                 v.audioVisualizationMode = Mode::write;
                 v.play(1.0);
             },
             "trying to read audio visualization in write mode"},
            {"play without levels",
             [](AudioVisualizationView& v) {
                 v.audioVisualizationMode = Mode::read;
                 v.play(1.0);
             },
             "trying to read audio visualization of non initialized sound record"},
            {"resume without a paused animation", [](AudioVisualizationView& v) { v.resume(); },
             "trying to resume audio visualization view when playing"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto view = makeView(5, Mode::read);
        try {
            c.call(*view);
            ADD_FAILURE() << "accepted";
        } catch (const std::logic_error& e) {
            EXPECT_STREQ(e.what(), c.text);
        }
    }
    EXPECT_EQ(AudioVisualizationView::modeFromRawValue(1), Mode::write);
    EXPECT_FALSE(AudioVisualizationView::modeFromRawValue(2));
}

TEST_F(AudioVisualizationViewTest, PlayingAFileShowsItsOutlineAndAnUnreadableFileChangesNothing) {
    test::TempDir dir;
    const auto path = dir.path() / "half.wav";
    ASSERT_TRUE(test::writeWav(path, 1, 3 * 44100, 22050));
    auto view = makeView(50, Mode::read);
    view->play(path);
    ASSERT_TRUE(dispatch::RunLoop::runUntil([&] { return view->hasAnimation(); }));
    ASSERT_TRUE(view->meteringLevels());
    EXPECT_EQ(view->meteringLevels()->size(), 100u);
    EXPECT_EQ(view->meteringLevels()->front(), 0.0f);
    EXPECT_EQ(view->meteringLevels()->back(), 1.0f);
    dispatch::RunLoop::advance(2.1);
    EXPECT_FALSE(view->hasAnimation());

    foundation::Console::Capture console;
    auto other = makeView(50, Mode::read);
    other->play(dir.path() / "missing.wav");
    ASSERT_TRUE(
            dispatch::RunLoop::runUntil([&] { return console.contains("Couldn't load asset: "); }));
    dispatch::RunLoop::runUntilIdle();
    EXPECT_FALSE(other->meteringLevels());
    EXPECT_FALSE(other->hasAnimation());
}

}  // namespace
}  // namespace pelmar
