#include "pelmar/core/VideoRecorderConfig.h"

#include <gtest/gtest.h>

#include "pelmar/core/PelmarRecorderInterfaceConfig.h"

namespace pelmar {
namespace {

TEST(VideoRecorderConfigTest, DefaultEncodesEveryFieldInOrderWithNullMaxDuration) {
    EXPECT_EQ(VideoRecorderConfig().encode().dump(),
              R"({"isLiveStreaming":false,"blurMode":false,"shouldSendImmediately":true,)"
              R"("shouldDisableCameraSwitch":false,"shouldEnableCoverShot":false,"startDelay":3,)"
              R"("shouldAutoStartRecording":true,"videoQuality":0,"shouldShowFaceOutline":true,)"
              R"("facing":0,"maxDuration":null})");
}

TEST(VideoRecorderConfigTest, FullInitialiserStoresValuesUnchecked) {
    const VideoRecorderConfig config(true, true, false, true, true, false, false, -1, -5, 7, 30);
    EXPECT_EQ(config.facing, -1);
    EXPECT_EQ(config.startDelay, -5);
    EXPECT_EQ(config.videoQuality, 7);
    EXPECT_EQ(config.maxDuration, 30);
    EXPECT_TRUE(config.isLiveStreaming);
    EXPECT_FALSE(config.shouldSendImmediately);
    EXPECT_TRUE(config.shouldDisableCameraSwitch);
    EXPECT_EQ(config.encode()["maxDuration"], 30);
}

TEST(VideoRecorderConfigTest, InterfaceConfigsHoldTheirOwnButtonConfigs) {
    PelmarRecorderInterfaceConfig first;
    const PelmarRecorderInterfaceConfig second;
    first.recordButton.imagePath = "record.png";
    first.closeButton.scale = 2.0;
    EXPECT_FALSE(second.recordButton.imagePath.has_value());
    EXPECT_EQ(second.closeButton.scale, 1.0);
    EXPECT_FALSE(first.cameraFlipButton.width.has_value());
    EXPECT_FALSE(first.cameraFlipButton.selectedImagePath.has_value());
}

}  // namespace
}  // namespace pelmar
