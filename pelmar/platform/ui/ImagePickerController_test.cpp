#include "pelmar/platform/ui/ImagePickerController.h"

#include <gtest/gtest.h>

#include <fstream>

#include "pelmar/platform/foundation/Sandbox.h"
#include "pelmar/platform/foundation/URL.h"
#include "pelmar/platform/image/testing/ImageFixtures.h"
#include "pelmar/platform/photos/PhotoLibrary.h"
#include "pelmar/platform/photos/testing/MediaFiles.h"
#include "pelmar/platform/ui/Button.h"
#include "pelmar/platform/ui/Image.h"
#include "pelmar/platform/ui/ImagePickerLibrarySource.h"
#include "pelmar/platform/ui/testing/WindowFixture.h"
#include "testing/TempDir.h"

namespace pelmar::ui {
namespace {

struct Recorder : ImagePickerControllerDelegate {
    void imagePickerController(ImagePickerController&, const ImagePickerMediaInfo& info) override {
        picked.push_back(info);
    }

    void imagePickerControllerDidCancel(ImagePickerController&) override { ++cancels; }

    std::vector<ImagePickerMediaInfo> picked;
    int cancels = 0;
};

class ImagePickerControllerTest : public test::WindowFixture {
protected:
    void SetUp() override {
        WindowFixture::SetUp();
        foundation::Sandbox::setRoot(dir_.path() / "sandbox");
        photos::PhotoLibrary::shared().reset(dir_.path() / "library");
        auto& library = photos::PhotoLibrary::shared();
        picture_ = library.addAsset({.file = photos::test::writeJpeg(dir_.path(), "p.jpg", 40, 30),
                                     .creationDate = 20})
                           .localIdentifier;
        // Listing and handing over never decode a movie, so a picture filed as one stands in.
        movie_ = library.addAsset({.file = photos::test::writeJpeg(dir_.path(), "m.jpg", 8, 8),
                                   .mediaType = photos::AssetMediaType::Video,
                                   .creationDate = 10})
                         .localIdentifier;
    }

    void TearDown() override {
        photos::PhotoLibrary::shared().reset();
        WindowFixture::TearDown();
    }

    std::shared_ptr<ImagePickerLibraryScreen> present(
            std::shared_ptr<ImagePickerController> picker) {
        root_->present(picker, false);
        dispatch::RunLoop::runUntilIdle();
        return std::dynamic_pointer_cast<ImagePickerLibraryScreen>(picker->topViewController());
    }

