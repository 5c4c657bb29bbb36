#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "pelmar/core/Pelmar.h"
#include "pelmar/core/PelmarConfig.h"
#include "pelmar/core/PelmarImages.h"
#include "pelmar/imageloader/testing/RemoteImageManagerFixture.h"
#include "pelmar/imageviewer/PelmarBackLoadedImageSource.h"
#include "pelmar/imageviewer/PelmarImageViewController.h"
#include "pelmar/imageviewer/PelmarImageViewerConstants.h"
#include "pelmar/platform/image/testing/AnimatedGifFixtures.h"
#include "pelmar/platform/image/testing/ImageFixtures.h"
#include "pelmar/platform/ui/AlertController.h"
#include "pelmar/platform/ui/Snapshot.h"
#include "pelmar/platform/ui/TransitionContext.h"
#include "pelmar/platform/ui/testing/Pixels.h"
#include "testing/App.h"
#include "testing/ScriptedHttpServer.h"
#include "testing/TempDir.h"

namespace pelmar {
namespace {

namespace fixtures = image::test;

std::string base64(const std::string& bytes) {
    static constexpr char kDigits[] =
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t n = static_cast<uint8_t>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) {
            n |= static_cast<uint8_t>(bytes[i + 1]) << 8;
        }
        if (i + 2 < bytes.size()) {
            n |= static_cast<uint8_t>(bytes[i + 2]);
        }
        out += kDigits[(n >> 18) & 63];
        out += kDigits[(n >> 12) & 63];
        out += i + 1 < bytes.size() ? kDigits[(n >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? kDigits[n & 63] : '=';
    }
    return out;
}

class PelmarImageViewControllerIntegrationTest : public ::testing::Test {
protected:
    void TearDown() override {
        gate.open();
        server.stop();
    }

    // The viewer on top of the screens, once its first page has an image or an alert.
    std::shared_ptr<PelmarImageViewController> shownViewer() {
        std::shared_ptr<PelmarImageViewController> viewer;
        EXPECT_TRUE(app.runUntil([&] {
            viewer = std::dynamic_pointer_cast<PelmarImageViewController>(app.topViewController());
            return viewer != nullptr;
        }));
        app.advance(ui::TransitionContext::kStandardDuration);
        app.settle();
        return viewer;
    }

    std::shared_ptr<PelmarImageContainerViewController> pageOnScreen(
            const PelmarImageViewController& viewer) {
        return std::dynamic_pointer_cast<PelmarImageContainerViewController>(
                viewer.pagerVC()->viewControllers().front());
    }

    bool loaded(const PelmarImageContainerViewController& page) {
        return app.runUntil([&] { return page.imgLoaded() != nullptr; });
    }

