#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "pelmar/imageloader/PelmarAnimatedImageViewRemoteImage.h"
#include "pelmar/imageloader/PelmarButtonRemoteImage.h"
#include "pelmar/imageloader/PelmarImageViewRemoteImage.h"
#include "pelmar/imageloader/PelmarRemoteImageCategory.h"
#include "pelmar/imageloader/PelmarRemoteImageDiskCache.h"
#include "pelmar/imageloader/PelmarRemoteImageManager.h"
#include "pelmar/imageloader/internal/RemoteImageManagerPeer.h"
#include "pelmar/imageloader/testing/FakeAnimatedImage.h"
#include "pelmar/platform/dispatch/RunLoop.h"
#include "pelmar/platform/dispatch/testing/MainLoopFixture.h"
#include "pelmar/platform/image/testing/AnimatedGifFixtures.h"
#include "pelmar/platform/image/testing/ImageFixtures.h"
#include "testing/ScriptedHttpServer.h"
#include "testing/TempDir.h"

namespace pelmar {
namespace {

namespace fixtures = image::test;

// A gate that holds answers of the server until opened.
class Gate {
public:
    void wait() {
        std::unique_lock lock(mutex_);
        opened_.wait(lock, [&] { return open_; });
    }

    void open() {
        {
            std::lock_guard lock(mutex_);
            open_ = true;
        }
        opened_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable opened_;
    bool open_ = false;
};

// Which quadrant colour the bitmap shows at its top-left pixel (blue byte first).
uint8_t blueAt(const std::shared_ptr<const ui::Image>& image) {
    return image && image->bitmap() ? image->bitmap()->pixel(0, 0)[0] : 0;
}

class PelmarRemoteImageCategoryIntegrationTest : public dispatch::test::MainLoopFixture {
protected:
    void TearDown() override {
        slow.open();
        rest.open();
        server.stop();
        MainLoopFixture::TearDown();
    }

    static std::string picture(uint8_t blue) {
        const fixtures::Colour c{blue, 10, 20, 255};
        return fixtures::png(*fixtures::quadrants(8, 8, c, c, c, c));
    }

    int hitsOf(const std::string& path) {
        int hits = 0;
        for (const auto& request : server.requests()) {
            hits += request.target == path;
        }
        return hits;
    }

