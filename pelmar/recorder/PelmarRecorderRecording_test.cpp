#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <future>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pelmar/platform/app/AppLifecycle.h"
#include "pelmar/platform/av/AssetWriter.h"
#include "pelmar/platform/av/testing/MovieProbe.h"
#include "pelmar/platform/av/testing/SyntheticMedia.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/dispatch/RunLoop.h"
#include "pelmar/platform/foundation/Sandbox.h"
#include "pelmar/platform/ui/TransitionContext.h"
#include "pelmar/recorder/PelmarRecorder.h"
#include "pelmar/recorder/internal/RecorderPipeline.h"
#include "pelmar/recorder/testing/RecorderApp.h"
#include "pelmar/recorder/testing/TemporaryFiles.h"

namespace pelmar {
namespace {

using dispatch::RunLoop;

using test::temporaryFiles;

// The host that heard recorderStarted hears recorderStopped too, with an empty path: no movie.
TEST(PelmarRecorderRecordingTest, AStopBeforeTheFirstFrameCancelsTheWriterAndReportsNoMovie) {
    test::RecorderApp app;
    app.readyWithManualFeed();
    app.startRecording();
    EXPECT_TRUE(app.events->has("started"));
    EXPECT_EQ(app::AppLifecycle::backgroundTaskCount(), 1);
    app.tap(app.recorder->recordButton);
    ASSERT_TRUE(app.runUntil([&] { return !app.recorder->isRecording(); }));
    app.drainSessionQueue();
    RunLoop::runUntilIdle();
    EXPECT_TRUE(app.events->has("stopped"));
    EXPECT_EQ(app.events->stoppedPath(), "");
    EXPECT_FALSE(app.events->has("submitted"));
    EXPECT_TRUE(temporaryFiles().empty());
    EXPECT_EQ(app::AppLifecycle::backgroundTaskCount(), 0);
    EXPECT_TRUE(app.recorder->recordButton.lock()->isEnabled());
    EXPECT_FALSE(app.recorder->recordButton.lock()->isSelected());
}

TEST(PelmarRecorderRecordingTest, TwoTapsInOneTurnStartOnlyOnce) {
    test::RecorderApp app;
    app.readyWithManualFeed();
    app.tap(app.recorder->recordButton);
    app.tap(app.recorder->recordButton);
    ASSERT_TRUE(app.runUntil([&] { return app.recorder->isRecording(); }));
    app.drainSessionQueue();
    RunLoop::runUntilIdle();
    EXPECT_TRUE(app.recorder->isRecording());
    EXPECT_EQ(app.loggedCount("movie recording toggle requested"), 1);
}

TEST(PelmarRecorderRecordingTest, APausedStopLeavesNothingBehindForTheNextRecording) {
    test::RecorderApp app;
    app.readyWithManualFeed();
    app.startRecording();
    app.feedFrame(0, 0.0);
    app.feedFrame(1, 1.0 / 30);
    app.tap(app.recorder->pauseButton);
    EXPECT_TRUE(app.recorder->isPaused());
    EXPECT_TRUE(app.recorder->pauseButton.lock()->isSelected());
    app.stopRecordingAndWait();
    EXPECT_FALSE(app.recorder->pauseButton.lock()->isEnabled());

    app.startRecording();
    EXPECT_FALSE(app.recorder->isPaused());
    EXPECT_FALSE(app.recorder->pauseButton.lock()->isSelected());
    app.feedFrame(2, 5.0);
    app.feedFrame(3, 5.0 + 1.0 / 30);
    EXPECT_TRUE(app.logged("session started with time 5.0333333"));
    EXPECT_NEAR(app.recorder->duration(), 1.0 / 30, 1e-9);
}

TEST(PelmarRecorderRecordingTest, AFrameWithoutAUsableTimeIsDroppedAndTimingCarriesOn) {
    test::RecorderApp app;
    app.readyWithManualFeed();
    app.startRecording();
    app.feedFrame(0, 0.0);
    auto untimed = av::test::SyntheticMedia::frame(360, 480, 1, 0)
                           ->copyWithNewTiming({{media::Time::invalid(), media::Time::invalid(),
                                                 media::Time::invalid()}});
    ASSERT_TRUE(app.videoOutput()->deliver(untimed));
    app.drainSessionQueue();
    EXPECT_EQ(app.recorder->duration(), 0.0);
    EXPECT_FALSE(app.logged("video sample buffer writing error"));
    app.feedFrame(2, 1.0 / 30);
    EXPECT_NEAR(app.recorder->duration(), 1.0 / 30, 1e-9);
}

TEST(PelmarRecorderRecordingTest, AnInfiniteLimitCountsUpLikeNoLimit) {
    test::RecorderApp app;
    app.readyWithManualFeed();
    app.recorder->setMaxRecordedDurationSeconds(std::numeric_limits<double>::infinity());
    app.startRecording();
    app.feedFrame(0, 0.0);
    app.feedFrame(1, 1.5);
    app.advance(1.0);
    RunLoop::runUntilIdle();
    EXPECT_TRUE(app.recorder->isRecording());
    EXPECT_EQ(app.recorder->recordingDurationLabel.lock()->text(), "00:01");
}

TEST(PelmarRecorderRecordingTest, AWriterThatCannotBeMadeReturnsToIdleWithoutAStartedCall) {
    test::RecorderApp app;
    app.readyWithManualFeed();
    // A file where the temporary folder should be: no movie can be made there.
    const auto tmp = foundation::Sandbox::temporaryDirectory();
    std::filesystem::remove_all(tmp);
    std::ofstream(tmp) << "not a folder";
    app.tap(app.recorder->recordButton);
    ASSERT_TRUE(
            app.runUntil([&] { return app.logged("could not create the movie asset writer"); }));
    app.drainSessionQueue();
    RunLoop::runUntilIdle();
    EXPECT_FALSE(app.recorder->isRecording());
    EXPECT_FALSE(app.events->has("started"));
    EXPECT_EQ(app::AppLifecycle::backgroundTaskCount(), 0);
    EXPECT_TRUE(app.recorder->recordButton.lock()->isEnabled());
    EXPECT_FALSE(app.recorder->pauseButton.lock()->isEnabled());
    std::filesystem::remove(tmp);
}

TEST(PelmarRecorderRecordingTest, TheLimitStopsTheRecordingAtTheFrameThatReachesIt) {
    test::RecorderApp app;
    app.readyWithManualFeed();
    app.recorder->setMaxRecordedDurationSeconds(1);
    app.startRecording();
    for (int i = 0; i <= 31 && !app.events->has("stopped"); ++i) {
        app.feedFrame(i, i / 30.0);
    }
    ASSERT_TRUE(app.runUntil([&] { return app.events->has("stopped"); }));
    EXPECT_FALSE(app.recorder->isRecording());
    EXPECT_NEAR(app.recorder->duration(), 1.0, 1e-9);
    EXPECT_EQ(app.loggedCount("movie recording toggle requested"), 1);  // the start only
}

TEST(PelmarRecorderRecordingTest, TheLimitMayBeSetWhileTheSessionQueueHandlesFrames) {
    test::RecorderApp app;
    app.readyWithManualFeed();
    app.startRecording();
    app.feedFrame(0, 0.0);
    // Set on the main thread while the session queue reads it for the frame just delivered.
    ASSERT_TRUE(app.videoOutput()->deliver(av::test::SyntheticMedia::frame(360, 480, 1, 0.5)));
    app.recorder->setMaxRecordedDurationSeconds(1);
    app.feedFrame(2, 2.0);
    ASSERT_TRUE(app.runUntil([&] { return app.events->has("stopped"); }));
    EXPECT_FALSE(app.recorder->isRecording());
}

TEST(PelmarRecorderRecordingTest, ANewRecordingTidiesAwayTheOneBeforeFirst) {
    test::RecorderApp app;
    app.readyWithManualFeed();
    const auto first = foundation::Sandbox::temporaryDirectory() / "first.mp4";
    const auto second = foundation::Sandbox::temporaryDirectory() / "second.mp4";
    std::ofstream(first) << std::string(100, 'x');
    std::ofstream(second) << std::string(100, 'x');
    // Too short to use: nothing follows, and the file stays for the host that was given it.
    app.recorder->processRecordedVideo(first.string(), Error{"writer", 1, "short"});
    app.settle();
    EXPECT_TRUE(std::filesystem::exists(first));
    app.recorder->processRecordedVideo(second.string(), Error{"writer", 1, "short"});
    app.settle();
    EXPECT_FALSE(std::filesystem::exists(first));
    EXPECT_TRUE(std::filesystem::exists(second));
    EXPECT_EQ(app::AppLifecycle::backgroundTaskCount(), 0);
}

TEST(PelmarRecorderRecordingTest, ABlurredPictureNeverGoesBackInTime) {
    test::App app;  // a sandbox of its own
    const auto folder = foundation::Sandbox::temporaryDirectory();
    recorder::internal::RecorderPipeline pipeline([](const std::string&) {});
    const auto movie = folder / "blurred.mp4";
    // A writer handed a picture that goes back in time may fail the whole movie. This one fails
    // at the third picture it is handed: only the two pictures in order may reach it.
    av::AssetWriter::failWritersAfterAppends(3);
    ASSERT_TRUE(pipeline.open(movie, 160, 120, nullptr));
    av::AssetWriter::failWritersAfterAppends(0);
    // The first camera frame starts the movie; with blur on, only pictures are written.
    auto placed = pipeline.place(true, av::test::SyntheticMedia::frame(160, 120, 0, 0.0));
    ASSERT_TRUE(placed);
    pipeline.writeVideo(*placed, true, 0);
    auto picture = [](int index) {
        return av::test::SyntheticMedia::frame(160, 120, index, 0)->imageBuffer();
    };
    const auto at = [](double seconds) {
        return media::Time::makeWithSeconds(seconds, 1000000000);
    };
    pipeline.writePicture(picture(1), at(0.10));
    pipeline.writePicture(picture(2), at(0.05));  // late: before the last written
    pipeline.writePicture(picture(3), at(0.10));  // late: at the last written
    pipeline.writePicture(picture(4), at(0.20));
    std::promise<std::optional<Error>> done;
    recorder::internal::finishMovie(
            pipeline.take(), [&](const std::optional<Error>& error) { done.set_value(error); });
    ASSERT_EQ(done.get_future().get(), std::nullopt);
    const auto probe = av::test::MovieProbe::probe(movie);
    ASSERT_TRUE(probe);
    EXPECT_EQ(probe->videoFrames, 2);
}

TEST(PelmarRecorderRecordingTest, AStopTapOvertakenByTheLimitStartsNoNewRecording) {
    test::RecorderApp app;
    app.readyWithManualFeed();
    app.recorder->setMaxRecordedDurationSeconds(1);
    app.startRecording();
    for (int i = 0; i < 30; ++i) {
        app.feedFrame(i, i / 30.0);
    }
    ASSERT_TRUE(app.recorder->isRecording());
    // The user taps stop, and before the main loop turns, the frame that reaches the limit is
    // handled on the session queue (delivered, then handled one block later).
    ASSERT_TRUE(app.tap(app.recorder->recordButton));
    ASSERT_TRUE(app.videoOutput()->deliver(av::test::SyntheticMedia::frame(360, 480, 30, 1.0)));
    for (int i = 0; i < 2; ++i) {
        app.recorder->sessionQueue()->sync([] {});
    }
    ASSERT_FALSE(app.recorder->isRecording());
    ASSERT_TRUE(app.runUntil([&] { return app.events->has("stopped"); }));
    app.drainSessionQueue();
    app.settle();
    EXPECT_FALSE(app.recorder->isRecording());
    const auto events = app.events->events();
    EXPECT_EQ(std::count(events.begin(), events.end(), "started"), 1);
    EXPECT_TRUE(app.recorder->recordButton.lock()->isEnabled());
    EXPECT_FALSE(app.recorder->recordButton.lock()->isSelected());
}

TEST(PelmarRecorderRecordingTest, ClosingTheScreenDiscardsARecordingUnderWay) {
    test::RecorderApp app;
    app.readyWithManualFeed();
    app.startRecording();
    app.feedFrame(0, 0.0);
    app.feedFrame(1, 1.0 / 30);
    EXPECT_EQ(temporaryFiles().size(), 1U);
    ASSERT_TRUE(app.tap(app.recorder->closeButton));
    // The presentation finishes, then the dismissal, each on the clock.
    app.advance(2 * ui::TransitionContext::kStandardDuration);
    ASSERT_TRUE(app.runUntil([&] { return app.events->has("cancelled"); }));
    app.drainSessionQueue();
    RunLoop::runUntilIdle();
    EXPECT_FALSE(app.recorder->isRecording());
    EXPECT_FALSE(app.events->has("stopped"));
    EXPECT_TRUE(temporaryFiles().empty());
    EXPECT_EQ(app::AppLifecycle::backgroundTaskCount(), 0);
}

TEST(PelmarRecorderRecordingTest, AdjustTimeShiftsPresentationAndDecodeTimes) {
    auto sample = av::test::SyntheticMedia::tone(44100 * 5);
    auto shifted = PelmarRecorder::adjustTime(sample, media::Time::make(2, 1));
    ASSERT_NE(shifted, nullptr);
    EXPECT_EQ(shifted->presentationTimeStamp(), media::Time::make(3, 1));
    EXPECT_FALSE(shifted->decodeTimeStamp().isValid());
    EXPECT_EQ(shifted->dataBuffer(), sample->dataBuffer());

    auto withDecode = sample->copyWithNewTiming(
            {{media::Time::make(1, 44100), media::Time::make(10, 1), media::Time::make(9, 1)}});
    auto both = PelmarRecorder::adjustTime(withDecode, media::Time::make(4, 1));
    EXPECT_EQ(both->presentationTimeStamp(), media::Time::make(6, 1));
    EXPECT_EQ(both->decodeTimeStamp(), media::Time::make(5, 1));

    EXPECT_EQ(PelmarRecorder::adjustTime(nullptr, media::Time::make(1, 1)), nullptr);
    EXPECT_EQ(PelmarRecorder::adjustTime(sample, media::Time()), nullptr);
}

}  // namespace
}  // namespace pelmar
