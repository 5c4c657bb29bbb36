#include "pelmar/platform/av/CaptureDevice.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <thread>

#include "pelmar/platform/av/CaptureDeviceInput.h"
#include "pelmar/platform/av/CaptureEnvironment.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/dispatch/RunLoop.h"
#include "pelmar/platform/dispatch/testing/MainLoopFixture.h"
#include "testing/Matchers.h"

namespace pelmar::av {
namespace {

using dispatch::RunLoop;

class CaptureDeviceTest : public dispatch::test::MainLoopFixture {
protected:
    void SetUp() override {
        MainLoopFixture::SetUp();
        CaptureEnvironment::shared().reset();
    }

    void TearDown() override {
        CaptureEnvironment::shared().reset();
        MainLoopFixture::TearDown();
    }
};

TEST_F(CaptureDeviceTest, LooksUpDevicesByTypePositionAndMedia) {
    auto& env = CaptureEnvironment::shared();
    EXPECT_EQ(CaptureDevice::defaultDevice(MediaType::Video), nullptr);
    env.addFrontCamera().addBackCamera().addDualCamera(CaptureDevicePosition::Back).addMicrophone();

    auto dual = CaptureDevice::defaultDevice(CaptureDeviceType::BuiltInDualCamera, MediaType::Video,
                                             CaptureDevicePosition::Back);
    ASSERT_NE(dual, nullptr);
    EXPECT_EQ(dual->deviceType(), CaptureDeviceType::BuiltInDualCamera);
    EXPECT_EQ(CaptureDevice::defaultDevice(CaptureDeviceType::BuiltInDualCamera, MediaType::Video,
                                           CaptureDevicePosition::Front),
              nullptr);
    auto wideBack = CaptureDevice::defaultDevice(CaptureDeviceType::BuiltInWideAngleCamera,
                                                 MediaType::Video, CaptureDevicePosition::Back);
    ASSERT_NE(wideBack, nullptr);
    EXPECT_EQ(wideBack->position(), CaptureDevicePosition::Back);
    EXPECT_TRUE(wideBack->hasFlash());

    const auto cameras = CaptureDevice::devices(MediaType::Video);
    ASSERT_EQ(cameras.size(), 3U);
    EXPECT_EQ(cameras[0]->position(), CaptureDevicePosition::Front);
    EXPECT_EQ(CaptureDevice::defaultDevice(MediaType::Audio)->deviceType(),
              CaptureDeviceType::BuiltInMicrophone);
    EXPECT_NE(cameras[0]->uniqueID(), cameras[1]->uniqueID());
}

TEST_F(CaptureDeviceTest, PermissionRequestsAnswerOnABackgroundThreadAfterTheirDelay) {
    struct Case {
        const char* name;
        AuthorizationStatus before;
        bool scriptedAnswer;
        bool answer;
        AuthorizationStatus after;
    };

    const Case cases[] = {
            {"undetermined, granted", AuthorizationStatus::NotDetermined, true, true,
             AuthorizationStatus::Authorized},
            {"undetermined, refused", AuthorizationStatus::NotDetermined, false, false,
             AuthorizationStatus::Denied},
            {"already denied", AuthorizationStatus::Denied, true, false,
             AuthorizationStatus::Denied},
            {"restricted", AuthorizationStatus::Restricted, true, false,
             AuthorizationStatus::Restricted},
            {"authorized", AuthorizationStatus::Authorized, false, true,
             AuthorizationStatus::Authorized},
    };
    auto& env = CaptureEnvironment::shared();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        env.reset();
        env.setAuthorizationStatus(MediaType::Audio, c.before)
                .setRequestAnswer(MediaType::Audio, c.scriptedAnswer)
                .setAnswerDelay(2.0);
        std::atomic<int> answer{-1};
        std::atomic<bool> onMain{true};
        CaptureDevice::requestAccess(MediaType::Audio, [&](bool granted) {
            onMain = dispatch::isMainThread();
            answer = granted ? 1 : 0;
        });
        RunLoop::advance(1.9);
        EXPECT_EQ(answer.load(), -1);
        RunLoop::advance(0.1);
        ASSERT_TRUE(RunLoop::runUntil([&] { return answer.load() != -1; }));
        EXPECT_EQ(answer.load() == 1, c.answer);
        EXPECT_FALSE(onMain.load());
        EXPECT_EQ(CaptureDevice::authorizationStatus(MediaType::Audio), c.after);
        EXPECT_EQ(env.requestCount(MediaType::Audio), 1);
    }
}

TEST_F(CaptureDeviceTest, DeviceInputsFailForMissingDevicesAndInjectedFaults) {
    auto& env = CaptureEnvironment::shared();
    env.addBackCamera().addMicrophone();
    Error error;
    EXPECT_EQ(CaptureDeviceInput::create(nullptr, &error), nullptr);
    EXPECT_THAT(error, pelmar::test::IsError(kCaptureErrorDomain, kCaptureErrorDeviceUnavailable));

    env.failDeviceInput(MediaType::Video);
    EXPECT_EQ(CaptureDeviceInput::create(CaptureDevice::defaultDevice(MediaType::Video)), nullptr);
    EXPECT_NE(CaptureDeviceInput::create(CaptureDevice::defaultDevice(MediaType::Audio)), nullptr);

    auto camera = CaptureDevice::defaultDevice(MediaType::Video);
    EXPECT_TRUE(camera->lockForConfiguration());
    camera->unlockForConfiguration();
    env.failLockForConfiguration();
    EXPECT_FALSE(camera->lockForConfiguration(&error));
    EXPECT_THAT(error, pelmar::test::IsError(kCaptureErrorDomain, kCaptureErrorLockFailed));
}

}  // namespace
}  // namespace pelmar::av