    Gate slow;
    Gate rest;
    test::ScriptedHttpServer server{[this](const test::ScriptedRequest& request) {
        test::ScriptedReply reply;
        reply.headers = {{"Content-Type", "image/png"}};
        if (request.target.rfind("/slow", 0) == 0) {
            reply.body = picture(1);
            reply.beforeWrite = [this](std::size_t) { slow.wait(); };
        } else if (request.target.rfind("/fast", 0) == 0) {
            reply.body = picture(2);
        } else if (request.target.rfind("/progressive", 0) == 0) {
            static const std::string progressive =
                    fixtures::jpeg(*fixtures::photo(640, 480), 90, true);
            reply.headers = {{"Content-Type", "image/jpeg"}};
            reply.body = progressive;
            reply.writeSize = progressive.size() / 20 + 1;
            // The last 30% wait until the test has seen an intermediate image.
            reply.beforeWrite = [this, size = progressive.size()](std::size_t sent) {
                if (sent * 10 >= size * 7) {
                    rest.wait();
                }
            };
        } else if (request.target.rfind("/animated", 0) == 0) {
            reply.headers = {{"Content-Type", "image/gif"}};
            reply.body = fixtures::patternGif(8, 8, 3);
        } else {
            reply.status = 404;
            reply.headers = {{"Content-Type", "text/plain"}};
            reply.body = "missing";
        }
        return reply;
    }};
};

// The shared manager is made once per process, by whoever asks first: this test starts from none,
// as a host's launch does, and leaves none over its folder for the tests after it.
TEST_F(PelmarRemoteImageCategoryIntegrationTest,
       ViewsLoadThroughTheDiskCacheAHostGaveTheSharedManager) {
    imageloader::internal::RemoteImageManagerPeer::forgetSharedImageManager();

    struct ForgetAfter {
        ~ForgetAfter() {
            imageloader::internal::RemoteImageManagerPeer::forgetSharedImageManager();
        }
    } forgetAfter;

    test::TempDir folder("shared-image-cache");
    PelmarRemoteImageManager::setSharedImageManagerWithConfiguration(
            std::nullopt, PelmarRemoteImageDiskCache::create(folder.path()));
    auto imageView = std::make_shared<ui::ImageView>(ui::Rect{0, 0, 8, 8});
    auto target = PelmarImageViewRemoteImage::create(imageView);
    const std::string url = server.url("/fast/kept.png");
    PelmarImageResult loaded;
    target->pelmar_setImageFromURL(url, [&](const PelmarImageResult& r) { loaded = r; });
    ASSERT_TRUE(dispatch::RunLoop::runUntil([&] { return loaded != nullptr; }));
    ASSERT_FALSE(loaded->error());
    EXPECT_EQ(blueAt(imageView->image()), 2);

    // The next launch, a manager over the same folder, finds the picture without the network.
    auto nextLaunch = PelmarRemoteImageManager::create(
            std::nullopt, nullptr, PelmarRemoteImageDiskCache::create(folder.path()));
    PelmarImageResult found;
    nextLaunch->imageFromCacheWithURL(url, "", std::nullopt, 0,
                                      [&](const PelmarImageResult& r) { found = r; });
    ASSERT_TRUE(dispatch::RunLoop::runUntil([&] { return found != nullptr; }));
    EXPECT_EQ(found->resultType(), PelmarImageResultType::CacheHit);
    ASSERT_TRUE(found->image());
    EXPECT_EQ(found->image()->pixel(0, 0)[0], 2);
    EXPECT_EQ(hitsOf("/fast/kept.png"), 1);
}

TEST_F(PelmarRemoteImageCategoryIntegrationTest, ANewLoadReplacesTheOneUnderWay) {
    auto imageView = std::make_shared<ui::ImageView>(ui::Rect{0, 0, 8, 8});
    auto target = PelmarImageViewRemoteImage::create(imageView);
    int firstCompletions = 0;
    PelmarImageResult second;
    target->pelmar_setImageFromURL(server.url("/slow/a.png"),
                                   [&](const PelmarImageResult&) { ++firstCompletions; });
    ASSERT_TRUE(dispatch::RunLoop::runUntil([&] { return hitsOf("/slow/a.png") == 1; }));
    const auto firstUUID = target->pelmar_downloadImageOperationUUID();
    ASSERT_TRUE(firstUUID);

    target->pelmar_setImageFromURL(server.url("/fast/b.png"),
                                   [&](const PelmarImageResult& r) { second = r; });
    EXPECT_NE(target->pelmar_downloadImageOperationUUID(), firstUUID);
    ASSERT_TRUE(dispatch::RunLoop::runUntil([&] { return second != nullptr; }));
    EXPECT_FALSE(second->error());
    EXPECT_EQ(blueAt(imageView->image()), 2);
    EXPECT_FALSE(target->pelmar_downloadImageOperationUUID());
    // The first load was cancelled with the manager while its answer was still held: no task
    // of it stays registered.
    EXPECT_TRUE(dispatch::RunLoop::runUntil([] {
        return imageloader::internal::RemoteImageManagerPeer(
                       *PelmarRemoteImageManager::sharedImageManager())
                       .taskCount()
               == 0;
    }));

    // Whatever of the first load still arrives changes nothing.
    slow.open();
    dispatch::RunLoop::runFor(0.2);
    dispatch::RunLoop::runUntil([] { return false; }, 0.3);
    EXPECT_EQ(firstCompletions, 0);
    EXPECT_EQ(blueAt(imageView->image()), 2);
}

TEST_F(PelmarRemoteImageCategoryIntegrationTest, WithTheProgressFlagIntermediateImagesAreShown) {
    auto imageView = std::make_shared<ui::ImageView>();
    auto target = PelmarImageViewRemoteImage::create(imageView);
    target->setPelmar_updateWithProgress(true);
    const auto placeholder = fixtures::quadrants(2, 2, {3, 0, 0, 255}, {3, 0, 0, 255},
                                                 {3, 0, 0, 255}, {3, 0, 0, 255});
    PelmarImageResult result;
    target->pelmar_setImageFromURL(server.url("/progressive/e.jpg"), placeholder,
                                   [&](const PelmarImageResult& r) { result = r; });
    // Before the whole picture has arrived, a partial render replaces the placeholder.
    ASSERT_TRUE(dispatch::RunLoop::runUntil(
            [&] { return imageView->image() && imageView->image()->bitmap() != placeholder; }));
    EXPECT_FALSE(result);
    EXPECT_EQ(imageView->image()->bitmap()->width(), 640);
    rest.open();
    ASSERT_TRUE(dispatch::RunLoop::runUntil([&] { return result != nullptr; }));
    ASSERT_TRUE(result->image());
    EXPECT_EQ(result->resultType(), PelmarImageResultType::Downloaded);
    EXPECT_EQ(imageView->image()->bitmap(), result->image());
}

TEST_F(PelmarRemoteImageCategoryIntegrationTest, AnAnimatedGIFPlaysOnlyInAnAnimatedImageView) {
    auto animatedView = std::make_shared<PelmarAnimatedImageView>();
    auto imageView = std::make_shared<ui::ImageView>();
    const auto animatedTarget = PelmarAnimatedImageViewRemoteImage::create(animatedView);
    const auto stillTarget = PelmarImageViewRemoteImage::create(imageView);
    PelmarImageResult animated;
    PelmarImageResult still;
    animatedTarget->pelmar_setImageFromURL(server.url("/animated/f.gif"),
                                           [&](const PelmarImageResult& r) { animated = r; });
    stillTarget->pelmar_setImageFromURL(server.url("/animated/g.gif"),
                                        [&](const PelmarImageResult& r) { still = r; });
    ASSERT_TRUE(dispatch::RunLoop::runUntil([&] { return animated && still; }));
    ASSERT_FALSE(animated->error());
    ASSERT_TRUE(animatedView->animatedImage());
    EXPECT_EQ(animatedView->animatedImage(), animated->alternativeRepresentation());
    EXPECT_EQ(animatedView->animatedImage()->frameCount(), 3u);
    // A plain image view asks for no animation and shows the first frame.
    ASSERT_FALSE(still->error());
    EXPECT_FALSE(still->alternativeRepresentation());
    ASSERT_TRUE(imageView->image());
    EXPECT_EQ(imageView->image()->bitmap()->width(), 8);
}

TEST_F(PelmarRemoteImageCategoryIntegrationTest, WithoutAURLShowsThePlaceholderOrNothing) {
    const auto placeholder = fixtures::quadrants(2, 2, {7, 0, 0, 255}, {7, 0, 0, 255},
                                                 {7, 0, 0, 255}, {7, 0, 0, 255});
    const auto old = ui::Image::fromBitmap(placeholder);
    for (bool withPlaceholder : {true, false}) {
        SCOPED_TRACE(withPlaceholder ? "placeholder" : "none");
        auto imageView = std::make_shared<ui::ImageView>();
        auto button = std::make_shared<ui::Button>();
        auto animated = std::make_shared<PelmarAnimatedImageView>();
        imageView->setImage(old);
        button->setImage(old, ui::ControlState::Normal);
        button->setImage(old, ui::ControlState::Selected);
        animated->setAnimatedImage(PelmarCachedAnimatedImage::createWithAnimatedImage(
                test::FakeAnimatedImage::make(2, 2, 3)));
        const std::shared_ptr<PelmarRemoteImageCategory> targets[] = {
                PelmarImageViewRemoteImage::create(imageView),
                PelmarButtonRemoteImage::create(button),
                PelmarAnimatedImageViewRemoteImage::create(animated)};
        bool called = false;
        for (const auto& target : targets) {
            target->pelmar_setImageFromURL(std::nullopt, withPlaceholder ? placeholder : nullptr,
                                           [&](const PelmarImageResult&) { called = true; });
            EXPECT_FALSE(target->pelmar_downloadImageOperationUUID());
        }
        dispatch::RunLoop::runUntilIdle();
        EXPECT_FALSE(called);
        const auto expected = withPlaceholder ? placeholder : nullptr;
        EXPECT_EQ(imageView->image() ? imageView->image()->bitmap() : nullptr, expected);
        const auto normal = button->image(ui::ControlState::Normal);
        EXPECT_EQ(normal ? normal->bitmap() : nullptr, expected);
        EXPECT_EQ(button->image(ui::ControlState::Selected), old);
        EXPECT_FALSE(animated->animatedImage());
        EXPECT_EQ(animated->image() ? animated->image()->bitmap() : nullptr, expected);
    }
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(PelmarRemoteImageCategoryIntegrationTest, AButtonShowsResultsForTheNormalStateOnly) {
    auto button = std::make_shared<ui::Button>();
    auto target = PelmarButtonRemoteImage::create(button);
    PelmarImageResult result;
    target->pelmar_setImageFromURL(server.url("/fast/c.png"),
                                   [&](const PelmarImageResult& r) { result = r; });
    ASSERT_TRUE(dispatch::RunLoop::runUntil([&] { return result != nullptr; }));
    EXPECT_EQ(blueAt(button->image(ui::ControlState::Normal)), 2);
    EXPECT_FALSE(button->image(ui::ControlState::Selected));
    EXPECT_FALSE(button->image(ui::ControlState::Highlighted));
}

TEST_F(PelmarRemoteImageCategoryIntegrationTest, AFailureKeepsThePlaceholderAndReportsTheError) {
    auto imageView = std::make_shared<ui::ImageView>();
    auto target = PelmarImageViewRemoteImage::create(imageView);
    const auto placeholder = fixtures::quadrants(2, 2, {9, 0, 0, 255}, {9, 0, 0, 255},
                                                 {9, 0, 0, 255}, {9, 0, 0, 255});
    PelmarImageResult result;
    target->pelmar_setImageFromURL(server.url("/missing.png"), placeholder,
                                   [&](const PelmarImageResult& r) { result = r; });
    ASSERT_TRUE(dispatch::RunLoop::runUntil([&] { return result != nullptr; }));
    ASSERT_TRUE(result->error());
    EXPECT_EQ(result->error()->code, 404);
    EXPECT_EQ(imageView->image()->bitmap(), placeholder);
}

TEST_F(PelmarRemoteImageCategoryIntegrationTest, ACallFromAnotherThreadAppliesOnTheMainThread) {
    auto imageView = std::make_shared<ui::ImageView>();
    auto target = PelmarImageViewRemoteImage::create(imageView);
    const auto placeholder = fixtures::quadrants(2, 2, {5, 0, 0, 255}, {5, 0, 0, 255},
                                                 {5, 0, 0, 255}, {5, 0, 0, 255});
    bool completedOnMain = false;
    std::thread([&] {
        target->pelmar_setImageFromURL(
                server.url("/fast/d.png"), placeholder,
                [&](const PelmarImageResult&) { completedOnMain = dispatch::isMainThread(); });
    }).join();
    EXPECT_FALSE(imageView->image());
    dispatch::RunLoop::runOnce();
    EXPECT_EQ(imageView->image()->bitmap(), placeholder);
    ASSERT_TRUE(dispatch::RunLoop::runUntil([&] { return blueAt(imageView->image()) == 2; }));
    EXPECT_TRUE(completedOnMain);
}

TEST(PelmarAnimatedImageViewRemoteImageTest, AnAnimatedResultPlaysAndAStillReplacesIt) {
    auto view = std::make_shared<PelmarAnimatedImageView>();
    auto target = PelmarAnimatedImageViewRemoteImage::create(view);
    EXPECT_FALSE(target->pelmar_ignoreGIFs());
    EXPECT_TRUE(PelmarImageViewRemoteImage::create(std::make_shared<ui::ImageView>())
                        ->pelmar_ignoreGIFs());
    auto animated = PelmarCachedAnimatedImage::createWithAnimatedImage(
            test::FakeAnimatedImage::make(2, 2, 3));
    target->pelmar_updateUIWithRemoteImageManagerResult(
            PelmarRemoteImageManagerResult::imageResultWithImage(
                    nullptr, animated, 0, PelmarImageResultType::Downloaded, std::nullopt, nullptr,
                    std::nullopt));
    EXPECT_EQ(view->animatedImage(), animated);
    const auto still = fixtures::quadrants(2, 2, {1, 0, 0, 255}, {1, 0, 0, 255}, {1, 0, 0, 255},
                                           {1, 0, 0, 255});
    target->pelmar_updateUIWithRemoteImageManagerResult(
            PelmarRemoteImageManagerResult::imageResultWithImage(
                    still, nullptr, 0, PelmarImageResultType::Downloaded, std::nullopt, nullptr,
                    std::nullopt));
    EXPECT_FALSE(view->animatedImage());
    EXPECT_EQ(view->image()->bitmap(), still);
}

}  // namespace
}  // namespace pelmar
