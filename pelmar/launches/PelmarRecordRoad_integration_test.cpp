#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "pelmar/platform/app/AppLifecycle.h"
#include "pelmar/platform/av/testing/MovieProbe.h"
#include "pelmar/platform/dispatch/RunLoop.h"
#include "pelmar/platform/foundation/Sandbox.h"
#include "pelmar/platform/ui/Image.h"
#include "pelmar/platform/ui/TransitionContext.h"
#include "pelmar/recorder/PelmarRecordedVideoPreview.h"
#include "pelmar/recorder/PelmarRecorder.h"
#include "pelmar/recorder/testing/RecorderServiceApp.h"
#include "pelmar/recorder/testing/ResourcePictures.h"

namespace pelmar {
namespace {

using av::test::MovieProbe;
using dispatch::RunLoop;

constexpr double kFrame = 1.0 / 30;

// The whole road of a host app: record() with a one-second countdown and a three-second limit,
// a pause, the stop by the limit, the export, the preview and its play button; then upload or
// retake.
TEST(PelmarRecordRoadTest, RecordPreviewThenUploadOrRetake) {
    for (const bool upload : {true, false}) {
        SCOPED_TRACE(upload ? "upload" : "retake");
        test::RecorderServiceApp app;
        app.standardDevices();
        app.facade->setVideoRecorderConfig(Json{{"startDelay", 1}, {"maxDuration", 3}});
        app.facade->record();
        app.recorder = app.find<PelmarRecorder>();
        ASSERT_NE(app.recorder, nullptr);
        ASSERT_TRUE(app.runUntil([&] { return app.recorder->recordButton.lock()->isEnabled(); }));

        // Countdown: the label shows 1; a second later the delegate hears 0 and recording starts.
        ASSERT_TRUE(app.tap(app.recorder->recordButton));
        RunLoop::runUntilIdle();
        EXPECT_EQ(app.recorder->startDelayLabel.lock()->text(), "1");
        app.advanceCapture(1.0);
        ASSERT_TRUE(app.runUntil([&] { return app.events->has("started"); }));
        app.drainSessionQueue();

        // One second, a one-second pause, then on until the limit stops it.
        app.advanceCapture(1.0);
        ASSERT_TRUE(app.tap(app.recorder->pauseButton));
        app.advanceCapture(1.0);
        ASSERT_TRUE(app.tap(app.recorder->pauseButton));
        for (int i = 0; i < 150 && !app.events->has("stopped"); ++i) {
            app.advanceCapture(kFrame);
        }
        ASSERT_TRUE(app.runUntil([&] { return app.events->has("stopped"); }, 60));
        EXPECT_EQ(app.events->events(), (std::vector<std::string>{"ready", "countdown 0", "started",
                                                                  "submitted", "stopped"}));
        const auto temporary = *app.events->stoppedPath();
        const auto recorded = MovieProbe::probe(temporary);
        ASSERT_TRUE(recorded);
        EXPECT_EQ(recorded->videoCodec, "h264");
        EXPECT_EQ(recorded->width, 1080);
        EXPECT_EQ(recorded->height, 1920);
        EXPECT_EQ(recorded->audioCodec, "aac");
        EXPECT_EQ(recorded->sampleRate, 44100);
        EXPECT_EQ(recorded->channels, 2);
        // The recorded time without the pause, within one frame.
        EXPECT_NEAR(recorded->videoDuration, 3.0, kFrame + 1e-6);

        // The export is shown in the preview over the recorder.
        std::shared_ptr<PelmarRecordedVideoPreview> preview;
        ASSERT_TRUE(app.runUntil(
                [&] {
                    preview = std::dynamic_pointer_cast<PelmarRecordedVideoPreview>(
                            app.topViewController());
                    return preview != nullptr;
                },
                60));
        // The presentation ends on the clock; the player comes with the appearance.
        app.advance(ui::TransitionContext::kStandardDuration);
        app.settle();
        ASSERT_NE(preview->player(), nullptr);
        const auto exported = *preview->videoURL();
        EXPECT_EQ(exported.parent_path(), foundation::Sandbox::documentsDirectory());
        EXPECT_FALSE(app.recorder->session()->isRunning());  // covered: the session rests
        ASSERT_TRUE(app.tap(preview->playPauseButton));
        RunLoop::runUntilIdle();
        const auto shown = preview->playPauseButton.lock()->image(ui::ControlState::Normal);
        EXPECT_EQ(shown->name(), "pause-whte");
        // By its pixels too, once the picture ships: the name alone shows no picture.
        if (test::ResourcePictureShips("pause-whte")) {
            EXPECT_TRUE(test::ShowsResourcePicture(shown, "pause-whte"));
            EXPECT_FALSE(test::ShowsResourcePicture(shown, "play-white"));
        }
        app.advance(0.5);
        if (upload) {
            app.writeSnapshot(*app.window(), "PelmarRecordedVideoPreview_playing.png");
            app.expectLooksRight(*app.window(), /*pictures=*/1);
        }

        if (upload) {
            ASSERT_TRUE(app.tap(app.find<ui::Button>(
                    [](const ui::Button& b) { return b.title() == "Upload"; })));
            ASSERT_TRUE(
                    app.runUntil([&] { return app.uploads->count("uploadProcessed") == 1; }, 60));
            app.advance(1.0);
            app.settle();
            EXPECT_EQ(app.topViewController(), app.root());  // preview and recorder closed
            EXPECT_EQ(app.uploads->names(),
                      (std::vector<std::string>{"preparingToUpload", "uploadStarted",
                                                "uploadProgress", "uploadFinished",
                                                "uploadVerified", "uploadProcessed"}));
            EXPECT_FALSE(std::filesystem::exists(temporary));  // removed after the confirm
            ASSERT_EQ(app.emulator.uploads().size(), 1U);
            const auto sent = MovieProbe::probe(app.emulator.uploads()[0].storedFile);
            ASSERT_TRUE(sent);
            EXPECT_EQ(sent->videoCodec, "h264");
            EXPECT_EQ(sent->audioCodec, "aac");
            EXPECT_EQ(sent->sampleRate, 44100);
            EXPECT_EQ(sent->channels, 2);
            EXPECT_NEAR(sent->duration, 3.0, 0.1);
            EXPECT_EQ(app::AppLifecycle::backgroundTaskCount(), 0);
        } else {
            ASSERT_TRUE(app.tap(app.find<ui::Button>(
                    [](const ui::Button& b) { return b.title() == "Retake"; })));
            app.advance(1.0);
            app.settle();
            EXPECT_TRUE(app.events->has("rerecord"));
            EXPECT_FALSE(std::filesystem::exists(exported));
            EXPECT_FALSE(std::filesystem::exists(temporary));
            EXPECT_EQ(app.topViewController(), app.recorder);
            EXPECT_TRUE(app.emulator.uploads().empty());
            ASSERT_TRUE(app.runUntil([&] { return app.recorder->session()->isRunning(); }));
            ASSERT_TRUE(
                    app.runUntil([&] { return app.recorder->recordButton.lock()->isEnabled(); }));
            app.recorder->startDelay = 0;
            app.startRecording();  // records again
            EXPECT_EQ(app.events->events().back(), "started");
        }
    }
}

}  // namespace
}  // namespace pelmar
