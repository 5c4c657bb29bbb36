#include "pelmar/imageviewer/PelmarImageViewController.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "pelmar/imageviewer/PelmarImageTransitionAnimator.h"
#include "pelmar/imageviewer/PelmarImageViewerConstants.h"
#include "pelmar/platform/app/AppLifecycle.h"
#include "pelmar/platform/image/testing/ImageFixtures.h"
#include "pelmar/platform/ui/ActivityViewController.h"
#include "pelmar/platform/ui/AlertController.h"
#include "pelmar/platform/ui/Application.h"
#include "pelmar/platform/ui/Screen.h"
#include "pelmar/platform/ui/Snapshot.h"
#include "pelmar/platform/ui/Touch.h"
#include "pelmar/platform/ui/TransitionContext.h"
#include "pelmar/platform/ui/testing/Pixels.h"
#include "testing/App.h"
#include "testing/TempDir.h"

namespace pelmar {
namespace {

namespace fixtures = image::test;

PelmarImage picture(int width, int height) {
    return fixtures::quadrants(width, height, {0, 0, 255, 255}, {0, 255, 0, 255}, {255, 0, 0, 255},
                               {0, 0, 0, 255});
}

class PelmarImageViewControllerTest : public ::testing::Test {
protected:
    std::shared_ptr<PelmarImageViewController> present(std::vector<PelmarImageSource> sources,
                                                       std::ptrdiff_t start = 0) {
        auto viewer = std::make_shared<PelmarImageViewController>(std::move(sources));
        viewer->startingIndex = start;
        app.root()->present(viewer, true);
        app.advance(ui::TransitionContext::kStandardDuration);
        app.settle();
        return viewer;
    }

    std::shared_ptr<PelmarImageContainerViewController> page(const PelmarImageViewController& v) {
        return std::dynamic_pointer_cast<PelmarImageContainerViewController>(
                v.pagerVC()->viewControllers().front());
    }

    int notes(std::string_view name) {
        int count = 0;
        for (const auto& n : posted) {
            count += n == name;
        }
        return count;
    }

    void SetUp() override {
        for (auto name : {NOTE_VC_SHOULD_CANCEL_CUSTOM_TRANSITION,
                          NOTE_VC_SHOULD_DISMISS_FROM_DRAGGING, NOTE_VC_SHOULD_DISMISS}) {
            tokens.push_back(foundation::NotificationCenter::defaultCenter().addObserver(
                    std::string(name), [this, name](const foundation::Notification& n) {
                        posted.push_back(std::string(name));
                        if (auto one = n.objectAs<const int64_t>()) {
                            cancelValue = *one;
                        }
                    }));
        }
    }

