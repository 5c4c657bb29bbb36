#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "pelmar/platform/av/testing/MovieProbe.h"
#include "pelmar/platform/dispatch/RunLoop.h"
#include "pelmar/platform/ui/Application.h"
#include "pelmar/recorder/PelmarRecorder.h"
#include "pelmar/recorder/testing/RecorderFixture.h"

namespace pelmar {
namespace {

using av::test::MovieProbe;
using dispatch::RunLoop;

constexpr double kFrame = 1.0 / 30;

class PelmarRecorderIntegrationTest : public test::RecorderFixture {
protected:
    std::optional<MovieProbe> probeRecording() {
        const auto path = events_->stoppedPath();
        if (!path) {
            ADD_FAILURE() << "no recording was reported";
            return std::nullopt;
        }
        EXPECT_TRUE(std::filesystem::exists(*path));
        EXPECT_EQ(std::filesystem::path(*path).extension(), ".mp4");
        return MovieProbe::probe(*path);
    }
};

TEST_F(PelmarRecorderIntegrationTest, RecordsPausesResumesAndWritesTheRecordedTimeOnly) {
    standardDevices();
    env().setAuthorizationStatus(av::MediaType::Video, av::AuthorizationStatus::NotDetermined)
            .setAuthorizationStatus(av::MediaType::Audio, av::AuthorizationStatus::NotDetermined);
    makeRecorder();
    present();
    ASSERT_TRUE(RunLoop::runUntil([&] { return recorder_->isSessionRunning(); }));
    EXPECT_EQ(recorder_->sessionQueue()->label(), "session queue");
    ASSERT_TRUE(RunLoop::runUntil([&] { return recorder_->recordButton.lock()->isEnabled(); }));

    startRecording();
    advanceCapture(2.0);
    recorder_->pauseButton.lock()->tap();
    ASSERT_TRUE(recorder_->isPaused());
    advanceCapture(1.0);
    recorder_->pauseButton.lock()->tap();
    ASSERT_FALSE(recorder_->isPaused());
    advanceCapture(1.0);
    stopRecordingAndWait();
    EXPECT_EQ(events_->events(),
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

TEST_F(PelmarRecorderIntegrationTest, AMaximumDurationStopsTheRecordingByItself) {
    standardDevices();
    makeRecorder();
    recorder_->maxRecordedDurationSeconds = 2;
    presentAndWaitUntilReady();
    startRecording();
    advanceCapture(2.5);
    ASSERT_TRUE(RunLoop::runUntil([&] { return events_->has("stopped"); }, 60));
    EXPECT_FALSE(recorder_->isRecording());
    // At the first frame handled while the writer had room, 2 s after the first one.
    EXPECT_NEAR(recorder_->duration(), 2.0, kFrame + 1e-6);

    const auto probe = probeRecording();
    ASSERT_TRUE(probe);
    EXPECT_NEAR(probe->videoDuration, 2.0, kFrame + 1e-3);
}

TEST_F(PelmarRecorderIntegrationTest, WithBlurOnOnlySegmentedFramesReachTheFile) {
    standardDevices();
    pelmar_->setThemeArgsForRecorder(Json{{"blur_effect", "true"}});
    makeRecorder();
    recorder_->segmentation()->setMarkerColor(0x00FF00);  // green outside the person
    presentAndWaitUntilReady();
    ASSERT_TRUE(recorder_->blurMode());
    // Each step waits for the segmentation too, so that no frame is dropped for being late.
    settled_ = [&] {
        const auto& segmentation = recorder_->segmentation();
        return segmentation->framesProcessed() + segmentation->framesDropped()
               >= recorder_->handledVideoSamples();
    };
    startRecording();
    advanceCapture(1.0);
    drainSessionQueue();
    stopRecordingAndWait();
    EXPECT_GT(recorder_->blurringPreviewView.lock()->imageUpdates(), 0);

    const auto probe = probeRecording();
    ASSERT_TRUE(probe);
    EXPECT_EQ(probe->videoCodec, "h264");
    EXPECT_GE(probe->videoFrames, 25);
    // 360 x 480 pictures fill 1080 x 1440 of the 1080 x 1920 frame; (30, 300) is outside the
    // person in the picture.
    for (int index :
         {0, static_cast<int>(probe->videoFrames / 2), static_cast<int>(probe->videoFrames - 1)}) {
        SCOPED_TRACE(index);
        const auto colour = MovieProbe::pixel(*events_->stoppedPath(), index, 30, 300);
        ASSERT_TRUE(colour);
        EXPECT_LT((*colour)[0], 60);
        EXPECT_GT((*colour)[1], 200);
        EXPECT_LT((*colour)[2], 60);
    }
}

TEST_F(PelmarRecorderIntegrationTest, ALandscapePreviewRecordsLandscape) {
    standardDevices();
    ui::Application::shared().setStatusBarOrientation(ui::InterfaceOrientation::LandscapeRight);
    presentAndWaitUntilReady();
    EXPECT_EQ(recorder_->videoWidth(), 1920);
    startRecording();
    advanceCapture(0.5);
    stopRecordingAndWait();
    const auto probe = probeRecording();
    ASSERT_TRUE(probe);
    EXPECT_EQ(probe->width, 1920);
    EXPECT_EQ(probe->height, 1080);
}

}  // namespace
}  // namespace pelmar
