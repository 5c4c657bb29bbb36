#include "pelmar/platform/av/CaptureVideoPreviewLayer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "pelmar/platform/av/CaptureDevice.h"
#include "pelmar/platform/av/CaptureDeviceInput.h"
#include "pelmar/platform/av/CaptureEnvironment.h"
#include "pelmar/platform/dispatch/testing/MainLoopFixture.h"
#include "pelmar/platform/media/PixelBuffer.h"
#include "pelmar/platform/ui/Snapshot.h"

namespace pelmar::av {
namespace {

// The camera sees a picture 200 x 100: red on its left half, blue on its right.
std::shared_ptr<media::PixelBuffer> redLeftBlueRight() {
    auto picture = media::PixelBuffer::create(200, 100, media::PixelFormat::BGRA32);
    for (int y = 0; y < 100; ++y) {
        for (int x = 0; x < 200; ++x) {
            uint8_t* p = picture->data() + y * picture->bytesPerRow() + x * 4;
            const bool left = x < 100;
            p[0] = left ? 0 : 255;
            p[1] = 0;
            p[2] = left ? 255 : 0;
            p[3] = 255;
        }
    }
    return picture;
}

class CaptureVideoPreviewLayerTest : public dispatch::test::MainLoopFixture {
protected:
    void SetUp() override {
        MainLoopFixture::SetUp();
        env().reset();
    }

    void TearDown() override {
        env().reset();
        MainLoopFixture::TearDown();
    }

    static CaptureEnvironment& env() { return CaptureEnvironment::shared(); }

    // A white 100 x 100 view whose preview layer sits at `frame` in it.
    static std::shared_ptr<image::Bitmap> paintPreview(CaptureDevicePosition position,
                                                       LayerVideoGravity gravity,
                                                       ui::Rect frame) {
        auto session = CaptureSession::create();
        if (auto camera = CaptureDevice::defaultDevice(CaptureDeviceType::BuiltInWideAngleCamera,
                                                       MediaType::Video, position)) {
            session->addInput(CaptureDeviceInput::create(camera));
        }
        auto layer = std::make_shared<CaptureVideoPreviewLayer>();
        layer->setSession(session);
        layer->setVideoGravity(gravity);
        layer->setFrame(frame);
        auto view = std::make_shared<ui::View>(ui::Rect{0, 0, 100, 100});
        view->layer()->setBackgroundColor(ui::Color::white());
        view->layer()->addSublayer(layer);
        return ui::render(*view);
    }

    // "red", "blue", "white" or "other" at a point of a painted picture.
    static std::string colourAt(const image::Bitmap& picture, int x, int y) {
        const uint8_t* p = picture.pixel(x, y);
        if (p[0] > 200 && p[1] > 200 && p[2] > 200) {
            return "white";
        }
        if (p[2] > 200 && p[0] < 50) {
            return "red";
        }
        if (p[0] > 200 && p[2] < 50) {
            return "blue";
        }
        return "other";
    }
};

TEST_F(CaptureVideoPreviewLayerTest, PaintsTheCamerasPictureByItsGravityMirroredForTheFrontCamera) {
    env().addBackCamera().addFrontCamera().setCameraImage(redLeftBlueRight());

    struct Case {
        std::string name;
        CaptureDevicePosition position;
        LayerVideoGravity gravity;
        // Colours at (10, 50), (90, 50) and (50, 10).
        std::string left, right, top;
    };

    const Case cases[] = {
            {"aspect keeps bars", CaptureDevicePosition::Back, LayerVideoGravity::ResizeAspect,
             "red", "blue", "white"},
            {"fill covers the layer", CaptureDevicePosition::Back,
             LayerVideoGravity::ResizeAspectFill, "red", "blue", "red"},
            {"front camera is mirrored", CaptureDevicePosition::Front,
             LayerVideoGravity::ResizeAspectFill, "blue", "red", "blue"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto shown = paintPreview(c.position, c.gravity, {0, 0, 100, 100});
        ASSERT_NE(shown, nullptr);
        EXPECT_EQ(colourAt(*shown, 10, 50), c.left);
        EXPECT_EQ(colourAt(*shown, 90, 50), c.right);
        EXPECT_EQ(colourAt(*shown, 45, 10), c.top);
    }
}

TEST_F(CaptureVideoPreviewLayerTest, TheConnectionMirrorsAsTheSessionsCameraChanges) {
    env().addBackCamera().addFrontCamera();
    const auto camera = [](CaptureDevicePosition position) {
        return CaptureDeviceInput::create(CaptureDevice::defaultDevice(
                CaptureDeviceType::BuiltInWideAngleCamera, MediaType::Video, position));
    };
    auto session = CaptureSession::create();
    auto back = camera(CaptureDevicePosition::Back);
    ASSERT_TRUE(session->addInput(back));
    auto layer = std::make_shared<CaptureVideoPreviewLayer>();
    layer->setSession(session);
    // Held from before the switch, as a screen keeps it: the session keeps it in step.
    const auto link = layer->connection();
    ASSERT_NE(link, nullptr);
    EXPECT_FALSE(link->isVideoMirrored());
    session->removeInput(back);
    auto front = camera(CaptureDevicePosition::Front);
    ASSERT_TRUE(session->addInput(front));
    EXPECT_TRUE(link->isVideoMirrored()) << "the front camera mirrors";
    session->removeInput(front);
    ASSERT_TRUE(session->addInput(back));
    EXPECT_FALSE(link->isVideoMirrored());

    // A layer given a session whose camera is the front one mirrors from the start, and leaves
    // its old session's camera behind.
    auto selfie = CaptureSession::create();
    ASSERT_TRUE(selfie->addInput(camera(CaptureDevicePosition::Front)));
    layer->setSession(selfie);
    EXPECT_TRUE(link->isVideoMirrored());
    session->removeInput(back);
    ASSERT_TRUE(session->addInput(back));
    EXPECT_TRUE(link->isVideoMirrored());
}

TEST_F(CaptureVideoPreviewLayerTest, StaysInsideItsFrameAndPaintsNothingWithoutACamera) {
    env().addBackCamera().setCameraImage(redLeftBlueRight());
    auto inset = paintPreview(CaptureDevicePosition::Back, LayerVideoGravity::ResizeAspectFill,
                              {25, 25, 50, 50});
    ASSERT_NE(inset, nullptr);
    EXPECT_EQ(colourAt(*inset, 30, 50), "red");
    EXPECT_EQ(colourAt(*inset, 10, 50), "white");
    EXPECT_EQ(colourAt(*inset, 50, 80), "white");

    env().reset();
    auto none = paintPreview(CaptureDevicePosition::Back, LayerVideoGravity::ResizeAspectFill,
                             {0, 0, 100, 100});
    ASSERT_NE(none, nullptr);
    EXPECT_EQ(colourAt(*none, 50, 50), "white");
}

TEST_F(CaptureVideoPreviewLayerTest, ShowsTheTestPatternUprightForAPortraitConnection) {
    env().addBackCamera();
    auto shown = paintPreview(CaptureDevicePosition::Back, LayerVideoGravity::ResizeAspect,
                              {0, 0, 100, 100});
    ASSERT_NE(shown, nullptr);
    // A portrait picture (3:4) fitted into a square leaves white bars left and right only.
    EXPECT_EQ(colourAt(*shown, 5, 50), "white");
    EXPECT_EQ(colourAt(*shown, 95, 50), "white");
    EXPECT_NE(colourAt(*shown, 50, 2), "white");
    EXPECT_NE(colourAt(*shown, 50, 98), "white");
}

}  // namespace
}  // namespace pelmar::av