    test::App app;
    std::vector<std::string> posted;
    std::optional<int64_t> cancelValue;
    std::vector<foundation::NotificationCenter::Token> tokens;
};

TEST_F(PelmarImageViewControllerTest, ADragThrowsTheImageFromTheBandsAndSnapsBackBetween) {
    const struct {
        const char* name;
        double y;  // share of the page height where the finger lifts
        bool thrown;
        double direction;
    } cases[] = {{"top", 0.1, true, -1}, {"bottom", 0.9, true, 1}, {"middle", 0.5, false, 0}};

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        posted.clear();
        auto viewer = present({picture(200, 100)});
        auto p = page(*viewer);
        ASSERT_TRUE(p->imgView());
        const ui::Rect bounds = p->view()->bounds();
        p->handleDragBegan({bounds.width / 2, bounds.height / 2}, {10, 10});
        ASSERT_EQ(p->animator()->behaviors().size(), 1u);
        p->handleDragChanged({bounds.width / 2, bounds.height * c.y});
        EXPECT_EQ(p->animator()->behaviors().front()->anchor.y, bounds.height * c.y);
        p->handleDragEnded({bounds.width / 2, bounds.height * c.y});
        const auto& behaviors = p->animator()->behaviors();
        if (c.thrown) {
            ASSERT_EQ(behaviors.size(), 1u);
            EXPECT_EQ(behaviors[0]->kind, ui::DynamicBehavior::Kind::Gravity);
            EXPECT_EQ(behaviors[0]->magnitude, 15);
            EXPECT_EQ(behaviors[0]->gravityDirection.y, c.direction);
            EXPECT_FALSE(p->scrollView()->isUserInteractionEnabled());
            EXPECT_DOUBLE_EQ(p->imgView()->alpha(), 0.25);
            app.advance(0.3);
            app.settle();
            EXPECT_EQ(p->imgView()->alpha(), 0);
            EXPECT_EQ(notes(NOTE_VC_SHOULD_DISMISS_FROM_DRAGGING), 1);
            app.advance(1.0);
            app.settle();
            EXPECT_EQ(app.topViewController(), app.root());
        } else {
            ASSERT_FALSE(behaviors.empty());
            EXPECT_EQ(behaviors.back()->kind, ui::DynamicBehavior::Kind::Snap);
            EXPECT_EQ(p->scrollView()->zoomScale(), p->scrollView()->minimumZoomScale());
            EXPECT_EQ(notes(NOTE_VC_SHOULD_DISMISS_FROM_DRAGGING), 0);
            viewer->dismiss();
            app.advance(1.0);
            app.settle();
        }
    }
}

TEST_F(PelmarImageViewControllerTest, DoubleTapZoomsInThenBackToTheMinimum) {
    auto viewer = present({picture(200, 100)});
    auto p = page(*viewer);
    auto scroll = p->scrollView();
    const double minimum = scroll->minimumZoomScale();
    EXPECT_GT(scroll->maximumZoomScale(), minimum);
    p->recenterImageOriginOrZoomToPoint({50, 50});
    app.advance(1.0);
    app.settle();
    EXPECT_EQ(scroll->zoomScale(), scroll->maximumZoomScale());
    p->recenterImageOriginOrZoomToPoint({50, 50});
    app.advance(1.0);
    app.settle();
    EXPECT_EQ(scroll->zoomScale(), minimum);
}

TEST_F(PelmarImageViewControllerTest, DismissingAwayFromTheStartCancelsTheCustomTransition) {
    auto viewer = present({picture(20, 20), picture(30, 30), picture(40, 40)});
    viewer->dismiss();
    EXPECT_EQ(notes(NOTE_VC_SHOULD_CANCEL_CUSTOM_TRANSITION), 0);
    app.advance(1.0);
    app.settle();
    EXPECT_EQ(app.topViewController(), app.root());

    viewer = present({picture(20, 20), picture(30, 30), picture(40, 40)});
    ASSERT_TRUE(viewer->pagerVC()->swipe(ui::PageViewController::NavigationDirection::Forward));
    EXPECT_EQ(viewer->currentIndex(), 1);
    viewer->dismiss();
    EXPECT_EQ(notes(NOTE_VC_SHOULD_CANCEL_CUSTOM_TRANSITION), 1);
    EXPECT_EQ(cancelValue, 1);
    EXPECT_EQ(viewer->modalTransitionStyle(), PelmarModalTransitionStyle::CrossDissolve);
    app.advance(1.0);
    app.settle();
    EXPECT_EQ(app.topViewController(), app.root());
}

TEST_F(PelmarImageViewControllerTest, AFingerSwipeTurnsToTheNextPictureAndShowsIt) {
    // BGRA: blue, green, red.
    const fixtures::Colour colors[] = {{255, 0, 0, 255}, {0, 255, 0, 255}, {0, 0, 255, 255}};
    std::vector<PelmarImageSource> sources;
    for (const auto& c : colors) {
        sources.push_back(fixtures::quadrants(100, 100, c, c, c, c));
    }

    const struct {
        const char* name;
        double by;       // points to the left
        double seconds;  // the whole stroke
        std::ptrdiff_t index;
    } cases[] = {{"a swipe over most of the screen", 280, 0.16, 1},
                 {"a short slow drag", 80, 2.0, 0}};

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto viewer = present(sources);
        ui::TouchSequence finger(app.window());
        ASSERT_EQ(finger.begin({{200 + c.by / 2, 422}}), std::nullopt);
        for (int step = 1; step <= 4; ++step) {
            app.advance(c.seconds / 4);
            finger.move({{200 + c.by / 2 - c.by * step / 4, 422}});
        }
        finger.end();
        app.advance(ui::ScrollView::kAnimationDuration);
        app.settle();
        EXPECT_EQ(viewer->currentIndex(), c.index);
        auto picture = ui::render(*app.window());
        ASSERT_TRUE(picture);
        const auto& seen = colors[c.index];
        EXPECT_TRUE(ui::test::looksLike(ui::test::colorAt(*picture, 195, 422),
                                        {seen[2] / 255.0, seen[1] / 255.0, seen[0] / 255.0, 1}));
        viewer->dismiss();
        app.advance(1.0);
        app.settle();
    }
}

