#include "pelmar/imageloader/PelmarProgressiveImage.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <limits>
#include <mutex>
#include <string>
#include <thread>

#include "pelmar/platform/image/testing/ImageFixtures.h"
#include "testing/ScriptedHttpServer.h"
#include "testing/Waits.h"

namespace pelmar {
namespace {

constexpr PelmarSize kNoLimit{1e9, 1e9};

const std::string& progressiveJPEG() {
    static const std::string bytes = image::test::jpeg(*image::test::photo(96, 64), 85, true);
    return bytes;
}

class PelmarProgressiveImageTest : public ::testing::Test {
protected:
    std::shared_ptr<PelmarProgressiveImage> makeImage() {
        // A task that is never started: its byte counts stay unknown.
        return std::make_shared<PelmarProgressiveImage>(
                sessionManager_->dataTaskWithRequest(net::URLRequest("http://127.0.0.1:9/x")),
                recorder_);
    }

    // Feeds `bytes` in `chunks` pieces, asking for a render after each; returns the renders.
    int feed(PelmarProgressiveImage& image,
             const std::string& bytes,
             int chunks,
             int64_t expected,
             PelmarSize maxSize = kNoLimit) {
        int renders = 0;
        const std::size_t step = (bytes.size() + chunks - 1) / chunks;
        for (std::size_t at = 0; at < bytes.size(); at += step) {
            image.updateProgressiveImageWithData(bytes.substr(at, step), expected, false);
            double quality = 0;
            if (auto render = image.currentImageBlurred(true, maxSize, &quality)) {
                ++renders;
                EXPECT_GT(quality, 0);
                EXPECT_LT(quality, 0.99);
                EXPECT_EQ(render->width(), 96);
                EXPECT_TRUE(render->opaque());
            }
        }
        return renders;
    }

