#include "pelmar/picker/ImagePickerController.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>

#include "pelmar/picker/AlbumsViewController.h"
#include "pelmar/picker/AssetCollectionViewCell.h"
#include "pelmar/picker/AssetsCollectionViewDataSource.h"
#include "pelmar/picker/PreviewViewController.h"
#include "pelmar/picker/SelectionView.h"
#include "pelmar/platform/av/Player.h"
#include "pelmar/platform/photos/AssetChangeRequest.h"
#include "pelmar/platform/photos/AssetCollection.h"
#include "pelmar/platform/photos/PhotoLibrary.h"
#include "pelmar/platform/photos/ReverseGeocoder.h"
#include "pelmar/platform/photos/testing/MediaFiles.h"
#include "pelmar/platform/ui/NavigationBar.h"
#include "pelmar/platform/ui/RecordingContext.h"
#include "pelmar/platform/ui/Snapshot.h"
#include "pelmar/platform/ui/Touch.h"
#include "pelmar/platform/ui/testing/Pixels.h"
#include "testing/App.h"

namespace pelmar {
namespace {

using photos::PhotoLibrary;

// How the album button shows its arrow when painted: the arrow's box (the button's image view),
// the mean height of the ink in the box's middle column against the box's middle (positive: a
// V pointing down, negative: turned over) and the rightmost ink left of the box (the title).
struct ArrowLook {
    ui::Rect box;
    double middleInk = 0;
    int middleInkPixels = 0;
    double titleRight = -1;
};

ArrowLook arrowLook(ui::Button& button) {
    constexpr double kScale = 4;
    ArrowLook look;
    look.box = button.imageView()->frame();
    const auto painted = ui::render(button, kScale);
    if (!painted) {
        return look;
    }
    const double middleX = look.box.x + look.box.width / 2;
    const double middleY = look.box.y + look.box.height / 2;
    double sum = 0;
    for (int py = 0; py < painted->height(); ++py) {
        for (int px = 0; px < painted->width(); ++px) {
            const double x = (px + 0.5) / kScale;
            const double y = (py + 0.5) / kScale;
            if (ui::test::colorAt(*painted, x, y).alpha < 0.3) {
                continue;
            }
            if (x < look.box.x) {
                look.titleRight = std::max(look.titleRight, x);
            } else if (std::abs(x - middleX) < 0.5) {
                sum += y - middleY;
                ++look.middleInkPixels;
            }
        }
    }
    look.middleInk = look.middleInkPixels > 0 ? sum / look.middleInkPixels : 0;
    return look;
}

// Records the picker's delegate calls as "select:<n>", "deselect:<n>" (n: the asset's index in
// the library order), "finish", "cancel", "limit".
struct Calls : ImagePickerControllerDelegate {
    explicit Calls(std::vector<std::string> assetIds) : ids(std::move(assetIds)) {}

    std::string name(const photos::AssetPtr& a) const {
        for (std::size_t i = 0; i < ids.size(); ++i) {
            if (ids[i] == a->localIdentifier()) {
                return std::to_string(i);
            }
        }
        return "?";
    }

    void imagePickerDidSelectAsset(ImagePickerController&, const photos::AssetPtr& a) override {
        log.push_back("select:" + name(a));
    }

    void imagePickerDidDeselectAsset(ImagePickerController&, const photos::AssetPtr& a) override {
        log.push_back("deselect:" + name(a));
    }

    void imagePickerDidFinishWithAssets(ImagePickerController&,
                                        const std::vector<photos::AssetPtr>& assets) override {
        std::string line = "finish";
        for (const auto& a : assets) {
            line += ":" + name(a);
        }
        log.push_back(line);
    }

    void imagePickerDidCancelWithAssets(ImagePickerController&,
                                        const std::vector<photos::AssetPtr>&) override {
        log.push_back("cancel");
    }

    void imagePickerDidReachSelectionLimit(ImagePickerController&, int64_t n) override {
        log.push_back("limit:" + std::to_string(n));
    }

    std::vector<std::string> ids;
    std::vector<std::string> log;
};

class PhotoLibraryPickerTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto& library = PhotoLibrary::shared();
        library.reset(app_.sandboxRoot() / "PhotoLibrary");
        library.setAuthorizationStatus(photos::AuthorizationStatus::Authorized);
        // Newest first in the grid: asset i shows at item 5 - i.
        for (int i = 0; i < 6; ++i) {
            const auto file = photos::test::writeJpeg(app_.sandboxRoot() / "media",
                                                      "p" + std::to_string(i) + ".jpg", 60, 40, i);
            ids_.push_back(
                    library.addAsset({.file = file, .creationDate = 100.0 + i}).localIdentifier);
        }
        calls_ = std::make_shared<Calls>(ids_);
    }

    void TearDown() override { PhotoLibrary::shared().reset(); }