TEST_F(PelmarImageViewControllerTest, ChromeFollowsItsOptions) {
    auto viewer = std::make_shared<PelmarImageViewController>(
            std::vector<PelmarImageSource>{picture(10, 10)});
    viewer->showDoneButtonOnLeft = false;
    app.root()->present(viewer, true);
    app.advance(1.0);
    app.settle();
    ASSERT_TRUE(viewer->doneButton());
    const ui::Rect frame = viewer->doneButton()->frame();
    const ui::Rect bounds = viewer->view()->frame();
    EXPECT_EQ(frame.x, bounds.x + bounds.width - 37);
    EXPECT_EQ(frame.width, 17);
    EXPECT_EQ(frame.y, ui::Screen::main().safeAreaInsets().top);
    EXPECT_TRUE(viewer->shouldHideStatusBar());
    // No localizations beside the test program: the button reads out nothing.
    EXPECT_EQ(viewer->doneButton()->accessibilityLabel(), std::nullopt);

    // Popping restores the black background and the same one button.
    viewer->view()->layer()->setBackgroundColor(ui::Color::clear());
    const auto button = viewer->doneButton();
    foundation::NotificationCenter::defaultCenter().post(NOTE_VC_POPPED);
    EXPECT_EQ(viewer->view()->layer()->backgroundColor(), ui::Color::black());
    EXPECT_EQ(viewer->doneButton(), button);
    int buttons = 0;
    for (const auto& v : viewer->view()->subviews()) {
        buttons += v == button;
    }
    EXPECT_EQ(buttons, 1);
    ASSERT_TRUE(app.tap(button));
    app.advance(1.0);
    app.settle();
    EXPECT_EQ(app.topViewController(), app.root());

    auto peek = PelmarImageViewController::initForPeekWithImageSource({picture(10, 10)});
    app.root()->present(peek, true);
    app.advance(1.0);
    app.settle();
    EXPECT_FALSE(peek->doneButton());
    EXPECT_EQ(page(*peek)->imgView()->layer()->cornerRadius(), 14);
}

TEST_F(PelmarImageViewControllerTest, ARotationLaysTheViewerOutAgain) {
    const fixtures::Colour red{0, 0, 255, 255};
    auto viewer = std::make_shared<PelmarImageViewController>(
            std::vector<PelmarImageSource>{fixtures::quadrants(200, 100, red, red, red, red)});
    viewer->showDoneButtonOnLeft = false;
    app.root()->present(viewer, true);
    app.advance(ui::TransitionContext::kStandardDuration);
    app.settle();
    app.window()->rotate(ui::InterfaceOrientation::LandscapeRight);
    app.settle();

    const ui::Rect bounds = viewer->view()->bounds();
    ASSERT_EQ(bounds.size(), (ui::Size{844, 390}));
    EXPECT_EQ(viewer->pagerVC()->view()->frame().size(), bounds.size());
    EXPECT_EQ(page(*viewer)->view()->bounds().size(), bounds.size());
    ASSERT_TRUE(viewer->doneButton());
    EXPECT_EQ(viewer->doneButton()->frame().x, bounds.width - 37);

    // What a user sees: the 2:1 picture fitted whole into the landscape screen, 780 x 390
    // from x 32, black beside it.
    auto shown = ui::render(*app.window());
    ASSERT_TRUE(shown);

    const struct {
        const char* name;
        ui::Point at;
        bool picture;
    } cases[] = {{"left of the picture", {20, 195}, false},
                 {"its left edge", {40, 195}, true},
                 {"its middle", {422, 195}, true},
                 {"its right edge", {804, 195}, true},
                 {"right of the picture", {830, 300}, false},
                 {"its bottom", {422, 385}, true}};

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ui::Color seen = ui::test::colorAt(*shown, c.at.x, c.at.y);
        EXPECT_EQ(ui::test::looksLike(seen, ui::Color{1, 0, 0, 1}, 0.1), c.picture);
        if (!c.picture) {
            EXPECT_TRUE(ui::test::looksLike(seen, ui::Color::black(), 0.1));
        }
    }
    app.window()->rotate(ui::InterfaceOrientation::Portrait);
    app.settle();
}

