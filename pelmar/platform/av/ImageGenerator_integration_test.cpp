#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "pelmar/platform/av/ImageGenerator.h"
#include "pelmar/platform/av/testing/ServedTestMovie.h"
#include "testing/CountingMovie.h"
#include "testing/Matchers.h"
#include "testing/TempSandbox.h"
#include "testing/Waits.h"

namespace pelmar::av {
namespace {

class ImageGeneratorIntegrationTest : public ::testing::Test {
protected:
    // A one-second movie from ffmpeg's test source, with `extra` output options.
    std::filesystem::path makeMovie(const std::string& name,
                                    const std::string& size,
                                    const std::string& extra = "") {
        const auto plain = sandbox_.root() / ("plain-" + name);
        const auto path = sandbox_.root() / name;
        const std::string make = "ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=" + size
                                 + ":rate=10:duration=1 -pix_fmt yuv420p '" + plain.string() + "'";
        // Stream metadata such as a rotation is kept only when the stream is copied.
        const std::string copy = "ffmpeg -nostdin -v error -y -i '" + plain.string() + "' -c copy "
                                 + extra + " '" + path.string() + "'";
        EXPECT_EQ(std::system(make.c_str()), 0) << make;
        EXPECT_EQ(std::system(copy.c_str()), 0) << copy;
        return path;
    }

    pelmar::test::TempSandbox sandbox_;
};

TEST_F(ImageGeneratorIntegrationTest, FirstFrameScaledToFitAndTurnedByTheTrackRotation) {
    struct Case {
        const char* name;
        std::string size;
        std::string extra;
        bool applyTransform;
        int maxW;
        int maxH;
        int width;
        int height;
    } cases[] = {
            {"as stored", "320x240", "", true, 0, 0, 320, 240},
            {"scaled down to fit", "640x360", "", true, 320, 320, 320, 180},
            {"never scaled up", "160x120", "", true, 1920, 1080, 160, 120},
            {"rotated track", "320x240", "-metadata:s:v rotate=90", true, 0, 0, 240, 320},
            {"rotation ignored", "320x240", "-metadata:s:v rotate=90", false, 0, 0, 320, 240},
    };

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ImageGenerator generator(makeMovie("m.mp4", c.size, c.extra));
        generator.appliesPreferredTrackTransform = c.applyTransform;
        generator.maximumWidth = c.maxW;
        generator.maximumHeight = c.maxH;
        auto [image, error] = generator.copyImage(0);
        ASSERT_FALSE(error) << *error;
        ASSERT_TRUE(image);
        EXPECT_EQ(image->width(), c.width);
        EXPECT_EQ(image->height(), c.height);
        EXPECT_EQ(image->format(), image::PixelFormat::RGBA8);
    }
}

TEST_F(ImageGeneratorIntegrationTest, UnreadableFilesFailWithAnError) {
    const auto text = sandbox_.root() / "a.txt";
    std::system(("echo hello > '" + text.string() + "'").c_str());

    struct Case {
        std::filesystem::path path;
        long code;
        std::string text;
    };

    const auto missing = sandbox_.root() / "missing.mp4";
    const Case cases[] = {
            {text, image::kImageErrorOpen, "cannot open " + text.string()},
            {missing, image::kImageErrorOpen, "cannot open " + missing.string()},
    };
    for (const auto& [path, code, message] : cases) {
        SCOPED_TRACE(path.string());
        pelmar::test::Outcome<std::optional<Error>> done;
        ImageGenerator(path).generateImageAsynchronously(
                0, [done](auto image, std::optional<Error> error) {
                    EXPECT_FALSE(image);
                    done.set(error);
                });
        const auto error = done.get();
        EXPECT_THAT(error, pelmar::test::IsError(image::kImageErrorDomain, code, message));
    }
}

TEST_F(ImageGeneratorIntegrationTest, ZeroToleranceTakesTheExactFrameTheDefaultTheKeyFrameBefore) {
    const auto movie = sandbox_.root() / "counting.mp4";
    ASSERT_EQ(pelmar::test::CountingMovie{}.write(movie).status, 0);  // key frames every 3 s

    struct Case {
        const char* name;
        double seconds;
        bool exact;
        int frame;
    } cases[] = {
            {"exact between key frames", 2.3, true, 23},
            {"default between key frames", 2.3, false, 0},
            {"exact on a key frame", 3.0, true, 30},
            {"default on a key frame", 3.0, false, 30},
            {"exact inside the last frame", 11.95, true, 119},
    };

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ImageGenerator generator(movie);
        if (c.exact) {
            generator.requestedTimeToleranceBefore = media::Time::zero();
            generator.requestedTimeToleranceAfter = media::Time::zero();
        }
        media::Time actual;
        auto [image, error] =
                generator.copyImage(media::Time::makeWithSeconds(c.seconds, 600), &actual);
        ASSERT_FALSE(error) << *error;
        EXPECT_TRUE(pelmar::test::ShowsFrame(image.get(), movie, c.frame));
        EXPECT_NEAR(actual.seconds(), c.frame / 10.0, 1e-6);
    }
}

