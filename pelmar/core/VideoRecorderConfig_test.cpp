#include "pelmar/core/VideoRecorderConfig.h"

#include <gtest/gtest.h>

namespace pelmar {
namespace {

TEST(VideoRecorderConfigTest, DefaultEncodesEveryFieldInOrderWithNullMaxDuration) {
    EXPECT_EQ(VideoRecorderConfig().encode().dump(),
              R"({"isLiveStreaming":false,"blurMode":false,"shouldSendImmediately":true,)"
              R"("shouldDisableCameraSwitch":false,"shouldEnableCoverShot":false,"startDelay":3,)"
              R"("shouldAutoStartRecording":true,"videoQuality":0,"shouldShowFaceOutline":true,)"
              R"("facing":0,"maxDuration":null})");
}

// The full initialiser takes its arguments in another order than the fields are declared: each
// argument must land in its own field. One flag at a time, so two swapped flags cannot hide.
TEST(VideoRecorderConfigTest, FullInitialiserPutsEachArgumentInItsOwnField) {
    const char* const kFlags[] = {"isLiveStreaming",       "blurMode",
                                  "shouldSendImmediately", "shouldDisableCameraSwitch",
                                  "shouldEnableCoverShot", "shouldAutoStartRecording",
                                  "shouldShowFaceOutline"};
    for (int on = 0; on < 7; ++on) {
        SCOPED_TRACE(kFlags[on]);
        const VideoRecorderConfig config(on == 0, on == 1, on == 2, on == 3, on == 4, on == 5,
                                         on == 6, -1, -5, 7, 30);
        const Json encoded = config.encode();
        for (int flag = 0; flag < 7; ++flag) {
            EXPECT_EQ(encoded.at(kFlags[flag]), flag == on) << kFlags[flag];
        }
        // Numbers are kept unchecked, negative ones included.
        EXPECT_EQ(encoded.at("facing"), -1);
        EXPECT_EQ(encoded.at("startDelay"), -5);
        EXPECT_EQ(encoded.at("videoQuality"), 7);
        EXPECT_EQ(encoded.at("maxDuration"), 30);
    }
}

}  // namespace
}  // namespace pelmar
