#include "pelmar/picker/CameraCollectionViewCell.h"

#include <gtest/gtest.h>

#include "testing/App.h"

namespace pelmar {
namespace {

TEST(CameraCollectionViewCellTest, HasACameraSessionOnlyWithAccessAndACamera) {
    struct Case {
        const char* name;
        bool camera;
        bool granted;
        bool session;
    };

    const Case cases[] = {
            {"NotAsked", true, false, false},
            {"Granted", true, true, true},
            {"GrantedWithoutCamera", false, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::App app;
        if (c.camera) {
            app.devices().addBackCamera();
        }
        if (c.granted) {
            app.permissions().grant(av::MediaType::Video);
        }
        auto cell = std::make_shared<CameraCollectionViewCell>();
        cell->setFrame({0, 0, 120, 120});
        cell->layoutIfNeeded();
        // No icon until a host gives one; the session queue is there either way.
        EXPECT_EQ(cell->takePhotoIcon(), nullptr);
        ASSERT_TRUE(cell->sessionQueue());
        EXPECT_EQ(cell->sessionQueue()->label(), "AVCaptureVideoPreviewLayer");
        ASSERT_EQ(cell->session() != nullptr, c.session);
        EXPECT_EQ(cell->captureLayer() != nullptr, c.session);
        if (c.session) {
            EXPECT_EQ(cell->session()->inputs().size(), 1u);
            EXPECT_FALSE(cell->session()->isRunning());
            EXPECT_EQ(cell->captureLayerFrame(), (ui::Rect{0, 0, 120, 120}));
            // The tile shows what the camera sees behind its icon.
            app.root()->view()->addSubview(cell);
            app.expectLooksRight(*cell, /*pictures=*/1);
        }
    }
}

TEST(CameraCollectionViewCellTest, CaptureScreenQueueGoesOnAfterAnyAnswer) {
    for (bool granted : {true, false}) {
        SCOPED_TRACE(granted);
        test::App app;
        app.devices().addBackCamera();
        app.permissions().ask(av::MediaType::Video, granted);
        auto screen = std::make_shared<CameraViewController>();
        screen->loadViewIfNeeded();
        EXPECT_EQ(screen->previewView()->videoPreviewLayer()->session(), screen->captureSession());
        app.settle();
        // The queue ran its work (it would stay stuck if a refusal left it suspended).
        EXPECT_EQ(screen->captureSessionQueue()->sync([] { return true; }), true);
        EXPECT_EQ(screen->setUpRuns(), granted ? 1 : 0);
    }
}

}  // namespace
}  // namespace pelmar
