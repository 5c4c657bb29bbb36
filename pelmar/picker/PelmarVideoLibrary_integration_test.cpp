#include <gtest/gtest.h>

#include <fstream>

#include "pelmar/core/Pelmar.h"
#include "pelmar/core/PelmarFileSelectorDelegate.h"
#include "pelmar/picker/PelmarVideoLibrary.h"
#include "pelmar/platform/av/AssetExportSession.h"
#include "pelmar/platform/av/testing/MovieProbe.h"
#include "pelmar/platform/foundation/Sandbox.h"
#include "pelmar/platform/photos/PhotoLibrary.h"
#include "pelmar/platform/photos/testing/MediaFiles.h"
#include "pelmar/platform/ui/Button.h"
#include "pelmar/platform/ui/ImagePickerLibrarySource.h"
#include "testing/App.h"
#include "testing/ServiceEmulator.h"

namespace pelmar {
namespace {

struct CancelDelegate : PelmarFileSelectorDelegate {
    void uploadCancelledByUser() override { ++cancels; }

    int cancels = 0;
};

class PelmarVideoLibraryIntegrationTest : public ::testing::Test {
protected:
    void SetUp() override {
        emulator_.start();
        sdk_ = std::make_shared<Pelmar>("app-1");
        sdk_->enableDebugLogs = true;
        auto& config = sdk_->config();
        config.setServerAPIUrl(emulator_.apiBase());
        config.setCdnAPIUrl(emulator_.cdnApiBase());
        config.setDevServerApiUrl(emulator_.devApiBase());
        config.setFileServerUrl(emulator_.fileServerBase());
        photos::PhotoLibrary::shared().reset(app_.sandboxRoot() / "PhotoLibrary");
        movie_ = photos::test::writeMovie(app_.sandboxRoot() / "media", "clip.mp4", 2, 640, 480,
                                          true);
        ASSERT_FALSE(photos::PhotoLibrary::shared().addAsset({.file = movie_}).error);
    }

    void TearDown() override {
        photos::PhotoLibrary::shared().reset();
        sdk_.reset();
        emulator_.stop();
    }

    std::shared_ptr<ui::ImagePickerLibraryScreen> present(
            const std::shared_ptr<PelmarVideoLibrary>& picker) {
        app_.root()->present(picker, true);
        app_.advance(1);
        return std::dynamic_pointer_cast<ui::ImagePickerLibraryScreen>(picker->topViewController());
    }

    std::filesystem::path mp4Folder() const {
        return foundation::Sandbox::documentsDirectory() / "MP4";
    }

    test::App app_;
    test::ServiceEmulator emulator_;
    std::shared_ptr<Pelmar> sdk_;
    std::filesystem::path movie_;
};

TEST_F(PelmarVideoLibraryIntegrationTest, PickedMovieIsConvertedUploadedAsVideoAndThePickerCloses) {
    auto picker = PelmarVideoLibrary::create(sdk_);
    auto screen = present(picker);
    ASSERT_TRUE(screen);
    // The system's "Cancel" label gave way to the icon on its button.
    ASSERT_TRUE(picker->closeButtonLabel());
    EXPECT_EQ(picker->closeButtonLabel()->text(), "     ");
    EXPECT_EQ(picker->closeButtonLabel()->superview(), nullptr);
    EXPECT_EQ(picker->closeButtonImageView()->superview(), screen->cancelButton());
    EXPECT_EQ(picker->closeButtonImageView()->frame().width, 50);

    ASSERT_TRUE(app_.tap(screen->itemButtons().at(0)));
    ASSERT_TRUE(app_.runUntil([&] { return emulator_.uploads().size() == 1; }, 60));
    app_.advance(1);
    EXPECT_EQ(app_.root()->presentedViewController(), nullptr);
    const auto output = picker->exportSession()->outputURL();
    EXPECT_EQ(output.parent_path(), mp4Folder());
    const auto probe = av::test::MovieProbe::probe(output);
    ASSERT_TRUE(probe);
    EXPECT_LE(std::max(probe->width, probe->height),
              av::AssetExportSession::kLowQualityLongestSide);
    EXPECT_LT(std::filesystem::file_size(output), std::filesystem::file_size(movie_));
    EXPECT_EQ(emulator_.uploads()[0].kind, test::MediaKind::Video);
    EXPECT_EQ(emulator_.uploads()[0].size, std::filesystem::file_size(output));
    EXPECT_TRUE(app_.logged("file " + output.string() + " captured"));
}

TEST_F(PelmarVideoLibraryIntegrationTest, TwoPicksInOneSecondGetTwoFilesAndTwoUploads) {
    // As a host app: nothing but the presentation holds the picker, and nobody holds its exports.
    auto screen = present(PelmarVideoLibrary::create(sdk_));
    ASSERT_TRUE(screen->pick(0));
    ASSERT_TRUE(screen->pick(0));
    screen.reset();
    ASSERT_TRUE(app_.runUntil([&] { return emulator_.uploads().size() == 2; }, 60));
    std::vector<std::filesystem::path> outputs;
    for (const auto& entry : std::filesystem::directory_iterator(mp4Folder())) {
        outputs.push_back(entry.path());
        EXPECT_TRUE(app_.logged("file " + entry.path().string() + " captured"));
    }
    EXPECT_EQ(outputs.size(), 2u);
}

TEST_F(PelmarVideoLibraryIntegrationTest, AFailedExportUploadsTheSourceAndSaysWhy) {
    // A file where the output folder belongs: the export cannot write its movie.
    std::filesystem::create_directories(mp4Folder().parent_path());
    std::ofstream(mp4Folder()) << "not a folder";
    auto picker = PelmarVideoLibrary::create(sdk_);
    auto screen = present(picker);
    ASSERT_TRUE(screen->pick(0));
    ASSERT_TRUE(app_.runUntil([&] { return emulator_.uploads().size() == 1; }, 60));
    EXPECT_EQ(picker->exportSession()->status(), av::AssetExportSession::Status::Failed);
    EXPECT_TRUE(app_.logged("Export failed: "));
    EXPECT_EQ(emulator_.uploads()[0].size, std::filesystem::file_size(movie_));
}

TEST_F(PelmarVideoLibraryIntegrationTest, CancelClosesThePickerThenTellsTheFileSelectorDelegate) {
    auto delegate = std::make_shared<CancelDelegate>();
    sdk_->setFileSelectorDelegate(delegate);
    auto picker = PelmarVideoLibrary::create(sdk_);
    picker->cameraFlipButtonVisible = false;
    auto screen = present(picker);
    bool flipHidden = false;
    for (const auto& view : screen->view()->subviews()) {
        flipHidden = flipHidden || (view->typeName() == "CAMFlipButton" && view->isHidden());
    }
    EXPECT_TRUE(flipHidden);
    ASSERT_TRUE(app_.tap(screen->cancelButton()));
    EXPECT_EQ(delegate->cancels, 0);
    app_.advance(1);
    EXPECT_EQ(app_.root()->presentedViewController(), nullptr);
    EXPECT_EQ(delegate->cancels, 1);
    EXPECT_TRUE(emulator_.uploads().empty());
}

}  // namespace
}  // namespace pelmar
