#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "pelmar/core/Pelmar.h"
#include "pelmar/core/PelmarConnect.h"
#include "pelmar/platform/ui/ModalPresentationStyle.h"
#include "pelmar/recorder/PelmarRecorder.h"
#include "pelmar/recorder/testing/RecorderApp.h"

namespace pelmar {
namespace {

// Calls `facade`'s record() (the App's by default) with `options` (none: the recorder options
// were never set) and returns the recorder it presented.
std::shared_ptr<PelmarRecorder> launch(test::RecorderApp& app,
                                       const std::optional<Json>& options,
                                       std::shared_ptr<Pelmar> facade = nullptr) {
    if (!facade) {
        facade = app.sdk();
    }
    app.standardDevices();
    app.devices().setManualFeed(true);
    if (options) {
        facade->setVideoRecorderConfig(options);
    }
    facade->record();
    app.recorder = app.find<PelmarRecorder>();
    app.settle();
    return app.recorder;
}

TEST(PelmarRecordLaunchesTest, RecordPresentsTheRecorderWithTheRecorderOptions) {
    struct Case {
        const char* name;
        Json options;
        CameraDevice camera;
        bool flipVisible;
        double maxSeconds;
        bool blur = false;
        bool faceOutline = false;
        bool coverShot = false;
        int64_t startDelay = 0;
    };

    const Case cases[] = {
            {"defaults", Json::object(), CameraDevice::rear, true, 0},
            {"front camera, no switch, 30 s",
             {{"facing", 1}, {"shouldDisableCameraSwitch", true}, {"maxDuration", 30}},
             CameraDevice::front,
             false,
             30},
            {"facing 2 is the rear camera", {{"facing", 2}}, CameraDevice::rear, true, 0},
            {"blur, face outline, cover shot, 5 s countdown",
             {{"blurMode", true},
              {"shouldShowFaceOutline", true},
              {"shouldEnableCoverShot", true},
              {"startDelay", 5}},
             CameraDevice::rear,
             true,
             0,
             true,
             true,
             true,
             5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::RecorderApp app;
        auto recorder = launch(app, c.options);
        ASSERT_NE(recorder, nullptr);
        EXPECT_EQ(app.topViewController(), recorder);
        EXPECT_EQ(recorder->modalPresentationStyle(), ui::ModalPresentationStyle::FullScreen);
        EXPECT_EQ(recorder->cameraDevice, c.camera);
        EXPECT_EQ(recorder->cameraFlipButtonVisible, c.flipVisible);
        EXPECT_EQ(recorder->cameraButton.lock()->isHidden(), !c.flipVisible);
        EXPECT_EQ(recorder->maxRecordedDurationSeconds(), c.maxSeconds);
        EXPECT_EQ(recorder->blurMode(), c.blur);
        EXPECT_EQ(recorder->showFaceOutline, c.faceOutline);
        EXPECT_EQ(recorder->coverSelectorEnabled, c.coverShot);
        EXPECT_EQ(recorder->startDelay, c.startDelay);
        // Always on from the facade.
        EXPECT_TRUE(recorder->recordedVideoPreviewEnabled);
        EXPECT_TRUE(recorder->showLightIndicator);
        EXPECT_TRUE(recorder->showSoundIndicator);
        EXPECT_EQ(recorder->session()->videoDevice()->position(),
                  c.camera == CameraDevice::front ? av::CaptureDevicePosition::Front
                                                  : av::CaptureDevicePosition::Back);
    }
}

TEST(PelmarRecordLaunchesTest, RecorderOptionsNeverSetGiveTheStartUpOptions) {
    test::RecorderApp app;
    auto recorder = launch(app, std::nullopt);
    ASSERT_NE(recorder, nullptr);
    // The start-up options differ from the dictionary setter's defaults in these.
    EXPECT_EQ(recorder->startDelay, 3);
    EXPECT_TRUE(recorder->showFaceOutline);
    EXPECT_FALSE(recorder->coverSelectorEnabled);
    EXPECT_FALSE(recorder->blurMode());
    EXPECT_EQ(recorder->cameraDevice, CameraDevice::rear);
    EXPECT_TRUE(recorder->cameraFlipButtonVisible);
    // No maximum duration among them: the recorder keeps its own (none, 0).
    EXPECT_EQ(recorder->maxRecordedDurationSeconds(), 0);
}

TEST(PelmarRecordLaunchesTest, AuthTokensInTheExtraArgumentsWinOverTheFacadesOwn) {
    struct Case {
        const char* name;
        std::optional<std::string> facadeToken;
        Json extra;
        std::optional<std::string> before;  // already in the HTTP client
        std::optional<std::string> expected;
    };

    const Case cases[] = {
            {"facade only", "facade", Json::object(), std::nullopt, "facade"},
            {"extra string wins", "facade", {{"client_auth", "extra"}}, std::nullopt, "extra"},
            {"extra number clears", "facade", {{"client_auth", 7}}, std::nullopt, std::nullopt},
            {"neither leaves it", std::nullopt, Json::object(), "earlier", "earlier"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::RecorderApp app;
        auto facade = std::make_shared<Pelmar>("app-token");
        if (c.facadeToken) {
            facade->setClientAuthToken(*c.facadeToken);
        }
        facade->connect()->setClientAuthToken(c.before);
        facade->setExtraArgsForRecorder(c.extra);
        launch(app, Json::object(), facade);
        EXPECT_EQ(facade->connect()->clientAuthToken(), c.expected);
        EXPECT_EQ(app.recorder->extraArgsForCreateVideo, c.extra);
    }
}

TEST(PelmarRecordLaunchesTest, TheServerTokenFollowsTheSameRules) {
    test::RecorderApp app;
    auto facade = std::make_shared<Pelmar>("app-token");
    facade->setServerAuthToken("facade");
    facade->setExtraArgsForRecorder({{"server_auth", "extra"}, {"client_auth", false}});
    facade->connect()->setClientAuthToken("earlier");
    launch(app, Json::object(), facade);
    EXPECT_EQ(facade->connect()->serverAuthToken(), "extra");
    EXPECT_EQ(facade->connect()->clientAuthToken(), std::nullopt);
}

}  // namespace
}  // namespace pelmar
