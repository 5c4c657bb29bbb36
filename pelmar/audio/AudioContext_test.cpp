#include "pelmar/audio/AudioContext.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "pelmar/platform/dispatch/RunLoop.h"
#include "pelmar/platform/dispatch/testing/MainLoopFixture.h"
#include "pelmar/platform/foundation/Console.h"
#include "testing/TempDir.h"

namespace pelmar {
namespace {

// A 16-bit PCM WAV of `frames` frames: `silentFrames` of silence, then full scale (-32768).
void writeWav(const std::filesystem::path& path, int channels, int frames, int silentFrames) {
    std::vector<int16_t> samples(static_cast<size_t>(frames) * channels, 0);
    for (size_t i = static_cast<size_t>(silentFrames) * channels; i < samples.size(); ++i) {
        samples[i] = -32768;
    }
    const uint32_t dataBytes = static_cast<uint32_t>(samples.size() * 2);
    const uint32_t rate = 44100;
    const uint16_t blockAlign = static_cast<uint16_t>(channels * 2);
    const uint32_t byteRate = rate * blockAlign;
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    auto u32 = [&](uint32_t v) { std::fwrite(&v, 4, 1, f); };
    auto u16 = [&](uint16_t v) { std::fwrite(&v, 2, 1, f); };
    std::fwrite("RIFF", 1, 4, f);
    u32(36 + dataBytes);
    std::fwrite("WAVEfmt ", 1, 8, f);
    u32(16);
    u16(1);
    u16(static_cast<uint16_t>(channels));
    u32(rate);
    u32(byteRate);
    u16(blockAlign);
    u16(16);
    std::fwrite("data", 1, 4, f);
    u32(dataBytes);
    std::fwrite(samples.data(), 2, samples.size(), f);
    std::fclose(f);
}

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
        writeWav(path, c.channels, 3 * 44100, 22050);
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
    writeWav(path, 1, 3 * 44100, 3 * 44100);
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
