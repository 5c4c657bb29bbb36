// The picker's previews and cells: which preview a kind of asset gets, its title, cell durations
// and numbers, and the selection badge's shadow.
#include <gtest/gtest.h>

#include "pelmar/picker/testing/PhotoLibraryPickerTest.h"

namespace pelmar {
namespace {

using photos::PhotoLibrary;
using test::PhotoLibraryPickerTest;

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
