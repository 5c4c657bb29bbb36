#include "pelmar/imageviewer/PelmarImageContainerViewController.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>

#include "pelmar/imageviewer/PelmarImageViewController.h"
#include "pelmar/imageviewer/PelmarImageViewerConstants.h"
#include "pelmar/platform/photos/testing/MediaFiles.h"
#include "pelmar/platform/photos/ui/LivePhotoView.h"
#include "pelmar/platform/ui/ActivityViewController.h"
#include "pelmar/platform/ui/BarButtonItem.h"
#include "pelmar/platform/ui/Button.h"
#include "pelmar/platform/ui/Device.h"
#include "pelmar/platform/ui/PresentationController.h"
#include "pelmar/platform/ui/Screen.h"
#include "pelmar/platform/ui/Snapshot.h"
#include "pelmar/platform/ui/Touch.h"
#include "pelmar/platform/ui/TransitionContext.h"
#include "pelmar/platform/ui/testing/Pixels.h"
#include "testing/App.h"
#include "testing/TempDir.h"

namespace pelmar {
namespace {

// What a host sees of a page: no test-only readers.
template <class T>
concept ExposesShareInternals = requires(const T& page) {
    page.sharePopoverSourceRect();
}

|| requires(const T& page) {
    page.sharedItem();
};

static_assert(!ExposesShareInternals<PelmarImageContainerViewController>);
static_assert(!std::is_constructible_v<photos::LivePhotoView, ui::Rect>,
              "live photo views come from create() only");

// Pages of photo-library assets: still photos and live photos, and how they share on a phone
// and on a pad.
class PelmarImageContainerViewControllerTest : public ::testing::Test {
protected:
    void TearDown() override { ui::Device::current().reset(); }

    photos::AssetPtr asset(const std::filesystem::path& file, bool live, bool inCloud = false) {
        photos::Asset::Properties p;
        p.localIdentifier = file.filename().string();
        p.mediaType = photos::AssetMediaType::Image;
        p.mediaSubtypes =
                live ? photos::kAssetMediaSubtypePhotoLive : photos::kAssetMediaSubtypeNone;
        p.pixelWidth = 64;
        p.pixelHeight = 48;
        p.file = file;
        if (live) {
            p.pairedVideo = folder.path() / "live.mov";
        }
        p.inCloud = inCloud;
        return std::make_shared<const photos::Asset>(std::move(p));
    }

    std::shared_ptr<PelmarImageContainerViewController> show(
            PelmarImageSource source,
            const std::function<void(PelmarImageViewController&)>& configure = nullptr) {
        viewer = std::make_shared<PelmarImageViewController>(std::vector{std::move(source)});
        if (configure) {
            configure(*viewer);
        }
        app.root()->present(viewer, true);
        app.advance(ui::TransitionContext::kStandardDuration);
        app.settle();
        return std::dynamic_pointer_cast<PelmarImageContainerViewController>(
                viewer->pagerVC()->viewControllers().front());
    }

    // A long press at `at` (window points); by default the middle of the screen, where the
    // fitted picture is.
    void longPress(std::optional<ui::Point> at = std::nullopt) {
        const ui::Rect screen = ui::Screen::main().bounds();
        ui::TouchSequence finger(app.window());
        ASSERT_EQ(finger.begin({at.value_or(ui::Point{screen.width / 2, screen.height / 2})}),
                  std::nullopt);
        app.advance(0.6);
        finger.end();
        app.settle();
    }

    // Back to the root screen: the share sheet goes, then the viewer.
    void closeSheetAndViewer(ui::ViewController& sheet) {
        sheet.dismiss(false);
        app.settle();
        viewer->dismiss();
        app.advance(1.0);
        app.settle();
    }