TEST_F(PelmarImageViewControllerTest, TheViewersOptionsReachItsPages) {
    const ui::Color green{0, 1, 0, 1};
    app.root()->view()->layer()->setBackgroundColor(green);

    const struct {
        const char* name;
        std::function<void(PelmarImageViewController&)> configure;
        ui::Color besideThePicture;
        bool longPressShares;
        double maximumZoom;  // 0: the automatic one
    } cases[] = {
            {"the defaults", [](PelmarImageViewController&) {}, ui::Color::black(), true, 0},
            {"a transparent background",
             [](PelmarImageViewController& v) { v.useTransparentBackground = true; },
             ui::Color::clear(), true, 0},
            {"no long-press share",
             [](PelmarImageViewController& v) { v.disableSharingLongPress = true; },
             ui::Color::black(), false, 0},
            {"a maximum zoom", [](PelmarImageViewController& v) { v.maxScale = 7; },
             ui::Color::black(), true, 7},
    };

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto viewer = std::make_shared<PelmarImageViewController>(
                std::vector<PelmarImageSource>{picture(200, 100)});
        c.configure(*viewer);
        app.root()->present(viewer, true);
        app.advance(ui::TransitionContext::kStandardDuration);
        app.settle();
        auto shown = ui::render(*app.window());
        ASSERT_TRUE(shown);
        // The 2:1 picture fills 390 x 195 in the middle; above it, the viewer's background (the
        // full-screen viewer is all the window shows).
        EXPECT_TRUE(ui::test::looksLike(ui::test::colorAt(*shown, 195, 200), c.besideThePicture));
        const auto p = page(*viewer);
        if (c.maximumZoom > 0) {
            EXPECT_EQ(p->scrollView()->maximumZoomScale(), c.maximumZoom);
        } else {
            EXPECT_GT(p->scrollView()->maximumZoomScale(), p->scrollView()->minimumZoomScale());
        }

        // A finger held on the picture.
        ui::TouchSequence finger(app.window());
        ASSERT_EQ(finger.begin({{195, 422}}), std::nullopt);
        app.advance(0.6);
        finger.end();
        app.advance(ui::TransitionContext::kStandardDuration);
        app.settle();
        auto sheet = std::dynamic_pointer_cast<ui::ActivityViewController>(app.topViewController());
        EXPECT_EQ(sheet != nullptr, c.longPressShares);
        if (sheet) {
            sheet->dismiss(false);
            app.settle();
        }
        ASSERT_EQ(app.topViewController(), viewer);
        viewer->dismiss();
        app.advance(1.0);
        app.settle();
        ASSERT_EQ(app.topViewController(), app.root());
    }
}

TEST_F(PelmarImageViewControllerTest, NewSourcesReplaceThePagesOfAnOpenViewer) {
    const fixtures::Colour red{0, 0, 255, 255};
    const fixtures::Colour blue{255, 0, 0, 255};
    auto viewer = present({fixtures::quadrants(100, 100, red, red, red, red)});
    EXPECT_FALSE(viewer->pagerVC()->dataSource());
    viewer->setImageSource(
            {fixtures::quadrants(100, 100, blue, blue, blue, blue), picture(10, 10)});
    app.settle();
    ASSERT_EQ(viewer->imageViewControllers().size(), 2u);
    EXPECT_TRUE(viewer->pagerVC()->dataSource()) << "two pages swipe";
    EXPECT_EQ(viewer->currentIndex(), 0);
    auto shown = ui::render(*app.window());
    ASSERT_TRUE(shown);
    EXPECT_TRUE(ui::test::looksLike(ui::test::colorAt(*shown, 195, 422), ui::Color{0, 0, 1, 1}));
    EXPECT_TRUE(viewer->doneButton());
    ASSERT_TRUE(viewer->pagerVC()->swipe(ui::PageViewController::NavigationDirection::Forward));
    EXPECT_EQ(viewer->currentIndex(), 1);
}

TEST_F(PelmarImageViewControllerTest, AMemoryWarningClosesTheViewer) {
    auto viewer = present({picture(10, 10)});
    app::AppLifecycle::receiveMemoryWarning();
    app.advance(1.0);
    app.settle();
    EXPECT_TRUE(app.logged("PelmarImageViewer: Dismissing due to memory warning."));
    EXPECT_EQ(app.topViewController(), app.root());
}