    std::shared_ptr<ImagePickerController> open(
            const std::function<void(Settings&)>& configure = nullptr,
            std::vector<photos::AssetPtr> selected = {}) {
        auto picker = ImagePickerController::create(std::move(selected));
        picker->settings()->theme()->setSelectionStyle(Settings::SelectionStyle::Numbered);
        if (configure) {
            configure(*picker->settings());
        }
        picker->setImagePickerDelegate(calls_);
        picker->setModalPresentationStyle(ui::ModalPresentationStyle::FullScreen);
        app_.root()->present(picker, false);
        app_.settle();
        app_.advance(1);
        return picker;
    }

    // Taps the cell showing library asset `i`.
    bool tapAsset(ImagePickerController& picker, int i) {
        auto cell = picker.assetsViewController()->cellAt(5 - i);
        return cell && app_.tap(cell);
    }

    std::string badge(ImagePickerController& picker, int i) {
        auto cell = picker.assetsViewController()->cellAt(5 - i);
        if (!cell || !cell->isSelected()) {
            return "-";
        }
        auto number = std::dynamic_pointer_cast<NumberView>(cell->selectionView()->icon());
        return number ? number->text() : "?";
    }

    std::vector<std::string> stored(ImagePickerController& picker) {
        std::vector<std::string> out;
        for (const auto& a : picker.selectedAssets()) {
            out.push_back(calls_->name(a));
        }
        return out;
    }

    test::App app_;
    std::vector<std::string> ids_;
    std::shared_ptr<Calls> calls_;
};

TEST_F(PhotoLibraryPickerTest, AtTheLimitATapIsRefusedUntilSomethingIsDeselected) {
    auto picker = open([](Settings& s) { s.selection()->setMax(3); });
    for (int i : {0, 1, 2}) {
        ASSERT_TRUE(tapAsset(*picker, i));
    }
    const auto& feedback = picker->assetsViewController()->selectionFeedback();
    const int prepared = feedback.prepared;
    ASSERT_TRUE(tapAsset(*picker, 3));
    EXPECT_EQ(stored(*picker), (std::vector<std::string>{"0", "1", "2"}));
    EXPECT_EQ(feedback.prepared, prepared);
    ASSERT_TRUE(tapAsset(*picker, 1));  // deselects
    ASSERT_TRUE(tapAsset(*picker, 3));
    EXPECT_EQ(stored(*picker), (std::vector<std::string>{"0", "2", "3"}));
    EXPECT_EQ(badge(*picker, 2), "2");
    EXPECT_EQ(badge(*picker, 3), "3");
    EXPECT_EQ(calls_->log.back(), "limit:3");
}

TEST_F(PhotoLibraryPickerTest, UnselectOnMaxDropsTheOldestFirstAndRenumbers) {
    auto picker = open([](Settings& s) {
        s.selection()->setMax(3);
        s.selection()->setUnselectOnReachingMax(true);
    });
    for (int i : {0, 1, 2, 3}) {
        ASSERT_TRUE(tapAsset(*picker, i));
    }
    app_.advance(1);
    EXPECT_EQ(stored(*picker), (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_EQ(badge(*picker, 0), "-");
    EXPECT_EQ(badge(*picker, 1), "1");
    EXPECT_EQ(badge(*picker, 2), "2");
    EXPECT_EQ(badge(*picker, 3), "3");
    const std::vector<std::string> tail(calls_->log.end() - 3, calls_->log.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"deselect:0", "select:3", "limit:3"}));
}

TEST_F(PhotoLibraryPickerTest, AZeroLimitStillLetsOneAssetBeChosen) {
    // Through the entry a host calls, which must clamp the limit itself.
    presentImagePicker(app_.root(), 0, {"image"}, 0, false, nullptr, nullptr, nullptr, nullptr,
                       nullptr);
    std::shared_ptr<ImagePickerController> picker;
    ASSERT_TRUE(app_.runUntil([&] {
        picker = std::dynamic_pointer_cast<ImagePickerController>(app_.topViewController());
        return picker != nullptr;
    }));
    app_.settle();
    app_.advance(1);
    ASSERT_TRUE(tapAsset(*picker, 0));
    ASSERT_TRUE(tapAsset(*picker, 1));
    EXPECT_EQ(picker->settings()->selection()->max(), 1);
    EXPECT_EQ(stored(*picker), (std::vector<std::string>{"1"}));
}

