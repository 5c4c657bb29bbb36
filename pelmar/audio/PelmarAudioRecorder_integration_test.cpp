#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "pelmar/audio/AudioPlayerManager.h"
#include "pelmar/audio/AudioVisualizationView.h"
#include "pelmar/audio/PelmarAudioRecorder.h"
#include "pelmar/audio/ViewModel.h"
#include "pelmar/audio/testing/AudioServiceApp.h"
#include "pelmar/audio/testing/RecorderEventLog.h"
#include "pelmar/core/Pelmar.h"
#include "pelmar/platform/av/AudioPlayer.h"
#include "pelmar/platform/av/MicrophoneSignal.h"
#include "pelmar/platform/av/testing/MovieProbe.h"
#include "pelmar/platform/ui/ImageView.h"
#include "pelmar/platform/ui/Label.h"
#include "pelmar/platform/ui/Slider.h"

namespace pelmar {
namespace {

using State = PelmarAudioRecorder::AudioRecorderState;
using ::testing::ElementsAre;

class PelmarAudioRecorderIntegrationTest : public ::testing::Test {
protected:
    void SetUp() override {
        app.devices().setMicrophoneSignal(av::MicrophoneSignal::square(200, 0.1));
        app.facade->setRecorderDelegate(events);
    }

    // Opens the recorder through the facade and waits until it is on screen.
    std::shared_ptr<PelmarAudioRecorder> open() {
        app.facade->startAudioRecorder();
        app.settle();
        app.advance(0.5);  // the animated presentation
        auto screen = std::dynamic_pointer_cast<PelmarAudioRecorder>(app.topViewController());
        return screen && screen->isAppeared() ? screen : nullptr;
    }

    void tapRecord(PelmarAudioRecorder& screen) { app.tap(screen.recordContainerView); }

    std::string text(const std::weak_ptr<ui::Label>& label) { return label.lock()->text(); }

    std::string image(const std::weak_ptr<ui::ImageView>& view) {
        auto image = view.lock()->image();
        return image ? image->name() : "";
    }