TEST_F(PelmarImageViewControllerTest, PeekPagesShowRoundedCorners) {
    const fixtures::Colour white{255, 255, 255, 255};
    // As tall as the screen: the picture reaches every corner of the page.
    auto peek = PelmarImageViewController::initForPeekWithImageSource(
            {fixtures::quadrants(390, 844, white, white, white, white)});
    app.root()->present(peek, true);
    app.advance(1.0);
    app.settle();
    ASSERT_EQ(page(*peek)->imgView()->frame(), (ui::Rect{0, 0, 390, 844}));
    auto picture = ui::render(*app.window());
    ASSERT_TRUE(picture);

    const struct {
        const char* name;
        ui::Point at;
        bool white;
    } cases[] = {{"the top-left corner", {1, 1}, false},
                 {"the bottom-right corner", {388.5, 842.5}, false},
                 {"inside the rounding", {14, 14}, true},
                 {"along an edge", {195, 1}, true}};

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ui::Color seen = ui::test::colorAt(*picture, c.at.x, c.at.y);
        EXPECT_EQ(ui::test::looksLike(seen, ui::Color::white(), 0.1), c.white);
    }
}

// A screen of the host app with its own status-bar wish.
class StatusBarScreen : public ui::ViewController {
public:
    explicit StatusBarScreen(bool hides) : hides_(hides) {}

    bool prefersStatusBarHidden() const override { return hides_; }

private:
    bool hides_;
};

