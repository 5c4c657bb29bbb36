#include "pelmar/platform/photos/ImageManager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/dispatch/RunLoop.h"
#include "pelmar/platform/dispatch/testing/MainLoopFixture.h"
#include "pelmar/platform/image/testing/ImageFixtures.h"
#include "pelmar/platform/photos/PhotoLibrary.h"
#include "pelmar/platform/photos/testing/MediaFiles.h"
#include "testing/Matchers.h"
#include "testing/TempDir.h"

namespace pelmar::photos {
namespace {

using dispatch::RunLoop;

class ImageManagerTest : public dispatch::test::MainLoopFixture {
protected:
    void SetUp() override {
        MainLoopFixture::SetUp();
        PhotoLibrary::shared().reset(dir_.path() / "library");
    }

    void TearDown() override {
        PhotoLibrary::shared().reset();
        MainLoopFixture::TearDown();
    }

    AssetPtr add(const std::filesystem::path& file) {
        const auto id = PhotoLibrary::shared().addAsset({.file = file}).localIdentifier;
        return PhotoLibrary::shared().asset(id);
    }

    struct Delivery {
        std::shared_ptr<image::Bitmap> image;
        ImageResultInfo info;
    };

    std::vector<Delivery> request(ImageManager& manager,
                                  const AssetPtr& asset,
                                  PixelSize size,
                                  ImageContentMode mode) {
        std::vector<Delivery> out;
        bool done = false;
        manager.requestImage(
                asset, size, mode, {},
                [&](std::shared_ptr<image::Bitmap> image, const ImageResultInfo& info) {
                    out.push_back({image, info});
                    done = !info.degraded;
                });
        EXPECT_TRUE(RunLoop::runUntil([&] { return done; }));
        return out;
    }