TEST_F(PhotoLibraryPickerTest, TheGridFillsItsWidthWithSquareCellsAndAtLeastOnePerRow) {
    struct Case {
        const char* name;
        int64_t perRow;  // the host's rule answers this; 0: the default rule
        double side;     // points
    };

    // 390 points wide, 2 points between cells, scale 3.
    const Case cases[] = {
            {"default: three per row", 0, (390.0 - 2 * 2) / 3},
            {"four per row", 4, (390.0 - 2 * 3) / 4},
            {"a rule answering 0 gives one per row", -1, 390.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto picker = open([&](Settings& s) {
            if (c.perRow != 0) {
                const int64_t answer = std::max<int64_t>(c.perRow, 0);
                s.list()->setCellsPerRow([answer](auto, auto) { return answer; });
            }
        });
        auto grid = picker->assetsViewController();
        ASSERT_EQ(grid->collectionView()->bounds().width, 390);
        const auto& layout = grid->collectionView()->layout();
        EXPECT_DOUBLE_EQ(layout.itemSize.width, c.side);
        EXPECT_DOUBLE_EQ(layout.itemSize.height, c.side);
        EXPECT_EQ(layout.minimumInteritemSpacing, 2);
        EXPECT_DOUBLE_EQ(grid->dataSource()->imageSize().width, c.side * 3);
        ASSERT_TRUE(grid->cellAt(0));
        EXPECT_DOUBLE_EQ(grid->cellAt(0)->frame().width, c.side);
        picker->dismiss(false);
        app_.settle();
    }
}

TEST_F(PhotoLibraryPickerTest, CellsPerRowFollowTheWindowsSizeClasses) {
    using S = ui::UserInterfaceSizeClass;

    struct Case {
        const char* name;
        S vertical;
        S horizontal;
        int perRow;
    };

    const Case cases[] = {
            {"regular down, compact across (a phone upright)", S::Regular, S::Compact, 3},
            {"compact both ways (a phone on its side)", S::Compact, S::Compact, 5},
            {"compact down, regular across (a large phone on its side)", S::Compact, S::Regular, 3},
            {"regular both ways (a pad)", S::Regular, S::Regular, 7},
            {"unspecified", S::Unspecified, S::Regular, 3},
    };
    auto picker = open();
    auto grid = picker->assetsViewController();
    ASSERT_EQ(grid->collectionView()->bounds().width, 390);
    EXPECT_DOUBLE_EQ(grid->collectionView()->layout().itemSize.width, (390.0 - 2 * 2) / 3);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // The open grid hears the window's new traits.
        app_.window()->setTraitOverride(
                ui::TraitCollection{c.horizontal, c.vertical, ui::UserInterfaceIdiom::Phone});
        const double side = (390.0 - 2 * (c.perRow - 1)) / c.perRow;
        EXPECT_DOUBLE_EQ(grid->collectionView()->layout().itemSize.width, side);
        ASSERT_TRUE(grid->cellAt(0));
        EXPECT_DOUBLE_EQ(grid->cellAt(0)->frame().width, side);
    }
    app_.window()->setTraitOverride(std::nullopt);
}

TEST_F(PhotoLibraryPickerTest, AReusedAlbumRowNeverTakesTheLateThumbnailOfItsEarlierAlbum) {
    auto& library = PhotoLibrary::shared();
    const auto full = library.addAlbum("Full", {ids_[0]});
    const auto empty = library.addAlbum("Empty", {});
    std::vector<photos::AssetCollectionPtr> albums(2);
    for (const auto& album : photos::AssetCollection::fetchAssetCollections(
                 photos::AssetCollectionType::Album, photos::AssetCollectionSubtype::Any)) {
        albums[album->localIdentifier() == full ? 0 : 1] = album;
    }
    ASSERT_EQ(albums[1]->localIdentifier(), empty);
    auto source = std::make_shared<AlbumsTableViewDataSource>(albums, 2);
    source->setSettings(std::make_shared<Settings>());
    // One row shows at a time.
    auto table = std::make_shared<ui::TableView>(ui::Rect{0, 0, 320, 100});
    table->setRowHeight(100);
    table->registerCell(AlbumCell::kIdentifier, [] { return std::make_shared<AlbumCell>(); });
    table->setDataSource(source);
    table->reloadData();
    table->layoutIfNeeded();
    auto cell = std::dynamic_pointer_cast<AlbumCell>(table->cellForRow({0, 0}));
    ASSERT_TRUE(cell);
    // Before the first album's thumbnail arrives, its row scrolls away and the cell comes back
    // for the album without pictures.
    table->setContentOffset({0, 100});
    table->layoutIfNeeded();
    ASSERT_EQ(table->cellForRow({0, 1}), cell);
    app_.settle();
    EXPECT_EQ(cell->albumImageView()->image(), nullptr);
    EXPECT_EQ(cell->albumTitleLabel()->text(), "Empty");

    // Back on its own row, the first album shows its picture.
    table->setContentOffset({0, 0});
    table->layoutIfNeeded();
    app_.settle();
    auto back = std::dynamic_pointer_cast<AlbumCell>(table->cellForRow({0, 0}));
    ASSERT_TRUE(back);
    EXPECT_NE(back->albumImageView()->image(), nullptr);
}

TEST_F(PhotoLibraryPickerTest, WithoutAlbumsThePickerShowsNothingToChooseFrom) {
    auto picker = open([](Settings& s) { s.fetch()->album()->setFetchResults({}); });
    EXPECT_TRUE(picker->albums().empty());
    EXPECT_TRUE(picker->albumButton()->isHidden());
    EXPECT_EQ(picker->assetsViewController()->fetchResult().count(), 0u);
    auto items = picker->assetsViewController()->collectionView();
    EXPECT_TRUE(items->numberOfSections() == 0 || items->numberOfItems(0) == 0);
    auto list = picker->albumsViewController();
    list->view();
    list->setAlbums(picker->albums());
    list->tableView()->reloadData();
    EXPECT_EQ(list->tableView()->numberOfSections(), 0);
    EXPECT_EQ(picker->doneButton()->title(), "Done");
    EXPECT_FALSE(picker->doneButton()->isEnabled());
}

