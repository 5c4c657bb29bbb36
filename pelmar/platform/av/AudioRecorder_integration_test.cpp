#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "pelmar/platform/av/AssetReader.h"
#include "pelmar/platform/av/AudioPlayer.h"
#include "pelmar/platform/av/AudioRecorder.h"
#include "pelmar/platform/av/AudioSession.h"
#include "pelmar/platform/av/CaptureEnvironment.h"
#include "pelmar/platform/av/testing/MovieProbe.h"
#include "pelmar/platform/dispatch/RunLoop.h"
#include "pelmar/platform/dispatch/testing/MainLoopFixture.h"
#include "testing/TempDir.h"

namespace pelmar::av {
namespace {

// Faults with one flag set.
inline AudioRecorder::Faults recorderFault(bool AudioRecorder::Faults::*flag) {
    AudioRecorder::Faults faults;
    faults.*flag = true;
    return faults;
}

using dispatch::RunLoop;

class FinishLog : public AudioRecorderDelegate {
public:
    void audioRecorderDidFinishRecording(AudioRecorder&, bool ok) override {
        finishes.push_back(ok);
    }

    void audioRecorderEncodeErrorDidOccur(AudioRecorder&, const Error& e) override {
        errors.push_back(e);
    }

    std::vector<bool> finishes;
    std::vector<Error> errors;
};

class AudioRecorderIntegrationTest : public dispatch::test::MainLoopFixture {
protected:
    void SetUp() override {
        MainLoopFixture::SetUp();
        CaptureEnvironment::shared().reset();
        CaptureEnvironment::shared().addMicrophone().setAuthorizationStatus(
                MediaType::Audio, AuthorizationStatus::Authorized);
        AudioRecorder::setFaults({});
        AudioSession::shared().reset();
        path = (dir.path() / "Recorded_Audio").string();
    }

    void TearDown() override {
        AudioRecorder::setFaults({});
        CaptureEnvironment::shared().reset();
        MainLoopFixture::TearDown();
    }

    // Records `seconds`, reading the meters every 50 ms; returns the average powers read.
    std::vector<float> recordFor(AudioRecorder& recorder, double seconds) {
        std::vector<float> powers;
        for (int i = 0; i < static_cast<int>(std::lround(seconds / 0.05)); ++i) {
            RunLoop::advance(0.05);
            recorder.updateMeters();
            powers.push_back(recorder.averagePower(0));
        }
        return powers;
    }

    pelmar::test::TempDir dir;
    std::string path;
};

TEST_F(AudioRecorderIntegrationTest, WritesLosslessStereoFileOfTheRecordedTimeWithoutPauses) {
    CaptureEnvironment::shared().setMicrophoneSignal(MicrophoneSignal::square(441, 0.1));
    auto recorder = AudioRecorder::create(path, {});
    auto log = std::make_shared<FinishLog>();
    recorder->setDelegate(log);
    recorder->setMeteringEnabled(true);
    ASSERT_TRUE(recorder->prepareToRecord());
    ASSERT_TRUE(recorder->record());
    const auto powers = recordFor(*recorder, 3.0);
    recorder->pause();
    EXPECT_FALSE(recorder->isRecording());
    RunLoop::advance(2.0);
    ASSERT_TRUE(recorder->record());
    recordFor(*recorder, 2.0);
    recorder->stop();
    // A square wave of amplitude 0.1 has an RMS of 0.1: -20 dB.
    for (float p : powers) {
        EXPECT_NEAR(p, -20.0f, 0.05f);
    }
    EXPECT_TRUE(log->finishes.empty()) << "the finish call comes on the main queue";
    RunLoop::runUntilIdle();
    EXPECT_EQ(log->finishes, std::vector<bool>{true});

    auto probe = test::MovieProbe::probe(path);
    ASSERT_TRUE(probe);
    EXPECT_EQ(probe->audioCodec, "alac");
    EXPECT_EQ(probe->channels, 2);
    EXPECT_EQ(probe->sampleRate, 44100);
    EXPECT_NEAR(probe->audioDuration, 5.0, 1e-3);

    auto player = AudioPlayer::create(path);
    EXPECT_NEAR(player->duration(), 5.0, 1e-3);
}

TEST_F(AudioRecorderIntegrationTest, RecordsSilenceWithoutPermissionAndMetersTheFloor) {
    CaptureEnvironment::shared().setAuthorizationStatus(MediaType::Audio,
                                                        AuthorizationStatus::Denied);
    auto recorder = AudioRecorder::create(path, {});
    recorder->setMeteringEnabled(true);
    ASSERT_TRUE(recorder->record());
    for (float p : recordFor(*recorder, 0.5)) {
        EXPECT_EQ(p, -160.0f);
    }
    recorder->stop();
    EXPECT_TRUE(std::filesystem::exists(path));
}

TEST_F(AudioRecorderIntegrationTest, InjectedFaultsFailTheirStep) {
    AudioRecorder::setFaults(recorderFault(&AudioRecorder::Faults::failCreate));
    EXPECT_THROW(AudioRecorder::create(path, {}), AudioError);
    AudioRecorder::setFaults(recorderFault(&AudioRecorder::Faults::failPrepare));
    EXPECT_FALSE(AudioRecorder::create(path, {})->prepareToRecord());
    AudioRecorder::setFaults(recorderFault(&AudioRecorder::Faults::failRecord));
    auto recorder = AudioRecorder::create(path, {});
    EXPECT_TRUE(recorder->prepareToRecord());
    EXPECT_FALSE(recorder->record());
    AudioRecorderSettings aac;
    aac.formatID = 0x61616320;
    EXPECT_THROW(AudioRecorder::create(path, aac), AudioError);
}

TEST_F(AudioRecorderIntegrationTest, EncodeErrorStopsRecordingAndTellsTheDelegate) {
    AudioRecorder::Faults faults;
    faults.encodeErrorAfterSeconds = 0.2;
    AudioRecorder::setFaults(faults);
    auto recorder = AudioRecorder::create(path, {});
    auto log = std::make_shared<FinishLog>();
    recorder->setDelegate(log);
    ASSERT_TRUE(recorder->record());
    recordFor(*recorder, 0.5);
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_NEAR(recorder->currentTime(), 0.2, 1e-3);
    RunLoop::runUntilIdle();
    ASSERT_EQ(log->errors.size(), 1u);
    EXPECT_EQ(log->errors[0].code, static_cast<long>(AudioErrorCode::encodeFailed));
}

TEST_F(AudioRecorderIntegrationTest, DeleteRecordingRemovesTheStoppedFileButNotARunningOne) {
    auto recorder = AudioRecorder::create(path, {});
    ASSERT_TRUE(recorder->record());
    RunLoop::advance(0.3);
    EXPECT_FALSE(recorder->deleteRecording());
    recorder->stop();
    EXPECT_TRUE(recorder->deleteRecording());
    EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
}  // namespace pelmar::av