    test::AudioServiceApp app;
    std::shared_ptr<test::RecorderEventLog> events = std::make_shared<test::RecorderEventLog>();
};

TEST_F(PelmarAudioRecorderIntegrationTest, RecordsPlaysRerecordsAndUploadsThroughTheFacade) {
    auto screen = open();
    ASSERT_TRUE(screen);
    EXPECT_EQ(screen->modalPresentationStyle(), ui::ModalPresentationStyle::FullScreen);
    EXPECT_EQ(screen->lastPresentationAnimated(), true);
    EXPECT_EQ(screen->currentState(), State::ready);
    EXPECT_EQ(image(screen->recordImageView), "audio-record-start-black");
    EXPECT_TRUE(screen->reloadContainerView.lock()->isHidden());
    EXPECT_THAT(events->take(), ElementsAre("ready"));

    // Record 3 s, pause 2 s, resume 2 s.
    tapRecord(*screen);
    ASSERT_TRUE(app.runUntil([&] { return screen->currentState() == State::recording; }));
    EXPECT_EQ(text(screen->statusLabel), "Recording");
    EXPECT_EQ(image(screen->recordImageView), "audio-record-stop-black");
    EXPECT_EQ(image(screen->resumeImageview), "audio-record-pause-black");
    app.advance(3.0);
    EXPECT_EQ(text(screen->timeLabel), "00:00:03");
    app.tap(screen->resumeContainerView);
    EXPECT_EQ(screen->currentState(), State::recordingPaused);
    EXPECT_EQ(text(screen->statusLabel), "Recording Paused");
    EXPECT_EQ(image(screen->resumeImageview), "audio-record-resume-black");
    EXPECT_EQ(image(screen->recordImageView), "audio-record-stop-black");
    app.advance(2.0);
    EXPECT_EQ(text(screen->timeLabel), "00:00:03");
    app.tap(screen->resumeContainerView);
    app.advance(2.0);
    EXPECT_EQ(text(screen->timeLabel), "00:00:05");
    // The waveform follows the square wave's level (0.1) one bar per metering tick.
    auto waveform = screen->audioVisualizationView.lock();
    EXPECT_EQ(waveform->audioVisualizationMode,
              AudioVisualizationView::AudioVisualizationMode::write);
    ASSERT_GE(waveform->meteringLevelsArray().size(), 90u);
    EXPECT_NEAR(waveform->meteringLevelsArray().back(), 0.1f, 0.01f);
    EXPECT_TRUE(app.writeSnapshot(*screen->view(), "PelmarAudioRecorder_recording.png"));
    app.expectLooksRight(*screen->view());

    // Stop: the file's real duration, without the pause.
    tapRecord(*screen);
    EXPECT_EQ(screen->currentState(), State::recorded);
    const std::string path = (app.documents() / "Recorded_Audio").string();
    EXPECT_EQ(text(screen->durationLabel), "00:00:05");
    EXPECT_EQ(text(screen->timeLabel), "00:00:00");
    EXPECT_EQ(image(screen->recordImageView), "play-black");
    EXPECT_FALSE(screen->uploadContainerView.lock()->isHidden());
    EXPECT_EQ(waveform->audioVisualizationMode,
              AudioVisualizationView::AudioVisualizationMode::read);
    app.settle();
    EXPECT_THAT(events->take(), ElementsAre("started", "duration 1", "duration 2", "duration 3",
                                            "paused", "started", "duration 4", "duration 5",
                                            "stopped " + path, "stopped " + path));
    auto probe = av::test::MovieProbe::probe(path);
    ASSERT_TRUE(probe);
    EXPECT_EQ(probe->audioCodec, "alac");
    EXPECT_EQ(probe->channels, 2);
    EXPECT_EQ(probe->sampleRate, 44100);
    EXPECT_NEAR(probe->audioDuration, 5.0, 0.05);

    // Play back 2 s, pause, move the slider to 60 %, play on from 3 s to the end.
    tapRecord(*screen);
    EXPECT_EQ(screen->currentState(), State::playing);
    EXPECT_EQ(text(screen->statusLabel), "Playing");
    EXPECT_TRUE(waveform->isAnimating());
    app.advance(2.0);
    EXPECT_EQ(text(screen->timeLabel), "00:00:02");
    tapRecord(*screen);
    EXPECT_EQ(screen->currentState(), State::playingPaused);
    screen->timeSlider.lock()->dragTo(0.6f);
    EXPECT_EQ(screen->currentTime(), 3);
    EXPECT_EQ(text(screen->timeLabel), "00:00:03");
    EXPECT_DOUBLE_EQ(AudioPlayerManager::shared()->audioPlayer()->currentTime(), 3.0);
    tapRecord(*screen);
    app.advance(1.0);
    EXPECT_EQ(text(screen->timeLabel), "00:00:04");
    app.advance(1.5);
    EXPECT_EQ(screen->currentState(), State::recorded);
    EXPECT_THAT(events->take(), ElementsAre("playing", "paused", "playing", "stopped " + path));

    // Record again, 2 s this time; the new file replaces the first.
    app.tap(screen->reloadContainerView);
    EXPECT_EQ(screen->currentState(), State::ready);
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_TRUE(waveform->meteringLevelsArray().empty());
    tapRecord(*screen);
    ASSERT_TRUE(app.runUntil([&] { return screen->currentState() == State::recording; }));
    app.advance(2.0);
    tapRecord(*screen);
    EXPECT_EQ(text(screen->durationLabel), "00:00:02");
    app.settle();
    EXPECT_THAT(events->take(), ElementsAre("ready", "rerecord", "started", "duration 1",
                                            "duration 2", "stopped " + path, "stopped " + path));

    // Send: the upload engine gets the file as an audio item and the screen closes.
    app.tap(screen->uploadContainerView);
    EXPECT_THAT(events->take(), ElementsAre("submitted"));
    ASSERT_TRUE(app.runUntil([&] { return app.uploads->count("uploadFinished") == 1; }, 30));
    ASSERT_EQ(app.emulator.uploads().size(), 1u);
    EXPECT_EQ(app.emulator.uploads()[0].kind, test::MediaKind::Audio);
    EXPECT_EQ(app.emulator.uploads()[0].size, std::filesystem::file_size(path));
    EXPECT_EQ(app.uploads->events().front().path, path);
    EXPECT_TRUE(app.expectFreedAfterDismiss(std::move(screen)));
}

TEST_F(PelmarAudioRecorderIntegrationTest, SendingAPausedRecordingFinishesItsFileFirst) {
    auto screen = open();
    ASSERT_TRUE(screen);
    tapRecord(*screen);
    ASSERT_TRUE(app.runUntil([&] { return screen->currentState() == State::recording; }));
    app.advance(2.0);
    app.tap(screen->resumeContainerView);
    app.advance(1.0);
    // The send button shows only once a recording has stopped; host code may still send.
    screen->onUpload();
    ASSERT_TRUE(app.runUntil([&] { return app.uploads->count("uploadFinished") == 1; }, 30));
    const std::string path = (app.documents() / "Recorded_Audio").string();
    auto probe = av::test::MovieProbe::probe(path);
    ASSERT_TRUE(probe);
    EXPECT_NEAR(probe->audioDuration, 2.0, 0.05);
    ASSERT_EQ(app.emulator.uploads().size(), 1u);
    EXPECT_EQ(app.emulator.uploads()[0].size, std::filesystem::file_size(path));
    // The stop is heard before the file goes out.
    const auto lines = events->take();
    const auto submitted = std::find(lines.begin(), lines.end(), "submitted");
    ASSERT_NE(submitted, lines.end());
    ASSERT_NE(submitted, lines.begin());
    EXPECT_EQ(*(submitted - 1), "stopped " + path);
    EXPECT_TRUE(app.expectFreedAfterDismiss(std::move(screen)));
}

}  // namespace
}  // namespace pelmar