TEST_F(PhotoLibraryPickerTest, ATapOutsideTheDropDownClosesItAndTurnsTheArrowBack) {
    auto& library = PhotoLibrary::shared();
    library.addAlbum("Two", {ids_[0], ids_[1]});
    auto picker = open([](Settings& s) {
        s.fetch()->album()->setFetchResults(
                {photos::AssetCollection::fetchAssetCollections(
                         photos::AssetCollectionType::SmartAlbum,
                         photos::AssetCollectionSubtype::SmartAlbumUserLibrary),
                 photos::AssetCollection::fetchAssetCollections(
                         photos::AssetCollectionType::Album, photos::AssetCollectionSubtype::Any)});
    });
    ASSERT_EQ(picker->albums().size(), 2u);
    ASSERT_FALSE(picker->albumButton()->isHidden());
    const std::string title = picker->albumButton()->title();
    // The button just holds its title and the arrow, which stands after the title and is the
    // button's own picture.
    const auto& button = picker->albumButton();
    EXPECT_EQ(button->semanticContentAttribute(), ui::SemanticContentAttribute::ForceRightToLeft);
    EXPECT_TRUE(button->titleAdjustsFontSizeToFitWidth());
    const ui::Size fits = button->sizeThatFits();
    EXPECT_GT(fits.width, 8 + 16);
    EXPECT_EQ(button->frame().width, fits.width);
    EXPECT_EQ(button->frame().height, fits.height);
    ASSERT_TRUE(button->imageView()->image());
    EXPECT_EQ(button->imageView()->image(), button->image(ui::ControlState::Normal));
    const ui::Rect arrow = button->imageView()->frame();
    EXPECT_EQ(arrow.width, 8);
    EXPECT_DOUBLE_EQ(arrow.x + arrow.width, button->bounds().width);
    // Painted, the title's ink ends before the arrow, which points down.
    const ArrowLook closed = arrowLook(*button);
    EXPECT_GT(closed.titleRight, 8) << "the title stands first";
    EXPECT_LT(closed.titleRight, closed.box.x);
    ASSERT_GT(closed.middleInkPixels, 0) << "the arrow is drawn in its own box";
    EXPECT_GT(closed.middleInk, 1);
    ASSERT_TRUE(app_.tap(picker->albumButton()));
    app_.advance(0.5);
    auto list = picker->albumsViewController();
    ASSERT_EQ(picker->presentedViewController(), list);
    // The button's own arrow points up while the list is open, down again after.
    EXPECT_NEAR(picker->albumButton()->imageView()->transform().a, -1, 1e-9);
    const ArrowLook open = arrowLook(*button);
    EXPECT_NEAR(open.box.x, closed.box.x, 1e-9);
    EXPECT_NEAR(open.box.y, closed.box.y, 1e-9);
    ASSERT_GT(open.middleInkPixels, 0);
    EXPECT_LT(open.middleInk, -1) << "the arrow is drawn turned over";
    EXPECT_LT(open.titleRight, open.box.x);
    auto dropdown = std::dynamic_pointer_cast<DropdownPresentationController>(
            list->presentationController());
    ASSERT_TRUE(dropdown);
    // What lies under a finger below the list is the drop-down's background, over the grid;
    // its tap closes the list. (The touch layer takes touches on the topmost screen only, so
    // the tap itself is sent as the background's recogniser sends it.)
    const ui::Rect shown = list->view()->convertTo(list->view()->bounds(), nullptr);
    ASSERT_LT(shown.y + shown.height, 700);
    EXPECT_EQ(app_.window()->hitTest({195, 700}), dropdown->backgroundView());
    EXPECT_EQ(app_.window()->hitTest({195, shown.y + 10})->window(), app_.window());
    EXPECT_TRUE(app_.window()->hitTest({195, shown.y + 10})->isDescendant(*list->view()));
    dropdown->backgroundTapped();
    app_.advance(0.5);
    EXPECT_EQ(picker->presentedViewController(), nullptr);
    EXPECT_NEAR(picker->albumButton()->imageView()->transform().a, 1, 1e-9);
    EXPECT_GT(arrowLook(*button).middleInk, 1);
    // Nothing was chosen: the same album stays.
    EXPECT_EQ(picker->albumButton()->title(), title);
    EXPECT_EQ(picker->assetsViewController()->fetchResult().count(), 6u);
}