    pelmar::test::TempDir dir_;
    std::string picture_;
    std::string movie_;
};

TEST_F(ImagePickerControllerTest, LibraryOffersOnlyTheAskedMediaTypes) {
    struct Case {
        const char* name;
        std::vector<std::string> types;
        std::vector<std::string> shown;
    };

    const Case cases[] = {
            {"ImagesByDefault", {}, {"p"}},
            {"MoviesOnly", {"public.movie"}, {"m"}},
            {"Both", {"public.image", "public.movie"}, {"p", "m"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto picker = std::make_shared<ImagePickerController>();
        if (!c.types.empty()) {
            picker->setMediaTypes(c.types);
        }
        auto screen = present(picker);
        ASSERT_TRUE(screen);
        std::vector<std::string> shown;
        for (const auto& id : screen->itemIdentifiers()) {
            shown.push_back(id == picture_ ? "p" : "m");
        }
        EXPECT_EQ(shown, c.shown);
        picker->dismiss(false);
        dispatch::RunLoop::runUntilIdle();
    }
}

TEST_F(ImagePickerControllerTest, TappingAPictureHandsItToTheDelegateAndCancelReportsCancel) {
    auto picker = std::make_shared<ImagePickerController>();
    auto delegate = std::make_shared<Recorder>();
    picker->setPickerDelegate(delegate);
    auto screen = present(picker);
    ASSERT_TRUE(screen);
    ASSERT_EQ(screen->itemButtons().size(), 1u);
    ASSERT_TRUE(screen->itemButtons()[0]->tap());
    ASSERT_EQ(delegate->picked.size(), 1u);
    const auto& info = delegate->picked[0];
    EXPECT_EQ(info.mediaType, "public.image");
    ASSERT_TRUE(info.originalImage);
    EXPECT_EQ(info.originalImage->width(), 40);
    EXPECT_EQ(info.assetIdentifier, picture_);
    // The delegate decides about dismissal; the picker stays.
    EXPECT_EQ(root_->presentedViewController(), picker);
    ASSERT_TRUE(screen->cancelButton()->tap());
    EXPECT_EQ(delegate->cancels, 1);
}

TEST_F(ImagePickerControllerTest, APickedPortraitPhotoArrivesUpright) {
    // Stored as a camera held upright stores it: 64x48 pixels to be turned right.
    const auto& right = image::test::kStoredOrientations[5];
    ASSERT_EQ(right.exif, 6);
    const auto file = dir_.path() / "portrait.jpg";
    std::ofstream(file, std::ios::binary) << image::test::withExifOrientation(
            image::test::jpeg(*image::test::storedQuadrants(right, 48, 64)), right.exif);
    photos::PhotoLibrary::shared().reset(dir_.path() / "portraits");
    photos::PhotoLibrary::shared().addAsset({.file = file, .creationDate = 30});
    auto picker = std::make_shared<ImagePickerController>();
    auto delegate = std::make_shared<Recorder>();
    picker->setPickerDelegate(delegate);
    auto screen = present(picker);
    ASSERT_TRUE(screen);
    ASSERT_EQ(screen->itemButtons().size(), 1u);
    ASSERT_TRUE(screen->itemButtons()[0]->tap());
    ASSERT_EQ(delegate->picked.size(), 1u);
    const auto& image = delegate->picked[0].originalImage;
    ASSERT_TRUE(image);
    EXPECT_DOUBLE_EQ(image->width(), 48);
    EXPECT_DOUBLE_EQ(image->height(), 64);
    EXPECT_EQ(image::test::quadrantMismatch(*image->bitmap(), image::test::kUprightQuadrants), "");
}

TEST_F(ImagePickerControllerTest, APickedMovieArrivesAsACopyInTheTemporaryFolder) {
    auto picker = std::make_shared<ImagePickerController>();
    picker->setMediaTypes({"public.movie"});
    auto delegate = std::make_shared<Recorder>();
    picker->setPickerDelegate(delegate);
    auto screen = present(picker);
    ASSERT_TRUE(screen->pick(0));
    ASSERT_TRUE(screen->pick(0));
    ASSERT_EQ(delegate->picked.size(), 2u);
    EXPECT_EQ(delegate->picked[0].mediaType, "public.movie");
    const auto first = foundation::pathFromFileURL(delegate->picked[0].mediaURL.value_or(""));
    const auto second = foundation::pathFromFileURL(delegate->picked[1].mediaURL.value_or(""));
    ASSERT_TRUE(first && second);
    EXPECT_NE(*first, *second);
    EXPECT_EQ(std::filesystem::path(*first).parent_path(),
              foundation::Sandbox::temporaryDirectory());
    EXPECT_EQ(std::filesystem::file_size(*first),
              std::filesystem::file_size(photos::PhotoLibrary::shared().asset(movie_)->file()));
}

TEST_F(ImagePickerControllerTest, WithoutADelegateCancelDismissesThePicker) {
    auto picker = std::make_shared<ImagePickerController>();
    auto screen = present(picker);
    ASSERT_TRUE(screen->cancelButton()->tap());
    dispatch::RunLoop::advance(1.0);
    EXPECT_EQ(root_->presentedViewController(), nullptr);
}

TEST_F(ImagePickerControllerTest, SourcesAreInstalledPerTypeAndUnavailableOnesAreRefused) {
    EXPECT_TRUE(ImagePickerController::isSourceTypeAvailable(ImagePickerSourceType::PhotoLibrary));
    EXPECT_FALSE(ImagePickerController::isSourceTypeAvailable(ImagePickerSourceType::Camera));
    EXPECT_TRUE(ImagePickerController::availableMediaTypes(ImagePickerSourceType::Camera).empty());
    auto picker = std::make_shared<ImagePickerController>();
    EXPECT_THROW(picker->setSourceType(ImagePickerSourceType::Camera), std::invalid_argument);
    EXPECT_FALSE(picker->takePicture());

    struct FakeCamera : ImagePickerSource {
        std::vector<std::string> availableMediaTypes() const override { return {"public.image"}; }

        std::shared_ptr<ViewController> makeRootScreen(ImagePickerController&) override {
            return std::make_shared<ViewController>();
        }

        bool takePicture(ImagePickerController&) override { return ++shots > 0; }

        int shots = 0;
    };

    auto camera = std::make_shared<FakeCamera>();
    ImagePickerController::setSource(ImagePickerSourceType::Camera, camera);
    picker->setSourceType(ImagePickerSourceType::Camera);
    EXPECT_TRUE(picker->takePicture());
    EXPECT_EQ(camera->shots, 1);
    ImagePickerController::setSource(ImagePickerSourceType::Camera, nullptr);
}

}  // namespace
}  // namespace pelmar::ui
