#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <set>

#include "pelmar/core/Pelmar.h"
#include "pelmar/core/PelmarFileSelectorDelegate.h"
#include "pelmar/picker/AssetCollectionViewCell.h"
#include "pelmar/picker/ImagePickerController.h"
#include "pelmar/picker/PreviewViewController.h"
#include "pelmar/picker/SelectionView.h"
#include "pelmar/platform/foundation/URL.h"
#include "pelmar/platform/photos/PhotoLibrary.h"
#include "pelmar/platform/photos/testing/MediaFiles.h"
#include "pelmar/platform/ui/Button.h"
#include "pelmar/platform/ui/NavigationBar.h"
#include "pelmar/platform/ui/NavigationController.h"
#include "pelmar/platform/ui/Snapshot.h"
#include "pelmar/platform/ui/Touch.h"
#include "testing/App.h"
#include "testing/ServiceEmulator.h"
#include "testing/Sha256.h"

namespace pelmar {
namespace {

using photos::PhotoLibrary;

struct SelectorDelegate : PelmarFileSelectorDelegate {
    void uploadSelected(const std::vector<std::string>& paths) override { selected = paths; }

    std::optional<std::vector<std::string>> selected;
};

std::string sha256Of(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return test::Sha256::hexOf(bytes);
}

std::string numberOn(AssetCollectionViewCell& cell) {
    auto number = std::dynamic_pointer_cast<NumberView>(cell.selectionView()->icon());
    return number ? number->text() : "";
}

class PickerIntegrationTest : public ::testing::Test {
protected:
    void SetUp() override {
        emulator_.start();
        sdk_ = std::make_shared<Pelmar>("app-1");
        auto& config = sdk_->config();
        config.setServerAPIUrl(emulator_.apiBase());
        config.setCdnAPIUrl(emulator_.cdnApiBase());
        config.setDevServerApiUrl(emulator_.devApiBase());
        config.setFileServerUrl(emulator_.fileServerBase());
        auto& library = PhotoLibrary::shared();
        library.reset(app_.sandboxRoot() / "PhotoLibrary");
        const auto media = app_.sandboxRoot() / "media";
        std::vector<std::string> trip, home;
        for (int i = 0; i < 6; ++i) {
            const std::string name = "photo" + std::to_string(i);
            const auto file = i % 2 == 0
                                      ? photos::test::writeJpeg(media, name + ".jpg", 640, 480, i)
                                      : photos::test::writePng(media, name + ".png", 300, 400, i);
            const auto id =
                    library.addAsset({.file = file, .creationDate = 1000.0 + i}).localIdentifier;
            (i < 4 ? trip : home).push_back(id);
        }
        for (double seconds : {3.0, 20.0, 65.0}) {
            const auto file = photos::test::writeMovie(
                    media, "clip" + std::to_string(int(seconds)) + ".mp4", seconds, 160, 120);
            const auto id = library.addAsset({.file = file, .creationDate = 2000 + seconds})
                                    .localIdentifier;
            (seconds < 10 ? trip : home).push_back(id);
        }
        trip_ = library.addAlbum("Trip", trip);
        home_ = library.addAlbum("Home", home);
    }

    void TearDown() override {
        PhotoLibrary::shared().reset();
        sdk_.reset();
        emulator_.stop();
    }

    // A finger held on `view` for `seconds` on the clock.
    void longPress(ui::View& view, double seconds) {
        ui::TouchSequence finger(app_.window());
        const ui::Rect r = view.convertTo(view.bounds(), nullptr);
        ASSERT_EQ(finger.begin({{r.x + r.width / 2, r.y + r.height / 2}}), std::nullopt);
        app_.advance(seconds);
        finger.end();
    }

    void drag(ui::Point from, double dy) {
        ui::TouchSequence finger(app_.window());
        ASSERT_EQ(finger.begin({from}), std::nullopt);
        for (int i = 1; i <= 5; ++i) {
            app_.advance(0.02);
            finger.move({{from.x, from.y + dy * i / 5}});
        }
        finger.end();
    }

