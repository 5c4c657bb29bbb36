#include <gtest/gtest.h>

#include <functional>
#include <latch>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "pelmar/audio/AudioPlayerManager.h"
#include "pelmar/audio/AudioRecorderManager.h"
#include "pelmar/audio/PelmarAudioEngine.h"
#include "pelmar/audio/testing/AudioTestApp.h"

namespace pelmar {
namespace {

struct SharedCase {
    std::string name;
    std::function<std::shared_ptr<void>()> get;
    std::function<void()> reset;
};

void PrintTo(const SharedCase& c, std::ostream* os) {
    *os << c.name;
}

class AudioSharedInstancesTest : public ::testing::TestWithParam<SharedCase> {};

// Threads that ask for the first time all at once get one and the same instance.
TEST_P(AudioSharedInstancesTest, ThreadsRacingTheFirstCallGetOneInstance) {
    test::AudioTestApp app;
    constexpr int kThreads = 8;
    constexpr int kRounds = 40;
    for (int round = 0; round < kRounds; ++round) {
        GetParam().reset();
        std::latch start(kThreads);
        std::vector<std::shared_ptr<void>> seen(kThreads);
        std::vector<std::thread> threads;
        for (int i = 0; i < kThreads; ++i) {
            threads.emplace_back([&, i] {
                start.arrive_and_wait();
                seen[i] = GetParam().get();
            });
        }
        for (auto& thread : threads) {
            thread.join();
        }
        for (int i = 0; i < kThreads; ++i) {
            ASSERT_NE(seen[i], nullptr);
            ASSERT_EQ(seen[i], seen[0]) << "round " << round << ", thread " << i;
        }
        // The slot keeps the instance that every thread got.
        ASSERT_EQ(GetParam().get(), seen[0]);
    }
    GetParam().reset();
}

INSTANTIATE_TEST_SUITE_P(
        Managers,
        AudioSharedInstancesTest,
        ::testing::Values(SharedCase{"RecorderManager",
                                     [] { return AudioRecorderManager::shared(); },
                                     [] { AudioRecorderManager::resetShared(); }},
                          SharedCase{"PlayerManager", [] { return AudioPlayerManager::shared(); },
                                     [] { AudioPlayerManager::resetShared(); }},
                          SharedCase{"Engine", [] { return PelmarAudioEngine::sharedInstance(); },
                                     [] { PelmarAudioEngine::resetShared(); }}),
        [](const ::testing::TestParamInfo<SharedCase>& c) { return c.param.name; });

}  // namespace
}  // namespace pelmar
