#include "pelmar/platform/av/AudioPlayer.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "pelmar/platform/av/AssetReader.h"
#include "pelmar/platform/av/AudioRecorder.h"
#include "pelmar/platform/av/CaptureEnvironment.h"
#include "pelmar/platform/dispatch/RunLoop.h"
#include "pelmar/platform/dispatch/testing/MainLoopFixture.h"
#include "testing/TempDir.h"

namespace pelmar::av {
namespace {

using dispatch::RunLoop;

class EndLog : public AudioPlayerDelegate {
public:
    void audioPlayerDidFinishPlaying(AudioPlayer& player, bool ok) override {
        ++ends;
        positionAtEnd = player.currentTime();
        EXPECT_TRUE(ok);
    }

    int ends = 0;
    double positionAtEnd = -1;
};

class AudioPlayerTest : public dispatch::test::MainLoopFixture {
protected:
    void SetUp() override {
        MainLoopFixture::SetUp();
        CaptureEnvironment::shared().reset();
        CaptureEnvironment::shared()
                .setAuthorizationStatus(MediaType::Audio, AuthorizationStatus::Authorized)
                .setMicrophoneSignal(MicrophoneSignal::tone(440, 0.5));
        path = (dir.path() / "two_seconds").string();
        auto recorder = AudioRecorder::create(path, {});
        recorder->record();
        RunLoop::advance(2.0);
        recorder->stop();
        RunLoop::runUntilIdle();
    }

    void TearDown() override {
        AudioPlayer::setFaults({});
        CaptureEnvironment::shared().reset();
        MainLoopFixture::TearDown();
    }

    pelmar::test::TempDir dir;
    std::string path;
};

TEST_F(AudioPlayerTest, PlaysOnTheClockPausesSeeksAndRewindsAtTheEnd) {
    auto player = AudioPlayer::create(path);
    auto log = std::make_shared<EndLog>();
    player->setDelegate(log);
    EXPECT_NEAR(player->duration(), 2.0, 1e-3);
    ASSERT_TRUE(player->play());
    RunLoop::advance(0.5);
    EXPECT_NEAR(player->currentTime(), 0.5, 1e-9);
    player->pause();
    RunLoop::advance(5.0);
    EXPECT_NEAR(player->currentTime(), 0.5, 1e-9);
    EXPECT_EQ(log->ends, 0);
    player->setCurrentTime(1.5);
    player->play();
    RunLoop::advance(0.6);
    EXPECT_EQ(log->ends, 1);
    EXPECT_EQ(log->positionAtEnd, 0.0);
    EXPECT_FALSE(player->isPlaying());
    player->setCurrentTime(99);
    EXPECT_NEAR(player->currentTime(), player->duration(), 1e-9);
}

TEST_F(AudioPlayerTest, MetersThePlayedPart) {
    auto player = AudioPlayer::create(path);
    player->setMeteringEnabled(true);
    player->play();
    RunLoop::advance(0.05);
    player->updateMeters();
    // A sine of amplitude 0.5 has an RMS of 0.5 / sqrt(2): about -9 dB.
    EXPECT_NEAR(player->averagePower(0), -9.03f, 0.1f);
    EXPECT_NEAR(player->peakPower(0), -6.02f, 0.1f);
}

TEST_F(AudioPlayerTest, CreationFailsForMissingOrSoundlessFilesAndInjectedFaults) {
    EXPECT_THROW(AudioPlayer::create((dir.path() / "missing").string()), AudioError);
    const auto text = (dir.path() / "text").string();
    FILE* f = std::fopen(text.c_str(), "w");
    std::fputs("not audio at all", f);
    std::fclose(f);
    EXPECT_THROW(AudioPlayer::create(text), AudioError);
    AudioPlayer::setFaults({.failCreate = true, .failPlay = false});
    EXPECT_THROW(AudioPlayer::create(path), AudioError);
    AudioPlayer::setFaults({.failCreate = false, .failPlay = true});
    EXPECT_FALSE(AudioPlayer::create(path)->play());
}

TEST_F(AudioPlayerTest, ReaderHandsOutTheTimeRangeInChunks) {
    auto reader = AssetReader::open(path, nullptr);
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->audioTrack().duration, media::Time::make(88200, 44100));
    reader->setTimeRange(media::Time::make(22050, 44100), media::Time::make(44100, 44100));
    auto output = std::make_shared<AssetReaderTrackOutput>();
    reader->add(output);
    ASSERT_TRUE(reader->startReading());
    int64_t frames = 0;
    int chunks = 0;
    while (auto chunk = output->copyNextSampleBuffer()) {
        EXPECT_LE(chunk->numSamples(), AssetReader::kFramesPerChunk);
        EXPECT_EQ(chunk->data().size(), static_cast<size_t>(chunk->numSamples()) * 4);
        frames += chunk->numSamples();
        ++chunks;
    }
    EXPECT_EQ(frames, 44100);
    EXPECT_GT(chunks, 1);
    EXPECT_EQ(reader->status(), AssetReader::Status::completed);
}

}  // namespace
}  // namespace pelmar::av
