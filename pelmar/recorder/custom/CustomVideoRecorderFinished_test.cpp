#include <gtest/gtest.h>

#include "pelmar/platform/app/AppLifecycle.h"
#include "pelmar/platform/av/CaptureDevice.h"
#include "pelmar/platform/av/testing/SyntheticMedia.h"
#include "pelmar/recorder/custom/CustomVideoRecorder.h"
#include "pelmar/recorder/testing/CustomRecorderApp.h"

// Custom recorder tests whose recordings go on to the export (decoding and encoding threads of
// their own), kept apart from the tests of the recorder's own threads.

namespace pelmar {
namespace {

using av::MediaType;

TEST(CustomVideoRecorderTest, TheCameraButtonStaysDisabledWithASingleCamera) {
    for (bool two : {false, true}) {
        SCOPED_TRACE(two ? "two cameras" : "one camera");
        test::CustomRecorderApp app;
        app.devices().addBackCamera().addMicrophone().setManualFeed(true);
        if (two) {
            app.devices().addFrontCamera();
        }
        app.permissions().grant(MediaType::Video).grant(MediaType::Audio);
        app.presentAndWaitUntilReady();
        EXPECT_EQ(app.recorder->cameraButton.lock()->isEnabled(), two);
        app.startRecording();
        app.feedFrame(0, 0.0);
        app.recorder->stopRecording();
        ASSERT_TRUE(app.runUntil([&] { return !app.recorder->getRecordedFile().empty(); }));
        app.settle();
        EXPECT_EQ(app.recorder->cameraButton.lock()->isEnabled(), two);
        EXPECT_TRUE(app.recorder->recordButton.lock()->isEnabled());
    }
}

TEST(CustomVideoRecorderTest, TheLimitStopsAtTheFrameWhosePresentationTimeReachesIt) {
    struct Case {
        const char* name;
        double limit;
        bool stopsAtFive;
    };

    const Case cases[] = {
            {"no limit", 0, false},
            {"negative limit", -1, false},
            {"limit of 5 s", 5, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::CustomRecorderApp app;
        app.standardDevices();
        app.devices().setManualFeed(true);
        app.makeRecorder()->setMaxRecordedDurationSeconds(c.limit);
        app.presentAndWaitUntilReady();
        app.startRecording();
        app.feedFrame(0, 10.0);
        app.feedFrame(1, 14.99);
        EXPECT_TRUE(app.recorder->isRecording());
        EXPECT_NEAR(app.recorder->duration(), 4.99, 1e-9);
        app.feedFrame(2, 15.0);
        EXPECT_EQ(app.recorder->isRecording(), !c.stopsAtFive);
        EXPECT_NEAR(app.recorder->duration(), 5.0, 1e-9);
        ASSERT_TRUE(app.recorder->currentCMTime());
        EXPECT_NEAR(app.recorder->currentCMTime()->seconds(), 15.0, 1e-9);
        app.feedFrame(3, 16.0);
        // Past the limit frames are neither written nor timed until the next recording.
        EXPECT_NEAR(app.recorder->duration(), c.stopsAtFive ? 5.0 : 6.0, 1e-9);
        app.recorder->stopRecording();
        ASSERT_TRUE(app.runUntil([&] { return !app.recorder->getRecordedFile().empty(); }));
        app.settle();
    }
}

TEST(CustomVideoRecorderTest, AStopTapOvertakenByTheLimitStartsNoNewRecording) {
    test::CustomRecorderApp app;
    app.standardDevices();
    app.devices().setManualFeed(true);
    app.makeRecorder()->setMaxRecordedDurationSeconds(1);
    app.presentAndWaitUntilReady();
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
    ASSERT_TRUE(app.runUntil([&] { return !app.recorder->getRecordedFile().empty(); }));
    app.drainSessionQueue();
    app.settle();
    EXPECT_FALSE(app.recorder->isRecording());
    EXPECT_TRUE(app.recorder->recordButton.lock()->isEnabled());
    EXPECT_FALSE(app.recorder->recordButton.lock()->isSelected());
}

TEST(CustomVideoRecorderTest, BetweenRecordingsTheDurationFollowsTheLastRecordingsFirstFrame) {
    test::CustomRecorderApp app;
    app.standardDevices();
    app.devices().setManualFeed(true);
    app.presentAndWaitUntilReady();
    app.startRecording();
    app.feedFrame(0, 2.0);
    app.feedFrame(1, 3.0);
    app.recorder->stopRecording();
    ASSERT_TRUE(app.runUntil([&] { return !app.recorder->getRecordedFile().empty(); }));
    app.settle();
    app.feedFrame(2, 7.5);
    EXPECT_NEAR(app.recorder->duration(), 5.5, 1e-9);
    EXPECT_NEAR(app.recorder->currentCMTime()->seconds(), 7.5, 1e-9);
}

}  // namespace
}  // namespace pelmar