TEST_F(PhotoLibraryPickerTest, AChangeArrivingAfterAnAlbumSwitchMeetsTheNewAlbum) {
    auto& library = PhotoLibrary::shared();
    const auto two = library.addAlbum("Two", {ids_[0], ids_[1]});
    auto picker = open();
    auto grid = picker->assetsViewController();
    ASSERT_EQ(grid->fetchResult().count(), 6u);
    for (const bool incremental : {true, false}) {
        SCOPED_TRACE(incremental ? "incremental" : "reload");
        library.setIncrementalChanges(incremental);
        // The change is told on the library queue (done once this returns); before the main
        // queue hears of it, the user switches to the small album.
        const std::string gone = incremental ? ids_[5] : ids_[4];
        ASSERT_EQ(library.performChangesAndWait(
                          [gone] { photos::AssetChangeRequest::deleteAssets({gone}); }),
                  std::nullopt);
        const auto album =
                photos::AssetCollection::fetchAssetCollections(photos::AssetCollectionType::Album,
                                                               photos::AssetCollectionSubtype::Any)
                        .objectAt(0);
        ASSERT_EQ(album->localIdentifier(), two);
        picker->select(*album);
        app_.settle();
        EXPECT_EQ(grid->fetchResult().count(), 2u);
        ASSERT_EQ(grid->collectionView()->numberOfSections(), 1);
        EXPECT_EQ(grid->collectionView()->numberOfItems(0), 2);
        // Back to the whole library for the next round.
        picker->select(*picker->albums().front());
        app_.settle();
    }
}

TEST_F(PhotoLibraryPickerTest, TheBarsTitlesAndLabelsTakeTheirLooks) {
    EXPECT_EQ(ImagePickerController::currentAuthorization(),
              photos::AuthorizationStatus::Authorized);
    auto picker = open();
    EXPECT_FALSE(picker->navigationBar()->isTranslucent());
    EXPECT_EQ(picker->navigationBar()->barTintColor(), PickerColors::systemBackgroundColor());
    const auto& album = picker->albumButton();
    EXPECT_EQ(album->titleFont(), ui::Font::systemFont(16));
    EXPECT_EQ(album->titleColor(ui::ControlState::Normal), PickerColors::defaultTintColor());

    // A place or date, then the time: the preview's title takes every line it has.
    auto preview = PreviewViewController::create();
    preview->view();
    const auto& title = *preview->titleLabel();
    EXPECT_EQ(title.numberOfLines(), 0);
    EXPECT_EQ(title.lineBreakMode(), ui::LineBreakMode::ByClipping);
    EXPECT_EQ(title.textAlignment(), ui::TextAlignment::Center);
}

TEST_F(PhotoLibraryPickerTest, DeselectingRenumbersTheBadgesAndTheDoneTitleCounts) {
    auto picker = open();
    EXPECT_EQ(picker->doneButton()->title(), "Done");
    EXPECT_FALSE(picker->doneButton()->isEnabled());
    for (int i : {4, 2, 0}) {
        ASSERT_TRUE(tapAsset(*picker, i));
    }
    EXPECT_EQ(picker->doneButton()->title(), "Done (3)");
    EXPECT_TRUE(picker->doneButton()->isEnabled());
    ASSERT_TRUE(tapAsset(*picker, 2));
    EXPECT_EQ(badge(*picker, 4), "1");
    EXPECT_EQ(badge(*picker, 0), "2");
    picker->setDoneButtonTitle("OK");
    picker->deselect(*PhotoLibrary::shared().asset(ids_[5]));  // not selected: nothing happens
    EXPECT_EQ(stored(*picker), (std::vector<std::string>{"4", "0"}));
    ASSERT_TRUE(tapAsset(*picker, 5));
    EXPECT_EQ(picker->doneButton()->title(), "OK (3)");
}

TEST_F(PhotoLibraryPickerTest, PreselectedAssetsCountAtLoadAndDoneActsOnce) {
    auto picker = open(nullptr, {PhotoLibrary::shared().asset(ids_[1]),
                                 PhotoLibrary::shared().asset(ids_[3])});
    EXPECT_EQ(picker->doneButton()->title(), "Done (2)");
    EXPECT_EQ(badge(*picker, 3), "2");
    picker->doneButtonPressed();
    picker->doneButtonPressed();
    picker->cancelButtonPressed();
    EXPECT_EQ(calls_->log, (std::vector<std::string>{"finish:1:3"}));
    app_.advance(1);
    EXPECT_EQ(app_.root()->presentedViewController(), nullptr);
}

TEST_F(PhotoLibraryPickerTest, SwipeDownCancelsOnlyWhenAllowed) {
    auto picker = open();
    ASSERT_TRUE(tapAsset(*picker, 2));
    EXPECT_FALSE(picker->swipeToDismiss());
    picker->settings()->dismiss()->setAllowSwipe(true);
    EXPECT_TRUE(picker->swipeToDismiss());
    app_.advance(1);
    EXPECT_EQ(calls_->log.back(), "cancel");
}

