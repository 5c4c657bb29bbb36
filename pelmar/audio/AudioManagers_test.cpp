#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pelmar/audio/AudioErrorType.h"
#include "pelmar/audio/AudioFileURL.h"
#include "pelmar/audio/AudioNotifications.h"
#include "pelmar/audio/AudioPlayerManager.h"
#include "pelmar/audio/AudioRecorderManager.h"
#include "pelmar/audio/Chronometer.h"
#include "pelmar/audio/ViewModel.h"
#include "pelmar/audio/testing/AudioTestApp.h"
#include "pelmar/audio/testing/WavFile.h"
#include "pelmar/platform/av/AssetReader.h"
#include "pelmar/platform/av/AudioSession.h"
#include "pelmar/platform/foundation/Console.h"
#include "pelmar/platform/foundation/NotificationCenter.h"
#include "pelmar/platform/foundation/Sandbox.h"
#include "testing/TempDir.h"

namespace pelmar {
namespace {

// Faults with one flag set.
inline av::AudioRecorder::Faults recorderFault(bool av::AudioRecorder::Faults::*flag) {
    av::AudioRecorder::Faults faults;
    faults.*flag = true;
    return faults;
}

using test::AudioTestApp;

// Runs `action`, expecting it to throw `type` and print `line`.
void expectFailure(AudioTestApp& app,
                   const std::function<void()>& action,
                   AudioErrorType type,
                   const std::string& line) {
    foundation::Console::Capture console;
    try {
        action();
        ADD_FAILURE() << "nothing thrown";
    } catch (const AudioException& e) {
        EXPECT_EQ(e.type(), type);
    }
    if (line.empty()) {
        EXPECT_TRUE(console.lines().empty());
    } else {
        EXPECT_TRUE(console.contains(line)) << line;
    }
    (void)app;
}

TEST(AudioErrorTypeTest, DescriptionsAreTheFixedTexts) {
    EXPECT_STREQ(AudioException(AudioErrorType::alreadyRecording).what(),
                 "The application is currently recording sounds");
    EXPECT_STREQ(AudioException(AudioErrorType::audioFileWrongPath).what(),
                 "Invalid path for audio file");
    EXPECT_STREQ(AudioException(AudioErrorType::recordPermissionNotGranted).what(),
                 "Unable to record sound because the permission has not been granted. This can "
                 "be changed in your settings.");
    EXPECT_STREQ(AudioException(AudioErrorType::internalError).what(),
                 "An error occured while trying to process audio command, please try again");
}

TEST(AudioLevelTest, LevelIsTenToTheTwentiethOfThePower) {
    struct Case {
        float decibels;
        float level;
    };

    for (const Case& c : {Case{0, 1.0f}, Case{-20, 0.1f}, Case{-40, 0.01f}, Case{-160, 1e-8f}}) {
        SCOPED_TRACE(c.decibels);
        EXPECT_NEAR(meteringLevel(c.decibels), c.level, c.level * 1e-5f);
    }
}

TEST(AudioManagersTest, FailureRowsThrowTheirCaseAndPrintTheirLine) {
    AudioTestApp app;
    auto recorder = AudioRecorderManager::shared();
    auto player = AudioPlayerManager::shared();
    expectFailure(
            app, [&] { recorder->stopRecording(); }, AudioErrorType::notCurrentlyPlaying,
            "Audio Recorder did fail to stop");
    expectFailure(
            app, [&] { recorder->pauseRecording(); }, AudioErrorType::notCurrentlyPlaying,
            "Audio Recorder did fail to pause");
    expectFailure(
            app, [&] { player->play(app.documents() / "none", 0.05); },
            AudioErrorType::audioFileWrongPath,
            "Audio Player did fail to start: file doesn't exist");
    expectFailure(
            app, [&] { player->resume(); }, AudioErrorType::internalError,
            "Audio Player did fail to resume for internal reason");

    ASSERT_TRUE(app.startRecording());
    const auto file = *recorder->currentRecordPath();
    std::exception_ptr second;
    recorder->startRecording(0.05, [&](auto, std::exception_ptr e) { second = e; });
    EXPECT_EQ(errorDescription(second), "The application is currently recording sounds");
    EXPECT_TRUE(recorder->isRunning());
    expectFailure(
            app, [&] { recorder->resumeRecording(); }, AudioErrorType::alreadyRecording,
            "Audio Recorder did fail to resume");
    expectFailure(
            app, [&] { recorder->reset(); }, AudioErrorType::alreadyRecording,
            "Audio Recorder tried to remove recording before stopping it");
    expectFailure(
            app, [&] { player->play(file, 0.05); }, AudioErrorType::alreadyRecording,
            "Audio Player did fail to start: AVFoundation is recording");
    app.advance(1.0);
    recorder->stopRecording();
    ASSERT_GT(player->play(file, 0.05), 0.9);
    expectFailure(
            app, [&] { player->play(file, 0.05); }, AudioErrorType::alreadyPlaying,
            "Audio Player did fail to start: already playing a file");

    ASSERT_TRUE(app.breakDocuments());
    std::exception_ptr noFolder;
    recorder->startRecording(0.05, [&](auto, std::exception_ptr e) { noFolder = e; });
    EXPECT_EQ(errorDescription(noFolder), "Invalid path for audio file");
}

TEST(AudioManagersTest, PlatformFailuresOfTheStartReachTheCompletion) {
    AudioTestApp app;
    auto recorder = AudioRecorderManager::shared();

    struct Case {
        const char* name;
        std::function<void()> inject;
        std::string description;
    };

    const std::vector<Case> cases = {
            {"category", [] { av::AudioSession::shared().failSetCategory(); },
             "The audio session category couldn't be set"},
            {"activation", [] { av::AudioSession::shared().failSetActive(); },
             "The audio session couldn't be activated"},
            {"creation",
             [] {
                 av::AudioRecorder::setFaults(
                         recorderFault(&av::AudioRecorder::Faults::failCreate));
             },
             "The audio recorder couldn't be created"},
            {"prepare",
             [] {
                 av::AudioRecorder::setFaults(
                         recorderFault(&av::AudioRecorder::Faults::failPrepare));
             },
             "Unable to record sound at the moment, please try again"},
            {"record",
             [] {
                 av::AudioRecorder::setFaults(
                         recorderFault(&av::AudioRecorder::Faults::failRecord));
             },
             "Unable to record sound at the moment, please try again"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        av::AudioSession::shared().reset();
        av::AudioRecorder::setFaults({});
        c.inject();
        std::exception_ptr error;
        recorder->startRecording(0.05, [&](auto url, std::exception_ptr e) {
            EXPECT_FALSE(url);
            error = e;
        });
        app.settle();
        EXPECT_EQ(errorDescription(error), c.description);
        EXPECT_FALSE(recorder->currentRecordPath());
        EXPECT_FALSE(recorder->hasMeteringTimer());
    }
    av::AudioRecorder::setFaults({});
    av::AudioSession::shared().reset();
}

TEST(AudioManagersTest, DeniedPermissionFailsTheStartInsteadOfRecordingSilence) {
    AudioTestApp app(/*microphoneAllowed=*/false);
    std::exception_ptr error;
    bool called = false;
    AudioRecorderManager::shared()->startRecording(0.05, [&](auto url, std::exception_ptr e) {
        called = true;
        EXPECT_FALSE(url);
        error = e;
    });
    app.runUntil([&] { return called; });
    EXPECT_EQ(errorDescription(error), description(AudioErrorType::recordPermissionNotGranted));
    EXPECT_FALSE(std::filesystem::exists(app.documents() / "Recorded_Audio"));
}

TEST(AudioManagersTest, SquareWavePostsItsLevelTwentyTimesASecondAndStopPostsFinishLater) {
    AudioTestApp app;
    app.devices().setMicrophoneSignal(av::MicrophoneSignal::square(441, 0.1));
    std::vector<float> levels;
    int finishes = 0;
    auto& center = foundation::NotificationCenter::defaultCenter();
    auto t1 = center.addObserver(
            std::string(kAudioRecorderManagerMeteringLevelDidUpdateNotification),
            [&](const Json& info) { levels.push_back(info["percentage"].get<float>()); });
    auto t2 =
            center.addObserver(std::string(kAudioRecorderManagerMeteringLevelDidFinishNotification),
                               [&] { ++finishes; });
    ASSERT_TRUE(app.startRecording());
    app.advance(1.0);
    ASSERT_EQ(levels.size(), 20u);
    for (float level : levels) {
        EXPECT_NEAR(level, 0.1f, 1e-3f);
    }
    auto recorder = AudioRecorderManager::shared();
    recorder->pauseRecording();
    EXPECT_THROW(recorder->stopRecording(), AudioException);
    recorder->resumeRecording();
    recorder->stopRecording();
    EXPECT_EQ(finishes, 0);
    app.settle();
    EXPECT_EQ(finishes, 1);
    EXPECT_FALSE(recorder->hasMeteringTimer());

    // A second recording replaces the first file; reset removes it.
    ASSERT_TRUE(app.startRecording());
    app.advance(0.5);
    recorder->stopRecording();
    app.settle();
    EXPECT_EQ(finishes, 2);
    const auto files = std::distance(std::filesystem::directory_iterator(app.documents()),
                                     std::filesystem::directory_iterator());
    EXPECT_EQ(files, 1);
    recorder->reset();
    EXPECT_FALSE(std::filesystem::exists(app.documents() / "Recorded_Audio"));
    EXPECT_FALSE(recorder->currentRecordPath());
}

// What the recorder manager records while the microphone hears `signal` for `seconds`: the
// levels it posted and the file's samples (channels interleaved).
struct Heard {
    std::vector<float> levels;
    std::vector<int16_t> samples;
    int channels = 0;
};

Heard recordHearing(AudioTestApp& app, const av::MicrophoneSignal& signal, double seconds) {
    Heard heard;
    app.devices().setMicrophoneSignal(signal);
    auto token = foundation::NotificationCenter::defaultCenter().addObserver(
            std::string(kAudioRecorderManagerMeteringLevelDidUpdateNotification),
            [&](const Json& info) { heard.levels.push_back(info["percentage"].get<float>()); });
    EXPECT_TRUE(app.startRecording());
    app.advance(seconds);
    AudioRecorderManager::shared()->stopRecording();
    app.settle();
    auto [reader, output] =
            av::AssetReader::startReadingFile((app.documents() / "Recorded_Audio").string());
    if (!reader) {
        ADD_FAILURE() << "the recording does not decode";
        return heard;
    }
    heard.channels = reader->audioTrack().channels;
    while (auto chunk = output->copyNextSampleBuffer()) {
        const auto bytes = chunk->data();
        const auto* first = reinterpret_cast<const int16_t*>(bytes.data());
        heard.samples.insert(heard.samples.end(), first, first + bytes.size() / 2);
    }
    return heard;
}

TEST(AudioManagersTest, AFileTheMicrophoneHearsIsRecordedSampleForSampleThenSilence) {
    AudioTestApp app;
    pelmar::test::TempDir dir;
    // Half a second of silence, then half a second at full scale.
    const auto voice = dir.path() / "voice.wav";
    ASSERT_TRUE(test::writeWav(voice, 1, 44100, 22050));
    const Heard heard = recordHearing(app, av::MicrophoneSignal::file(voice.string()), 1.5);

    // Each 50 ms tick meters the sound since the one before: the floor (-160 dB), full scale
    // (0 dB), and the floor again once the file has ended.
    ASSERT_EQ(heard.levels.size(), 30u);
    for (size_t i = 0; i < heard.levels.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_NEAR(heard.levels[i], i >= 10 && i < 20 ? 1.0f : 1e-8f, 1e-6f);
    }
    // Both channels carry the file's one channel, then silence to the end of the recording.
    ASSERT_EQ(heard.channels, 2);
    ASSERT_EQ(heard.samples.size(), 2u * 66150);
    for (size_t frame = 0; frame < 66150; ++frame) {
        const int16_t expected = frame >= 22050 && frame < 44100 ? -32768 : 0;
        if (heard.samples[2 * frame] != expected || heard.samples[2 * frame + 1] != expected) {
            ADD_FAILURE() << "frame " << frame << " holds " << heard.samples[2 * frame] << ", "
                          << heard.samples[2 * frame + 1] << " instead of " << expected;
            break;
        }
    }

    // A file that cannot be decoded is heard as silence.
    const Heard nothing = recordHearing(
            app, av::MicrophoneSignal::file((dir.path() / "missing.wav").string()), 0.5);
    ASSERT_EQ(nothing.levels.size(), 10u);
    for (float level : nothing.levels) {
        EXPECT_NEAR(level, 1e-8f, 1e-6f);
    }
    EXPECT_EQ(nothing.samples, std::vector<int16_t>(2u * 22050, 0));
}

TEST(AudioManagersTest, UnfinishedFilePostsFailureInsteadOfFinish) {
    AudioTestApp app;
    std::vector<std::string> posted;
    auto& center = foundation::NotificationCenter::defaultCenter();
    auto t1 =
            center.addObserver(std::string(kAudioRecorderManagerMeteringLevelDidFinishNotification),
                               [&] { posted.push_back("finish"); });
    auto t2 = center.addObserver(std::string(kAudioRecorderManagerMeteringLevelDidFailNotification),
                                 [&] { posted.push_back("fail"); });
    ASSERT_TRUE(app.startRecording());
    av::AudioRecorder::setFaults(recorderFault(&av::AudioRecorder::Faults::finishUnsuccessfully));
    AudioRecorderManager::shared()->stopRecording();
    app.settle();
    av::AudioRecorder::setFaults({});
    EXPECT_EQ(posted, std::vector<std::string>{"fail"});
    EXPECT_TRUE(app.logsConsole("Audio Recorder error"));
}

TEST(AudioManagersTest, PlayerResumesAfterTheEndFromTheStartWithOneMeteringTimer) {
    AudioTestApp app;
    ASSERT_TRUE(app.startRecording());
    app.advance(2.0);
    AudioRecorderManager::shared()->stopRecording();
    app.settle();
    auto player = AudioPlayerManager::shared();
    const auto file = app.documents() / "Recorded_Audio";
    EXPECT_NEAR(player->play(file, 0.05), 2.0, 1e-3);
    app.advance(2.5);
    EXPECT_FALSE(player->audioPlayer()->isPlaying());
    EXPECT_NEAR(player->resume(), 2.0, 1e-3);
    player->pause();
    auto first = player->audioPlayer();
    EXPECT_NEAR(player->play(file, 0.05), 2.0, 1e-3);
    EXPECT_NE(player->audioPlayer(), first);
    EXPECT_TRUE(player->hasMeteringTimer());
}

TEST(ViewModelTest, HearsOnlyItsOwnActivityAndKeepsStateOnFailures) {
    AudioTestApp app;
    auto model = ViewModel::create();
    std::vector<float> levels;
    int finishes = 0;
    model->audioMeteringLevelUpdate = [&](float level) { levels.push_back(level); };
    model->audioDidFinish = [&] { ++finishes; };
    auto& center = foundation::NotificationCenter::defaultCenter();
    // Before it has a recording, another activity's ends and levels are not its own.
    center.post(kAudioPlayerManagerMeteringLevelDidFinishNotification,
                AudioPlayerManager::shared());
    center.post(kAudioRecorderManagerMeteringLevelDidUpdateNotification,
                AudioRecorderManager::shared(), Json{{"percentage", 0.5}});
    EXPECT_EQ(finishes, 0);
    EXPECT_TRUE(levels.empty());
    EXPECT_EQ(model->startPlaying(), 0.0) << "nothing recorded: nothing plays";

    std::optional<std::vector<float>> started;
    model->startRecording([&](auto url, auto lv, std::exception_ptr e) {
        EXPECT_TRUE(url);
        EXPECT_FALSE(e);
        started = lv;
    });
    app.runUntil([&] { return started.has_value(); });
    ASSERT_TRUE(started);
    EXPECT_TRUE(started->empty());
    app.advance(0.1);
    EXPECT_EQ(levels.size(), 2u);
    center.post(kAudioRecorderManagerMeteringLevelDidFailNotification,
                AudioRecorderManager::shared());
    EXPECT_EQ(finishes, 0);
    const auto url = model->audioFilePathLocal;
    EXPECT_THROW(model->resetRecording(), AudioException);
    EXPECT_EQ(model->audioFilePathLocal, url);
    EXPECT_TRUE(model->meteringLevels);

    // A failed second start changes nothing.
    std::exception_ptr error;
    model->startRecording([&](auto, auto lv, std::exception_ptr e) {
        EXPECT_FALSE(lv);
        error = e;
    });
    EXPECT_TRUE(error);
    EXPECT_EQ(model->audioFilePathLocal, url);

    model->stopRecording();
    app.settle();
    EXPECT_EQ(finishes, 1);
    app.advance(1.0);
    const double duration = model->startPlaying();
    EXPECT_GT(duration, 0.0);
    app.advance(0.05);
    model->pausePlaying();
    EXPECT_NEAR(model->startPlaying(), duration - 0.05, 1e-6) << "the second call resumes";
}

TEST(ChronometerTest, TicksFromZeroOneIntervalApartAndStopResets) {
    AudioTestApp app;
    auto chronometer = std::make_shared<Chronometer>(0.5);
    std::vector<double> ticks;
    int completions = 0;
    chronometer->timerDidUpdate = [&](double t) { ticks.push_back(t); };
    chronometer->timerDidComplete = [&] { ++completions; };
    chronometer->start(false);
    app.advance(1.0);
    EXPECT_EQ(ticks, (std::vector<double>{0.0, 0.5, 1.0}));
    chronometer->pause();
    app.advance(1.0);
    EXPECT_EQ(ticks.size(), 3u);
    chronometer->stop();
    EXPECT_EQ(chronometer->timerCurrentValue(), 0.0);
    EXPECT_EQ(completions, 1);

    auto never = std::make_shared<Chronometer>();
    int neverCompleted = 0;
    never->timerDidComplete = [&] { ++neverCompleted; };
    never->stop();
    EXPECT_EQ(neverCompleted, 1);
    // The default interval ticks at the minimum period and never grows.
    std::vector<double> zero;
    never->timerDidUpdate = [&](double t) { zero.push_back(t); };
    never->start();
    app.advance(0.05);
    EXPECT_EQ(zero, std::vector<double>(6, 0.0));
    never->stop();
}

TEST(AudioFileURLTest, DocumentsPathNeedsTheFolderButNotTheFile) {
    AudioTestApp app;
    const auto path = AudioFileURL::documentsPath("Recorded_Audio");
    ASSERT_TRUE(path);
    EXPECT_EQ(*path, app.documents() / "Recorded_Audio");
    EXPECT_FALSE(AudioFileURL::checkPath(*path));
    ASSERT_TRUE(app.breakDocuments());
    EXPECT_FALSE(AudioFileURL::documentsPath("Recorded_Audio"));
}

}  // namespace
}  // namespace pelmar
