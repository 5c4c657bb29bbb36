#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "pelmar/audio/PelmarAudioEngine.h"
#include "pelmar/audio/testing/AudioTestApp.h"
#include "pelmar/audio/testing/WavFile.h"
#include "pelmar/platform/foundation/NotificationCenter.h"
#include "testing/NginxHttpServer.h"

namespace pelmar {
namespace {

// An audio file served by nginx at a throttled rate, so that its bytes arrive over seconds.
class PelmarAudioEngineIntegrationTest : public ::testing::Test {
protected:
    static constexpr int64_t kSlowBytesPerSecond = 96 * 1024;
    static constexpr int kSeconds = 4;

    void SetUp() override {
        ASSERT_TRUE(test::NginxHttpServer::Available());
        server.Start();
        // 4 s of 16-bit mono at 44.1 kHz: about 350 KB, nearly 4 s of transfer.
        ASSERT_TRUE(test::writeWav(server.root() / "tone.wav", 1, kSeconds * 44100, 0));
        auto& center = foundation::NotificationCenter::defaultCenter();
        tokens.push_back(center.addObserver(std::string(kMediaLoadProgress),
                                            [this](const foundation::Notification& n) {
                                                if (auto share = n.objectAs<double>()) {
                                                    progress.push_back(*share);
                                                }
                                            }));
        tokens.push_back(center.addObserver(std::string(kPlayerStalled), [this] { ++stalls; }));
    }

    test::AudioTestApp app;
    test::NginxHttpServer server{kSlowBytesPerSecond};
    std::vector<double> progress;
    int stalls = 0;
    std::vector<foundation::NotificationCenter::Token> tokens;
};

TEST_F(PelmarAudioEngineIntegrationTest, LoadProgressFollowsTheBytesAndPlaybackStallsAtTheirEnd) {
    auto engine = PelmarAudioEngine::sharedInstance();
    bool started = false;
    engine->playPauseMediaFile(server.Url("/slow/tone.wav"), Json::object(), 0,
                               [&](std::optional<std::string>, double) { started = true; });
    ASSERT_TRUE(app.runUntil([&] { return started && !progress.empty(); }, 30));
    EXPECT_NEAR(engine->durationInSeconds(), kSeconds, 0.01);
    ASSERT_LT(progress.back(), 100.0) << "the first bytes, not the whole file";
    EXPECT_EQ(stalls, 0);

    // The clock runs past what has arrived: playback waits there, and says so once.
    app.advance(kSeconds);
    app.settle();
    EXPECT_EQ(stalls, 1);
    EXPECT_LT(engine->currentTimeInSeconds(), kSeconds);
    EXPECT_GE(engine->currentTimeInSeconds() * 100 / kSeconds, progress.front());

    ASSERT_TRUE(app.runUntil([&] { return progress.back() == 100.0; }, 30));
    EXPECT_GE(progress.size(), 3u) << "a share for each stretch of bytes, not one 100 %";
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    // Everything has arrived: playback went on by itself and now runs to the end.
    EXPECT_TRUE(engine->isPlaying());
    bool ended = false;
    auto end = foundation::NotificationCenter::defaultCenter().addObserver(
            std::string(kPlayerDidReachEnd), [&] { ended = true; });
    app.advance(kSeconds);
    ASSERT_TRUE(app.runUntil([&] { return ended; }));
}

}  // namespace
}  // namespace pelmar