    test::App app;
    test::Gate gate;
    test::ScriptedHttpServer server{[this](const test::ScriptedRequest& request) {
        test::ScriptedReply reply;
        if (request.target.find("held.jpg") != std::string::npos) {
            // The first half, then nothing until the gate opens.
            reply.headers = {{"Content-Type", "image/jpeg"}};
            reply.body = fixtures::jpeg(*fixtures::photo(320, 240));
            reply.writeSize = reply.body.size() / 2 + 1;
            reply.beforeWrite = [this](std::size_t sent) {
                if (sent > 0) {
                    gate.wait();
                }
            };
        } else if (request.target.find("notimage") != std::string::npos) {
            reply.headers = {{"Content-Type", "image/png"}};
            reply.body = "this is not a picture";
        } else if (request.target.find(".jpg") != std::string::npos
                   || request.target.find("tok1") != std::string::npos) {
            reply.headers = {{"Content-Type", "image/jpeg"}};
            reply.body = fixtures::jpeg(*fixtures::photo(320, 240));
        } else if (request.target.find("big.png") != std::string::npos) {
            reply.headers = {{"Content-Type", "image/png"}};
            const fixtures::Colour c{0, 0, 200, 255};
            reply.body = fixtures::png(*fixtures::quadrants(64, 32, c, c, c, c));
        } else if (request.target.find(".gif") != std::string::npos) {
            reply.headers = {{"Content-Type", "image/gif"}};
            reply.body = fixtures::patternGif(40, 30, 6, 10);
        } else {
            reply.status = 404;
            reply.headers = {{"Content-Type", "text/plain"}};
            reply.body = "no such image";
        }
        return reply;
    }};
};

TEST_F(PelmarImageViewControllerIntegrationTest, ShowImageOpensPagesOfJpegGifAndDataUrl) {
    const std::string dataUrl =
            "data:image/png;base64,"
            + base64(fixtures::png(*fixtures::quadrants(16, 8, {255, 0, 0, 255}, {0, 255, 0, 255},
                                                        {0, 0, 255, 255}, {9, 9, 9, 255})));
    app.sdk()->showImage(
            Pelmar::ImagePaths{{server.url("/photo.jpg"), server.url("/anim.gif"), dataUrl}});
    auto viewer = shownViewer();
    ASSERT_TRUE(viewer);
    EXPECT_EQ(viewer->modalPresentationStyle(), ui::ModalPresentationStyle::FullScreen);
    EXPECT_EQ(viewer->startingIndex, 0);
    EXPECT_EQ(viewer->currentIndex(), 0);
    EXPECT_TRUE(viewer->pagerVC()->dataSource());

    auto jpegPage = pageOnScreen(*viewer);
    ASSERT_TRUE(loaded(*jpegPage));
    EXPECT_EQ(jpegPage->assetType(), PelmarImageAssetType::Network);
    EXPECT_EQ(jpegPage->imgLoaded()->width(), 320);
    EXPECT_FALSE(jpegPage->progressView());
    EXPECT_TRUE(jpegPage->disableHorizontalDrag);
    app.settle();
    EXPECT_TRUE(app.writeSnapshot(*viewer->view(), "PelmarImageViewController_jpeg.png"));
    app.expectLooksRight(*viewer->view());

    ASSERT_TRUE(viewer->pagerVC()->swipe(ui::PageViewController::NavigationDirection::Forward));
    EXPECT_FALSE(viewer->parallaxView()->isHidden());
    EXPECT_EQ(viewer->currentIndex(), 1);
    auto gifPage = pageOnScreen(*viewer);
    ASSERT_TRUE(loaded(*gifPage));
    EXPECT_EQ(gifPage->imgLoaded()->width(), 40);
    // A served animated GIF plays as an animation, not as its first frame.
    ASSERT_TRUE(gifPage->imgView());
    EXPECT_TRUE(gifPage->imgView()->animatedImage());

    ASSERT_TRUE(viewer->pagerVC()->swipe(ui::PageViewController::NavigationDirection::Forward));
    auto dataPage = pageOnScreen(*viewer);
    ASSERT_TRUE(loaded(*dataPage));
    EXPECT_EQ(dataPage->imgLoaded()->width(), 16);
    EXPECT_FALSE(viewer->pagerVC()->swipe(ui::PageViewController::NavigationDirection::Forward));
}

TEST_F(PelmarImageViewControllerIntegrationTest, ShowImageOpensALocalFile) {
    test::TempDir dir;
    // Blanks, "%" and "#" are part of a path, not of a URL's syntax.
    const auto path = dir.path() / "my photos #1 100%.jpg";
    std::ofstream(path, std::ios::binary) << fixtures::jpeg(*fixtures::photo(120, 90));
    app.sdk()->showImage(Pelmar::ImagePaths{{path.string()}});
    auto viewer = shownViewer();
    ASSERT_TRUE(viewer);
    auto page = pageOnScreen(*viewer);
    ASSERT_TRUE(loaded(*page));
    EXPECT_EQ(page->imgLoaded()->width(), 120);
    EXPECT_FALSE(app.shownAlert());
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(PelmarImageViewControllerIntegrationTest, ShowImageOfTokensLoadsTheirServiceImages) {
    auto facade = std::make_shared<Pelmar>("app-token");
    facade->config().setCdnAPIUrl(server.url(""));
    facade->config().setFileServerUrl(server.url(""));
    const std::string expected = facade->images()->getImageUrl("tok1");
    ASSERT_FALSE(expected.empty());
    facade->showImage(std::vector<std::string>{"tok1"});
    auto viewer = shownViewer();
    ASSERT_TRUE(viewer);
    auto page = pageOnScreen(*viewer);
    ASSERT_TRUE(loaded(*page));
    const auto requests = server.requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(server.url(requests.back().target), expected);
}

TEST_F(PelmarImageViewControllerIntegrationTest, NothingOpensForEmptyLists) {
    app.sdk()->showImage(Pelmar::ImagePaths{});
    app.sdk()->showImage(std::vector<std::string>{});
    app.settle();
    EXPECT_EQ(app.topViewController(), app.root());
}

TEST_F(PelmarImageViewControllerIntegrationTest, AFailedImageShowsWhoopsAndOkClosesTheViewer) {
    std::vector<std::string> posted;
    auto token = foundation::NotificationCenter::defaultCenter().addObserver(
            std::string(NOTE_IMG_FAILED), [&] { posted.push_back("failed"); });
    app.sdk()->showImage(Pelmar::ImagePaths{{server.url("/missing.png")}});
    auto viewer = shownViewer();
    ASSERT_TRUE(viewer);
    EXPECT_FALSE(viewer->pagerVC()->dataSource());
    EXPECT_FALSE(pageOnScreen(*viewer)->disableHorizontalDrag);
    ASSERT_TRUE(app.runUntil([&] { return app.shownAlert() != nullptr; }));
    auto alert = app.shownAlert();
    EXPECT_EQ(alert->title(), "Whoops");
    EXPECT_EQ(alert->message(),
              "Looks like we ran into an issue loading the image, sorry about that!");
    EXPECT_TRUE(app.logs().contains("Error "));
    app.advance(ui::TransitionContext::kStandardDuration);
    EXPECT_TRUE(app.writeSnapshot(*app.window(), "PelmarImageViewController_whoops.png"));
    // What a user reads: the title and message have ink, the button draws.
    EXPECT_TRUE(app.expectLooksRight(*alert->view()));
    // "Ok" as a finger taps it.
    ASSERT_EQ(alert->actionButtons().size(), 1u);
    ASSERT_TRUE(app.tap(alert->actionButtons()[0]));
    app.advance(1.0);
    app.settle();
    EXPECT_EQ(posted.size(), 1u);
    EXPECT_TRUE(app.runUntil([&] { return app.topViewController() == app.root(); }));
}

TEST_F(PelmarImageViewControllerIntegrationTest, AMissingLocalFileShowsWhoopsAtOnce) {
    // The clock stays where it is: the network's retries (4 s and on) would never come, so only
    // a failure without them shows the alert.
    const auto missing = std::filesystem::temp_directory_path() / "pelmar-no-such-picture.jpg";
    std::filesystem::remove(missing);
    app.sdk()->showImage(Pelmar::ImagePaths{{"file://" + missing.string()}});
    auto viewer = shownViewer();
    ASSERT_TRUE(viewer);
    ASSERT_TRUE(app.runUntil([&] { return app.shownAlert() != nullptr; }));
    EXPECT_EQ(app.shownAlert()->title(), "Whoops");
    EXPECT_LT(app.clock().now(), 1.0);
}

TEST_F(PelmarImageViewControllerIntegrationTest, AnUnparsableURLShowsWhoopsAtOnce) {
    // As with a missing file, the clock stays where it is: only a failure without retries
    // shows the alert.
    app.sdk()->showImage(Pelmar::ImagePaths{{"http://"}});
    auto viewer = shownViewer();
    ASSERT_TRUE(viewer);
    ASSERT_TRUE(app.runUntil([&] { return app.shownAlert() != nullptr; }));
    EXPECT_EQ(app.shownAlert()->title(), "Whoops");
    EXPECT_LT(app.clock().now(), 1.0);
}

TEST_F(PelmarImageViewControllerIntegrationTest, TheLoadingRingTurnsInTheMiddleOfThePage) {
    app.sdk()->showImage(Pelmar::ImagePaths{{server.url("/held.jpg")}});
    auto viewer = shownViewer();
    ASSERT_TRUE(viewer);
    auto page = pageOnScreen(*viewer);
    ASSERT_TRUE(app.runUntil(
            [&] { return page->progressView() && page->progressView()->progress() >= 0.4; }));
    app.settle();
    auto picture = ui::render(*app.window());
    ASSERT_TRUE(picture);
    // The arc runs from the top of a circle around the screen's centre, clockwise, past the
    // right; the rest of the page stays black.
    const ui::Rect screen = app.window()->bounds();
    const double radius = page->progressView()->progressPath().radius;
    const ui::Point centre = screen.center();
    for (const ui::Point at :
         {ui::Point{centre.x, centre.y - radius}, ui::Point{centre.x + radius, centre.y}}) {
        EXPECT_TRUE(ui::test::looksLike(ui::test::colorAt(*picture, at.x, at.y), ui::Color::white(),
                                        0.1))
                << "at " << at.x << ", " << at.y;
    }
    EXPECT_EQ(ui::test::inkCount(*picture, {0, 0, 40, 40}, ui::Color::black()), 0);
    gate.open();
    ASSERT_TRUE(loaded(*page));
    EXPECT_FALSE(page->progressView());
}

TEST_F(PelmarImageViewControllerIntegrationTest, DataThatIsNoImageIsLoggedWithAClearError) {
    app.sdk()->showImage(Pelmar::ImagePaths{{server.url("/notimage.png")}});
    auto viewer = shownViewer();
    ASSERT_TRUE(viewer);
    ASSERT_TRUE(app.runUntil([&] { return app.shownAlert() != nullptr; }));
    EXPECT_TRUE(app.logged("Error The downloaded data is not an image that can be decoded."));
}

TEST_F(PelmarImageViewControllerIntegrationTest, AnAnimatedSourcePlaysOnItsPage) {
    auto animated = PelmarCachedAnimatedImage::createWithAnimatedImageData(
            fixtures::patternGif(60, 40, 8, 10));
    ASSERT_TRUE(animated);
    auto viewer =
            std::make_shared<PelmarImageViewController>(std::vector<PelmarImageSource>{animated});
    app.root()->present(viewer, true);
    ASSERT_EQ(shownViewer(), viewer);
    auto page = pageOnScreen(*viewer);
    EXPECT_EQ(page->assetType(), PelmarImageAssetType::Animated);
    ASSERT_TRUE(page->imgView());
    EXPECT_EQ(page->imgView()->animatedImage(), animated);
    EXPECT_TRUE(app.runUntil([&] { return page->imgView()->isAnimating(); }));
    for (int i = 0; i < 5; ++i) {
        app.advance(0.1);
        app.settle();
    }
    EXPECT_NE(page->imgView()->lastSuccessfulFrameIndex(), PelmarAnimatedImageView::kNoFrame);
    EXPECT_TRUE(app.writeSnapshot(*viewer->view(), "PelmarImageViewController_gif.png"));
    app.expectLooksRight(*viewer->view());
}

TEST_F(PelmarImageViewControllerIntegrationTest, BackLoadedPagesEachTakeTheirOwnHighResolution) {
    const auto low = fixtures::quadrants(4, 4, {1, 1, 1, 255}, {1, 1, 1, 255}, {1, 1, 1, 255},
                                         {1, 1, 1, 255});
    // The first finishes before its page exists; the second after.
    auto early = PelmarBackLoadedImageSource::create(low, server.url("/early.jpg"));
    ASSERT_TRUE(app.runUntil([&] { return early->isHiResDone(); }));
    auto late = PelmarBackLoadedImageSource::create(low, server.url("/late/big.png"));
    auto viewer = std::make_shared<PelmarImageViewController>(
            std::vector<PelmarImageSource>{early, late});
    app.root()->present(viewer, true);
    ASSERT_EQ(shownViewer(), viewer);
    auto first = viewer->imageViewControllers()[0];
    EXPECT_EQ(first->imgLoaded()->width(), 320);
    ASSERT_TRUE(app.runUntil([&] { return late->isHiResDone(); }));
    app.settle();
    EXPECT_EQ(first->imgLoaded()->width(), 320);
    ASSERT_TRUE(viewer->pagerVC()->swipe(ui::PageViewController::NavigationDirection::Forward));
    auto second = pageOnScreen(*viewer);
    ASSERT_TRUE(app.runUntil(
            [&] { return second->imgLoaded() && second->imgLoaded()->width() == 64; }));
    EXPECT_EQ(first->imgLoaded()->width(), 320);
}

TEST_F(PelmarImageViewControllerIntegrationTest, AnAnimatedHighResolutionPlaysAndIsNoStillImage) {
    std::optional<Error> error;
    bool called = false;
    std::shared_ptr<const PelmarCachedAnimatedImage> announced;
    auto token = foundation::NotificationCenter::defaultCenter().addObserver(
            std::string(NOTE_HI_RES_IMG_DOWNLOADED), [&](const foundation::Notification& note) {
                announced = note.objectAs<PelmarCachedAnimatedImage>();
            });
    const auto low = fixtures::quadrants(4, 4, {1, 1, 1, 255}, {1, 1, 1, 255}, {1, 1, 1, 255},
                                         {1, 1, 1, 255});
    auto source = PelmarBackLoadedImageSource::create(
            low, server.url("/hi/anim.gif"),
            [&](const PelmarImage& image, const std::optional<Error>& e) {
                called = image == nullptr;
                error = e;
            });
    auto viewer =
            std::make_shared<PelmarImageViewController>(std::vector<PelmarImageSource>{source});
    app.root()->present(viewer, true);
    ASSERT_EQ(shownViewer(), viewer);
    ASSERT_TRUE(app.runUntil([&] { return source->isHiResDone(); }));
    app.settle();
    // The completion hears of no still image: the error, as for a failure.
    EXPECT_TRUE(called);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain, "com.pelmarImageViewer.backLoadedImgSource");
    EXPECT_EQ(error->code, 44);
    // The note carries the animation, and the page plays it.
    ASSERT_TRUE(announced);
    auto page = pageOnScreen(*viewer);
    EXPECT_EQ(page->assetType(), PelmarImageAssetType::Animated);
    ASSERT_TRUE(page->imgView());
    EXPECT_EQ(page->imgView()->animatedImage(), announced);
    EXPECT_EQ(page->imgLoaded()->width(), 40);
    EXPECT_TRUE(app.runUntil([&] { return page->imgView()->isAnimating(); }));
}

TEST_F(PelmarImageViewControllerIntegrationTest, BackLoadingWithoutAnImageReportsItsError) {
    std::optional<Error> error;
    bool called = false;
    int notes = 0;
    auto token = foundation::NotificationCenter::defaultCenter().addObserver(
            std::string(NOTE_HI_RES_IMG_DOWNLOADED),
            [&](const foundation::Notification& note) { notes += note.object == nullptr; });
    auto source = PelmarBackLoadedImageSource::create(
            nullptr, server.url("/gone.png"),
            [&](const PelmarImage& image, const std::optional<Error>& e) {
                called = image == nullptr;
                error = e;
            });
    ASSERT_TRUE(app.runUntil([&] { return source->isHiResDone(); }));
    EXPECT_TRUE(called);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain, "com.pelmarImageViewer.backLoadedImgSource");
    EXPECT_EQ(error->code, 44);
    EXPECT_EQ(error->message,
              "Failed to download an image for high resolution url " + server.url("/gone.png"));
    EXPECT_EQ(notes, 1);
    EXPECT_TRUE(app.logs().contains(
            "PelmarImageViewer: Unable to load high resolution photo via backloading."));
}

}  // namespace
}  // namespace pelmar