TEST_F(PhotoLibraryPickerTest, LibraryChangesKeepTheSelectionInStep) {
    auto picker = open();
    auto grid = picker->assetsViewController();
    for (int i : {1, 3, 4}) {
        ASSERT_TRUE(tapAsset(*picker, i));
    }

    struct Case {
        const char* name;
        bool incremental;
        std::function<void()> change;
        std::vector<std::string> store;
        std::size_t items;
    };

    auto& library = PhotoLibrary::shared();
    const auto extra = photos::test::writeJpeg(app_.sandboxRoot() / "media", "x.jpg", 30, 30);
    const Case cases[] = {
            {"DeleteSelected", true, [&] { library.removeAsset(ids_[3]); }, {"1", "4"}, 5},
            {"Insert",
             true,
             [&] { library.addAsset({.file = extra, .creationDate = 500.0}); },
             {"1", "4"},
             6},
            {"MoveSelectedToTheEnd",
             true,
             [&] { library.updateAsset(ids_[4], [](auto& p) { p.creationDate = 1; }); },
             {"1", "4"},
             6},
            {"NotIncremental", false, [&] { library.removeAsset(ids_[0]); }, {"1", "4"}, 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        library.setIncrementalChanges(c.incremental);
        c.change();
        ASSERT_TRUE(app_.runUntil([&] { return grid->fetchResult().count() == c.items; }));
        app_.settle();
        EXPECT_EQ(stored(*picker), c.store);
        std::vector<std::string> selected;
        for (const auto& path : grid->collectionView()->indexPathsForSelectedItems()) {
            selected.push_back(calls_->name(grid->fetchResult().objectAt(path.item)));
        }
        std::sort(selected.begin(), selected.end());
        EXPECT_EQ(selected, (std::vector<std::string>{"1", "4"}));
    }
    EXPECT_NE(std::find(calls_->log.begin(), calls_->log.end(), "deselect:3"), calls_->log.end());
}

TEST_F(PhotoLibraryPickerTest, LongPressNeedsPreviewsEnabled) {
    auto picker = open([](Settings& s) { s.preview()->setEnabled(false); });
    auto cell = picker->assetsViewController()->cellAt(0);
    ui::TouchSequence finger(app_.window());
    const ui::Rect r = cell->convertTo(cell->bounds(), nullptr);
    ASSERT_EQ(finger.begin({{r.x + 10, r.y + 10}}), std::nullopt);
    app_.advance(0.6);
    finger.end();
    app_.advance(1);
    EXPECT_EQ(picker->topViewController(), picker->assetsViewController());
    EXPECT_EQ(picker->assetsViewController()->selectionFeedback().selectionsChanged, 0);
}

TEST_F(PhotoLibraryPickerTest, DragToDismissDecidesOnTheLatestUpdate) {
    auto picker = open();
    auto grid = picker->assetsViewController();
    auto cell = grid->cellAt(0);
    picker->assetsViewControllerDidLongPressCell(*grid, *cell, grid->fetchResult().objectAt(0));
    app_.advance(1);
    auto preview = std::dynamic_pointer_cast<PreviewViewController>(picker->topViewController());
    ASSERT_TRUE(preview);
    auto drag = picker->zoomTransitionDelegate()->dragController();
    auto pan = drag->panRecognizer();
    ASSERT_TRUE(pan);
    // A drag that starts upwards never begins; sideways or downwards does.
    auto superview = pan->view()->superview();
    pan->setTranslation({0, -5}, superview.get());
    EXPECT_FALSE(drag->gestureRecognizerShouldBegin(*pan));
    pan->setTranslation({20, 0}, superview.get());
    EXPECT_TRUE(drag->gestureRecognizerShouldBegin(*pan));

    struct Step {
        ui::Point translation;
        double progress;
        double scale;
        bool completes;
    };

    const double height = grid->view()->frame().height;
    const Step steps[] = {
            {{50, 0}, 0, 1, false},
            {{0, -30}, 0, 1, false},
            {{0, 70}, 1, 1 - 70 / height, true},
            {{0, 60}, 60.0 / 70, 1 - 60 / height, false},
            {{0, 10 * height}, 1, ZoomInteractionController::kMinimumScale, true},
    };
    drag->begin();
    for (const auto& s : steps) {
        SCOPED_TRACE(s.translation.y);
        drag->update(s.translation);
        EXPECT_DOUBLE_EQ(drag->progress(), s.progress);
        EXPECT_DOUBLE_EQ(preview->view()->transform().a, s.scale);
        EXPECT_EQ(preview->view()->transform().tx, s.translation.x);
        EXPECT_EQ(drag->hasCompleted(), s.completes);
    }
    drag->update({0, 60});
    drag->cancel();
    EXPECT_EQ(preview->view()->transform().a, 1);
    EXPECT_EQ(picker->topViewController(), preview);
    drag->begin();
    drag->update({0, 80});
    drag->finish();
    app_.advance(1);
    EXPECT_EQ(picker->topViewController(), grid);
}

TEST_F(PhotoLibraryPickerTest, ALivePhotoPreviewPlaysItsMovieAndHidesTheBadgeMeanwhile) {
    const auto media = app_.sandboxRoot() / "media";
    const auto still = photos::test::writeJpeg(media, "live.jpg", 60, 40, 9);
    const auto movie = photos::test::writeMovie(media, "live.mp4", 1, 60, 40);
    const auto id = PhotoLibrary::shared()
                            .addAsset({.file = still,
                                       .mediaSubtypes = photos::kAssetMediaSubtypePhotoLive,
                                       .creationDate = 50,
                                       .pairedVideo = movie})
                            .localIdentifier;
    const auto asset = PhotoLibrary::shared().asset(id);
    ASSERT_EQ(asset->mediaSubtypes(), photos::kAssetMediaSubtypePhotoLive);
    auto preview = std::dynamic_pointer_cast<LivePreviewViewController>(
            PreviewBuilder::createPreviewController(asset, std::make_shared<Settings>()));
    ASSERT_TRUE(preview);
    auto live = preview->livePhotoView();
    ASSERT_TRUE(app_.runUntil([&] { return live->livePhoto().has_value(); }));
    // The live photo view shows the still until it plays, and the badge sits on the picture.
    EXPECT_NE(live->stillView()->image(), nullptr);
    EXPECT_FALSE(live->isPlaying());
    EXPECT_EQ(preview->badgeView()->superview(), live);
    EXPECT_EQ(preview->badgeView()->alpha(), 1);

    live->startPlayback();
    ASSERT_TRUE(live->isPlaying());
    ASSERT_TRUE(app_.runUntil(
            [&] { return live->player()->status.get() == av::Player::Status::ReadyToPlay; }));
    app_.advance(0.35);
    EXPECT_EQ(live->player()->rate(), 1);
    EXPECT_FALSE(live->movieView()->isHidden());
    EXPECT_TRUE(live->stillView()->isHidden());
    EXPECT_EQ(preview->badgeView()->alpha(), 0);

    // At the movie's end the still and the badge come back.
    app_.advance(1.5);
    app_.settle();
    app_.advance(0.35);
    EXPECT_FALSE(live->isPlaying());
    EXPECT_FALSE(live->stillView()->isHidden());
    EXPECT_EQ(preview->badgeView()->alpha(), 1);
}

TEST_F(PhotoLibraryPickerTest, PreviewBuilderPicksTheScreenByKind) {
    struct Case {
        const char* name;
        photos::AssetMediaType type;
        uint32_t subtypes;
        const char* screen;
    };

    const Case cases[] = {
            {"Live", photos::AssetMediaType::Image, photos::kAssetMediaSubtypePhotoLive, "live"},
            {"LiveAndHDR", photos::AssetMediaType::Image,
             photos::kAssetMediaSubtypePhotoLive | photos::kAssetMediaSubtypePhotoHDR, "still"},
            {"Still", photos::AssetMediaType::Image, 0, "still"},
            {"Video", photos::AssetMediaType::Video, 0, "video"},
            {"Audio", photos::AssetMediaType::Audio, 0, "still"},
            {"Unknown", photos::AssetMediaType::Unknown, 0, "still"},
    };
    auto settings = std::make_shared<Settings>();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        photos::Asset::Properties p = PhotoLibrary::shared().asset(ids_[0])->properties();
        p.mediaType = c.type;
        p.mediaSubtypes = c.subtypes;
        auto preview = PreviewBuilder::createPreviewController(std::make_shared<photos::Asset>(p),
                                                               settings);
        std::string screen = "still";
        if (std::dynamic_pointer_cast<LivePreviewViewController>(preview)) {
            screen = "live";
        } else if (std::dynamic_pointer_cast<VideoPreviewViewController>(preview)) {
            screen = "video";
        }
        EXPECT_EQ(screen, c.screen);
        EXPECT_EQ(preview->settings(), settings);
    }
    app_.settle();
}

