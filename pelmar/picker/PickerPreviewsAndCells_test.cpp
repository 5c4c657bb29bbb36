// The picker's previews and cells: which preview a kind of asset gets, its title, cell durations
// and numbers, and the selection badge as it is painted.
#include <gtest/gtest.h>

#include <limits>

#include "pelmar/picker/internal/Animations.h"
#include "pelmar/picker/testing/PhotoLibraryPickerTest.h"

namespace pelmar {
namespace {

using photos::PhotoLibrary;
using test::PhotoLibraryPickerTest;

constexpr ui::Color kRoom{0.3, 0.3, 0.3, 1};
constexpr ui::Color kRed{1, 0, 0, 1};

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

TEST_F(PhotoLibraryPickerTest, ALivePreviewShowsItsBadgeAndATitleSizedToItsText) {
    const std::string place = "Villeneuve-Saint-Georges-sur-la-Grande-Riviere";
    photos::ReverseGeocoder::setTable({{{43.3, 5.4}, 5000, {place}}});
    const auto media = app_.sandboxRoot() / "media";
    const auto id =
            PhotoLibrary::shared()
                    .addAsset({.file = photos::test::writeJpeg(media, "l.jpg", 60, 40, 3),
                               .mediaSubtypes = photos::kAssetMediaSubtypePhotoLive,
                               .creationDate = 1614877500,
                               .location = photos::Location{43.3, 5.4},
                               .pairedVideo = photos::test::writeMovie(media, "l.mp4", 1, 60, 40)})
                    .localIdentifier;
    auto settings = std::make_shared<Settings>();
    auto preview = std::dynamic_pointer_cast<LivePreviewViewController>(
            PreviewBuilder::createPreviewController(PhotoLibrary::shared().asset(id), settings));
    ASSERT_TRUE(preview);
    const auto& title = preview->titleLabel();
    ASSERT_TRUE(app_.runUntil([&] { return !title->text().empty(); }));
    photos::ReverseGeocoder::setTable({});

    // The badge is a picture with ink of its own, not an empty square.
    const auto& badge = preview->badgeView();
    ASSERT_TRUE(badge->image());
    EXPECT_GT(badge->frame().width, 10);
    const auto mark = ui::render(*badge, 3);
    ASSERT_TRUE(mark);
    EXPECT_GT(ui::test::inkCount(*mark, badge->bounds(), ui::Color::clear()), 100);

    // The place stays on one line wider than a fixed box would allow, the date below it.
    const auto painted = ui::render(*title, 2);
    ASSERT_TRUE(painted);
    const ui::Color ink = settings->theme()->previewTitleAttributes().foregroundColor;
    const ui::Rect b = title->bounds();
    const auto top = ui::test::inkRuns(*painted, {0, 0, b.width, b.height / 2}, ink, 0.4);
    ASSERT_FALSE(top.empty());
    EXPECT_GT(top.back().right - top.front().left, 250) << "the place on one line";
    EXPECT_GT(top.front().left, 0);
    EXPECT_LT(top.back().right, b.width) << "not cut at the label's edge";
    EXPECT_GT(ui::test::inkCount(*painted, {0, b.height / 2, b.width, b.height / 2},
                                 ui::Color::clear()),
              50)
            << "the date line";
}

TEST_F(PhotoLibraryPickerTest, AVideoPreviewShowsTheSystemPlayAndPauseItems) {
    // Longer than the clock moves here, so that it is still playing when looked at.
    const auto movie = photos::test::writeMovie(app_.sandboxRoot() / "media", "v.mp4", 4, 60, 40);
    ASSERT_FALSE(PhotoLibrary::shared().addAsset({.file = movie}).localIdentifier.empty());
    auto picker = open([](Settings& s) {
        s.fetch()->assets()->setSupportedMediaTypes({Settings::Fetch::Assets::MediaTypes::Image,
                                                     Settings::Fetch::Assets::MediaTypes::Video});
    });
    auto grid = picker->assetsViewController();
    picker->assetsViewControllerDidLongPressCell(*grid, *grid->cellAt(0),
                                                 grid->fetchResult().objectAt(0));
    auto preview =
            std::dynamic_pointer_cast<VideoPreviewViewController>(picker->topViewController());
    ASSERT_TRUE(preview);
    ASSERT_TRUE(app_.runUntil([&] { return preview->state().has_value(); }));
    app_.advance(1);
    ASSERT_EQ(preview->state(), VideoPreviewViewController::State::Playing);

    // What the bar's right button paints: a picture, not a word.
    const auto look = [&]() -> std::shared_ptr<image::Bitmap> {
        const auto& item = preview->navigationItem()->rightBarButtonItems().front();
        auto button = item->view();
        if (!button) {
            ADD_FAILURE() << "the item is not shown";
            return nullptr;
        }
        EXPECT_TRUE(button->title().empty());
        EXPECT_TRUE(button->imageView()->image());
        const auto painted = ui::render(*button, 3);
        if (painted) {
            EXPECT_GT(ui::test::inkCount(*painted, button->bounds(), ui::Color::clear()), 50)
                    << "the item's picture is painted";
        }
        return painted;
    };
    const auto pause = look();
    ASSERT_TRUE(pause);
    ASSERT_TRUE(app_.tap(preview->navigationItem()->rightBarButtonItems().front()->view()));
    EXPECT_EQ(preview->state(), VideoPreviewViewController::State::Paused);
    const auto play = look();
    ASSERT_TRUE(play);
    int differing = 0;
    for (int y = 0; y < std::min(play->height(), pause->height()); ++y) {
        for (int x = 0; x < std::min(play->width(), pause->width()); ++x) {
            const double px = (x + 0.5) / 3;
            const double py = (y + 0.5) / 3;
            differing += !ui::test::looksLike(ui::test::colorAt(*play, px, py),
                                              ui::test::colorAt(*pause, px, py));
        }
    }
    EXPECT_GT(differing, 50) << "play and pause look different";
}

TEST_F(PhotoLibraryPickerTest, AVideoPreviewAsksForItsMovieWithTheSettingsVideoOptions) {
    const auto movie = photos::test::writeMovie(app_.sandboxRoot() / "media", "c.mp4", 1, 60, 40);
    const auto id =
            PhotoLibrary::shared().addAsset({.file = movie, .inCloud = true}).localIdentifier;
    const auto asset = PhotoLibrary::shared().asset(id);

    // The handler may outlive the test body.
    struct Seen {
        Mutex mutex;
        int reports PELMAR_GUARDED_BY(mutex) = 0;
    };

    for (const bool network : {false, true}) {
        SCOPED_TRACE(network);
        auto seen = std::make_shared<Seen>();
        auto settings = std::make_shared<Settings>();
        // The still stays in the cloud: the movie's request is the one that may fetch it.
        photos::ImageRequestOptions still;
        still.networkAccessAllowed = false;
        settings->fetch()->preview()->setPhotoOptions(still);
        photos::VideoRequestOptions options;
        options.networkAccessAllowed = network;
        options.progressHandler = [seen](double) {
            MutexLock lock(seen->mutex);
            ++seen->reports;
        };
        settings->fetch()->preview()->setVideoOptions(options);
        auto preview = std::dynamic_pointer_cast<VideoPreviewViewController>(
                PreviewBuilder::createPreviewController(asset, settings));
        ASSERT_TRUE(preview);
        app_.settle();
        EXPECT_EQ(preview->player() != nullptr, network) << "the movie only with network access";
        MutexLock lock(seen->mutex);
        EXPECT_EQ(seen->reports > 0, network) << "the download reports to the settings' handler";
    }
}

TEST_F(PhotoLibraryPickerTest, OnlyAFullScreenPreviewTurnsBlackInFullScreen) {
    for (const auto style :
         {ui::ModalPresentationStyle::FullScreen, ui::ModalPresentationStyle::PageSheet}) {
        SCOPED_TRACE(static_cast<int>(style));
        auto preview = PreviewBuilder::createPreviewController(
                PhotoLibrary::shared().asset(ids_[0]), std::make_shared<Settings>());
        preview->setModalPresentationStyle(style);
        preview->view()->setFrame({0, 0, 390, 700});
        const auto corner = [&] {
            const auto painted = ui::render(*preview->view(), 1);
            return painted ? ui::test::colorAt(*painted, 2, 2) : ui::Color{};
        };
        EXPECT_TRUE(ui::test::looksLike(corner(), PickerColors::systemBackgroundColor()));
        preview->setFullscreen(true);
        EXPECT_TRUE(ui::test::looksLike(corner(), style == ui::ModalPresentationStyle::FullScreen
                                                          ? ui::Color::black()
                                                          : PickerColors::systemBackgroundColor()));
        preview->setFullscreen(false);
        EXPECT_TRUE(ui::test::looksLike(corner(), PickerColors::systemBackgroundColor()));
    }
}

TEST_F(PhotoLibraryPickerTest, TheLiveBadgeSitsOnTheFittedPictureAndHidesInFullScreen) {
    const auto media = app_.sandboxRoot() / "media";
    const auto id =
            PhotoLibrary::shared()
                    .addAsset({.file = photos::test::writeJpeg(media, "w.jpg", 60, 40, 4),
                               .mediaSubtypes = photos::kAssetMediaSubtypePhotoLive,
                               .pairedVideo = photos::test::writeMovie(media, "w.mp4", 1, 60, 40)})
                    .localIdentifier;
    auto preview = std::dynamic_pointer_cast<LivePreviewViewController>(
            PreviewBuilder::createPreviewController(PhotoLibrary::shared().asset(id),
                                                    std::make_shared<Settings>()));
    ASSERT_TRUE(preview);
    preview->view()->setFrame({0, 0, 390, 700});
    preview->view()->layoutIfNeeded();
    const auto& live = preview->livePhotoView();
    const auto& badge = preview->badgeView();
    EXPECT_EQ(badge->frame().x, 0);
    EXPECT_EQ(badge->frame().y, 0) << "at the corner before the live photo arrives";
    ASSERT_TRUE(app_.runUntil([&] { return live->livePhoto().has_value(); }));
    // A 3:2 picture fitted into the portrait view: full width, centred vertically.
    const ui::Rect view = live->frame();
    const double pictureTop = (view.height - view.width * 40 / 60) / 2;
    // Painted without the still under it, the only white is the badge's.
    live->stillView()->setHidden(true);
    const auto inkRows = [&] {
        const auto painted = ui::render(*live, 2);
        std::pair<double, double> rows{view.height, 0};
        if (!painted) {
            return rows;
        }
        for (const auto& glyph :
             ui::test::inkRuns(*painted, {0, 0, 40, view.height}, ui::Color::white(), 0.1)) {
            rows.first = std::min(rows.first, glyph.top);
            rows.second = std::max(rows.second, glyph.bottom);
        }
        return rows;
    };
    const auto [top, bottom] = inkRows();
    ASSERT_LT(top, bottom) << "the badge is painted";
    EXPECT_GE(top, pictureTop) << "the badge's white mark lies on the picture";
    EXPECT_LE(bottom, pictureTop + badge->frame().height + 1);
    live->stillView()->setHidden(false);
    // Laid out again for another size, it follows the fitted picture.
    preview->view()->setFrame({0, 0, 390, 500});
    preview->view()->layoutIfNeeded();
    EXPECT_EQ(badge->frame().y, (live->frame().height - live->frame().width * 40 / 60) / 2);

    // Full screen asked twice: the badge stays hidden; out of full screen it shows again.
    preview->setFullscreen(true);
    EXPECT_EQ(badge->alpha(), 0);
    preview->setFullscreen(true);
    EXPECT_EQ(badge->alpha(), 0);
    preview->setFullscreen(false);
    EXPECT_EQ(badge->alpha(), 1);
}

TEST_F(PhotoLibraryPickerTest, ADoubleTapZoomsThePreviewAboutThePointAndAnotherZoomsBack) {
    auto picker = open();
    auto cell = picker->assetsViewController()->cellAt(2);
    ASSERT_TRUE(cell);
    {
        ui::TouchSequence finger(app_.window());
        const ui::Rect r = cell->convertTo(cell->bounds(), nullptr);
        ASSERT_EQ(finger.begin({{r.x + r.width / 2, r.y + r.height / 2}}), std::nullopt);
        app_.advance(0.8);
        finger.end();
    }
    std::shared_ptr<PreviewViewController> preview;
    ASSERT_TRUE(app_.runUntil([&] {
        preview = std::dynamic_pointer_cast<PreviewViewController>(picker->topViewController());
        return preview && preview->imageView()->image() != nullptr;
    }));
    app_.advance(1);
    const auto& scroll = preview->scrollView();
    ASSERT_EQ(scroll->zoomScale(), 1);
    const ui::Rect shown = scroll->convertTo(scroll->bounds(), nullptr);
    const ui::Point finger{shown.x + shown.width * 0.4, shown.y + shown.height * 0.45};
    const auto doubleTap = [&] {
        ASSERT_EQ(ui::tap(*app_.window(), finger), std::nullopt);
        ASSERT_EQ(ui::tap(*app_.window(), finger), std::nullopt);
        app_.advance(1);
    };
    doubleTap();
    EXPECT_EQ(scroll->zoomScale(), 2);
    // The tapped point of the picture now lies across the middle of the screen (the bars going
    // away move the picture up, so only its across position is the tap's).
    const ui::Size size = scroll->bounds().size();
    EXPECT_NEAR(scroll->contentOffset().x, 2 * (finger.x - shown.x) - size.width / 2, 1);
    EXPECT_GT(scroll->contentOffset().y, 0);
    EXPECT_TRUE(preview->fullscreen()) << "zooming in hides the bars";
    EXPECT_TRUE(picker->isNavigationBarHidden());

    doubleTap();
    EXPECT_EQ(scroll->zoomScale(), 1);
    EXPECT_TRUE(preview->fullscreen()) << "zooming back keeps full screen";
    // A single tap then brings the bars back.
    ASSERT_EQ(ui::tap(*app_.window(), finger), std::nullopt);
    app_.advance(1);
    EXPECT_FALSE(preview->fullscreen());
    EXPECT_EQ(scroll->zoomScale(), 1);
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

// `view` alone at (5, 5) in a dark room 10 points larger, painted at `scale`.
std::shared_ptr<image::Bitmap> paintedAlone(const std::shared_ptr<ui::View>& view,
                                            double scale = 8) {
    const ui::Rect f = view->frame();
    auto room = std::make_shared<ui::View>(ui::Rect{0, 0, f.width + 10, f.height + 10});
    room->layer()->setBackgroundColor(kRoom);
    view->setFrame({5, 5, f.width, f.height});
    room->addSubview(view);
    return ui::render(*room, scale);
}

std::shared_ptr<SelectionView> badgeFor(std::shared_ptr<Settings> settings) {
    auto badge = std::make_shared<SelectionView>();
    badge->setFrame({0, 0, 25, 25});
    badge->setSettings(std::move(settings));
    return badge;
}

TEST_F(PhotoLibraryPickerTest, BadgeNumbersShrinkToFitTheBadgeInsteadOfBeingCut) {
    struct Case {
        const char* name;
        int64_t index;
        std::size_t digits;
    };

    const Case cases[] = {{"One", 0, 1}, {"Ten", 9, 2}, {"Hundred", 99, 3}};
    auto settings = std::make_shared<Settings>();
    settings->theme()->setSelectionStyle(Settings::SelectionStyle::Numbered);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto badge = badgeFor(settings);
        badge->setSelectionIndex(c.index);
        const auto painted = paintedAlone(badge);
        ASSERT_TRUE(painted);
        // Inside the circle's inscribed square (5.78 to 19.22 in the badge), clear of the ring.
        const auto glyphs = ui::test::inkRuns(*painted, {12, 12, 11, 11},
                                              settings->theme()->selectionStrokeColor(), 0.35);
        EXPECT_EQ(glyphs.size(), c.digits) << "one glyph per digit";
        for (const auto& glyph : glyphs) {
            EXPECT_GT(glyph.height(), 3) << "a digit, not the dot of an ellipsis";
        }
    }
}

TEST_F(PhotoLibraryPickerTest, AVideoCellsDurationSitsInItsBottomRightCornerUncut) {
    struct Case {
        const char* name;
        double seconds;
        const char* text;
    };

    const Case cases[] = {{"Short", 3, "0:03"}, {"TwoHours", 7200, "120:00"}};
    auto settings = std::make_shared<Settings>();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto cell = std::make_shared<VideoCollectionViewCell>();
        cell->setFrame({0, 0, 124, 124});
        cell->durationLabel()->setText(formatDuration(c.seconds));
        cell->setSettings(settings);
        const auto painted = paintedAlone(cell, 4);
        ASSERT_TRUE(painted);
        // The cell lies at (5, 5): its last 30 points hold the gradient and the text.
        const auto glyphs = ui::test::inkRuns(*painted, {5, 99, 124, 30}, ui::Color::white(), 0.35);
        ASSERT_EQ(glyphs.size(), std::string(c.text).size()) << "every character painted";
        for (const auto& glyph : glyphs) {
            EXPECT_GT(glyph.height(), 4) << "no ellipsis";
            EXPECT_LE(glyph.bottom, 5 + 124 - 4) << "4 points above the bottom";
            EXPECT_GT(glyph.bottom, 5 + 124 - 4 - 4) << "on the label's baseline";
        }
        EXPECT_NEAR(glyphs.back().right, 5 + 124 - 8, 1) << "ending 8 points from the right";
        // The gradient darkens towards the bottom over the room and leaves the rest alone.
        EXPECT_TRUE(ui::test::looksLike(ui::test::colorAt(*painted, 20, 90), kRoom));
        EXPECT_TRUE(ui::test::looksLike(ui::test::colorAt(*painted, 20, 127), ui::Color::black()));
        const double middle = ui::test::colorAt(*painted, 20, 112).red;
        EXPECT_LT(middle, kRoom.red - 0.05);
        EXPECT_GT(middle, 0.01);
    }
    // Bold: heavier than the same text in the regular face.
    auto cell = std::make_shared<VideoCollectionViewCell>();
    cell->setFrame({0, 0, 124, 124});
    cell->setSettings(settings);
    auto regular = std::make_shared<ui::Label>(cell->durationLabel()->frame());
    regular->setText(cell->durationLabel()->text());
    regular->setFont(ui::Font::systemFont(12));
    regular->setTextColor(ui::Color::white());
    regular->setTextAlignment(ui::TextAlignment::Right);
    cell->gradientView()->addSubview(regular);
    cell->durationLabel()->setHidden(true);
    const auto thin = paintedAlone(cell, 4);
    cell->durationLabel()->setHidden(false);
    regular->removeFromSuperview();
    const auto bold = paintedAlone(cell, 4);
    ASSERT_TRUE(thin && bold);
    const ui::Rect corner{5, 99, 124, 30};
    const auto ink = [&](const image::Bitmap& b) {
        int n = 0;
        for (const auto& glyph : ui::test::inkRuns(b, corner, ui::Color::white(), 0.35)) {
            n += static_cast<int>((glyph.right - glyph.left) * 4);
        }
        return n;
    };
    EXPECT_GT(ink(*bold), ink(*thin) * 1.1);
}

TEST_F(PhotoLibraryPickerTest, ASelectedVideoCellsDurationEndsBeforeItsBadge) {
    auto settings = std::make_shared<Settings>();
    auto cell = std::make_shared<VideoCollectionViewCell>();
    cell->setFrame({0, 0, 124, 124});
    cell->durationLabel()->setText("120:00");
    cell->setSettings(settings);
    // Nothing but the selection change lays the cell out.
    picker::internal::performWithoutAnimation([&] { cell->setSelected(true); });
    const auto painted = paintedAlone(cell, 4);
    ASSERT_TRUE(painted);
    // The badge is 25 points wide, 4 points from the cell's right edge (at 5 + 124 - 29): every
    // character of the duration is painted left of it, the badge's margin before it.
    const double badgeLeft = 5 + 124 - 4 - 25;
    const auto glyphs =
            ui::test::inkRuns(*painted, {5, 99, badgeLeft - 5, 30}, ui::Color::white(), 0.35);
    ASSERT_EQ(glyphs.size(), std::string("120:00").size()) << "every character left of the badge";
    EXPECT_GT(glyphs.back().right, badgeLeft - 8) << "right-aligned up to the badge's margin";
    // Deselected, the duration goes back to its corner.
    picker::internal::performWithoutAnimation([&] { cell->setSelected(false); });
    const auto deselected = paintedAlone(cell, 4);
    ASSERT_TRUE(deselected);
    const auto corner = ui::test::inkRuns(*deselected, {5, 99, 124, 30}, ui::Color::white(), 0.35);
    ASSERT_FALSE(corner.empty());
    EXPECT_NEAR(corner.back().right, 5 + 124 - 8, 1);
}

TEST_F(PhotoLibraryPickerTest, AFingersTapKeepsAVideoCellsDurationClearOfItsBadge) {
    auto& library = PhotoLibrary::shared();
    const auto file = photos::test::writeJpeg(app_.sandboxRoot() / "media", "clip.jpg", 60, 40);
    const auto id = library.addAsset({.file = file, .mediaType = photos::AssetMediaType::Video})
                            .localIdentifier;
    ASSERT_TRUE(library.updateAsset(id, [](photos::Asset::Properties& p) { p.duration = 7200; }));
    auto picker = open([](Settings& s) {
        s.fetch()->assets()->setSupportedMediaTypes({Settings::Fetch::Assets::MediaTypes::Image,
                                                     Settings::Fetch::Assets::MediaTypes::Video});
    });
    // Videos sort first.
    auto cell = std::dynamic_pointer_cast<VideoCollectionViewCell>(
            picker->assetsViewController()->cellAt(0));
    ASSERT_TRUE(cell);
    ASSERT_EQ(cell->durationLabel()->text(), "120:00");
    ASSERT_TRUE(app_.tap(cell));
    app_.advance(0.25);  // the bounce is over
    ASSERT_TRUE(cell->isSelected());
    const auto painted = ui::render(*cell, 4);
    ASSERT_TRUE(painted);
    const ui::Rect b = cell->bounds();
    const double badgeLeft = b.width - 4 - 25;
    // The lower 20 points, where the gradient is dark enough that only the text is white.
    const auto glyphs = ui::test::inkRuns(*painted, {0, b.height - 20, badgeLeft, 20},
                                          ui::Color::white(), 0.35);
    EXPECT_EQ(glyphs.size(), std::string("120:00").size())
            << "every character left of the badge after a tap";
    // Tapped again, the duration goes back to its corner.
    ASSERT_TRUE(app_.tap(cell));
    app_.advance(0.25);
    const auto deselected = ui::render(*cell, 4);
    ASSERT_TRUE(deselected);
    const auto corner = ui::test::inkRuns(*deselected, {0, b.height - 20, b.width, 20},
                                          ui::Color::white(), 0.35);
    ASSERT_FALSE(corner.empty());
    EXPECT_NEAR(corner.back().right, b.width - 8, 1);
}

TEST_F(PhotoLibraryPickerTest, TheBadgeCastsItsShadowFromTheFillInTheThemesColourAsItIsNow) {
    auto settings = std::make_shared<Settings>();
    auto badge = badgeFor(settings);
    // A theme changed after the settings were handed over: the very first paint shows it.
    settings->theme()->setSelectionShadowColor(kRed);
    const auto first = paintedAlone(badge);
    ASSERT_TRUE(first);
    double red = 0;
    for (double y = 0.125; y < 35; y += 0.25) {
        for (double x = 0.125; x < 35; x += 0.25) {
            if (std::hypot(x - 17.5, y - 17.5) < 10.5) {
                continue;
            }
            const ui::Color c = ui::test::colorAt(*first, x, y);
            red += std::max(0.0, c.red - c.green);
        }
    }
    EXPECT_GT(red, 20) << "a red shadow around the badge";

    // With a clear fill only the ring and the number are left, and they cast nothing.
    settings->theme()->setSelectionFillColor(ui::Color::clear());
    settings->theme()->setSelectionStyle(Settings::SelectionStyle::Numbered);
    auto ring = badgeFor(settings);
    ring->setSelectionIndex(4);
    const auto outline = paintedAlone(ring);
    ASSERT_TRUE(outline);
    int reddish = 0;
    for (double y = 0.125; y < 35; y += 0.25) {
        for (double x = 0.125; x < 35; x += 0.25) {
            const ui::Color c = ui::test::colorAt(*outline, x, y);
            reddish += c.red - c.green > 0.02;
        }
    }
    EXPECT_EQ(reddish, 0) << "no shadow without a fill";
}

TEST_F(PhotoLibraryPickerTest, AnyShadowRadiusPaintsTheViewAndItsShadowWithinTheBitmap) {
    for (const double radius : {1e9, 1e30, std::numeric_limits<double>::infinity(), -5.0,
                                std::numeric_limits<double>::quiet_NaN()}) {
        SCOPED_TRACE(radius);
        auto square = std::make_shared<ui::View>(ui::Rect{0, 0, 10, 10});
        square->layer()->setBackgroundColor(kRed);
        square->layer()->setShadowOpacity(1);
        square->layer()->setShadowRadius(radius);
        const auto painted = paintedAlone(square, 2);
        ASSERT_TRUE(painted);
        EXPECT_TRUE(ui::test::looksLike(ui::test::colorAt(*painted, 10, 10), kRed));
    }
}

}  // namespace
}  // namespace pelmar
