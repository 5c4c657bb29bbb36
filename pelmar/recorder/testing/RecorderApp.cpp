#include "pelmar/recorder/testing/RecorderApp.h"

#include <atomic>
#include <cmath>

#include "pelmar/platform/av/AssetWriter.h"
#include "pelmar/platform/av/CaptureMetadataOutput.h"
#include "pelmar/platform/av/testing/SyntheticMedia.h"

namespace pelmar::test {

using dispatch::RunLoop;

bool RecorderEvents::has(const std::string& event) const {
    pelmar::MutexLock lock(mutex_);
    for (const auto& e : events_) {
        if (e == event) {
            return true;
        }
    }
    return false;
}

RecorderApp::RecorderApp() {
    sdk()->setRecorderDelegate(events);
    sdk()->setSensorDelegate(events);
}

RecorderApp::~RecorderApp() {
    if (recorder) {
        // The session runs on its own queue: stopped and drained before the screen goes.
        if (auto session = recorder->session()) {
            session->stopRunning();
        }
        drainSessionQueue();
        settle();
    }
}

void RecorderApp::readyWithManualFeed() {
    standardDevices();
    devices().setManualFeed(true);
    presentAndWaitUntilReady();
}

std::shared_ptr<av::CaptureVideoDataOutput> RecorderApp::videoOutput() const {
    for (const auto& output : recorder->session()->outputs()) {
        if (auto video = std::dynamic_pointer_cast<av::CaptureVideoDataOutput>(output)) {
            return video;
        }
    }
    return nullptr;
}

std::shared_ptr<av::CaptureAudioDataOutput> RecorderApp::audioOutput() const {
    for (const auto& output : recorder->session()->outputs()) {
        if (auto audio = std::dynamic_pointer_cast<av::CaptureAudioDataOutput>(output)) {
            return audio;
        }
    }
    return nullptr;
}

void RecorderApp::feedFrame(int index, double seconds, bool brightness) {
    auto frame = av::test::SyntheticMedia::frame(360, 480, index, seconds);
    if (brightness) {
        frame->attachments()["{Exif}"]["BrightnessValue"] = 1.25;
    }
    ASSERT_TRUE(videoOutput()->deliver(frame));
    drainSessionQueue();
}

void RecorderApp::feedAudio(const std::shared_ptr<media::SampleBuffer>& sound) {
    ASSERT_TRUE(audioOutput()->deliver(sound));
    drainSessionQueue();
}

void RecorderApp::deliverFaces(const std::vector<av::MetadataFaceObject>& faces) {
    for (const auto& output : recorder->session()->outputs()) {
        if (auto metadata = std::dynamic_pointer_cast<av::CaptureMetadataOutput>(output)) {
            ASSERT_TRUE(metadata->deliver(faces));
        }
    }
}

void RecorderApp::standardDevices() {
    devices().addBackCamera().addFrontCamera().addMicrophone();
    permissions().grant(av::MediaType::Video).grant(av::MediaType::Audio);
}

std::shared_ptr<PelmarRecorder> RecorderApp::makeRecorder(std::shared_ptr<Pelmar> facade) {
    recorder = PelmarRecorder::create(facade ? std::move(facade) : sdk());
    recorder->setModalPresentationStyle(ui::ModalPresentationStyle::FullScreen);
    return recorder;
}

void RecorderApp::present() {
    if (!recorder) {
        makeRecorder();
    }
    root()->present(recorder, true);
    RunLoop::runUntilIdle();
    if (!recorder->sessionQueue()->isSuspended()) {
        drainSessionQueue();
    }
    RunLoop::runUntilIdle();
}

void RecorderApp::drainSessionQueue() {
    // Twice: samples are handled one turn after their delivery.
    for (int i = 0; i < 2; ++i) {
        auto done = std::make_shared<std::atomic<bool>>(false);
        recorder->sessionQueue()->async([done] { done->store(true); });
        ASSERT_TRUE(runUntil([&] { return done->load(); }, 30));
    }
}

void RecorderApp::presentAndWaitUntilReady() {
    present();
    ASSERT_TRUE(runUntil([&] {
        auto record = recorder->recordButton.lock();
        return record && record->isEnabled();
    }));
}

void RecorderApp::startRecording() {
    ASSERT_TRUE(tap(recorder->recordButton));
    ASSERT_TRUE(runUntil([&] { return recorder->isRecording(); }, 30));
    drainSessionQueue();
    RunLoop::runUntilIdle();
    // A recording under way shows the record button selected, as a stop button.
    EXPECT_TRUE(recorder->recordButton.lock()->isSelected());
}

void RecorderApp::stopRecordingAndWait() {
    ASSERT_TRUE(tap(recorder->recordButton));
    ASSERT_TRUE(runUntil([&] { return events->has("stopped"); }, 60));
    RunLoop::runUntilIdle();
    EXPECT_FALSE(recorder->recordButton.lock()->isSelected());
}

void RecorderApp::advanceCapture(double seconds) {
    constexpr double kStep = 1.0 / 30;
    const double fps = devices().frameRate();
    const double rate = devices().microphoneSampleRate();
    const int steps = static_cast<int>(std::llround(seconds / kStep));
    for (int i = 0; i < steps; ++i) {
        advance(kStep);
        captured_ = clock().now();  // the devices started with the clock at 0
        recorder->session()->pumpDevices();
        // Camera frame k is made at k / fps; microphone buffers once their 1024 frames are in.
        const auto frames = static_cast<int64_t>(std::floor(captured_ * fps + 1e-6)) + 1;
        const auto buffers = static_cast<int64_t>(std::floor(captured_ * rate / 1024 + 1e-6));
        ASSERT_TRUE(runUntil(
                [&] {
                    // Encoding takes no clock time: the writers finish before it moves.
                    return recorder->handledVideoSamples() >= frames
                           && recorder->handledAudioSamples() >= buffers
                           && av::AssetWriter::pendingWorkInAllWriters() == 0
                           && (!settled || settled());
                },
                30))
                << "at " << captured_ << " s: " << recorder->handledVideoSamples() << " of "
                << frames << " frames and " << recorder->handledAudioSamples() << " of " << buffers
                << " sound buffers handled, " << av::AssetWriter::pendingWorkInAllWriters()
                << " pieces of writer work pending";
    }
    drainSessionQueue();
    RunLoop::runUntilIdle();
}

}  // namespace pelmar::test