TEST_F(PhotoLibraryPickerTest, PreviewTitlesNameThePlaceOrTheDate) {
    setenv("TZ", "UTC", 1);
    tzset();
    photos::ReverseGeocoder::setTable(
            {{{48.8566, 2.3522}, 5000, {"Paris"}}, {{10, 10}, 5000, {std::nullopt}}});

    struct Case {
        const char* name;
        std::optional<photos::Location> location;
        std::optional<double> date;
        std::optional<std::string> title;
    };

    // 2021-03-04 17:05 UTC.
    const double date = 1614877500;
    const Case cases[] = {
            {"PlaceAndDate", photos::Location{48.857, 2.352}, date,
             "Paris\nMarch 4, 2021 at 5:05 PM"},
            {"PlaceOnly", photos::Location{48.857, 2.352}, std::nullopt, "Paris"},
            {"UnknownPlace", photos::Location{-40, 100}, date, "March 4, 2021\n5:05 PM"},
            {"PlaceWithoutLocality", photos::Location{10, 10}, date, "March 4, 2021\n5:05 PM"},
            {"DateOnly", std::nullopt, date, "March 4, 2021\n5:05 PM"},
            {"Nothing", std::nullopt, std::nullopt, std::nullopt},
            {"UnknownPlaceNoDate", photos::Location{-40, 100}, std::nullopt, std::nullopt},
    };
    auto theme = std::make_shared<Settings::Theme>();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        photos::Asset::Properties p;
        p.localIdentifier = "t";
        p.location = c.location;
        p.creationDate = c.date;
        std::optional<std::string> title;
        int calls = 0;
        PreviewTitleBuilder::titleFor(photos::Asset(p), theme, [&](AttributedText text) {
            ++calls;
            title = text.string();
        });
        app_.settle();
        EXPECT_EQ(title, c.title);
        EXPECT_LE(calls, 1);
    }
    photos::ReverseGeocoder::setTable({});
}

