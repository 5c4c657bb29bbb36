#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "pelmar/platform/av/testing/MovieProbe.h"
#include "pelmar/platform/av/testing/SyntheticMedia.h"
#include "pelmar/platform/dispatch/RunLoop.h"
#include "pelmar/recorder/PelmarRecorder.h"
#include "pelmar/recorder/testing/RecorderApp.h"

namespace pelmar {
namespace {

using av::test::MovieProbe;
using dispatch::RunLoop;

constexpr double kFrame = 1.0 / 30;

class PelmarRecorderIntegrationTest : public ::testing::Test {
protected:
    std::optional<MovieProbe> probeRecording() {
        const auto path = app.events->stoppedPath();
        if (!path) {
            ADD_FAILURE() << "no recording was reported";
            return std::nullopt;
        }
        EXPECT_TRUE(std::filesystem::exists(*path));
        EXPECT_EQ(std::filesystem::path(*path).extension(), ".mp4");
        return MovieProbe::probe(*path);
    }

    test::RecorderApp app;
};

TEST_F(PelmarRecorderIntegrationTest, RecordsPausesResumesAndWritesTheRecordedTimeOnly) {
    app.standardDevices();
    app.permissions().ask(av::MediaType::Video, true).ask(av::MediaType::Audio, true);
    app.makeRecorder();
    app.present();
    ASSERT_TRUE(app.runUntil([&] { return app.recorder->isSessionRunning(); }));
    EXPECT_EQ(app.recorder->sessionQueue()->label(), "session queue");
    ASSERT_TRUE(app.runUntil([&] { return app.recorder->recordButton.lock()->isEnabled(); }));

    app.startRecording();
    app.advanceCapture(2.0);
    app.tap(app.recorder->pauseButton);
    ASSERT_TRUE(app.recorder->isPaused());
    app.advanceCapture(1.0);
    app.tap(app.recorder->pauseButton);
    ASSERT_FALSE(app.recorder->isPaused());
    app.advanceCapture(1.0);
    app.stopRecordingAndWait();
    EXPECT_EQ(app.events->events(),
              (std::vector<std::string>{"ready", "started", "submitted", "stopped"}));

    const auto probe = probeRecording();
    ASSERT_TRUE(probe);
    EXPECT_EQ(probe->videoCodec, "h264");
    EXPECT_EQ(probe->width, 1080);
    EXPECT_EQ(probe->height, 1920);
    EXPECT_EQ(probe->audioCodec, "aac");
    EXPECT_EQ(probe->sampleRate, 44100);
    EXPECT_EQ(probe->channels, 2);
    // 4 s from the tap to the stop, 1 s of it paused.
    EXPECT_NEAR(probe->videoDuration, 3.0, kFrame + 1e-3);
    EXPECT_NEAR(probe->duration, 3.0, kFrame + 1e-3);
    EXPECT_NEAR(probe->audioDuration, probe->videoDuration, 0.05);
    EXPECT_NEAR(static_cast<double>(probe->videoFrames), 89, 1);
}

// The microphone runs before the camera's first frame of a recording arrives: that sound is not
// written, so the movie's sound starts with its picture.
TEST_F(PelmarRecorderIntegrationTest, SoundBeforeARecordingsFirstFrameIsNotWritten) {
    app.readyWithManualFeed();
    app.startRecording();
    for (int i = 0; i < 15; ++i) {  // half a second of sound with no picture
        app.feedAudio(av::test::SyntheticMedia::tone(i * 1470, 1470, 44100, 1));
    }
    for (int i = 0; i <= 30; ++i) {
        const double t = 0.5 + i / 30.0;
        app.feedFrame(i, t);
        app.feedAudio(
                av::test::SyntheticMedia::tone(static_cast<int64_t>(t * 44100), 1470, 44100, 1));
    }
    app.stopRecordingAndWait();
    const auto probe = probeRecording();
    ASSERT_TRUE(probe);
    EXPECT_NEAR(probe->videoDuration, 1.0, kFrame + 1e-3);
    EXPECT_GE(probe->audioStart, probe->videoStart - 1e-3);
    EXPECT_LT(probe->audioDuration, probe->videoDuration + 0.1);
}

TEST_F(PelmarRecorderIntegrationTest, AMaximumDurationStopsTheRecordingByItself) {
    app.standardDevices();
    app.makeRecorder();
    app.recorder->setMaxRecordedDurationSeconds(2);
    app.presentAndWaitUntilReady();
    app.startRecording();
    app.advanceCapture(2.5);
    ASSERT_TRUE(app.runUntil([&] { return app.events->has("stopped"); }, 60));
    EXPECT_FALSE(app.recorder->isRecording());
    // At the first frame handled while the writer had room, 2 s after the first one.
    EXPECT_NEAR(app.recorder->duration(), 2.0, kFrame + 1e-6);

    const auto probe = probeRecording();
    ASSERT_TRUE(probe);
    EXPECT_NEAR(probe->videoDuration, 2.0, kFrame + 1e-3);
}

TEST_F(PelmarRecorderIntegrationTest, WithBlurOnOnlySegmentedFramesReachTheFile) {
    app.standardDevices();
    app.makeRecorder();
    app.recorder->segmentation()->setMarkerColor(0x00FF00);  // green outside the person
    app.presentAndWaitUntilReady();
    ASSERT_TRUE(app.tap(app.recorder->blurringSwitch));
    ASSERT_TRUE(app.recorder->blurMode());
    app.drainSessionQueue();
    // Each step waits until every frame handed to the segmentation has had its picture offered
    // to the movie on the session queue, so the clock moves only once the segmentation is idle
    // and no frame is late.
    app.settled = [&] {
        return app.recorder->handledSegmentedPictures()
                       + app.recorder->segmentation()->framesDropped()
               == app.recorder->framesHandedToSegmentation();
    };
    app.startRecording();
    app.advanceCapture(1.0);
    app.drainSessionQueue();
    app.stopRecordingAndWait();
    EXPECT_GT(app.recorder->blurringPreviewView.lock()->imageUpdates(), 0);
    EXPECT_EQ(app.recorder->segmentation()->framesDropped(), 0);

    const auto probe = probeRecording();
    ASSERT_TRUE(probe);
    EXPECT_EQ(probe->videoCodec, "h264");
    EXPECT_GE(probe->videoFrames, 25);
    // 360 x 480 pictures fill 1080 x 1440 of the 1080 x 1920 frame; (30, 300) is outside the
    // person in the picture.
    for (int index :
         {0, static_cast<int>(probe->videoFrames / 2), static_cast<int>(probe->videoFrames - 1)}) {
        SCOPED_TRACE(index);
        const auto colour = MovieProbe::pixel(*app.events->stoppedPath(), index, 30, 300);
        ASSERT_TRUE(colour);
        EXPECT_LT((*colour)[0], 60);
        EXPECT_GT((*colour)[1], 200);
        EXPECT_LT((*colour)[2], 60);
    }
}

TEST_F(PelmarRecorderIntegrationTest, ALandscapePreviewRecordsLandscape) {
    app.standardDevices();
    app.window()->rotate(ui::InterfaceOrientation::LandscapeRight);
    app.presentAndWaitUntilReady();
    EXPECT_EQ(app.recorder->videoWidth(), 1920);
    app.startRecording();
    app.advanceCapture(0.5);
    app.stopRecordingAndWait();
    const auto probe = probeRecording();
    ASSERT_TRUE(probe);
    EXPECT_EQ(probe->width, 1920);
    EXPECT_EQ(probe->height, 1080);
}

}  // namespace
}  // namespace pelmar
