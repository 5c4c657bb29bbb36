#include "pelmar/audio/AudioContext.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "pelmar/audio/testing/WavFile.h"
#include "pelmar/platform/dispatch/RunLoop.h"
#include "pelmar/platform/dispatch/testing/MainLoopFixture.h"
#include "pelmar/platform/foundation/Console.h"
#include "testing/TempDir.h"

namespace pelmar {
namespace {

class AudioContextTest : public dispatch::test::MainLoopFixture {
protected:
    std::shared_ptr<AudioContext> load(const std::filesystem::path& path) {
        bool done = false;
        std::shared_ptr<AudioContext> context;
        AudioContext::load(path, [&](std::shared_ptr<AudioContext> c) {
            context = std::move(c);
            done = true;
        });
        dispatch::RunLoop::runUntil([&] { return done; });
        return context;
    }

    pelmar::test::TempDir dir;
};

TEST_F(AudioContextTest, RendersBlocksOfTheFirstThirdNormalisedFromFloorToFullScale) {
    struct Case {
        const char* name;
        int channels;
        int64_t target;
        std::vector<float> expected;
    };

    // 3 s files: the rendered third is the first second, half silence, half full scale.
    const std::vector<Case> cases = {
            {"mono", 1, 10, {0, 0, 0, 0, 0, 1, 1, 1, 1, 1}},
            // 8 blocks of 5512 samples leave a tail of 4: one more value. Block 4 starts two
            // samples before the sound: a mean of 160 / 5512 dB below full scale.
            {"tail", 1, 8, {0, 0, 0, 0, 0.9992745f, 1, 1, 1, 1}},
            // Both channels count: blocks of 8820 samples cover 4410 frames.
            {"stereo", 2, 10, {0, 0, 0, 0, 0, 1, 1, 1, 1, 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto path = dir.path() / (std::string(c.name) + ".wav");
        ASSERT_TRUE(test::writeWav(path, c.channels, 3 * 44100, 22050));
        auto context = load(path);
        ASSERT_TRUE(context);
        EXPECT_EQ(context->totalSamples(), 3 * 44100);
        const auto values = context->render(c.target);
        ASSERT_EQ(values.size(), c.expected.size());
        for (size_t i = 0; i < values.size(); ++i) {
            EXPECT_NEAR(values[i], c.expected[i], 1e-5) << i;
        }
    }
}

TEST_F(AudioContextTest, SilenceGivesZerosAndBadTargetsGiveNothing) {
    const auto path = dir.path() / "silence.wav";
    ASSERT_TRUE(test::writeWav(path, 1, 3 * 44100, 3 * 44100));
    auto context = load(path);
    ASSERT_TRUE(context);
    EXPECT_EQ(context->render(4), (std::vector<float>{0, 0, 0, 0}));
    EXPECT_TRUE(context->render(0).empty());
    EXPECT_TRUE(context->render(-3).empty());
}

TEST_F(AudioContextTest, UnreadableFilesGiveNoContext) {
    foundation::Console::Capture console;
    EXPECT_FALSE(load(dir.path() / "missing.wav"));
    const auto text = dir.path() / "text.wav";
    FILE* f = std::fopen(text.c_str(), "w");
    std::fputs("no audio here", f);
    std::fclose(f);
    EXPECT_FALSE(load(text));
    EXPECT_TRUE(console.contains("Couldn't load asset: "));
}

}  // namespace
}  // namespace pelmar
