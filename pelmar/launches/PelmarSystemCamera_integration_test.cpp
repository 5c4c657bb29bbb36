#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "pelmar/platform/av/testing/MovieProbe.h"
#include "pelmar/platform/av/testing/TestMovie.h"
#include "pelmar/platform/dispatch/RunLoop.h"
#include "pelmar/platform/foundation/Sandbox.h"
#include "pelmar/platform/image/PictureCodec.h"
#include "pelmar/platform/image/testing/ImageFixtures.h"
#include "pelmar/platform/ui/Image.h"
#include "pelmar/platform/ui/ImagePickerController.h"
#include "pelmar/platform/ui/ModalPresentationStyle.h"
#include "pelmar/platform/ui/TransitionContext.h"
#include "pelmar/recorder/testing/RecorderServiceApp.h"
#include "testing/Sha256.h"

namespace pelmar {
namespace {

using foundation::Sandbox;

// Opens the system camera through the facade and lets its presentation end.
std::shared_ptr<ui::ImagePickerController> openCamera(test::RecorderServiceApp& app) {
    app.facade->startImageRecorder();
    app.advance(ui::TransitionContext::kStandardDuration);
    app.settle();
    return std::dynamic_pointer_cast<ui::ImagePickerController>(app.topViewController());
}

// Parks the POST requests to `role` whose path matches `pathPattern` until released.
void holdPosts(test::RecorderServiceApp& app, test::Role role, std::string pathPattern) {
    test::ServiceEmulator::Fault hold;
    hold.method = "POST";
    hold.role = role;
    hold.pathPattern = std::move(pathPattern);
    hold.hold = true;
    app.emulator.addFault(hold);
}

// Records a one-second movie with the open system camera.
bool takeMovie(test::RecorderServiceApp& app, ui::ImagePickerController& picker) {
    picker.setMediaTypes({"public.movie"});
    if (!picker.startVideoCapture()) {
        return false;
    }
    app.advance(1.0);
    picker.stopVideoCapture();
    return true;
}

// Runs the main loop until the emulator holds a request.
bool holdsARequest(test::RecorderServiceApp& app) {
    return app.runUntil([&] { return app.emulator.waitForHeld(1, std::chrono::milliseconds(0)); },
                        60);
}

void closeCameraAndSettle(test::RecorderServiceApp& app) {
    app.advance(ui::TransitionContext::kStandardDuration);
    app.settle();
}

TEST(PelmarSystemCameraTest, OpensOnlyWithACameraForStillPictures) {
    for (const bool camera : {false, true}) {
        SCOPED_TRACE(camera ? "camera" : "no camera");
        test::RecorderServiceApp app;
        if (camera) {
            app.standardDevices();
        }
        auto picker = openCamera(app);
        if (!camera) {
            EXPECT_EQ(app.topViewController(), app.root());
            continue;
        }
        ASSERT_NE(picker, nullptr);
        EXPECT_EQ(picker->sourceType(), ui::ImagePickerSourceType::Camera);
        EXPECT_EQ(picker->mediaTypes(), std::vector<std::string>{"public.image"});
        EXPECT_FALSE(picker->allowsEditing());
        EXPECT_EQ(picker->modalPresentationStyle(), ui::ModalPresentationStyle::FullScreen);
    }
}

TEST(PelmarSystemCameraTest, APictureAndAMovieAreUploadedFromTheirFixedFiles) {
    struct Case {
        const char* name;
        bool movie;
        const char* file;
    };

    const Case cases[] = {
            {"picture", false, "image.jpg"},
            {"movie", true, "video.mp4"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::RecorderServiceApp app;
        app.standardDevices();
        auto picker = openCamera(app);
        ASSERT_NE(picker, nullptr);
        if (c.movie) {
            ASSERT_TRUE(takeMovie(app, *picker));
        } else {
            ASSERT_TRUE(picker->takePicture());
        }
        ASSERT_TRUE(app.runUntil([&] { return app.uploads->count("uploadProcessed") == 1; }, 60));
        closeCameraAndSettle(app);
        EXPECT_EQ(app.topViewController(), app.root());  // the camera is closed
        const auto fixed = Sandbox::documentsDirectory() / c.file;
        EXPECT_EQ(app.uploads->events().front().path, fixed.string());
        ASSERT_EQ(app.emulator.uploads().size(), 1U);
        EXPECT_EQ(app.emulator.uploads()[0].kind,
                  c.movie ? test::MediaKind::Video : test::MediaKind::Image);
        if (c.movie) {
            const auto probe = av::test::MovieProbe::probe(fixed);
            ASSERT_TRUE(probe);
            EXPECT_NEAR(probe->videoDuration, 1.0, 0.05);
        }
    }
}

TEST(PelmarSystemCameraTest, CancelClosesTheCameraAndReportsNothing) {
    test::RecorderServiceApp app;
    app.standardDevices();
    auto picker = openCamera(app);
    ASSERT_NE(picker, nullptr);
    picker->cancelPicking();
    closeCameraAndSettle(app);
    EXPECT_EQ(app.topViewController(), app.root());
    EXPECT_TRUE(app.uploads->events().empty());
}

TEST(PelmarSystemCameraTest, APictureNeverReplacesTheFileAnUploadStillReads) {
    test::RecorderServiceApp app;
    app.standardDevices();
    holdPosts(app, test::Role::Storage, "/upload/.*");

    auto first = openCamera(app);
    ASSERT_NE(first, nullptr);
    ASSERT_TRUE(first->takePicture());
    ASSERT_TRUE(holdsARequest(app));
    closeCameraAndSettle(app);
    const auto fixed = Sandbox::documentsDirectory() / "image.jpg";
    const auto firstBytes = std::filesystem::file_size(fixed);

    auto second = openCamera(app);
    ASSERT_NE(second, nullptr);
    ASSERT_TRUE(second->takePicture());
    ASSERT_TRUE(app.runUntil([&] { return app.uploads->count("preparingToUpload") == 2; }, 60));
    closeCameraAndSettle(app);
    EXPECT_EQ(std::filesystem::file_size(fixed), firstBytes);
    EXPECT_EQ(app.uploads->events().back().path,
              (Sandbox::documentsDirectory() / "image-1.jpg").string());
    app.emulator.releaseHeld();
    ASSERT_TRUE(app.runUntil([&] { return app.uploads->count("uploadProcessed") == 2; }, 60));
}

std::string sha256Of(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return test::Sha256::hexOf(
            std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
}

TEST(PelmarSystemCameraTest, AMovieWaitingForItsUploadIsNotReplacedByThePlayOrTrimLaunch) {
    test::RecorderServiceApp app;
    app.standardDevices();
    // The camera movie's upload waits at its create request, before any byte of it was read.
    holdPosts(app, test::Role::Api, ".*/videos-upload-url");

    auto picker = openCamera(app);
    ASSERT_NE(picker, nullptr);
    ASSERT_TRUE(takeMovie(app, *picker));
    ASSERT_TRUE(holdsARequest(app));
    closeCameraAndSettle(app);
    const auto fixed = Sandbox::documentsDirectory() / "video.mp4";
    const std::string cameraMovie = sha256Of(fixed);

    const auto other = app.sandboxRoot() / "other.mp4";
    ASSERT_TRUE(av::test::TestMovie(2, 160, 120, 10, 10).make(other));
    app.facade->playFromPaths({other.string()});
    app.facade->trimVideo(other.string());
    EXPECT_EQ(sha256Of(fixed), cameraMovie);
    // Both launches took the next free name for their copy.
    EXPECT_EQ(sha256Of(Sandbox::documentsDirectory() / "video-1.mp4"), sha256Of(other));
    app.settle();

    app.emulator.releaseHeld();
    ASSERT_TRUE(app.runUntil([&] { return app.uploads->count("uploadProcessed") == 1; }, 60));
    ASSERT_EQ(app.emulator.uploads().size(), 1U);
    EXPECT_EQ(app.emulator.uploads()[0].sha256, cameraMovie);
}

TEST(PelmarSystemCameraTest, APickedPortraitPhotoIsUploadedUpright) {
    test::RecorderServiceApp app;
    app.standardDevices();
    auto picker = openCamera(app);
    ASSERT_NE(picker, nullptr);
    // A photo stored as a camera held upright stores it (64x48 pixels to be turned right), handed
    // over as the picker's library source hands a picked file over.
    const auto& right = image::test::kStoredOrientations[5];
    ASSERT_EQ(right.exif, 6);
    const auto file = Sandbox::temporaryDirectory() / "portrait.jpg";
    std::ofstream(file, std::ios::binary) << image::test::withExifOrientation(
            image::test::jpeg(*image::test::storedQuadrants(right, 48, 64)), right.exif);
    ui::ImagePickerMediaInfo info;
    info.mediaType = "public.image";
    info.originalImage = ui::Image::fromFile(file);
    ASSERT_TRUE(info.originalImage);
    app.facade->imagePickerController(*picker, info);
    ASSERT_TRUE(app.runUntil([&] { return app.uploads->count("uploadProcessed") == 1; }, 60));
    closeCameraAndSettle(app);
    ASSERT_EQ(app.emulator.uploads().size(), 1U);
    std::ifstream in(app.emulator.uploads()[0].storedFile, std::ios::binary);
    const std::string stored((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
    const auto uploaded = image::PictureCodec::decode(stored);
    ASSERT_TRUE(uploaded);
    EXPECT_EQ(uploaded->width(), 48);
    EXPECT_EQ(uploaded->height(), 64);
    EXPECT_EQ(image::test::quadrantMismatch(*uploaded, image::test::kUprightQuadrants, 60), "");
}

}  // namespace
}  // namespace pelmar