    std::shared_ptr<PelmarSpeedRecorder> recorder_ =
            std::make_shared<PelmarSpeedRecorder>([] { return std::optional<uint32_t>(); });
    std::shared_ptr<PelmarURLSessionManager> sessionManager_ =
            PelmarURLSessionManager::create({}, recorder_);
};

TEST_F(PelmarProgressiveImageTest, RendersOnlyProgressiveJPEGsOfKnownLengthWithinLimits) {
    const std::string baseline = image::test::jpeg(*image::test::photo(96, 64), 85, false);
    const int64_t size = static_cast<int64_t>(progressiveJPEG().size());

    struct Case {
        const char* name;
        std::string bytes;
        int64_t expected;
        PelmarSize maxSize;
        bool renders;
    };

    const Case cases[] = {
            {"Progressive", progressiveJPEG(), size, kNoLimit, true},
            {"Baseline", baseline, static_cast<int64_t>(baseline.size()), kNoLimit, false},
            {"UnknownLength", progressiveJPEG(), -1, kNoLimit, false},
            {"AboveMaximumSize", progressiveJPEG(), size, {95, 1024}, false},
            {"PNG", image::test::png(*image::test::photo(96, 64)), 100000, kNoLimit, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto image = makeImage();
        const int renders = feed(*image, c.bytes, 40, c.expected, c.maxSize);
        if (c.renders) {
            // One per threshold at most, and the bytes were decoded only for those renders.
            EXPECT_GE(renders, 1);
            EXPECT_LE(renders, 3);
            EXPECT_EQ(image->decodeCount(), static_cast<uint64_t>(renders));
        } else {
            EXPECT_EQ(renders, 0);
        }
        EXPECT_EQ(image->data(), c.bytes);
    }
}

TEST_F(PelmarProgressiveImageTest, AnAnnouncedLengthReservesAtMostTheCap) {
    // A server may claim any length; only the bytes that really arrive take memory.
    for (const int64_t announced :
         {int64_t{-1}, int64_t{0}, int64_t{1} << 40, std::numeric_limits<int64_t>::max()}) {
        SCOPED_TRACE(announced);
        auto image = makeImage();
        image->updateProgressiveImageWithData("first", announced, false);
        image->updateProgressiveImageWithData(" bytes", announced, false);
        EXPECT_EQ(image->data(), "first bytes");
        EXPECT_EQ(image->expectedNumberOfBytes(), announced);
    }
}

TEST_F(PelmarProgressiveImageTest, AJumpPastSeveralThresholdsRendersOnce) {
    // Large enough that its first scan is a small share of the file.
    static const std::string bytes = image::test::jpeg(*image::test::photo(640, 480), 90, true);
    auto image = makeImage();
    const auto size = static_cast<int64_t>(bytes.size());
    image->updateProgressiveImageWithData(bytes.substr(0, bytes.size() / 10), size, false);
    ASSERT_EQ(image->sosCount(), 2) << "the first scan must fit in a tenth of the file";
    ASSERT_TRUE(image->currentImageBlurred(false, kNoLimit, nullptr));
    image->updateProgressiveImageWithData(bytes.substr(bytes.size() / 10, bytes.size() * 6 / 10),
                                          size, false);
    double quality = 0;
    EXPECT_TRUE(image->currentImageBlurred(false, kNoLimit, &quality));
    EXPECT_NEAR(quality, 0.7, 0.01);
    image->updateProgressiveImageWithData(bytes.substr(bytes.size() * 7 / 10, bytes.size() / 5),
                                          size, false);
    EXPECT_FALSE(image->currentImageBlurred(false, kNoLimit, nullptr));
    EXPECT_EQ(image->decodeCount(), 2u);
}

TEST_F(PelmarProgressiveImageTest, ScanMarkersSplitAcrossChunksCountOnce) {
    auto whole = makeImage();
    whole->updateProgressiveImageWithData(progressiveJPEG(), -1, false);
    auto bytewise = makeImage();
    for (const char byte : progressiveJPEG()) {
        bytewise->updateProgressiveImageWithData(std::string(1, byte), -1, false);
    }
    EXPECT_EQ(whole->sosCount(), 2);
    EXPECT_EQ(bytewise->sosCount(), 2);

    auto split = makeImage();
    split->updateProgressiveImageWithData(std::string("\xFF\xD8\x00\xFF", 4), -1, false);
    split->updateProgressiveImageWithData(std::string("\xDA\x00\xFF\xFF", 4), -1, false);
    EXPECT_EQ(split->sosCount(), 1);
}

TEST_F(PelmarProgressiveImageTest, AnEmptyThresholdListKeepsThePreviousOne) {
    auto image = makeImage();
    image->setProgressThresholds({0.5f});
    image->setProgressThresholds({});
    EXPECT_EQ(image->progressThresholds(), std::vector<float>{0.5f});
}

TEST_F(PelmarProgressiveImageTest, BlurRadiusAndBoxFollowProgressAndWidth) {
    EXPECT_FLOAT_EQ(PelmarProgressiveImage::blurRadius(1000, 2, 0.5f), 40.0f);
    EXPECT_FLOAT_EQ(PelmarProgressiveImage::blurRadius(1000, 2, 1.5f), 0.0f);
    EXPECT_EQ(PelmarProgressiveImage::blurBoxSize(40), 37);
    EXPECT_EQ(PelmarProgressiveImage::blurBoxSize(0.5f), 3);
    EXPECT_EQ(PelmarProgressiveImage::blurBoxSize(2.0f), 3);
}

// Three passes of a box average with extended edges, one output pixel at a time.
std::vector<int> naiveBlur(const image::Bitmap& bitmap, int box, int channel) {
    const int w = bitmap.width();
    const int h = bitmap.height();
    std::vector<int> values(static_cast<std::size_t>(w * h));
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            values[static_cast<std::size_t>(y * w + x)] = bitmap.pixel(x, y)[channel];
        }
    }
    auto at = [&](const std::vector<int>& v, int x, int y) {
        return v[static_cast<std::size_t>(std::clamp(y, 0, h - 1) * w + std::clamp(x, 0, w - 1))];
    };
    for (int pass = 0; pass < 3; ++pass) {
        for (const bool across : {true, false}) {
            std::vector<int> next(values.size());
            for (int y = 0; y < h; ++y) {
                for (int x = 0; x < w; ++x) {
                    int sum = 0;
                    for (int d = -box / 2; d <= box / 2; ++d) {
                        sum += across ? at(values, x + d, y) : at(values, x, y + d);
                    }
                    next[static_cast<std::size_t>(y * w + x)] = (sum + box / 2) / box;
                }
            }
            values = std::move(next);
        }
    }
    return values;
}

TEST_F(PelmarProgressiveImageTest, BoxBlurMatchesThePlainAverageForAnyBox) {
    const auto picture = image::test::quadrants(9, 5, {0, 0, 255, 255}, {255, 0, 0, 255},
                                                {0, 255, 0, 255}, {40, 80, 120, 255});
    for (const int box : {3, 7, 41}) {
        SCOPED_TRACE(box);
        const auto blurred = PelmarProgressiveImage::boxBlurred(*picture, box);
        ASSERT_TRUE(blurred);
        for (int channel = 0; channel < 3; ++channel) {
            const auto expected = naiveBlur(*picture, box, channel);
            for (int y = 0; y < 5; ++y) {
                for (int x = 0; x < 9; ++x) {
                    ASSERT_NEAR(blurred->pixel(x, y)[channel],
                                expected[static_cast<std::size_t>(y * 9 + x)], 1)
                            << "at " << x << "," << y << " channel " << channel;
                }
            }
        }
        EXPECT_EQ(blurred->pixel(4, 2)[3], 255);
    }
}

TEST(PelmarProgressiveImageIntegrationTest, NoRenderWhileTheRestArrivesSoonerThanTheThreshold) {
    constexpr std::size_t kBody = 100000;
    std::mutex mutex;
    std::condition_variable released;
    bool release = false;
    test::ScriptedHttpServer server([&](const test::ScriptedRequest&) {
        test::ScriptedReply reply;
        reply.body = std::string(kBody, 'x');
        reply.writeSize = kBody / 2;
        reply.beforeWrite = [&](std::size_t sent) {
            if (sent > 0) {
                std::unique_lock lock(mutex);
                released.wait(lock, [&] { return release; });
            }
        };
        return reply;
    });
    auto recorder = std::make_shared<PelmarSpeedRecorder>([] { return std::optional<uint32_t>(); });
    auto sessionManager = PelmarURLSessionManager::create({}, recorder);
    std::promise<void> finished;
    auto task = sessionManager->dataTaskWithRequest(
            net::URLRequest(server.url("/half")),
            [&finished](const PelmarDataTask&, const std::optional<Error>&) {
                finished.set_value();
            });
    task->resume();
    EXPECT_TRUE(test::waitUntil(
            [&] { return task->countOfBytesReceived() >= static_cast<int64_t>(kBody / 2); }));
    ASSERT_EQ(task->countOfBytesExpectedToReceive(), static_cast<int64_t>(kBody));
    // Half of 100 kB left at 1 MB/s: 0.05 s to go.
    recorder->updateSpeedsForHost("127.0.0.1", 1e6, 1e6, 0.001);

    const std::string& bytes = progressiveJPEG();
    PelmarProgressiveImage image(task, recorder);
    image.updateProgressiveImageWithData(bytes.substr(0, bytes.size() / 2),
                                         static_cast<int64_t>(bytes.size()), false);
    EXPECT_NEAR(image.estimatedRemainingTime(), 0.05, 0.001);
    image.setEstimatedRemainingTimeThreshold(0.1);
    EXPECT_FALSE(image.currentImageBlurred(true, kNoLimit, nullptr));
    image.setEstimatedRemainingTimeThreshold(0.01);
    EXPECT_TRUE(image.currentImageBlurred(true, kNoLimit, nullptr));

    {
        std::lock_guard lock(mutex);
        release = true;
    }
    released.notify_all();
    task->cancel();
    EXPECT_EQ(finished.get_future().wait_for(test::kPatience), std::future_status::ready);
}

}  // namespace
}  // namespace pelmar