    test::App app;
    pelmar::test::TempDir folder{"viewer-photos"};
    std::filesystem::path jpeg = photos::test::writeJpeg(folder.path(), "photo.jpg", 64, 48);
    std::shared_ptr<PelmarImageViewController> viewer;
};

TEST_F(PelmarImageContainerViewControllerTest, AStillPhotoShowsWholeAndAMissingOneShowsNothing) {
    auto page = show(asset(jpeg, false));
    EXPECT_EQ(page->assetType(), PelmarImageAssetType::Still);
    ASSERT_TRUE(page->imgLoaded());
    EXPECT_EQ(page->imgLoaded()->width(), 64);
    EXPECT_EQ(page->imgLoaded()->height(), 48);
    EXPECT_EQ(page->activeAssetView(), page->imgView());
    ASSERT_TRUE(page->imgView()->image());
    EXPECT_EQ(page->livePhotoToolbar(), nullptr);
    viewer->dismiss();
    app.advance(1.0);
    app.settle();

    // The library gives no picture: an empty page, no alert.
    auto empty = show(asset(folder.path() / "gone.jpg", false));
    EXPECT_EQ(empty->assetType(), PelmarImageAssetType::Still);
    EXPECT_FALSE(empty->imgLoaded());
    EXPECT_EQ(app.shownAlert(), nullptr);
}

TEST_F(PelmarImageContainerViewControllerTest, ALivePhotoShowsItsStillWithABadgeAndAShareItem) {
    auto page = show(asset(jpeg, true));
    EXPECT_EQ(page->assetType(), PelmarImageAssetType::LivePhoto);
    ASSERT_TRUE(app.runUntil([&] { return page->liveImgLoaded().has_value(); }));
    EXPECT_EQ(page->progressView(), nullptr);
    ASSERT_TRUE(page->livePhotoImgView());
    EXPECT_EQ(page->activeAssetView(), page->livePhotoImgView());
    EXPECT_EQ(page->livePhotoImgView()->superview(), page->scrollView());
    ASSERT_TRUE(page->livePhotoImgView()->stillView()->image());
    EXPECT_EQ(page->livePhotoImgView()->stillView()->image()->bitmap()->width(), 64);
    EXPECT_EQ(page->livePhotoImgView()->livePhoto()->movie, folder.path() / "live.mov");
    // By default (autoplay off) the press that plays the movie stays on.
    EXPECT_TRUE(page->livePhotoImgView()->playbackGestureRecognizer()->isEnabled());

    // The toolbar lies along the bottom of the safe area.
    ASSERT_TRUE(page->livePhotoToolbar());
    const ui::Rect bar = page->livePhotoToolbar()->frame();
    const ui::Rect bounds = page->view()->bounds();
    EXPECT_EQ(bar.width, bounds.width);
    EXPECT_EQ(bar.y + bar.height, bounds.height - page->view()->safeAreaInsets().bottom);

    // No long press share on a live photo: its toolbar item shares, the still.
    longPress();
    EXPECT_EQ(app.topViewController(), viewer);
    ASSERT_TRUE(page->shareBarButtonItem());
    ASSERT_TRUE(app.tap(page->shareBarButtonItem()->view()));
    app.settle();
    auto sheet = std::dynamic_pointer_cast<ui::ActivityViewController>(app.topViewController());
    ASSERT_TRUE(sheet);
    ASSERT_EQ(sheet->activityItems().size(), 1u);
    EXPECT_EQ(sheet->activityItems()[0]->bitmap()->width(), 64);
    EXPECT_EQ(sheet->activityItems()[0]->bitmap(), page->liveImgLoaded()->still);
}

TEST_F(PelmarImageContainerViewControllerTest, TheLivePhotoToolbarShowsItsBadgeAndShareItem) {
    auto page = show(asset(jpeg, true));
    ASSERT_TRUE(app.runUntil([&] { return page->liveImgLoaded().has_value(); }));
    app.settle();
    ASSERT_TRUE(page->livePhotoToolbar());
    ASSERT_TRUE(page->shareBarButtonItem() && page->shareBarButtonItem()->view());
    auto shown = ui::render(*app.window(), 3);
    ASSERT_TRUE(shown);
    const auto& bar = *page->livePhotoToolbar();

    const struct {
        const char* name;
        ui::Rect inBar;
    } cases[] = {{"the live badge", {0, 0, 52, bar.bounds().height}},
                 {"the share item", page->shareBarButtonItem()->view()->frame()}};

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ui::Rect inWindow = bar.convertTo(c.inBar, app.window().get());
        // On the black page, a white mark of a few hundred pixels at least.
        EXPECT_GT(ui::test::inkCount(*shown, inWindow, ui::Color::black()), 300);
    }
}

TEST_F(PelmarImageContainerViewControllerTest, ALivePhotoFromTheCloudFillsTheRingAsItDownloads) {
    // Large enough to arrive in several pieces.
    const auto big = photos::test::writeJpeg(folder.path(), "big.jpg", 640, 480);
    viewer = std::make_shared<PelmarImageViewController>(
            std::vector<PelmarImageSource>{asset(big, true, true)});
    app.root()->present(viewer, true);
    auto page = std::dynamic_pointer_cast<PelmarImageContainerViewController>(
            viewer->pagerVC()->viewControllers().front());
    ASSERT_TRUE(page);
    const auto ring = page->progressView();
    ASSERT_TRUE(ring) << "the ring shows while the live photo is asked for";
    ASSERT_TRUE(app.runUntil([&] { return page->liveImgLoaded().has_value(); }));
    app.settle();
    EXPECT_EQ(page->progressView(), nullptr);
    EXPECT_EQ(ring->superview(), nullptr);
    // The download went all the way round before the photo replaced the ring.
    EXPECT_EQ(ring->progress(), 1.0);
    auto picture = ui::render(*ring);
    ASSERT_TRUE(picture);
    const auto arc = ring->progressPath();
    for (const ui::Point at : {ui::Point{arc.center.x + arc.radius, arc.center.y},
                               ui::Point{arc.center.x, arc.center.y + arc.radius}}) {
        EXPECT_TRUE(ui::test::looksLike(ui::test::colorAt(*picture, at.x, at.y), ui::Color::white(),
                                        0.1));
    }
    ASSERT_TRUE(page->livePhotoImgView());
    EXPECT_TRUE(page->livePhotoImgView()->stillView()->image());
}

TEST_F(PelmarImageContainerViewControllerTest, AutoplayTurnsOffTheLivePhotosOwnPress) {
    auto page = show(asset(jpeg, true),
                     [](PelmarImageViewController& v) { v.disableAutoplayForLivePhoto = false; });
    ASSERT_TRUE(app.runUntil([&] { return page->livePhotoImgView() != nullptr; }));
    EXPECT_FALSE(page->livePhotoImgView()->playbackGestureRecognizer()->isEnabled());
}

TEST_F(PelmarImageContainerViewControllerTest, ShareIsASheetOnAPhoneAndAPopoverOnAPad) {
    const struct {
        const char* name;
        ui::UserInterfaceIdiom idiom;
        bool live;
    } cases[] = {{"phone still", ui::UserInterfaceIdiom::Phone, false},
                 {"phone live", ui::UserInterfaceIdiom::Phone, true},
                 {"pad still", ui::UserInterfaceIdiom::Pad, false},
                 {"pad live", ui::UserInterfaceIdiom::Pad, true}};

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ui::Device::current().setUserInterfaceIdiom(c.idiom);
        auto page = show(asset(jpeg, c.live));
        ASSERT_TRUE(app.runUntil([&] { return page->activeAssetView() != nullptr; }));
        if (c.live) {
            ASSERT_TRUE(app.runUntil([&] { return page->shareBarButtonItem() != nullptr; }));
            ASSERT_TRUE(app.tap(page->shareBarButtonItem()->view()));
            app.settle();
        } else {
            longPress();
        }
        app.advance(ui::TransitionContext::kStandardDuration);
        app.settle();
        auto sheet = std::dynamic_pointer_cast<ui::ActivityViewController>(app.topViewController());
        ASSERT_TRUE(sheet);
        const bool pad = c.idiom == ui::UserInterfaceIdiom::Pad;
        EXPECT_EQ(sheet->modalPresentationStyle() == ui::ModalPresentationStyle::Popover, pad);
        if (pad) {
            EXPECT_EQ(sheet->preferredContentSize(), (ui::Size{320, 400}));
            if (c.live) {
                EXPECT_EQ(sheet->popoverSourceView(), page->shareBarButtonItem()->view());
                EXPECT_FALSE(sheet->popoverSourceRect());
            } else {
                EXPECT_EQ(sheet->popoverSourceView(), page->activeAssetView());
                ASSERT_TRUE(sheet->popoverSourceRect());
                EXPECT_EQ(sheet->popoverSourceRect()->width, 1);
                EXPECT_EQ(sheet->popoverSourceRect()->height, 1);
                EXPECT_TRUE(page->activeAssetView()->bounds().contains(
                        {sheet->popoverSourceRect()->x, sheet->popoverSourceRect()->y}));
            }
        } else {
            EXPECT_EQ(sheet->popoverSourceView(), nullptr);
            EXPECT_FALSE(sheet->popoverSourceRect());
        }
        closeSheetAndViewer(*sheet);
        ASSERT_EQ(app.topViewController(), app.root());
    }
}