TEST_F(ImageGeneratorIntegrationTest, EveryRequestedTimeGetsOneHandlerAndTimesPastTheEndFail) {
    const auto movie = sandbox_.root() / "counting.mp4";
    ASSERT_EQ(pelmar::test::CountingMovie{}.write(movie).status, 0);
    const std::vector<media::Time> times = {
            media::Time::make(0, 600), media::Time::make(4 * 600, 600),
            media::Time::make(12 * 600, 600), media::Time::make(30, 1), media::Time::make(8, 1)};

    struct Delivery {
        media::Time requested;
        bool image;
        ImageGenerator::Result result;
        std::optional<Error> error;
    };

    // What the generator's thread collects is shared with it, so a test that gives up waiting
    // leaves it nothing freed to write to.
    auto collected = std::make_shared<std::vector<Delivery>>();
    pelmar::test::Outcome<std::vector<Delivery>> done;
    ImageGenerator(movie).generateImagesAsynchronously(
            times, [collected, done, count = times.size()](media::Time requested, auto image,
                                                           media::Time, auto result, auto error) {
                collected->push_back({requested, image != nullptr, result, error});
                if (collected->size() == count) {
                    done.set(*collected);
                }
            });
    const auto deliveries = done.get("not every time was delivered");
    ASSERT_EQ(deliveries.size(), times.size());
    const bool fails[] = {false, false, true, true, false};
    for (size_t i = 0; i < times.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(deliveries[i].requested, times[i]);
        EXPECT_EQ(deliveries[i].image, !fails[i]);
        EXPECT_EQ(deliveries[i].result,
                  fails[i] ? ImageGenerator::Result::Failed : ImageGenerator::Result::Succeeded);
        if (fails[i]) {
            EXPECT_THAT(deliveries[i].error, pelmar::test::IsError(kImageGeneratorErrorDomain,
                                                                   kImageGeneratorErrorPastEnd));
        }
    }
}

TEST_F(ImageGeneratorIntegrationTest, ABatchOfTimesOpensTheMovieOnce) {
    test::ServedTestMovie served(test::TestMovie(3, 160, 120, 10, 10).silent());
    ASSERT_EQ(served.failure(), "");
    const std::vector<media::Time> times = {media::Time::make(0, 1), media::Time::make(1, 1),
                                            media::Time::make(2, 1), media::Time::make(1, 2)};

    struct Tally {
        size_t delivered = 0;
        int pictures = 0;
    };

    auto tally = std::make_shared<Tally>();
    pelmar::test::Outcome<int> pictures;
    ImageGenerator(served.url())
            .generateImagesAsynchronously(
                    times, [tally, pictures, count = times.size()](media::Time, auto image,
                                                                   media::Time, auto, auto) {
                        tally->pictures += image ? 1 : 0;
                        if (++tally->delivered == count) {
                            pictures.set(tally->pictures);
                        }
                    });
    EXPECT_EQ(pictures.get("not every time was delivered"), static_cast<int>(times.size()));
    // Opening reads the movie from its first byte; the seeks between times read further on.
    ASSERT_TRUE(served.server().WaitForRequests(
            [](const auto& requests) { return !requests.empty(); }));
    int opens = 0;
    for (const auto& request : served.server().requests()) {
        opens += !request.range || *request.range == "bytes=0-" ? 1 : 0;
    }
    EXPECT_EQ(opens, 1);
}

}  // namespace
}  // namespace pelmar::av
