#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pelmar/core/Pelmar.h"
#include "pelmar/core/testing/RecordingUploadingDelegate.h"
#include "pelmar/platform/app/AppLifecycle.h"
#include "pelmar/platform/av/Player.h"
#include "pelmar/platform/av/testing/MovieProbe.h"
#include "pelmar/platform/av/testing/SyntheticMedia.h"
#include "pelmar/platform/dispatch/RunLoop.h"
#include "pelmar/platform/foundation/Sandbox.h"
#include "pelmar/platform/foundation/URL.h"
#include "pelmar/platform/ui/TransitionContext.h"
#include "pelmar/recorder/custom/CustomVideoRecorder.h"
#include "pelmar/recorder/testing/CustomRecorderApp.h"
#include "testing/ServiceEmulator.h"

namespace pelmar {
namespace {

using av::test::MovieProbe;
using dispatch::RunLoop;
using foundation::Sandbox;

constexpr double kFrame = 1.0 / 30;

std::vector<std::filesystem::path> filesIn(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        files.push_back(entry.path());
    }
    return files;
}

// A custom recorder whose facade uploads to the service emulator on loopback.
class CustomVideoRecorderIntegrationTest : public ::testing::Test {
protected:
    CustomVideoRecorderIntegrationTest() {
        emulator.start();
        facade = std::make_shared<Pelmar>("app-1");
        auto& config = facade->config();
        config.setServerAPIUrl(emulator.apiBase());
        config.setCdnAPIUrl(emulator.cdnApiBase());
        config.setDevServerApiUrl(emulator.devApiBase());
        config.setFileServerUrl(emulator.fileServerBase());
        facade->setUploadingDelegate(uploads);
        app.standardDevices();
        app.makeRecorder(facade);
    }

    ~CustomVideoRecorderIntegrationTest() override {
        if (auto session = app.recorder->session()) {
            session->stopRunning();
        }
        app.drainSessionQueue();
        app.settle();
        emulator.releaseHeld();
    }

    std::shared_ptr<CustomVideoRecorder>& recorder() { return app.recorder; }

    // Lets the transitions under way end on the clock.
    void finishTransitions() {
        app.advance(2 * ui::TransitionContext::kStandardDuration);
        app.settle();
    }

    // Records `seconds` with the record button and waits for the preview screen.
    void recordWithTheButtonUntilThePreview(double seconds) {
        ASSERT_TRUE(app.tap(recorder()->recordButton));
        ASSERT_TRUE(app.runUntil([&] { return recorder()->isRecording(); }));
        app.advanceCapture(seconds);
        ASSERT_TRUE(app.tap(recorder()->recordButton));
        ASSERT_TRUE(app.runUntil(
                [&] { return recorder()->presentedViewController() == recorder()->videoPreview; },
                60));
        finishTransitions();
        ASSERT_EQ(app.topViewController(), recorder()->videoPreview);
    }