TEST_F(PelmarImageContainerViewControllerTest, OnAPadTheSharePopoverPointsAtThePress) {
    ui::Device::current().setUserInterfaceIdiom(ui::UserInterfaceIdiom::Pad);
    using Edge = ui::PresentationController::PopoverArrow::Edge;
    using Popover = ui::PresentationController;
    constexpr double kArrow = Popover::kPopoverArrowLength;

    // The fitted picture spans y 275 to 568 of the 390 x 844 screen.
    const struct {
        const char* name;
        ui::Point press;
        double popoverX;  // 320 wide, centred on the press, kept on the screen
        Edge edge;
        const char* snapshot;
    } cases[] = {{"on the left", {60, 300}, 0, Edge::Top, "SharePopover_left.png"},
                 {"in the middle", {200, 330}, 40.5, Edge::Top, "SharePopover_middle.png"},
                 {"on the right, low: above the press",
                  {330, 540},
                  70,
                  Edge::Bottom,
                  "SharePopover_right_above.png"}};

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto page = show(asset(jpeg, false));
        ASSERT_TRUE(page->activeAssetView());
        longPress(c.press);
        app.advance(ui::TransitionContext::kStandardDuration);
        app.settle();
        auto sheet = std::dynamic_pointer_cast<ui::ActivityViewController>(app.topViewController());
        ASSERT_TRUE(sheet);
        const ui::Rect frame = sheet->view()->frame();
        EXPECT_EQ(frame.size(), (ui::Size{320, 400}));
        EXPECT_NEAR(frame.x, c.popoverX, 0.01);
        // An arrow's length below the 1 x 1 rectangle at the press, or above it.
        EXPECT_NEAR(c.edge == Edge::Top ? frame.minY() : frame.maxY(),
                    c.edge == Edge::Top ? c.press.y + 1 + kArrow : c.press.y - kArrow, 0.01);
        ASSERT_TRUE(sheet->presentationController());
        const auto arrow = sheet->presentationController()->popoverArrow();
        ASSERT_TRUE(arrow);
        EXPECT_EQ(arrow->edge, c.edge);
        EXPECT_NEAR(arrow->tip.x, c.press.x + 0.5, 0.01);
        EXPECT_NEAR(arrow->tip.y, c.edge == Edge::Top ? c.press.y + 1 : c.press.y, 0.01);

        // On screen: the panel behind the sheet, and in its colour the arrow standing between
        // the panel's edge and the tip at the press, with the picture on either side of it and
        // where an arrow from the middle of the panel's edge would stand.
        EXPECT_TRUE(app.writeSnapshot(*app.window(), c.snapshot));
        const auto picture = ui::render(*app.window());
        ASSERT_TRUE(picture);
        const auto isPopover = [&](double x, double y) {
            return ui::test::looksLike(ui::test::colorAt(*picture, x, y),
                                       Popover::kPopoverBackgroundColor);
        };
        EXPECT_TRUE(isPopover(frame.center().x, frame.center().y));
        const double towardsPanel = c.edge == Edge::Top ? 1 : -1;
        for (const int tenths : {3, 7}) {
            const double y = arrow->tip.y + towardsPanel * kArrow * tenths / 10;
            EXPECT_TRUE(isPopover(arrow->tip.x, y))
                    << "in the arrow, " << tenths << " tenths of the way to the panel";
            for (const double beside :
                 {-Popover::kPopoverArrowWidth, Popover::kPopoverArrowWidth}) {
                EXPECT_FALSE(isPopover(arrow->tip.x + beside, y)) << "beside the arrow";
            }
            if (std::abs(frame.center().x - arrow->tip.x) > Popover::kPopoverArrowWidth) {
                EXPECT_FALSE(isPopover(frame.center().x, y)) << "under the panel's middle";
            }
        }
        closeSheetAndViewer(*sheet);
        ASSERT_EQ(app.topViewController(), app.root());
    }
}

