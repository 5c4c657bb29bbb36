#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <future>
#include <string>

#include "pelmar/platform/av/ImageGenerator.h"
#include "testing/Matchers.h"
#include "testing/TempSandbox.h"

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

    test::TempSandbox sandbox_;
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
        std::promise<std::optional<Error>> done;
        ImageGenerator(path).generateImageAsynchronously(
                0, [&](auto image, std::optional<Error> error) {
                    EXPECT_FALSE(image);
                    done.set_value(error);
                });
        const auto error = done.get_future().get();
        EXPECT_THAT(error, pelmar::test::IsError(image::kImageErrorDomain, code, message));
    }
}

}  // namespace
}  // namespace pelmar::av
