#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "pelmar/platform/image/GifAnimation.h"
#include "pelmar/platform/image/testing/AnimatedGifFixtures.h"
#include "testing/RunProgram.h"
#include "testing/TempDir.h"

namespace pelmar::image {
namespace {

// Every frame FFmpeg decodes from `gif`, as packed RGBA screens.
std::string ffmpegFrames(const std::string& gif) {
    pelmar::test::TempDir dir("gif-ffmpeg");
    const auto in = dir.path() / "in.gif";
    const auto out = dir.path() / "out.rgba";
    std::ofstream(in, std::ios::binary) << gif;
    const auto result = pelmar::test::RunProgram(
            "ffmpeg", "-v error -i '" + in.string()
                              + "' -fps_mode passthrough -f rawvideo -pix_fmt rgba -y '"
                              + out.string() + "'");
    EXPECT_EQ(result.status, 0) << result.output;
    std::ifstream file(out, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

// Both decoders show the same screens: pixels FFmpeg leaves transparent are transparent here,
// every other pixel has the same colour.
void expectSameScreensAsFfmpeg(const std::string& gif) {
    auto animation = GifAnimation::open(std::make_shared<const std::string>(gif));
    ASSERT_TRUE(animation);
    const std::string reference = ffmpegFrames(gif);
    const std::size_t screenBytes =
            static_cast<std::size_t>(animation->width()) * animation->height() * 4;
    ASSERT_EQ(reference.size(), screenBytes * animation->frameCount());
    for (std::size_t f = 0; f < animation->frameCount(); ++f) {
        auto screen = animation->frameAt(f);
        ASSERT_TRUE(screen);
        int mismatches = 0;
        for (int y = 0; y < screen->height(); ++y) {
            for (int x = 0; x < screen->width(); ++x) {
                const auto* theirs = reinterpret_cast<const uint8_t*>(
                        reference.data() + f * screenBytes
                        + (static_cast<std::size_t>(y) * screen->width() + x) * 4);
                const uint8_t* ours = screen->pixel(x, y);
                const bool same = theirs[3] == 0
                                          ? ours[3] == 0
                                          : ours[0] == theirs[2] && ours[1] == theirs[1]
                                                    && ours[2] == theirs[0] && ours[3] == theirs[3];
                if (!same && mismatches++ < 5) {
                    ADD_FAILURE() << "frame " << f << " pixel " << x << "," << y;
                }
            }
        }
    }
}

TEST(GifAnimationIntegrationTest, DisposalCompositingMatchesFfmpeg) {
    expectSameScreensAsFfmpeg(test::disposalGif());
}

TEST(GifAnimationIntegrationTest, OverlappingPartialFramesMatchFfmpeg) {
    // Larger frames of many colours, each redrawing a moving patch with holes and a disposal
    // that cycles through keep, clear and restore.
    std::vector<std::array<uint8_t, 3>> palette(16);
    for (int i = 0; i < 16; ++i) {
        palette[i] = {static_cast<uint8_t>(i * 16), static_cast<uint8_t>(255 - i * 16),
                      static_cast<uint8_t>(i * 40)};
    }
    std::vector<test::AnimatedGifFrame> frames;
    frames.push_back({{0, 0, 40, 30, std::vector<uint8_t>(1200, 5)}, 10, 1});
    for (int f = 1; f < 9; ++f) {
        test::GifFrame patch{f * 3, f * 2, 12, 10, std::vector<uint8_t>(120), 15};
        for (int i = 0; i < 120; ++i) {
            patch.indexes[i] = static_cast<uint8_t>((i % 7 == f % 7) ? 15 : (i + f) % 15);
        }
        frames.push_back({patch, 10, 1 + f % 3});
    }
    expectSameScreensAsFfmpeg(test::animatedGif(40, 30, palette, frames));
}

}  // namespace
}  // namespace pelmar::image