TEST_F(PelmarImageContainerViewControllerTest, TapsCloseTheViewerOnceButADoubleTapZooms) {
    auto page = show(asset(jpeg, false));
    int closes = 0;
    auto closing = foundation::NotificationCenter::defaultCenter().addObserver(
            std::string(NOTE_VC_SHOULD_DISMISS), [&] { ++closes; });
    const ui::Rect screen = ui::Screen::main().bounds();
    const ui::Point picture{screen.width / 2, screen.height / 2};
    const double minimum = page->scrollView()->zoomScale();

    ASSERT_EQ(ui::tap(*app.window(), picture), std::nullopt);
    app.advance(0.1);
    ASSERT_EQ(ui::tap(*app.window(), picture), std::nullopt);
    app.advance(0.5);
    app.settle();
    EXPECT_EQ(closes, 0) << "the first tap of a double tap closes nothing";
    EXPECT_GT(page->scrollView()->zoomScale(), minimum);

    const struct {
        const char* name;
        ui::Point at;
    } singles[] = {{"on the picture", picture}, {"beside it", {screen.width / 2, 5}}};

    for (const auto& c : singles) {
        SCOPED_TRACE(c.name);
        closes = 0;
        ASSERT_EQ(ui::tap(*app.window(), c.at), std::nullopt);
        app.advance(0.5);
        app.settle();
        EXPECT_EQ(closes, 1);
    }
}

TEST_F(PelmarImageContainerViewControllerTest, TheStatusBarHidesAfterTheViewerAppears) {
    viewer = std::make_shared<PelmarImageViewController>(
            std::vector<PelmarImageSource>{asset(jpeg, false)});
    EXPECT_FALSE(viewer->shouldHideStatusBar());
    app.root()->present(viewer, true);
    // Asked for inside a 0.1 s animation that starts as the viewer is about to appear.
    EXPECT_TRUE(viewer->shouldHideStatusBar());
    EXPECT_TRUE(viewer->statusBarHidden());
    EXPECT_EQ(viewer->preferredStatusBarUpdateAnimation(), PelmarStatusBarAnimation::Slide);
}

}  // namespace
}  // namespace pelmar