TEST_F(PhotoLibraryPickerTest, CellsShowDurationsAndNumberTheirItems) {
    EXPECT_EQ(formatDuration(3), "0:03");
    EXPECT_EQ(formatDuration(65), "1:05");
    EXPECT_EQ(formatDuration(3725), "62:05");
    auto picker = open();
    auto grid = picker->assetsViewController();
    EXPECT_EQ(grid->cellAt(0)->accessibilityIdentifier(), "Photo 1");
    ASSERT_TRUE(app_.tap(grid->cellAt(0)));
    EXPECT_EQ(grid->cellAt(0)->accessibilityLabel(), "deselect image");
    // A selection by tap bounces the cell: 0.95, then back.
    EXPECT_EQ(grid->cellAt(0)->transform().a, 0.95);
    app_.advance(0.25);
    EXPECT_EQ(grid->cellAt(0)->transform().a, 1);
    EXPECT_EQ(grid->cellAt(0)->selectionView()->alpha(), 1);
    EXPECT_EQ(grid->cellAt(0)->accessibilityLabel(), "deselect image");
    ASSERT_TRUE(app_.tap(grid->cellAt(0)));
    EXPECT_EQ(grid->cellAt(0)->accessibilityLabel(), "select image");
}

TEST_F(PhotoLibraryPickerTest, TheBadgeCastsASoftShadowInTheThemesColour) {
    auto picker = open();
    auto badge = picker->assetsViewController()->cellAt(0)->selectionView();
    const auto& layer = *badge->layer();
    EXPECT_EQ(layer.shadowColor(), picker->settings()->theme()->selectionShadowColor());
    EXPECT_EQ(layer.shadowOpacity(), 1);
    EXPECT_EQ(layer.shadowOffset(), (ui::Size{0.1, 0.1}));
    EXPECT_EQ(SelectionView::kShadowBlur, 2.5);
    // A theme changed afterwards is drawn with its own shadow colour.
    const ui::Color red{1, 0, 0, 1};
    picker->settings()->theme()->setSelectionShadowColor(red);
    ui::RecordingContext context;
    badge->draw(context);
    EXPECT_EQ(layer.shadowColor(), red);

    // Painted, around the circle lies the same shadow as that of the badge's disc drawn with the
    // theme's shadow colour, offset and blur.
    struct Disc : ui::View {
        std::shared_ptr<Settings> settings;

        void draw(ui::GraphicsContext& c) override {
            const auto theme = settings->theme();
            c.saveState();
            c.setShadow(theme->selectionShadowColor(), SelectionView::kShadowOffset, 2.5);
            c.setFillColor(theme->selectionFillColor());
            c.arc({12.5, 12.5}, 9.5, 0, 2 * std::numbers::pi);
            c.closePath();
            c.fillPath();
            c.setStrokeColor(theme->selectionStrokeColor());
            c.setLineWidth(1);
            c.arc({12.5, 12.5}, 9.5, 0, 2 * std::numbers::pi);
            c.closePath();
            c.strokePath();
            c.restoreState();
        }
    };

    const auto paintedAlone = [](const std::shared_ptr<ui::View>& shape) {
        auto room = std::make_shared<ui::View>(ui::Rect{0, 0, 35, 35});
        shape->setFrame({5, 5, 25, 25});
        room->addSubview(shape);
        return ui::render(*room, 4);
    };
    auto selected = std::make_shared<SelectionView>();
    selected->setSettings(picker->settings());
    auto disc = std::make_shared<Disc>();
    disc->settings = picker->settings();
    const auto shown = paintedAlone(selected);
    const auto expected = paintedAlone(disc);
    ASSERT_TRUE(shown && expected);
    double worst = 0;
    double shade = 0;
    for (double y = 0.125; y < 35; y += 0.25) {
        for (double x = 0.125; x < 35; x += 0.25) {
            if (std::hypot(x - 17.5, y - 17.5) < 10.5) {
                continue;
            }
            const ui::Color a = ui::test::colorAt(*shown, x, y);
            const ui::Color b = ui::test::colorAt(*expected, x, y);
            worst = std::max(worst, std::abs(a.alpha - b.alpha));
            shade += a.alpha;
            if (a.alpha > 0.1) {
                EXPECT_TRUE(ui::test::looksLike({a.red, a.green, a.blue, 1}, red, 0.1))
                        << "in the theme's shadow colour at " << x << ", " << y;
            }
        }
    }
    EXPECT_GT(shade, 100) << "the badge casts a shadow";
    EXPECT_LT(worst, 0.01) << "blurred over the badge's own radius";
}

}  // namespace
}  // namespace pelmar
