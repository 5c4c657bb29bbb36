#include "pelmar/picker/ImagePickerController.h"

#include <gtest/gtest.h>

#include "pelmar/picker/ImageView.h"
#include "pelmar/picker/testing/PhotoLibraryPickerTest.h"

namespace pelmar {
namespace {

using photos::PhotoLibrary;
using test::PhotoLibraryPickerTest;

constexpr ui::Color kGrey{0.5, 0.5, 0.5, 1};

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

TEST_F(PhotoLibraryPickerTest, AlbumRowsClipTheirPictureWrapTheirTitleAndTakeThePhotoOptions) {
    // A wide picture, held only by the cloud, alone in an album with a long title.
    auto& library = PhotoLibrary::shared();
    const auto file = photos::test::writeJpeg(app_.sandboxRoot() / "media", "wide.jpg", 300, 100);
    const auto id = library.addAsset({.file = file, .creationDate = 300.0, .inCloud = true})
                            .localIdentifier;
    const std::string title = "Holidays by the sea with the whole family, summer of that year";
    library.addAlbum(title, {id});
    const auto albums = photos::AssetCollection::fetchAssetCollections(
            photos::AssetCollectionType::Album, photos::AssetCollectionSubtype::Any);
    ASSERT_EQ(albums.count(), 1u);

    struct Seen {
        Mutex mutex;
        std::vector<double> progress PELMAR_GUARDED_BY(mutex);
    };

    auto seen = std::make_shared<Seen>();
    auto settings = std::make_shared<Settings>();
    photos::ImageRequestOptions options;
    options.networkAccessAllowed = true;
    options.progressHandler = [seen](double p) {
        MutexLock lock(seen->mutex);
        seen->progress.push_back(p);
    };
    settings->fetch()->preview()->setPhotoOptions(options);
    auto source = std::make_shared<AlbumsTableViewDataSource>(
            std::vector<photos::AssetCollectionPtr>{albums.firstObject()}, 2);
    source->setSettings(settings);
    auto table = std::make_shared<ui::TableView>(ui::Rect{0, 0, 320, 100});
    table->layer()->setBackgroundColor(kGrey);
    table->setRowHeight(100);
    table->registerCell(AlbumCell::kIdentifier, [] { return std::make_shared<AlbumCell>(); });
    table->setDataSource(source);
    table->reloadData();
    table->layoutIfNeeded();
    app_.settle();
    auto cell = std::dynamic_pointer_cast<AlbumCell>(table->cellForRow({0, 0}));
    ASSERT_TRUE(cell);
    ASSERT_NE(cell->albumImageView()->image(), nullptr);
    {
        MutexLock lock(seen->mutex);
        EXPECT_FALSE(seen->progress.empty()) << "the download reports to the settings' handler";
    }
    const auto painted = ui::render(*table, 4);
    ASSERT_TRUE(painted);
    // The picture fills its 84-point square and nothing beyond: the margin after it is bare.
    EXPECT_GT(ui::test::inkCount(*painted, {8, 8, 84, 84}, kGrey), 84 * 84 * 8);
    EXPECT_EQ(ui::test::inkCount(*painted, {92.5, 1, 7, 98}, kGrey), 0);
    // The title takes as many lines as it needs instead of one cut line.
    const auto glyphs =
            ui::test::inkRuns(*painted, cell->albumTitleLabel()->frame(),
                              settings->theme()->albumTitleAttributes().foregroundColor);
    ASSERT_FALSE(glyphs.empty());
    double top = glyphs.front().top;
    double bottom = glyphs.front().bottom;
    for (const auto& glyph : glyphs) {
        top = std::min(top, glyph.top);
        bottom = std::max(bottom, glyph.bottom);
    }
    EXPECT_GT(bottom - top, 1.5 * settings->theme()->albumTitleAttributes().font.size)
            << "more than one line of text";
}

TEST_F(PhotoLibraryPickerTest, GridThumbnailsTakeEveryPhotoOptionOfTheSettings) {
    // The newest asset, first in the grid, is held only by the cloud.
    const auto file = photos::test::writeJpeg(app_.sandboxRoot() / "media", "cloud.jpg", 60, 40);
    ASSERT_FALSE(PhotoLibrary::shared()
                         .addAsset({.file = file, .creationDate = 200.0, .inCloud = true})
                         .localIdentifier.empty());

    // The handler may outlive the test body (the picker goes with the fixture).
    struct Seen {
        Mutex mutex;
        std::vector<double> progress PELMAR_GUARDED_BY(mutex);
    };

    auto seen = std::make_shared<Seen>();
    auto picker = open([seen](Settings& s) {
        photos::ImageRequestOptions options;
        options.networkAccessAllowed = true;
        options.deliveryMode = photos::ImageDeliveryMode::HighQualityFormat;
        options.progressHandler = [seen](double p) {
            MutexLock lock(seen->mutex);
            seen->progress.push_back(p);
        };
        s.fetch()->preview()->setPhotoOptions(options);
    });
    app_.settle();
    auto cell = picker->assetsViewController()->cellAt(0);
    ASSERT_TRUE(cell);
    EXPECT_NE(cell->imageView()->image(), nullptr);
    MutexLock lock(seen->mutex);
    ASSERT_FALSE(seen->progress.empty()) << "the cloud download reports to the settings' handler";
    EXPECT_EQ(seen->progress.back(), 1.0);
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
    auto picker = openOnTwoAlbums();
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

TEST_F(PhotoLibraryPickerTest, TheBarPaintsOpaqueWithTheTitleInTheTintAndABoldUncutDone) {
    EXPECT_EQ(ImagePickerController::currentAuthorization(),
              photos::AuthorizationStatus::Authorized);
    auto picker = openOnTwoAlbums();
    ASSERT_TRUE(tapAsset(*picker, 0));
    ASSERT_TRUE(tapAsset(*picker, 1));
    app_.advance(1);
    const auto& bar = picker->navigationBar();
    const auto painted = ui::render(*bar, 4);
    ASSERT_TRUE(painted);
    const ui::Color tint = PickerColors::defaultTintColor();
    // Opaque, in the picker's background colour.
    EXPECT_TRUE(ui::test::looksLike(ui::test::colorAt(*painted, bar->bounds().width / 2, 2),
                                    PickerColors::systemBackgroundColor(), 0.01));
    // The album's title and its arrow in the tint.
    const ui::Rect album = picker->albumButton()->frame();
    EXPECT_GT(ui::test::inkRuns(*painted, album, tint).size(), 2u);

    // "Done (2)" whole: D, o, n, e, (, 2, ), none of them an ellipsis dot.
    auto done = picker->doneButton()->view();
    ASSERT_TRUE(done);
    const auto glyphs = ui::test::inkRuns(*painted, done->frame(), tint);
    ASSERT_EQ(glyphs.size(), 7u);
    for (const auto& glyph : glyphs) {
        EXPECT_GT(glyph.height(), 5);
    }
    // Bold: more ink than the same title on a plain item.
    auto plainBar = std::make_shared<ui::NavigationBar>(bar->frame());
    auto item = std::make_shared<ui::NavigationItem>();
    item->setRightBarButtonItems(
            {std::make_shared<ui::BarButtonItem>(picker->doneButton()->title(), nullptr)});
    plainBar->setItems({item});
    plainBar->setBarTintColor(PickerColors::systemBackgroundColor());
    plainBar->setTintColor(tint);
    const auto plain = ui::render(*plainBar, 4);
    ASSERT_TRUE(plain);
    const auto ink = [&](const image::Bitmap& b) {
        // The items stand along the bar's bottom.
        const ui::Rect r = bar->bounds();
        return ui::test::inkCount(b, {r.width / 2, r.height - 44, r.width / 2, 44},
                                  PickerColors::systemBackgroundColor());
    };
    EXPECT_GT(ink(*painted), ink(*plain) * 1.15);
}

TEST_F(PhotoLibraryPickerTest, TheBarStandsBelowTheStatusBarFromTheFirstScreenOn) {
    auto picker = open();
    const auto& bar = picker->navigationBar();
    const double top = app_.window()->safeAreaInsets().top;
    ASSERT_GT(top, 0);
    // Right after the presentation: the bar covers the status-bar area and ends below it, and
    // the grid starts where the bar ends.
    EXPECT_EQ(bar->frame(), (ui::Rect{0, 0, 390, top + ui::NavigationBar::kHeight}));
    EXPECT_EQ(picker->assetsViewController()->view()->frame().y, top + ui::NavigationBar::kHeight);
    const auto painted = ui::render(*bar, 2);
    ASSERT_TRUE(painted);
    // Cancel, and Done (disabled until something is chosen), both below the status bar.
    const ui::Color background = PickerColors::systemBackgroundColor();
    for (const auto& button : {picker->doneButton()->view(), picker->cancelButton()->view()}) {
        ASSERT_TRUE(button);
        const ui::Rect f = button->frame();
        EXPECT_GT(ui::test::inkCount(*painted, {f.x, top, f.width, bar->bounds().height - top},
                                     background),
                  20)
                << "the title is painted";
        EXPECT_EQ(ui::test::inkCount(*painted, {f.x, 0, f.width, top}, background), 0)
                << "nothing in the status bar's area";
    }
    // A safe area that changes while the picker shows moves the bar with it.
    app_.window()->setSafeAreaInsets(ui::EdgeInsets{20, 0, 0, 0});
    EXPECT_EQ(bar->frame().height, 20 + ui::NavigationBar::kHeight);
    EXPECT_EQ(picker->assetsViewController()->view()->frame().y, 20 + ui::NavigationBar::kHeight);
    app_.window()->setSafeAreaInsets(std::nullopt);
    EXPECT_EQ(bar->frame().height, top + ui::NavigationBar::kHeight);
}

TEST_F(PhotoLibraryPickerTest, ASelectedCellScrollingIntoViewShowsItsBadgeWithoutBouncing) {
    auto& library = PhotoLibrary::shared();
    for (int i = 0; i < 30; ++i) {
        const auto file = photos::test::writeJpeg(app_.sandboxRoot() / "media",
                                                  "more" + std::to_string(i) + ".jpg", 30, 20, i);
        library.addAsset({.file = file, .creationDate = 10.0 + i});
    }
    auto picker = open();
    auto grid = picker->assetsViewController();
    ASSERT_TRUE(app_.tap(grid->cellAt(0)));
    app_.advance(1);
    auto items = grid->collectionView();
    items->setContentOffset({0, items->contentSize().height - items->bounds().height});
    items->layoutIfNeeded();
    ASSERT_EQ(items->cellForItem({0, 0}), nullptr) << "scrolled away";
    items->setContentOffset({0, 0});
    items->layoutIfNeeded();
    auto cell = grid->cellAt(0);
    ASSERT_TRUE(cell && cell->isSelected());
    EXPECT_TRUE(cell->transform().isIdentity());
    EXPECT_EQ(cell->selectionView()->alpha(), 1);
    app_.advance(0.05);
    EXPECT_TRUE(cell->transform().isIdentity()) << "no bounce under way";
    // Painted: the badge shows at once in its corner.
    const auto painted = ui::render(*cell, 2);
    ASSERT_TRUE(painted);
    const ui::Rect b = cell->bounds();
    EXPECT_TRUE(ui::test::looksLike(ui::test::colorAt(*painted, b.width - 16.5, b.height - 8),
                                    picker->settings()->theme()->selectionFillColor(), 0.1));
}

TEST_F(PhotoLibraryPickerTest, TheDropDownShowsTheBarTintAndTicksTheTappedAlbum) {
    auto picker = openOnTwoAlbums();
    const ui::Color green{0.1, 0.7, 0.2, 1};
    picker->navigationBar()->setBarTintColor(green);
    // Where the rows leave room, the list's own background shows.
    picker->settings()->theme()->setDropDownBackgroundColor(ui::Color::clear());
    ASSERT_TRUE(app_.tap(picker->albumButton()));
    app_.advance(0.5);
    auto list = picker->albumsViewController();
    ASSERT_EQ(picker->presentedViewController(), list);
    auto table = list->tableView();
    // Beside the first row's title lies the list's own background.
    const auto shown = ui::render(*list->view(), 2);
    ASSERT_TRUE(shown);
    const ui::Rect first = table->cellForRow({0, 0})->frame();
    EXPECT_TRUE(ui::test::looksLike(
            ui::test::colorAt(*shown, first.x + first.width - 4, first.y + first.height / 2), green,
            0.02));

    // The rows as shown when the second is tapped (the list then starts closing).
    auto top = table->cellForRow({0, 0});
    auto second = table->cellForRow({0, 1});
    ASSERT_TRUE(top && second);
    ASSERT_TRUE(app_.tap(second));
    const auto tick = [&](const std::shared_ptr<ui::ItemCell>& cell) {
        const auto painted = ui::render(*cell, 2);
        const ui::Rect b = cell->bounds();
        return painted ? ui::test::inkRuns(*painted, {b.width - 40, 0, 40, b.height},
                                           cell->effectiveTintColor(), 0.2)
                                 .size()
                       : std::size_t{0};
    };
    EXPECT_GT(tick(second), 0u) << "the tapped album is ticked";
    EXPECT_EQ(tick(top), 0u);
    app_.advance(0.5);
    EXPECT_EQ(picker->albumButton()->title(), "Two ");
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
    EXPECT_EQ(calls_->log.back(), "cancel:2");
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

TEST_F(PhotoLibraryPickerTest, TheEntryHandsEverySelectionAndTheEndToItsCallbacks) {
    struct Case {
        const char* name;
        std::vector<int> taps;
        // How the user leaves: "done", "cancel" or "swipe".
        std::string end;
        std::vector<std::string> log;
    };

    const Case cases[] = {
            {"ThirdTapDropsTheFirst",
             {0, 1, 2},
             "done",
             {"select:0", "select:1", "deselect:0", "select:2", "finish:1:2"}},
            {"CancelReportsTheSelection", {3, 4}, "cancel", {"select:3", "select:4", "cancel:3:4"}},
            {"SwipeDownReportsTheSelection", {5}, "swipe", {"select:5", "cancel:5"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> log;
        int completions = 0;
        presentImagePicker(
                app_.root(), 2, {"image"}, 0, false,
                [&](const photos::AssetPtr& a) { log.push_back("select:" + calls_->name(a)); },
                [&](const photos::AssetPtr& a) { log.push_back("deselect:" + calls_->name(a)); },
                [&](const std::vector<photos::AssetPtr>& a) {
                    log.push_back(calls_->joined("cancel", a));
                },
                [&](const std::vector<photos::AssetPtr>& a) {
                    log.push_back(calls_->joined("finish", a));
                },
                [&] { ++completions; });
        app_.settle();
        app_.advance(1);
        auto picker = std::dynamic_pointer_cast<ImagePickerController>(
                app_.root()->presentedViewController());
        ASSERT_TRUE(picker);
        EXPECT_EQ(completions, 1);
        for (int i : c.taps) {
            ASSERT_TRUE(tapAsset(*picker, i));
        }
        if (c.end == "done") {
            ASSERT_TRUE(app_.tap(picker->doneButton()->view()));
        } else if (c.end == "cancel") {
            ASSERT_TRUE(app_.tap(picker->cancelButton()->view()));
        } else {
            picker->settings()->dismiss()->setAllowSwipe(true);
            ASSERT_TRUE(picker->swipeToDismiss());
        }
        app_.advance(1);
        EXPECT_EQ(log, c.log);
        EXPECT_EQ(app_.root()->presentedViewController(), nullptr);
    }
}

TEST_F(PhotoLibraryPickerTest, CellsAreButtonsToAssistiveTechnology) {
    auto picker = open();
    auto cell = picker->assetsViewController()->cellAt(0);
    ASSERT_TRUE(cell);
    EXPECT_TRUE(cell->isAccessibilityElement());
    EXPECT_EQ(cell->accessibilityTraits(), AssetCollectionViewCell::AccessibilityTraits::Button);
    EXPECT_EQ(cell->accessibilityLabel(), "select image");
}

TEST_F(PhotoLibraryPickerTest, ALongPressBetweenCellsOnlyGivesTheHaptic) {
    auto picker = open();
    auto grid = picker->assetsViewController();
    auto first = grid->cellAt(0);
    ASSERT_TRUE(first);
    // The 2-point gap right of the first cell.
    const ui::Rect r = first->convertTo(first->bounds(), nullptr);
    ui::TouchSequence finger(app_.window());
    ASSERT_EQ(finger.begin({{r.x + r.width + 1, r.y + r.height / 2}}), std::nullopt);
    app_.advance(0.6);
    finger.end();
    app_.advance(1);
    EXPECT_EQ(grid->selectionFeedback().selectionsChanged, 1);
    EXPECT_EQ(picker->topViewController(), grid) << "no preview";
    EXPECT_TRUE(picker->selectedAssets().empty());
}

TEST_F(PhotoLibraryPickerTest, AnAlbumSwitchShowsSelectedExactlyTheStoredAssetsItHolds) {
    // "Two" holds assets 0 and 1.
    auto picker = openOnTwoAlbums();
    ASSERT_EQ(picker->albums().size(), 2u);
    for (int i : {1, 3, 4}) {
        ASSERT_TRUE(tapAsset(*picker, i));
    }
    auto grid = picker->assetsViewController();
    picker->select(*picker->albums()[1]);
    // Newest first: asset 1 at item 0, asset 0 at item 1.
    ASSERT_EQ(grid->fetchResult().count(), 2u);
    EXPECT_TRUE(grid->cellAt(0)->isSelected());
    EXPECT_FALSE(grid->cellAt(1)->isSelected());
    EXPECT_EQ(grid->collectionView()->indexPathsForSelectedItems().size(), 1u);
    EXPECT_EQ(stored(*picker), (std::vector<std::string>{"1", "3", "4"}))
            << "the others stay in the store";
    auto badge = std::dynamic_pointer_cast<NumberView>(grid->cellAt(0)->selectionView()->icon());
    ASSERT_TRUE(badge);
    EXPECT_EQ(badge->text(), "1");
    // Back on the whole library, all three show again with their numbers.
    picker->select(*picker->albums()[0]);
    EXPECT_EQ(grid->collectionView()->indexPathsForSelectedItems().size(), 3u);
    EXPECT_EQ(this->badge(*picker, 1), "1");
    EXPECT_EQ(this->badge(*picker, 3), "2");
    EXPECT_EQ(this->badge(*picker, 4), "3");
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

TEST_F(PhotoLibraryPickerTest, TheZoomFliesTheThumbnailClippedToWhereThePreviewShowsIt) {
    auto picker = open();
    app_.settle();
    auto grid = picker->assetsViewController();
    auto cell = grid->cellAt(0);
    ASSERT_TRUE(cell && cell->imageView()->image());
    const auto& zoom = picker->zoomTransitionDelegate();
    picker->assetsViewControllerDidLongPressCell(*grid, *cell, grid->fetchResult().objectAt(0));
    auto preview = std::dynamic_pointer_cast<PreviewViewController>(picker->topViewController());
    ASSERT_TRUE(preview);
    auto moving = zoom->expandAnimator()->movingPicture();
    ASSERT_TRUE(moving);
    // The preview's picture has not arrived yet: the cell's thumbnail flies in its place, to the
    // preview's image view and in its content mode.
    ASSERT_EQ(preview->imageView()->image(), nullptr);
    EXPECT_EQ(moving->image(), cell->imageView()->image());
    const auto& destination = preview->imageView();
    EXPECT_EQ(moving->frame(), destination->superview()->convertTo(destination->bounds(),
                                                                   moving->superview().get()));
    EXPECT_EQ(moving->contentMode(), ui::ContentMode::ScaleAspectFit);
    // The moving picture keeps to its frame: filling a square with the 3:2 thumbnail, painted in a
    // room 5 points larger all round, it leaves the room bare at its sides.
    auto room = std::make_shared<ui::View>(ui::Rect{0, 0, 50, 50});
    room->layer()->setBackgroundColor(kGrey);
    moving->setFrame({5, 5, 40, 40});
    moving->setContentMode(ui::ContentMode::ScaleAspectFill);
    room->addSubview(moving);
    const auto painted = ui::render(*room, 4);
    ASSERT_TRUE(painted);
    EXPECT_GT(ui::test::inkCount(*painted, {5, 5, 40, 40}, kGrey), 40 * 40 * 8);
    EXPECT_EQ(ui::test::inkCount(*painted, {0, 0, 5, 50}, kGrey), 0);
    EXPECT_EQ(ui::test::inkCount(*painted, {45, 0, 5, 50}, kGrey), 0);
    moving.reset();
    room.reset();
    app_.advance(1);
    EXPECT_EQ(picker->topViewController(), preview);
    ASSERT_TRUE(zoom->dragController()->panRecognizer());
    picker->pop(false);
    app_.advance(1);

    // Another screen moves the standard way and gets no drag.
    auto other = std::make_shared<ui::ViewController>();
    EXPECT_EQ(zoom->animationController(*picker, ui::NavigationController::Operation::Push, grid,
                                        other),
              nullptr);
    picker->push(other, true);
    EXPECT_EQ(zoom->expandAnimator()->movingPicture(), nullptr);
    app_.advance(1);
    EXPECT_EQ(picker->topViewController(), other);
    EXPECT_TRUE(other->view()->gestureRecognizers().empty());
    EXPECT_EQ(zoom->animationController(*picker, ui::NavigationController::Operation::Pop, other,
                                        grid),
              nullptr);
}

TEST_F(PhotoLibraryPickerTest, TheZoomDelegateAlsoServesPresentations) {
    auto picker = open();
    const auto& zoom = picker->zoomTransitionDelegate();
    auto preview = PreviewBuilder::createPreviewController(PhotoLibrary::shared().asset(ids_[0]),
                                                           picker->settings());
    EXPECT_EQ(zoom->animationControllerForPresented(preview, picker), zoom->expandAnimator());
    EXPECT_EQ(zoom->animationControllerForDismissed(preview), zoom->shrinkAnimator());
    const auto first = zoom->interactionControllerForDismissal(zoom->shrinkAnimator());
    const auto second = zoom->interactionControllerForDismissal(zoom->shrinkAnimator());
    EXPECT_TRUE(std::dynamic_pointer_cast<ZoomInteractionController>(first));
    EXPECT_TRUE(std::dynamic_pointer_cast<ZoomInteractionController>(second));
    EXPECT_NE(first, second) << "a new one for each dismissal";
    EXPECT_NE(first, zoom->dragController());

    // A screen presented and dismissed with it comes and goes on the clock.
    auto shown = std::make_shared<ui::ViewController>();
    shown->setTransitioningDelegate(zoom);
    shown->setModalPresentationStyle(ui::ModalPresentationStyle::FullScreen);
    picker->present(shown, true);
    app_.advance(1);
    EXPECT_EQ(picker->presentedViewController(), shown);
    shown->dismiss(true);
    app_.advance(1);
    app_.settle();
    EXPECT_EQ(picker->presentedViewController(), nullptr);
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

}  // namespace
}  // namespace pelmar