    test::CustomRecorderApp app;
    test::ServiceEmulator emulator;
    std::shared_ptr<Pelmar> facade;
    std::shared_ptr<test::RecordingUploadingDelegate> uploads =
            std::make_shared<test::RecordingUploadingDelegate>();
};

TEST_F(CustomVideoRecorderIntegrationTest, AHostDrivenRecordingIsLeftToTheHostAsADocumentedMovie) {
    recorder()->isControllerEnable = false;
    app.presentAndWaitUntilReady();
    EXPECT_TRUE(recorder()->controlView.lock()->isHidden());
    app.startRecording();
    app.advanceCapture(2.0);
    recorder()->stopRecording();
    // The export into Documents is the last step; the app's background task ends with it.
    ASSERT_TRUE(app.runUntil(
            [&] {
                return filesIn(Sandbox::documentsDirectory()).size() == 1
                       && app::AppLifecycle::backgroundTaskCount() == 0;
            },
            60));
    app.settle();
    finishTransitions();

    // Nothing shown, nothing uploaded.
    EXPECT_EQ(app.topViewController(), recorder());
    EXPECT_TRUE(emulator.uploads().empty());
    const auto temporaries = filesIn(Sandbox::temporaryDirectory());
    ASSERT_EQ(temporaries.size(), 1U);
    EXPECT_EQ(recorder()->getRecordedFile(), foundation::fileURLFromPath(temporaries[0]));
    EXPECT_EQ(recorder()->getRecordedFile().rfind("file://", 0), 0U);

    const auto probe = MovieProbe::probe(temporaries[0]);
    ASSERT_TRUE(probe);
    EXPECT_EQ(probe->videoCodec, "h264");
    EXPECT_EQ(probe->width, 1080);
    EXPECT_EQ(probe->height, 1920);
    EXPECT_EQ(probe->audioCodec, "aac");
    EXPECT_EQ(probe->sampleRate, 44100);
    EXPECT_EQ(probe->channels, 2);
    // The movie starts with its first frame's presentation time.
    EXPECT_NEAR(probe->videoStart, 0, 1e-3);
    EXPECT_NEAR(probe->videoDuration, 2.0, kFrame + 1e-3);
    EXPECT_NEAR(probe->duration, 2.0, kFrame + 1e-3);
}

TEST_F(CustomVideoRecorderIntegrationTest, ThePreviewPlaysAndItsUploadClosesBothScreensInOrder) {
    app.presentAndWaitUntilReady();
    recordWithTheButtonUntilThePreview(1.0);
    auto preview = recorder()->videoPreview;
    const auto exported = preview->videoURL();
    ASSERT_TRUE(exported);
    EXPECT_EQ(exported->parent_path(), Sandbox::documentsDirectory());
    EXPECT_EQ(preview->videoRecorder(), recorder());
    ASSERT_FALSE(preview->deleteButton.lock()->isHidden());
    ASSERT_FALSE(preview->uploadButton.lock()->isHidden());

    ASSERT_NE(preview->embeddedPlayer(), nullptr);
    ASSERT_TRUE(app.tap(preview->playPauseButton));
    app.settle();
    EXPECT_TRUE(preview->isPlaying());
    EXPECT_EQ(preview->playPauseButton.lock()->image(ui::ControlState::Normal)->name(), "ic_pause");
    app.advance(0.5);
    app.settle();
    app.writeSnapshot(*preview->view(), "CustomVideoPlayer_playing.png");
    app.expectLooksRight(*preview->view(), /*pictures=*/1);

    ASSERT_TRUE(app.tap(preview->uploadButton));
    // The preview goes first; the recorder follows once it has gone.
    ASSERT_TRUE(app.runUntil([&] { return recorder()->presentedViewController() == nullptr; }));
    EXPECT_EQ(app.topViewController(), recorder());
    ASSERT_TRUE(app.runUntil([&] { return app.topViewController() == app.root(); }));
    EXPECT_EQ(preview->embeddedPlayer(), nullptr);

    ASSERT_TRUE(app.runUntil([&] { return uploads->count("uploadProcessed") == 1; }, 60));
    ASSERT_EQ(emulator.uploads().size(), 1U);
    // The copy in the temporary folder went up, named as the export; the export stays.
    const auto copy = Sandbox::temporaryDirectory() / exported->filename();
    EXPECT_EQ(uploads->events().front().path, copy.string());
    EXPECT_TRUE(std::filesystem::exists(*exported));
    const auto probe = MovieProbe::probe(emulator.uploads()[0].storedFile);
    ASSERT_TRUE(probe);
    EXPECT_EQ(probe->videoCodec, "h264");
    EXPECT_EQ(probe->audioCodec, "aac");
    EXPECT_EQ(app::AppLifecycle::backgroundTaskCount(), 0);
}

TEST_F(CustomVideoRecorderIntegrationTest, ARetakeRemovesTheRecordingAndClosesBothScreens) {
    app.presentAndWaitUntilReady();
    recordWithTheButtonUntilThePreview(0.5);
    auto preview = recorder()->videoPreview;
    const auto exported = preview->videoURL();
    ASSERT_TRUE(exported);
    const auto recording = foundation::pathFromFileURL(recorder()->getRecordedFile());
    ASSERT_TRUE(recording);
    EXPECT_TRUE(std::filesystem::exists(*recording));

    ASSERT_TRUE(app.tap(preview->deleteButton));
    ASSERT_TRUE(app.runUntil([&] { return app.topViewController() == app.root(); }));
    app.settle();
    EXPECT_FALSE(std::filesystem::exists(*exported));
    EXPECT_FALSE(std::filesystem::exists(*recording));
    EXPECT_TRUE(emulator.uploads().empty());
    EXPECT_EQ(app::AppLifecycle::backgroundTaskCount(), 0);
}

TEST_F(CustomVideoRecorderIntegrationTest, WithoutAPreviewTheExportIsUploadedAtOnce) {
    app.devices().setManualFeed(true);
    for (bool cleared : {false, true}) {
        SCOPED_TRACE(cleared ? "preview cleared by the host" : "preview switched off");
        if (cleared) {
            app.makeRecorder(facade)->videoPreview = nullptr;
        } else {
            recorder()->recordedVideoPreviewEnabled = false;
        }
        app.presentAndWaitUntilReady();
        finishTransitions();
        app.startRecording();
        for (int i = 0; i <= 15; ++i) {
            app.feedFrame(i, i / 30.0);
            app.feedAudio(av::test::SyntheticMedia::tone(i * 1470, 1470, 44100, 1));
        }
        recorder()->stopRecording();
        ASSERT_TRUE(app.runUntil([&] { return app.topViewController() == app.root(); }, 60));
        const size_t expected = cleared ? 2 : 1;
        ASSERT_TRUE(
                app.runUntil([&] { return uploads->count("uploadProcessed") == expected; }, 60));
        EXPECT_EQ(emulator.uploads().size(), expected);
        app.settle();
    }
}

TEST_F(CustomVideoRecorderIntegrationTest, ALandscapeRecordingStaysLandscapeThroughARotation) {
    app.window()->rotate(ui::InterfaceOrientation::LandscapeRight);
    recorder()->isControllerEnable = false;
    app.presentAndWaitUntilReady();
    EXPECT_EQ(recorder()->videoWidth(), 1920);
    app.startRecording();
    app.advanceCapture(0.5);
    app.window()->rotate(ui::InterfaceOrientation::Portrait);
    app.drainSessionQueue();
    app.advanceCapture(0.5);
    EXPECT_EQ(recorder()->videoWidth(), 1080);
    recorder()->stopRecording();
    ASSERT_TRUE(app.runUntil([&] { return !recorder()->getRecordedFile().empty(); }, 60));
    ASSERT_TRUE(app.runUntil([&] { return app::AppLifecycle::backgroundTaskCount() == 0; }, 60));
    const auto probe =
            MovieProbe::probe(*foundation::pathFromFileURL(recorder()->getRecordedFile()));
    ASSERT_TRUE(probe);
    EXPECT_EQ(probe->width, 1920);
    EXPECT_EQ(probe->height, 1080);
}

TEST_F(CustomVideoRecorderIntegrationTest, SoundBeforeARecordingsFirstFrameIsNotWritten) {
    recorder()->isControllerEnable = false;
    app.devices().setManualFeed(true);
    app.presentAndWaitUntilReady();
    // Two recordings: the second one's sound must also wait for its own first frame.
    for (int recording = 0; recording < 2; ++recording) {
        SCOPED_TRACE(recording);
        const double start = 10.0 * recording;
        app.startRecording();
        for (int i = 0; i < 15; ++i) {  // half a second of sound with no picture
            app.feedAudio(av::test::SyntheticMedia::tone(
                    static_cast<int64_t>(start * 44100) + i * 1470, 1470, 44100, 1));
        }
        for (int i = 0; i <= 30; ++i) {
            const double t = start + 0.5 + i / 30.0;
            app.feedFrame(i, t);
            app.feedAudio(av::test::SyntheticMedia::tone(static_cast<int64_t>(t * 44100), 1470,
                                                         44100, 1));
        }
        const auto before = recorder()->getRecordedFile();
        recorder()->stopRecording();
        ASSERT_TRUE(app.runUntil([&] { return recorder()->getRecordedFile() != before; }, 60));
        ASSERT_TRUE(
                app.runUntil([&] { return app::AppLifecycle::backgroundTaskCount() == 0; }, 60));
        app.settle();
        const auto probe =
                MovieProbe::probe(*foundation::pathFromFileURL(recorder()->getRecordedFile()));
        ASSERT_TRUE(probe);
        EXPECT_NEAR(probe->videoDuration, 1.0, kFrame + 1e-3);
        EXPECT_GE(probe->audioStart, probe->videoStart - 1e-3);
        EXPECT_LT(probe->audioDuration, probe->videoDuration + 0.1);
    }
}

TEST_F(CustomVideoRecorderIntegrationTest, SnapshotOfTheRecorderWhileRecording) {
    app.presentAndWaitUntilReady();
    finishTransitions();
    ASSERT_TRUE(app.tap(recorder()->recordButton));
    ASSERT_TRUE(app.runUntil([&] { return recorder()->isRecording(); }));
    app.advanceCapture(1.0);
    app.settle();
    EXPECT_TRUE(recorder()->recordButton.lock()->isSelected());
    EXPECT_EQ(recorder()->recordButton.lock()->currentImage()->name(), "ic_stop");
    EXPECT_TRUE(app.writeSnapshot(*recorder()->view(), "CustomVideoRecorder_recording.png"));
    app.expectLooksRight(*recorder()->view(), /*pictures=*/1);
    recorder()->stopRecording();
    ASSERT_TRUE(app.runUntil([&] { return !recorder()->getRecordedFile().empty(); }, 60));
    ASSERT_TRUE(app.runUntil([&] { return app::AppLifecycle::backgroundTaskCount() == 0; }, 60));
    app.settle();
}

}  // namespace
}  // namespace pelmar