TEST_F(PelmarImageViewControllerTest, TheStatusBarStaysHiddenOverAnyScreenThatHidesIt) {
    struct Case {
        const char* name;
        std::shared_ptr<ui::ViewController> presenter;
        bool hidden;
    };

    auto hidingViewer = std::make_shared<PelmarImageViewController>(
            std::vector<PelmarImageSource>{picture(10, 10)});
    const Case cases[] = {
            {"a screen that shows the bar", std::make_shared<StatusBarScreen>(false), false},
            {"a screen that hides the bar", std::make_shared<StatusBarScreen>(true), true},
            {"a viewer that hides the bar", hidingViewer, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.presenter->setModalPresentationStyle(ui::ModalPresentationStyle::FullScreen);
        app.root()->present(c.presenter, false);
        app.settle();
        auto viewer = std::make_shared<PelmarImageViewController>(
                std::vector<PelmarImageSource>{picture(10, 10)});
        c.presenter->present(viewer, true);
        app.advance(1.0);
        app.settle();
        ASSERT_EQ(viewer->presentingViewController(), c.presenter);
        // Its own wish off, only the presenter's counts.
        viewer->setHideStatusBar(false);
        viewer->setNeedsStatusBarAppearanceUpdate();
        EXPECT_EQ(viewer->prefersStatusBarHidden(), c.hidden);
        EXPECT_EQ(viewer->statusBarHidden(), c.hidden);
        app.root()->dismiss(false);
        app.settle();
    }
}

TEST(PelmarImageViewControllerLabelTest, TheCloseButtonsLabelComesFromTheAppsLocalizations) {
    pelmar::test::TempDir app("viewer-bundle");
    const auto bundle = app.path() / "PelmarImageViewerLocalizations.bundle";
    const auto write = [&](const std::string& folder, const std::string& text) {
        std::filesystem::create_directories(bundle / folder);
        std::ofstream(bundle / folder / "Localizable.strings") << text;
    };

    struct Case {
        const char* name;
        std::function<void()> prepare;
        std::vector<std::string> languages;
        std::optional<std::string> label;
    };

    const Case cases[] = {
            {"no bundle: no label", [] {}, {"en"}, std::nullopt},
            {"a bundle without the key: the empty default",
             [&] { write("en.lproj", "\"other\" = \"Other\";\n"); },
             {"en"},
             ""},
            {"the user's language, comments and escapes",
             [&] {
                 write("de.lproj",
                       "/* close */\n\"imageViewController.closeButton.text\" = "
                       "\"Schlie\\\"\u00dfen\";  // the x\n");
             },
             {"de_DE"},
             "Schlie\"\u00dfen"},
            {"another language falls back to English",
             [&] { write("en.lproj", "\"imageViewController.closeButton.text\" = \"Close\";"); },
             {"fr"},
             "Close"},
            {"a malformed table keeps what came before",
             [&] {
                 write("en.lproj",
                       "\"imageViewController.closeButton.text\" = \"Close\";\n\"broken\" \"x\";");
             },
             {"en"},
             "Close"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.prepare();
        EXPECT_EQ(PelmarImageViewController::closeButtonLabel(app.path(), c.languages), c.label);
    }
}

TEST_F(PelmarImageViewControllerTest, OddSourceListsStillMakeAViewer) {
    auto empty = present({});
    EXPECT_TRUE(empty->imageViewControllers().empty());
    EXPECT_TRUE(empty->doneButton());
    EXPECT_EQ(empty->currentIndex(), 0);
    empty->dismiss();
    app.advance(1.0);
    app.settle();

    auto outOfRange = present({picture(10, 10), picture(12, 12)}, 5);
    EXPECT_EQ(outOfRange->startingIndex, 0);
    EXPECT_EQ(page(*outOfRange)->imgLoaded()->width(), 10);
    outOfRange->dismiss();
    app.advance(1.0);
    app.settle();

    // Something the viewer cannot show: the alert, once the page is on screen.
    auto unknown = present({std::monostate{}});
    EXPECT_EQ(page(*unknown)->assetType(), PelmarImageAssetType::Error);
    ASSERT_TRUE(app.shownAlert());
    EXPECT_EQ(app.shownAlert()->title(), "Whoops");
}

TEST_F(PelmarImageViewControllerTest, ParallaxStripSitsAtTheSeamAfterTheCurrentPage) {
    auto viewer = present({picture(10, 10), picture(12, 12)});
    ui::ScrollView scroll({0, 0, 390, 844});
    scroll.setContentSize({390 * 3, 844});
    scroll.setContentOffset({390 * 1.5, 0});
    viewer->updateParallaxViewFrame(scroll);
    EXPECT_DOUBLE_EQ(viewer->parallaxView()->frame().x, 390 * 2 - 0.5 * 40);
    EXPECT_EQ(viewer->parallaxView()->frame().width, 40);
}

TEST_F(PelmarImageViewControllerTest, TheZoomTransitionFliesTheImageUnlessCancelledOrTurned) {
    const struct {
        const char* name;
        bool cancelNote;
        bool rotate;
        bool flies;
    } cases[] = {{"plain", false, false, true},
                 {"cancelled", true, false, false},
                 {"rotated", false, true, false}};

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ui::Application::shared().setDeviceOrientation(ui::DeviceOrientation::Portrait);
        auto animator = PelmarImageTransitionAnimator::create();
        animator->animatedImage = picture(200, 100);
        animator->imageOriginFrame = {10, 20, 50, 25};
        animator->animatedImageContainer = std::make_shared<ui::View>();
        auto viewer = std::make_shared<PelmarImageViewController>(
                std::vector<PelmarImageSource>{picture(200, 100)});
        viewer->setTransitioningDelegate(animator);
        app.root()->present(viewer, true);
        ASSERT_TRUE(animator->flyingImageView());
        EXPECT_TRUE(animator->flyingImageView()->superview());
        EXPECT_EQ(animator->animatedImageContainer->alpha(), 0);
        app.advance(0.5);
        app.settle();
        EXPECT_FALSE(animator->presenting);
        // Aspect-fit in the 390 x 844 screen: 390 x 195, centred.
        EXPECT_NEAR(animator->flyingImageView()->frame().height, 195, 0.01);
        EXPECT_FALSE(animator->flyingImageView()->superview());

        if (c.cancelNote) {
            foundation::NotificationCenter::defaultCenter().post(
                    NOTE_VC_SHOULD_CANCEL_CUSTOM_TRANSITION, std::make_shared<const int64_t>(1));
        }
        if (c.rotate) {
            ui::Application::shared().setDeviceOrientation(ui::DeviceOrientation::LandscapeLeft);
        }
        viewer->ui::ViewController::dismiss(true);
        app.settle();
        ASSERT_TRUE(animator->flyingImageView());
        EXPECT_EQ(animator->flyingImageView()->superview() != nullptr, c.flies);
        EXPECT_EQ(animator->flyingImageView()->frame() == animator->imageOriginFrame, c.flies);
        app.advance(0.5);
        app.settle();
        EXPECT_TRUE(animator->presenting);
        EXPECT_EQ(animator->animatedImageContainer->alpha(), 1);
        EXPECT_EQ(app.topViewController(), app.root());
    }
    ui::Application::shared().setDeviceOrientation(ui::DeviceOrientation::Portrait);
    auto plain = PelmarImageTransitionAnimator::create();
    EXPECT_FALSE(plain->temporaryImageView());
}

TEST_F(PelmarImageViewControllerTest, TheFlyingImageIsCutToItsFrame) {
    const fixtures::Colour red{0, 0, 255, 255};
    auto animator = PelmarImageTransitionAnimator::create();
    // A wide picture filling a tall frame: uncut, it would stick out 75 points on each side.
    animator->animatedImage = fixtures::quadrants(200, 100, red, red, red, red);
    animator->imageOriginFrame = {100, 200, 50, 100};
    animator->animatedImageContainer = std::make_shared<ui::View>();
    auto viewer = std::make_shared<PelmarImageViewController>(
            std::vector<PelmarImageSource>{animator->animatedImage});
    viewer->setTransitioningDelegate(animator);
    app.root()->present(viewer, true);
    app.advance(0.5);
    app.settle();
    viewer->ui::ViewController::dismiss(true);
    app.settle();
    ASSERT_TRUE(animator->flyingImageView());
    ASSERT_EQ(animator->flyingImageView()->frame(), animator->imageOriginFrame);

    auto shown = ui::render(*app.window());
    ASSERT_TRUE(shown);
    const auto isRed = [&](double x, double y) {
        return ui::test::looksLike(ui::test::colorAt(*shown, x, y), ui::Color{1, 0, 0, 1}, 0.1);
    };
    EXPECT_TRUE(isRed(125, 250));
    EXPECT_TRUE(isRed(102, 202));
    EXPECT_FALSE(isRed(90, 250)) << "the picture spills out on the left";
    EXPECT_FALSE(isRed(160, 250)) << "the picture spills out on the right";
    app.advance(0.5);
    app.settle();
    EXPECT_EQ(app.topViewController(), app.root());
}

TEST(PelmarImageViewerDownloadProgressViewTest, TheArcEndsRound) {
    ui::Screen::main().reset();
    auto progress = std::make_shared<PelmarImageViewerDownloadProgressView>();
    progress->setProgress(0.5);
    const auto picture = ui::render(*progress, 3);
    ASSERT_TRUE(picture);
    const auto arc = progress->progressPath();
    const double top = arc.center.y - arc.radius;
    const double bottom = arc.center.y + arc.radius;

    const struct {
        const char* name;
        ui::Point at;
        double alpha;  // white over the light (60 %) track
    } cases[] = {{"on the arc", {arc.center.x + arc.radius, arc.center.y}, 1.0},
                 {"on the track only", {arc.center.x - arc.radius, arc.center.y}, 0.6},
                 {"the cap before the top", {arc.center.x - 0.8, top}, 1.0},
                 {"the cap past the bottom", {arc.center.x - 0.8, bottom}, 1.0},
                 {"beyond the caps", {arc.center.x - 3, bottom}, 0.6}};

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ui::Color seen = ui::test::colorAt(*picture, c.at.x, c.at.y);
        EXPECT_NEAR(seen.alpha, c.alpha, 0.1);
        EXPECT_TRUE(ui::test::looksLike({seen.red, seen.green, seen.blue, 1}, ui::Color::white()));
    }
}

TEST(PelmarImageViewerDownloadProgressViewTest, StrokesAsFarAsTheClampedProgress) {
    ui::Screen::main().reset();
    PelmarImageViewerDownloadProgressView progress;
    EXPECT_EQ(progress.progessSize().width, std::floor(0.15 * 390));
    EXPECT_EQ(progress.progressBackingLayer().strokeEnd, 1.0);
    EXPECT_EQ(progress.progressLayer().color, ui::Color::white());
    EXPECT_DOUBLE_EQ(progress.progressPath().startAngle, 3 * M_PI / 2);

    const struct {
        double value;
        double strokeEnd;
    } cases[] = {{0.5, 0.5}, {-0.25, 0}, {3, 1}, {std::nan(""), 0}};

    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        progress.setProgress(c.value);
        EXPECT_EQ(progress.progressLayer().strokeEnd, c.strokeEnd);
    }
}

}  // namespace
}  // namespace pelmar
