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
#include "pelmar/platform/ui/Label.h"
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

TEST_F(PelmarVideoLibraryIntegrationTest, TheScanReskinsCancelAndRetakeLabelsAsTheyChange) {
    auto picker = PelmarVideoLibrary::create(sdk_);
    const auto button = [](double width) {
        return std::make_shared<ui::Button>(ui::Rect{0, 0, width, 44});
    };
    // The name of the shipped icon (each load is a picture of its own).
    const auto named = [](const std::string& icon) {
        const auto image = PelmarVideoLibrary::getImageFromResource(icon);
        return image ? image->name() : std::string("missing ") + icon;
    };
    const auto label = [](const std::string& text) {
        auto l = std::make_shared<ui::Label>();
        l->setText(text);
        return l;
    };

    struct Case {
        const char* name;
        // The labels, each in a button of its own (or in the plain root) in this order.
        std::vector<std::pair<std::string, bool>> labels;
        // Which label (index) ends up the close and the retake label; -1 for none.
        int close;
        int retake;
        double closeIconHeight;
    };

    const Case cases[] = {
            {"CancelAndRetake", {{"Cancel", true}, {"Retake", true}}, 0, 1, 44},
            {"ASecondCancelReplacesTheFirst", {{"Cancel", true}, {"Cancel", true}}, 1, -1, 44},
            {"ASecondRetakeIsIgnored", {{"Retake", true}, {"Retake", true}}, -1, 0, 0},
            {"CancelOutsideAButton", {{"Cancel", false}}, 0, -1, 0},
            {"OtherTextsStay", {{"Done", true}, {"", true}}, -1, -1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto fresh = PelmarVideoLibrary::create(sdk_);
        auto root = std::make_shared<ui::View>(ui::Rect{0, 0, 320, 44});
        std::vector<std::shared_ptr<ui::Label>> labels;
        std::vector<std::shared_ptr<ui::View>> parents;
        for (const auto& [text, inButton] : c.labels) {
            labels.push_back(label(text));
            std::shared_ptr<ui::View> parent = root;
            if (inButton) {
                parent = button(120);
                root->addSubview(parent);
            }
            parent->addSubview(labels.back());
            parents.push_back(parent);
        }
        fresh->scanSubviews(*root, "root");
        app_.settle();
        EXPECT_EQ(fresh->closeButtonLabel(), c.close < 0 ? nullptr : labels[c.close]);
        EXPECT_EQ(fresh->retakeButtonLabel(), c.retake < 0 ? nullptr : labels[c.retake]);
        for (std::size_t i = 0; i < labels.size(); ++i) {
            const bool reskinned = static_cast<int>(i) == c.close || static_cast<int>(i) == c.retake
                                   || (c.labels[i].first == "Cancel");
            EXPECT_EQ(labels[i]->superview() == nullptr, reskinned) << "label " << i;
        }
        if (c.close >= 0) {
            EXPECT_EQ(labels[c.close]->text(), "     ");
            const auto& icon = fresh->closeButtonImageView();
            EXPECT_EQ(icon->frame(), (ui::Rect{0, 0, 50, c.closeIconHeight}));
            EXPECT_EQ(icon->superview(), c.closeIconHeight > 0 ? parents[c.close] : nullptr);
            ASSERT_TRUE(icon->image());
            EXPECT_EQ(icon->image()->name(), named("delete-white"));
        }
        if (c.close == 1) {
            labels[0]->setText("Use Video");
            app_.settle();
            EXPECT_EQ(labels[0]->text(), "Use Video") << "the replaced label is not observed";
        }
        if (c.retake >= 0) {
            EXPECT_EQ(labels[c.retake]->text(), std::string(18, ' '));
            ASSERT_TRUE(fresh->retakeButtonImageView()->image());
            EXPECT_EQ(fresh->retakeButtonImageView()->image()->name(), named("trash-white"));
        }
    }

    // The system relabels its close button "Use Video" once a movie is chosen: the icon becomes
    // the upload one at the button's right end; back at "Cancel" it returns.
    auto root = std::make_shared<ui::View>(ui::Rect{0, 0, 320, 44});
    auto close = button(120);
    root->addSubview(close);
    auto cancel = label("Cancel");
    close->addSubview(cancel);
    picker->scanSubviews(*root, "root");
    app_.settle();
    cancel->setText("Use Video");
    app_.settle();
    EXPECT_EQ(cancel->text(), "     ");
    const auto& icon = picker->closeButtonImageView();
    ASSERT_TRUE(icon->image());
    EXPECT_EQ(icon->image()->name(), named("upload-white"));
    EXPECT_EQ(icon->frame(), (ui::Rect{70, 0, 50, 44}));
    cancel->setText("Cancel");
    app_.settle();
    EXPECT_EQ(cancel->text(), "     ");
    ASSERT_TRUE(icon->image());
    EXPECT_EQ(icon->image()->name(), named("delete-white"));
    EXPECT_EQ(icon->frame(), (ui::Rect{0, 0, 50, 44}));
}

TEST_F(PelmarVideoLibraryIntegrationTest, AFileURLIsUploadedFromItsPlainPath) {
    auto picker = PelmarVideoLibrary::create(sdk_);
    present(picker);
    const std::string url = "file://" + movie_.string();
    picker->uploadVideo(url);
    ASSERT_TRUE(app_.runUntil([&] { return emulator_.uploads().size() == 1; }, 60));
    EXPECT_EQ(emulator_.uploads()[0].size, std::filesystem::file_size(movie_));
    EXPECT_EQ(emulator_.uploads()[0].kind, test::MediaKind::Video);
    EXPECT_TRUE(app_.logged("file " + url + " captured"));
}

TEST_F(PelmarVideoLibraryIntegrationTest, APickedPhotoOrACancelledExportUploadsNothing) {
    auto picker = PelmarVideoLibrary::create(sdk_);
    auto screen = present(picker);
    ASSERT_TRUE(screen);
    ui::ImagePickerMediaInfo photo;
    photo.mediaType = std::string(ui::kImagePickerTypeImage);
    photo.imageURL = "file://" + movie_.string();
    picker->imagePickerController(*picker, photo);
    app_.settle();
    EXPECT_EQ(picker->exportSession(), nullptr) << "a photo starts no export";
    EXPECT_EQ(app_.root()->presentedViewController(), picker);

    ASSERT_TRUE(screen->pick(0));
    ASSERT_TRUE(picker->exportSession());
    picker->exportSession()->cancelExport();
    ASSERT_TRUE(app_.runUntil([&] { return app_.logged("Export canceled"); }, 60));
    app_.settle();
    EXPECT_EQ(picker->exportSession()->status(), av::AssetExportSession::Status::Cancelled);
    EXPECT_TRUE(emulator_.uploads().empty());
    EXPECT_EQ(app_.root()->presentedViewController(), picker) << "the picker stays open";
}

TEST_F(PelmarVideoLibraryIntegrationTest, AFileThatIsNoMovieIsRefusedAndNamesComeFromPaths) {
    EXPECT_EQ(PelmarVideoLibrary::getFileName("a/b/c.mp4"), "c.mp4");
    EXPECT_EQ(PelmarVideoLibrary::getFileName(""), "");
    EXPECT_EQ(PelmarVideoLibrary::getFileName(std::nullopt), std::nullopt);

    auto picker = PelmarVideoLibrary::create(sdk_);
    auto screen = present(picker);
    ASSERT_TRUE(screen);
    const auto notes = app_.sandboxRoot() / "media" / "notes.mp4";
    std::ofstream(notes) << "these are words, not a movie";
    ui::ImagePickerMediaInfo info;
    info.mediaType = std::string(ui::kImagePickerTypeMovie);
    info.mediaURL = "file://" + notes.string();
    picker->imagePickerController(*picker, info);
    app_.settle();
    EXPECT_TRUE(app_.logged("not compatible object"));
    EXPECT_EQ(picker->exportSession(), nullptr) << "no export starts";
    EXPECT_TRUE(emulator_.uploads().empty());
    EXPECT_EQ(app_.root()->presentedViewController(), picker) << "the picker stays open";
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