    test::App app_;
    test::ServiceEmulator emulator_;
    std::shared_ptr<Pelmar> sdk_;
    std::string trip_, home_;
};

TEST_F(PickerIntegrationTest, FileSelectorPicksAcrossAlbumsPreviewsAndUploadsInSelectionOrder) {
    auto selector = std::make_shared<SelectorDelegate>();
    sdk_->setFileSelectorDelegate(selector);
    sdk_->uploadFromFileSelector(Json{{"media_type", {"image", "video"}}, {"maxDuration", 30}});
    std::shared_ptr<ImagePickerController> picker;
    ASSERT_TRUE(app_.runUntil([&] {
        picker = std::dynamic_pointer_cast<ImagePickerController>(app_.topViewController());
        return picker != nullptr;
    }));
    app_.settle();
    app_.advance(1);
    EXPECT_EQ(PhotoLibrary::shared().authorizationRequestCount(), 1);
    auto grid = picker->assetsViewController();
    // The user library: six pictures and the two clips up to 30 s, videos first.
    ASSERT_EQ(grid->fetchResult().count(), 8u);
    EXPECT_EQ(grid->fetchResult().objectAt(0)->mediaType(), photos::AssetMediaType::Video);
    EXPECT_TRUE(picker->albumButton()->isHidden());
    EXPECT_EQ(picker->doneButton()->title(), "Done");
    EXPECT_FALSE(picker->doneButton()->isEnabled());

    // The host lists its own albums too; the title button then opens the drop-down.
    auto settings = picker->settings();
    settings->fetch()->album()->setFetchResults(
            {photos::AssetCollection::fetchAssetCollections(
                     photos::AssetCollectionType::SmartAlbum,
                     photos::AssetCollectionSubtype::SmartAlbumUserLibrary),
             photos::AssetCollection::fetchAssetCollections(photos::AssetCollectionType::Album,
                                                            photos::AssetCollectionSubtype::Any)});
    picker->setAlbums({});
    std::vector<photos::AssetCollectionPtr> albums;
    for (const auto& result : settings->fetch()->album()->fetchResults()) {
        albums.insert(albums.end(), result.begin(), result.end());
    }
    picker->setAlbums(albums);
    picker->updateAlbumButton();
    ASSERT_FALSE(picker->albumButton()->isHidden());
    ASSERT_TRUE(app_.tap(picker->albumButton()));
    app_.advance(0.5);
    auto list = picker->albumsViewController();
    ASSERT_EQ(picker->presentedViewController(), list);
    const ui::Rect dropdown = list->view()->frame();
    const ui::Rect bar =
            picker->navigationBar()->convertTo(picker->navigationBar()->bounds(), nullptr);
    EXPECT_EQ(dropdown.height, 200);
    EXPECT_EQ(dropdown.width, 390);
    EXPECT_EQ(dropdown.y, bar.y + bar.height);
    // The button's own arrow points up while the list is open, down again after.
    EXPECT_NEAR(picker->albumButton()->imageView()->transform().a, -1, 1e-9);
    // Trip is the second row.
    ASSERT_TRUE(app_.tap(list->tableView()->cellForRow({0, 1})));
    app_.advance(0.5);
    EXPECT_EQ(picker->presentedViewController(), nullptr);
    EXPECT_NEAR(picker->albumButton()->imageView()->transform().a, 1, 1e-9);
    EXPECT_EQ(picker->albumButton()->title(), "Trip ");
    ASSERT_EQ(grid->fetchResult().count(), 5u);  // four pictures and the 3 s clip

    // Three taps: numbered badges in tap order.
    std::vector<photos::AssetPtr> chosen;
    for (int item : {2, 0, 4}) {
        auto cell = grid->cellAt(item);
        ASSERT_TRUE(cell);
        ASSERT_TRUE(app_.tap(cell));
        chosen.push_back(grid->fetchResult().objectAt(static_cast<std::size_t>(item)));
    }
    app_.advance(0.5);
    EXPECT_EQ(numberOn(*grid->cellAt(2)), "1");
    EXPECT_EQ(numberOn(*grid->cellAt(0)), "2");
    EXPECT_EQ(numberOn(*grid->cellAt(4)), "3");
    EXPECT_EQ(picker->doneButton()->title(), "Done (3)");
    EXPECT_TRUE(picker->doneButton()->isEnabled());
    EXPECT_TRUE(app_.writeSnapshot(*picker->view(), "ImagePickerController_grid3selected.png"));
    app_.expectLooksRight(*picker->view());

    // A long press opens the picture's preview with the zoom; a drag down takes it away.
    auto pressed = grid->cellAt(1);
    longPress(*pressed, 0.6);
    app_.advance(0.5);
    auto preview = std::dynamic_pointer_cast<PreviewViewController>(picker->topViewController());
    ASSERT_TRUE(preview);
    ASSERT_TRUE(app_.runUntil([&] { return preview->imageView()->image() != nullptr; }));
    EXPECT_TRUE(pressed->imageView()->isHidden());
    EXPECT_TRUE(app_.writeSnapshot(*picker->view(), "PreviewViewController_image.png"));
    app_.expectLooksRight(*picker->view());
    const ui::Rect screen = preview->view()->convertTo(preview->view()->bounds(), nullptr);
    drag({screen.x + screen.width / 2, screen.y + screen.height / 2}, 100);
    app_.advance(0.5);
    EXPECT_EQ(picker->topViewController(), grid);
    EXPECT_FALSE(pressed->imageView()->isHidden());

    ASSERT_TRUE(app_.tap(picker->doneButton()->view()));
    ASSERT_TRUE(app_.runUntil([&] { return emulator_.uploads().size() == 3; }, 60));
    app_.advance(1);
    EXPECT_EQ(app_.topViewController(), app_.root());

    ASSERT_TRUE(selector->selected);
    ASSERT_EQ(selector->selected->size(), 3u);
    const auto uploads = emulator_.uploads();
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ((*selector->selected)[i], foundation::fileURLFromPath(chosen[i]->file()));
        EXPECT_EQ(uploads[i].sha256, sha256Of(chosen[i]->file()));
        EXPECT_EQ(uploads[i].kind, chosen[i]->mediaType() == photos::AssetMediaType::Video
                                           ? test::MediaKind::Video
                                           : test::MediaKind::Image);
    }
}

TEST_F(PickerIntegrationTest, TheDefaultMediaListOffersVideosAndPictures) {
    // No options and no file-selector config: the facade's own list of type identifiers.
    sdk_->uploadFromFileSelector(std::nullopt);
    std::shared_ptr<ImagePickerController> picker;
    ASSERT_TRUE(app_.runUntil([&] {
        picker = std::dynamic_pointer_cast<ImagePickerController>(app_.topViewController());
        return picker != nullptr;
    }));
    app_.settle();
    using M = Settings::Fetch::Assets::MediaTypes;
    EXPECT_EQ(picker->settings()->fetch()->assets()->supportedMediaTypes(),
              (std::set<M>{M::Image, M::Video}));
    // All six pictures and the three clips of the library.
    EXPECT_EQ(picker->assetsViewController()->fetchResult().count(), 9u);
}

TEST_F(PickerIntegrationTest, RefusedAccessShowsNothingAndAsksAgainEachTime) {
    PhotoLibrary::shared().setAuthorizationAnswer(photos::AuthorizationStatus::Denied);
    bool completed = false;
    for (int attempt = 0; attempt < 2; ++attempt) {
        presentImagePicker(app_.root(), 3, {"image"}, 0, true, nullptr, nullptr, nullptr, nullptr,
                           [&] { completed = true; });
        app_.settle();
        app_.advance(1);
    }
    EXPECT_EQ(PhotoLibrary::shared().authorizationRequestCount(), 2);
    EXPECT_EQ(app_.root()->presentedViewController(), nullptr);
    EXPECT_FALSE(completed);
    EXPECT_TRUE(app_.logged("Photo library access not granted (status 2); picker not shown"));
}

TEST_F(PickerIntegrationTest, VideoPreviewPlaysTheMovieOnTheClockAndStopsAtItsEnd) {
    // Every frame a key frame, so that the picture at any time is the exact one.
    const auto movie = photos::test::writeMovie(app_.sandboxRoot() / "media", "every.mp4", 3.0, 160,
                                                120, false, 1);
    auto& library = PhotoLibrary::shared();
    const auto clip = library.asset(library.addAsset({.file = movie}).localIdentifier);
    auto preview = std::dynamic_pointer_cast<VideoPreviewViewController>(
            PreviewBuilder::createPreviewController(clip, std::make_shared<Settings>()));
    ASSERT_TRUE(preview);
    EXPECT_FALSE(preview->state());
    EXPECT_FALSE(preview->doubleTapRecognizer()->isEnabled());
    auto navigation = std::make_shared<ui::NavigationController>(preview);
    app_.root()->present(navigation, false);
    ASSERT_TRUE(app_.runUntil([&] {
        return preview->player()
               && preview->player()->timeControlStatus.get()
                          == av::Player::TimeControlStatus::Playing;
    }));
    app_.settle();
    EXPECT_EQ(preview->state(), VideoPreviewViewController::State::Playing);
    // Once on screen the movie covers the still.
    EXPECT_FALSE(preview->playerView()->isHidden());
    EXPECT_EQ(preview->view()->subviews().front(), preview->scrollView());

    // The picture moves on with the clock, and stands still while paused.
    const auto pictureNow = [&] { return ui::render(*preview->playerView()); };
    const auto samePicture = [](const image::Bitmap& a, const image::Bitmap& b) {
        for (int y = 0; y < a.height(); ++y) {
            if (!std::equal(a.row(y), a.row(y) + a.width() * 4, b.row(y))) {
                return false;
            }
        }
        return true;
    };
    const auto first = pictureNow();
    app_.advance(1.0);
    const auto later = pictureNow();
    ASSERT_TRUE(first && later);
    EXPECT_FALSE(samePicture(*first, *later));
    EXPECT_NEAR(preview->player()->currentTime().seconds(), 1.0, 0.1);
    EXPECT_TRUE(app_.writeSnapshot(*navigation->view(), "VideoPreviewViewController_playing.png"));
    app_.expectLooksRight(*navigation->view(), /*pictures=*/1);

    preview->pausePressed();
    EXPECT_EQ(preview->state(), VideoPreviewViewController::State::Paused);
    const auto paused = pictureNow();
    app_.advance(1.0);
    EXPECT_TRUE(samePicture(*paused, *pictureNow()));

    // Played to the end: rewound and paused; play starts it again from the beginning.
    preview->playPressed();
    app_.advance(3.0);
    ASSERT_TRUE(app_.runUntil(
            [&] { return preview->state() == VideoPreviewViewController::State::Paused; }));
    ASSERT_TRUE(app_.runUntil([&] { return preview->player()->currentTime().seconds() == 0; }));
    EXPECT_EQ(preview->player()->rate(), 0);
    preview->playPressed();
    app_.advance(0.5);
    EXPECT_NEAR(preview->player()->currentTime().seconds(), 0.5, 0.1);

    // Leaving pauses the movie and hides it.
    navigation->dismiss(false);
    app_.settle();
    EXPECT_EQ(preview->state(), VideoPreviewViewController::State::Paused);
    EXPECT_EQ(preview->player()->rate(), 0);
    EXPECT_TRUE(preview->playerView()->isHidden());
}

}  // namespace
}  // namespace pelmar