    pelmar::test::TempDir dir_;
};

TEST_F(ImageManagerTest, ThumbnailsFitOrFillTheTargetWithoutEnlarging) {
    auto manager = std::make_shared<ImageManager>();
    const auto jpeg = add(test::writeJpeg(dir_.path(), "wide.jpg", 1600, 1200));
    const auto png = add(test::writePng(dir_.path(), "tall.png", 300, 600));

    struct Case {
        const char* name;
        AssetPtr asset;
        PixelSize target;
        ImageContentMode mode;
        int width, height;
    };

    const Case cases[] = {
            {"JpegFit", jpeg, {256, 256}, ImageContentMode::AspectFit, 256, 192},
            {"JpegFill", jpeg, {256, 256}, ImageContentMode::AspectFill, 341, 256},
            {"PngFit", png, {100, 100}, ImageContentMode::AspectFit, 50, 100},
            {"NeverLarger", png, {1000, 1000}, ImageContentMode::AspectFill, 300, 600},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto deliveries = request(*manager, c.asset, c.target, c.mode);
        ASSERT_FALSE(deliveries.empty());
        const auto& final = deliveries.back();
        ASSERT_TRUE(final.image);
        EXPECT_EQ(final.image->width(), c.width);
        EXPECT_EQ(final.image->height(), c.height);
    }
}

TEST_F(ImageManagerTest, PicturesComeOutUprightWhateverTheirExifOrientation) {
    auto manager = std::make_shared<ImageManager>();
    for (const auto& c : image::test::kStoredOrientations) {
        const auto stored = image::test::storedQuadrants(c, 64, 48);

        const struct {
            std::string file;
            std::string bytes;
        } files[] = {{std::string(c.name) + ".jpg",
                      image::test::withExifOrientation(image::test::jpeg(*stored), c.exif)},
                     {std::string(c.name) + ".png",
                      image::test::pngWithExifOrientation(image::test::png(*stored), c.exif)}};

        for (const auto& file : files) {
            SCOPED_TRACE(file.file);
            std::ofstream(dir_.path() / file.file, std::ios::binary) << file.bytes;
            const auto asset = add(dir_.path() / file.file);
            ASSERT_TRUE(asset);
            EXPECT_EQ(asset->pixelWidth(), 64);
            EXPECT_EQ(asset->pixelHeight(), 48);
            const auto deliveries = request(*manager, asset, {64, 48}, ImageContentMode::AspectFit);
            ASSERT_FALSE(deliveries.empty());
            const auto& picture = deliveries.back().image;
            ASSERT_TRUE(picture);
            EXPECT_EQ(picture->width(), 64);
            EXPECT_EQ(picture->height(), 48);
            EXPECT_EQ(image::test::quadrantMismatch(*picture, image::test::kUprightQuadrants), "");
        }
    }
}

TEST_F(ImageManagerTest, LargeRequestsGetADegradedPictureFirstAndRepeatsComeFromTheCache) {
    auto manager = std::make_shared<ImageManager>();
    const auto jpeg = add(test::writeJpeg(dir_.path(), "big.jpg", 2000, 1500));
    const auto first = request(*manager, jpeg, {2000, 1500}, ImageContentMode::AspectFit);
    ASSERT_EQ(first.size(), 2u);
    EXPECT_TRUE(first[0].info.degraded);
    EXPECT_LE(first[0].image->width(), 128);
    EXPECT_EQ(first[1].image->width(), 2000);
    const int decodes = manager->counters().decodes;
    request(*manager, jpeg, {2000, 1500}, ImageContentMode::AspectFit);
    EXPECT_EQ(manager->counters().decodes, decodes);
}

TEST_F(ImageManagerTest, ACancelledRequestNeverDeliversAndIdsAreNeverZero) {
    auto manager = std::make_shared<ImageManager>();
    const auto jpeg = add(test::writeJpeg(dir_.path(), "a.jpg", 64, 64));
    bool called = false;
    const auto id = manager->requestImage(jpeg, {32, 32}, ImageContentMode::AspectFill, {},
                                          [&](auto, const auto&) { called = true; });
    EXPECT_GT(id, 0);
    manager->cancelImageRequest(id);
    bool other = false;
    manager->requestImage(jpeg, {32, 32}, ImageContentMode::AspectFill, {},
                          [&](auto, const auto&) { other = true; });
    ASSERT_TRUE(RunLoop::runUntil([&] { return other; }));
    RunLoop::runUntilIdle();
    EXPECT_FALSE(called);
}

TEST_F(ImageManagerTest, ABurstOfRequestsAllArriveAndThoseCancelledWhileWaitingAreNeverDecoded) {
    auto manager = std::make_shared<ImageManager>();
    constexpr int kCount = 40;
    std::vector<AssetPtr> assets;
    for (int i = 0; i < kCount; ++i) {
        const std::string name = "p" + std::to_string(i);
        assets.push_back(add(i % 2 == 0 ? test::writeJpeg(dir_.path(), name + ".jpg", 320, 240, i)
                                        : test::writePng(dir_.path(), name + ".png", 320, 240, i)));
    }
    std::vector<int> delivered(kCount, 0);
    int cancelled = 0;
    for (int i = 0; i < kCount; ++i) {
        const auto id = manager->requestImage(
                assets[static_cast<std::size_t>(i)], {64, 64}, ImageContentMode::AspectFit, {},
                [&, i](std::shared_ptr<image::Bitmap> image, const ImageResultInfo&) {
                    delivered[static_cast<std::size_t>(i)] += image ? 1 : 100;
                });
        if (i % 3 == 0) {
            manager->cancelImageRequest(id);
            ++cancelled;
        }
    }
    ASSERT_TRUE(RunLoop::runUntil([&] {
        for (int i = 0; i < kCount; ++i) {
            if (i % 3 != 0 && delivered[static_cast<std::size_t>(i)] == 0) {
                return false;
            }
        }
        return true;
    }));
    RunLoop::runUntilIdle();
    for (int i = 0; i < kCount; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(delivered[static_cast<std::size_t>(i)], i % 3 == 0 ? 0 : 1);
    }
    // Only the few that had a decoder before their cancel arrived may have been decoded.
    EXPECT_LE(manager->counters().decodes, kCount - cancelled + 8);
}

TEST_F(ImageManagerTest, AnUnreadableFileGivesNoImageAndAnError) {
    auto manager = std::make_shared<ImageManager>();
    const auto jpeg = add(test::writeJpeg(dir_.path(), "gone.jpg", 16, 16));
    std::filesystem::remove(jpeg->file());
    const auto deliveries = request(*manager, jpeg, {16, 16}, ImageContentMode::AspectFit);
    ASSERT_EQ(deliveries.size(), 1u);
    EXPECT_FALSE(deliveries[0].image);
    EXPECT_THAT(deliveries[0].info.error,
                ::testing::Optional(
                        pelmar::test::IsError(kPhotosErrorDomain, kPhotosErrorInvalidResource)));
}

TEST_F(ImageManagerTest, ACloudAssetNeedsNetworkAccessAndReportsItsDownload) {
    auto manager = std::make_shared<ImageManager>();
    // A picture of several download pieces.
    const auto file = test::writeJpeg(dir_.path(), "cloud.jpg", 640, 480);
    ASSERT_GT(std::filesystem::file_size(file), 2 * ImageManager::kCloudChunkBytes);
    const auto id =
            PhotoLibrary::shared().addAsset({.file = file, .inCloud = true}).localIdentifier;
    const auto asset = PhotoLibrary::shared().asset(id);
    ASSERT_TRUE(asset->isInCloud());

    struct Case {
        const char* name;
        bool network;
        bool image;
        bool progress;  // reported
    };

    const Case cases[] = {
            {"without network access: refused", false, false, false},
            {"with it: downloaded in pieces", true, true, true},
            {"once downloaded it stays on the device", false, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto progress = std::make_shared<std::vector<double>>();
        ImageRequestOptions options;
        options.networkAccessAllowed = c.network;
        options.deliveryMode = ImageDeliveryMode::HighQualityFormat;
        options.synchronous = true;  // progress on this thread too
        options.progressHandler = [progress](double p) { progress->push_back(p); };
        std::shared_ptr<image::Bitmap> image;
        std::optional<Error> error;
        manager->requestImage(asset, {64, 48}, ImageContentMode::AspectFit, options,
                              [&](std::shared_ptr<image::Bitmap> bitmap, const ImageResultInfo& i) {
                                  image = std::move(bitmap);
                                  error = i.error;
                              });
        EXPECT_EQ(image != nullptr, c.image);
        if (!c.image) {
            EXPECT_THAT(error, ::testing::Optional(pelmar::test::IsError(
                                       kPhotosErrorDomain, kPhotosErrorNetworkAccessRequired)));
        }
        EXPECT_EQ(!progress->empty(), c.progress);
        if (c.progress) {
            EXPECT_GE(progress->size(), 3u);
            EXPECT_TRUE(std::is_sorted(progress->begin(), progress->end()));
            EXPECT_EQ(progress->back(), 1.0);
        }
    }

    // A live photo's request carries the same options.
    const auto live = PhotoLibrary::shared()
                              .addAsset({.file = test::writeJpeg(dir_.path(), "l.jpg", 640, 480, 2),
                                         .mediaSubtypes = kAssetMediaSubtypePhotoLive,
                                         .pairedVideo = dir_.path() / "l.mov",
                                         .inCloud = true})
                              .localIdentifier;
    std::vector<double> progress;
    std::optional<LivePhoto> got;
    bool done = false;
    LivePhotoRequestOptions liveOptions;
    liveOptions.networkAccessAllowed = true;
    liveOptions.deliveryMode = ImageDeliveryMode::HighQualityFormat;
    liveOptions.progressHandler = [&](double p) {
        dispatch::Queue::main()->async([&progress, p] { progress.push_back(p); });
    };
    manager->requestLivePhoto(PhotoLibrary::shared().asset(live), {640, 480},
                              ImageContentMode::AspectFit, liveOptions,
                              [&](std::optional<LivePhoto> photo) {
                                  got = std::move(photo);
                                  done = true;
                              });
    ASSERT_TRUE(RunLoop::runUntil([&] { return done; }));
    ASSERT_TRUE(got);
    EXPECT_EQ(got->still->width(), 640);
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), 1.0);
}

TEST_F(ImageManagerTest, AVideosFileFollowsTheVideoOptionsForTheCloud) {
    auto manager = std::make_shared<ImageManager>();
    const auto file = test::writeMovie(dir_.path(), "cloud.mp4", 1, 160, 120);
    const auto id =
            PhotoLibrary::shared().addAsset({.file = file, .inCloud = true}).localIdentifier;
    const auto asset = PhotoLibrary::shared().asset(id);
    ASSERT_EQ(asset->mediaType(), AssetMediaType::Video);

    struct Case {
        const char* name;
        bool network;
        bool file;
        bool progress;
    };

    const Case cases[] = {
            {"without network access: no file", false, false, false},
            {"with it: downloaded, then handed out", true, true, true},
            {"once downloaded it stays on the device", false, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto progress = std::make_shared<std::vector<double>>();
        VideoRequestOptions options;
        options.networkAccessAllowed = c.network;
        options.progressHandler = [progress](double p) {
            dispatch::Queue::main()->async([progress, p] { progress->push_back(p); });
        };
        std::optional<std::filesystem::path> got;
        bool done = false;
        manager->requestAVAsset(asset, options, [&](std::optional<std::filesystem::path> f) {
            got = std::move(f);
            done = true;
        });
        ASSERT_TRUE(RunLoop::runUntil([&] { return done; }));
        RunLoop::runUntilIdle();
        EXPECT_EQ(got.has_value(), c.file);
        if (c.file) {
            EXPECT_EQ(*got, file);
        }
        EXPECT_EQ(!progress->empty(), c.progress);
        if (c.progress) {
            EXPECT_EQ(progress->back(), 1.0);
        }
    }
}

TEST_F(ImageManagerTest, ANewLibraryDownloadsItsCloudAssetsAgain) {
    auto manager = std::make_shared<ImageManager>();
    const auto fetch = [&](const std::filesystem::path& file) {
        const auto id =
                PhotoLibrary::shared().addAsset({.file = file, .inCloud = true}).localIdentifier;
        int reports = 0;
        ImageRequestOptions options;
        options.networkAccessAllowed = true;
        options.deliveryMode = ImageDeliveryMode::HighQualityFormat;
        options.synchronous = true;
        options.progressHandler = [&](double) { ++reports; };
        manager->requestImage(PhotoLibrary::shared().asset(id), {64, 48},
                              ImageContentMode::AspectFit, options, [](auto, const auto&) {});
        return std::make_pair(id, reports);
    };
    const auto [first, firstReports] = fetch(test::writeJpeg(dir_.path(), "a.jpg", 64, 48));
    EXPECT_GT(firstReports, 0);
    // The library starts over; its first asset takes the same identifier but is another file,
    // still in the cloud.
    PhotoLibrary::shared().reset(dir_.path() / "library2");
    const auto [second, secondReports] = fetch(test::writeJpeg(dir_.path(), "b.jpg", 64, 48, 2));
    ASSERT_EQ(first, second);
    EXPECT_GT(secondReports, 0) << "downloaded again";
}

}  // namespace
}  // namespace pelmar::photos
