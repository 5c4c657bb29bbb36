#include "pelmar/audio/PelmarAudioRecorder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "pelmar/audio/AudioRecorderManager.h"
#include "pelmar/audio/AudioVisualizationView.h"
#include "pelmar/audio/ViewModel.h"
#include "pelmar/audio/testing/AudioTestApp.h"
#include "pelmar/audio/testing/InkSpan.h"
#include "pelmar/audio/testing/RecorderEventLog.h"
#include "pelmar/platform/av/AudioPlayer.h"
#include "pelmar/platform/av/AudioRecorder.h"
#include "pelmar/platform/ui/AlertController.h"
#include "pelmar/platform/ui/Label.h"
#include "pelmar/platform/ui/Snapshot.h"

namespace pelmar {
namespace {

using State = PelmarAudioRecorder::AudioRecorderState;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

// The recorder screen shown over the root of `app`, telling `events` what it does.
std::shared_ptr<PelmarAudioRecorder> openRecorder(
        test::AudioTestApp& app, const std::shared_ptr<test::RecorderEventLog>& events) {
    app.sdk()->setRecorderDelegate(events);
    auto screen = PelmarAudioRecorder::create(app.sdk());
    app.root()->present(screen, false);
    app.runUntil([&] { return screen->isAppeared(); });
    events->take();
    return screen;
}

// Starts a recording from the screen and records for `seconds`.
bool record(test::AudioTestApp& app, PelmarAudioRecorder& screen, double seconds) {
    app.tap(screen.recordContainerView);
    if (!app.runUntil([&] { return screen.currentState() == State::recording; })) {
        return false;
    }
    app.advance(seconds);
    return true;
}

TEST(PelmarAudioRecorderTest, TimeTextIsHoursMinutesSeconds) {
    EXPECT_EQ(PelmarAudioRecorder::getTimeString(0), "00:00:00");
    EXPECT_EQ(PelmarAudioRecorder::getTimeString(59), "00:00:59");
    EXPECT_EQ(PelmarAudioRecorder::getTimeString(3725), "01:02:05");
    EXPECT_EQ(PelmarAudioRecorder::getTimeString(360000), "100:00:00");
}

TEST(PelmarAudioRecorderTest, WhileRecordingTheTextsStandCentredAndTheBarsFillFromTheLeft) {
    test::AudioTestApp app;
    auto events = std::make_shared<test::RecorderEventLog>();
    auto screen = openRecorder(app, events);
    // Two seconds give 40 levels, fewer than the 70 bars the waveform has room for.
    ASSERT_TRUE(record(app, *screen, 2.0));
    auto painted = ui::render(*screen->view(), 2);
    ASSERT_TRUE(painted);
    const ui::Rect button = screen->recordContainerView.lock()->frame();
    for (const auto& label : {screen->statusLabel.lock(), screen->timeLabel.lock()}) {
        SCOPED_TRACE(label->text());
        const auto ink = test::inkSpan(*painted, label->frame(), ui::Color::white());
        ASSERT_TRUE(ink);
        EXPECT_NEAR(ink->middle(), button.x + button.width / 2, 2.0)
                << "the text stands over the main button";
    }
    auto waveform = screen->audioVisualizationView.lock();
    const ui::Rect box = waveform->frame();
    const auto bars = test::inkSpan(*painted, box, ui::Color::white());
    ASSERT_TRUE(bars);
    const double step = waveform->meteringLevelBarWidth() + waveform->meteringLevelBarInterItem();
    // One bar per level from the left edge; the row is not full yet, so it ends at the newest.
    const auto levels = static_cast<double>(waveform->meteringLevelsArray().size());
    ASSERT_GE(levels, 38);
    ASSERT_LT(levels, waveform->maximumNumberBars());
    EXPECT_NEAR(bars->left, box.x, 0.5);
    EXPECT_NEAR(bars->right, box.x + (levels - 1) * step + waveform->meteringLevelBarWidth(), 0.5);
}

// The recorder tells of the stop once it has finished the file, a main-loop turn or more after
// the screen shows the recording: a play tapped in between goes on when that finish comes, and
// only the end of the playback ends it.
TEST(PelmarAudioRecorderTest, APlayTappedBeforeTheRecorderHasFinishedGoesOn) {
    test::AudioTestApp app;
    auto events = std::make_shared<test::RecorderEventLog>();
    auto screen = openRecorder(app, events);
    ASSERT_TRUE(record(app, *screen, 2.0));
    app.tap(screen->recordContainerView);
    ASSERT_EQ(screen->currentState(), State::recorded);
    ASSERT_FALSE(app.logsConsole("Audio Recorder finished successfully"));
    app.tap(screen->recordContainerView);  // in the same turn
    ASSERT_EQ(screen->currentState(), State::playing);
    ASSERT_TRUE(app.logsConsole("Started to play sound"));
    app.settle();
    ASSERT_TRUE(app.logsConsole("Audio Recorder finished successfully"));
    auto waveform = screen->audioVisualizationView.lock();
    EXPECT_EQ(screen->currentState(), State::playing);
    EXPECT_TRUE(waveform->isAnimating());
    app.advance(1.0);
    EXPECT_EQ(screen->currentState(), State::playing);
    app.advance(1.5);
    app.settle();
    EXPECT_EQ(screen->currentState(), State::recorded);
    EXPECT_FALSE(waveform->hasAnimation());
}

TEST(PelmarAudioRecorderTest, RecorderFailuresEndInReadyWithTheirAlert) {
    struct Case {
        const char* name;
        bool microphoneAllowed;
        // Before the first tap on the main button.
        std::function<void(test::AudioTestApp&)> before;
        // While recording; null: the start itself fails.
        std::function<void(test::AudioTestApp&, PelmarAudioRecorder&)> during;
        const char* message;
    };

    const std::vector<Case> cases = {
            {"no Documents folder", true,
             [](test::AudioTestApp& app) { ASSERT_TRUE(app.breakDocuments()); }, nullptr,
             "Invalid path for audio file"},
            {"microphone refused", false, nullptr, nullptr,
             "Unable to record sound because the permission has not been granted. This can be "
             "changed in your settings."},
            // The recorder was paused behind the screen's back: the stop fails and the screen
            // stays in ready instead of showing a recording.
            {"stop refused", true, nullptr,
             [](test::AudioTestApp&, PelmarAudioRecorder& screen) {
                 AudioRecorderManager::shared()->recorder()->pause();
                 screen.onRecord();
             },
             "The application is not currently playing"},
            {"encoding fails", true,
             [](test::AudioTestApp&) {
                 av::AudioRecorder::Faults faults;
                 faults.encodeErrorAfterSeconds = 1.0;
                 av::AudioRecorder::setFaults(faults);
             },
             [](test::AudioTestApp& app, PelmarAudioRecorder&) { app.advance(1.5); },
             "Unable to record sound at the moment, please try again"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::AudioTestApp app(c.microphoneAllowed);
        auto events = std::make_shared<test::RecorderEventLog>();
        auto screen = openRecorder(app, events);
        if (c.before) {
            c.before(app);
        }
        app.tap(screen->recordContainerView);
        if (c.during) {
            ASSERT_TRUE(app.runUntil([&] { return screen->currentState() == State::recording; }));
            app.advance(0.5);
            c.during(app, *screen);
        }
        ASSERT_TRUE(app.runUntil([&] { return app.shownAlert() != nullptr; }));
        auto alert = app.shownAlert();
        EXPECT_EQ(alert->title(), "Error");
        EXPECT_EQ(alert->message(), c.message);
        ASSERT_EQ(alert->actions().size(), 1u);
        EXPECT_EQ(alert->actions()[0].title, "OK");
        EXPECT_EQ(screen->currentState(), State::ready);
        EXPECT_FALSE(screen->hasPlayTimer());
        EXPECT_FALSE(AudioRecorderManager::shared()->hasMeteringTimer());
        EXPECT_TRUE(app.tapAlertAction("OK"));
        ASSERT_TRUE(app.runUntil([&] {
            app.advance(0.1);
            return app.topViewController() == screen;
        }));
    }
}

TEST(PelmarAudioRecorderTest, UploadAndRerecordDoNothingBeforeARecordingExists) {
    test::AudioTestApp app;
    auto events = std::make_shared<test::RecorderEventLog>();
    auto screen = openRecorder(app, events);
    auto tryBoth = [&] {
        screen->onUpload();
        screen->onRerecord();
        app.settle();
    };
    tryBoth();
    EXPECT_EQ(screen->currentState(), State::ready);
    ASSERT_TRUE(record(app, *screen, 1.0));
    tryBoth();
    EXPECT_EQ(screen->currentState(), State::recording);
    app.tap(screen->resumeContainerView);
    screen->onRerecord();
    EXPECT_EQ(screen->currentState(), State::recordingPaused);
    EXPECT_THAT(events->take(), ElementsAre("started", "duration 1", "paused"));
    EXPECT_EQ(app.topViewController(), screen);
}

TEST(PelmarAudioRecorderTest, ClosingStopsARunningOrPausedRecordingAndKeepsItsFile) {
    for (bool paused : {false, true}) {
        SCOPED_TRACE(paused ? "paused" : "running");
        test::AudioTestApp app;
        auto events = std::make_shared<test::RecorderEventLog>();
        auto screen = openRecorder(app, events);
        ASSERT_TRUE(record(app, *screen, 2.0));
        if (paused) {
            app.tap(screen->resumeContainerView);
            app.advance(1.0);
        }
        screen->onClose();
        app.settle();
        // The stop's own entry into recorded comes after the cancel: the screen is going.
        const auto lines = events->take();
        EXPECT_NE(std::find(lines.begin(), lines.end(), "cancelled"), lines.end());
        EXPECT_FALSE(AudioRecorderManager::shared()->isRunning());
        auto player = av::AudioPlayer::create((app.documents() / "Recorded_Audio").string());
        EXPECT_NEAR(player->duration(), 2.0, 0.05);
        EXPECT_TRUE(app.expectFreedAfterDismiss(std::move(screen)));
    }
}

TEST(PelmarAudioRecorderTest, PausingAPlaybackThatCouldNotStartIsHarmless) {
    test::AudioTestApp app;
    auto events = std::make_shared<test::RecorderEventLog>();
    auto screen = openRecorder(app, events);
    ASSERT_TRUE(record(app, *screen, 1.0));
    app.tap(screen->recordContainerView);
    app.settle();  // the recorder's finish enters recorded once more
    ASSERT_EQ(screen->currentState(), State::recorded);
    av::AudioPlayer::Faults faults;
    faults.failCreate = true;
    av::AudioPlayer::setFaults(faults);
    app.tap(screen->recordContainerView);
    EXPECT_EQ(screen->currentState(), State::playing);
    app.advance(0.2);
    auto waveform = screen->audioVisualizationView.lock();
    EXPECT_FALSE(waveform->hasAnimation());
    app.tap(screen->recordContainerView);
    EXPECT_EQ(screen->currentState(), State::playingPaused);
    EXPECT_FALSE(waveform->hasAnimation());
}

}  // namespace
}  // namespace pelmar
