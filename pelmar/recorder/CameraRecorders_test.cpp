// What the camera screen and the custom recorder do alike, tested once over both screens' test
// Apps.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <type_traits>

#include "pelmar/platform/app/AppLifecycle.h"
#include "pelmar/platform/av/AssetWriter.h"
#include "pelmar/platform/av/CaptureDevice.h"
#include "pelmar/platform/foundation/Sandbox.h"
#include "pelmar/recorder/testing/CustomRecorderApp.h"
#include "pelmar/recorder/testing/RecorderApp.h"

namespace pelmar {
namespace {

using av::MediaType;

template <class RecorderApp>
class CameraRecordersTest : public ::testing::Test {};

using RecorderApps = ::testing::Types<test::RecorderApp, test::CustomRecorderApp>;

class RecorderAppNames {
public:
    template <class T>
    static std::string GetName(int) {
        return std::is_same_v<T, test::RecorderApp> ? "CameraScreen" : "CustomRecorder";
    }
};

TYPED_TEST_SUITE(CameraRecordersTest, RecorderApps, RecorderAppNames);

TYPED_TEST(CameraRecordersTest,
           ASwitchFromACameraOfUnspecifiedPositionGoesBackAndKeepsTheOrientation) {
    // The rear camera asked for is missing: the recorder starts on the camera of no position.
    TypeParam app;
    app.devices().addDualCamera(av::CaptureDevicePosition::Unspecified).addFrontCamera();
    app.devices().addMicrophone();
    app.permissions().grant(MediaType::Video).grant(MediaType::Audio);
    app.devices().setManualFeed(true);
    app.presentAndWaitUntilReady();
    ASSERT_EQ(app.recorder->session()->videoDevice()->position(),
              av::CaptureDevicePosition::Unspecified);
    app.recorder->previewView.lock()->videoPreviewLayer()->connection()->setVideoOrientation(
            av::VideoOrientation::LandscapeLeft);
    ASSERT_TRUE(app.tap(app.recorder->cameraButton));
    app.drainSessionQueue();
    app.settle();
    EXPECT_NE(app.recorder->session()->videoDevice()->position(), av::CaptureDevicePosition::Front);
    const auto connection = app.videoOutput()->connection(MediaType::Video);
    EXPECT_FALSE(connection->isVideoMirrored());
    EXPECT_EQ(connection->videoOrientation(), av::VideoOrientation::LandscapeLeft);
    EXPECT_TRUE(app.recorder->cameraButton.lock()->isEnabled());
}

// After a writer that failed at its third frame: the camera screen logs each frame it could not
// write and reports the stop as the end of a recording ...
void expectAFailedRecording(test::RecorderApp& app) {
    EXPECT_EQ(app.loggedCount("video sample buffer writing error"), 1);
    EXPECT_EQ(app.loggedCount("movie asset writer failed"), 3);
    app.stopRecordingAndWait();
    EXPECT_TRUE(app.logged("Movie file finishing error: the writer was made to fail"));
    EXPECT_EQ(app.events->events().back(), "stopped");
    EXPECT_EQ(app::AppLifecycle::backgroundTaskCount(), 0);
}

// ... and the custom recorder keeps counting the time but exports no movie.
void expectAFailedRecording(test::CustomRecorderApp& app) {
    EXPECT_NEAR(app.recorder->duration(), 4 / 30.0, 1e-9);
    app.recorder->stopRecording();
    ASSERT_TRUE(app.runUntil([&] { return !app.recorder->getRecordedFile().empty(); }));
    ASSERT_TRUE(app.runUntil([&] { return app::AppLifecycle::backgroundTaskCount() == 0; }));
    app.drainSessionQueue();
    app.settle();
    av::AssetWriter::failWritersAfterAppends(0);
    std::error_code ec;
    EXPECT_TRUE(std::filesystem::is_empty(foundation::Sandbox::documentsDirectory(), ec));
    EXPECT_EQ(app.topViewController(), app.recorder);
    EXPECT_TRUE(app.recorder->recordButton.lock()->isEnabled());
}

TYPED_TEST(CameraRecordersTest, AWriterThatFailsMidwayEndsTheRecordingAsAFailure) {
    TypeParam app;
    app.standardDevices();
    app.devices().setManualFeed(true);
    av::AssetWriter::failWritersAfterAppends(2);
    app.presentAndWaitUntilReady();
    app.startRecording();
    for (int i = 0; i < 5; ++i) {
        app.feedFrame(i, i / 30.0);
    }
    expectAFailedRecording(app);
}

}  // namespace
}  // namespace pelmar
