#include "pelmar/recorder/testing/CustomRecorderApp.h"

#include <atomic>
#include <cmath>

#include "pelmar/platform/av/AssetWriter.h"
#include "pelmar/platform/av/testing/SyntheticMedia.h"

namespace pelmar::test {

using dispatch::RunLoop;

CustomRecorderApp::~CustomRecorderApp() {
    if (recorder) {
        if (auto session = recorder->session()) {
            session->stopRunning();
        }
        drainSessionQueue();
        settle();
    }
}

void CustomRecorderApp::standardDevices() {
    devices().addBackCamera().addFrontCamera().addMicrophone();
    permissions().grant(av::MediaType::Video).grant(av::MediaType::Audio);
}

std::shared_ptr<CustomVideoRecorder> CustomRecorderApp::makeRecorder(
        std::shared_ptr<Pelmar> facade) {
    recorder = CustomVideoRecorder::create(facade ? std::move(facade) : sdk());
    recorder->setModalPresentationStyle(ui::ModalPresentationStyle::FullScreen);
    return recorder;
}

void CustomRecorderApp::present() {
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

void CustomRecorderApp::presentAndWaitUntilReady() {
    present();
    ASSERT_TRUE(runUntil([&] {
        auto record = recorder->recordButton.lock();
        return recorder->isSessionRunning() && record && record->isEnabled();
    }));
}

void CustomRecorderApp::drainSessionQueue() {
    // Twice: samples are handled one turn after their delivery.
    for (int i = 0; i < 2; ++i) {
        auto done = std::make_shared<std::atomic<bool>>(false);
        recorder->sessionQueue()->async([done] { done->store(true); });
        ASSERT_TRUE(runUntil([&] { return done->load(); }, 30));
    }
}

void CustomRecorderApp::startRecording() {
    recorder->startRecording();
    ASSERT_TRUE(runUntil([&] { return recorder->isRecording(); }, 30));
    drainSessionQueue();
    RunLoop::runUntilIdle();
}

std::shared_ptr<av::CaptureVideoDataOutput> CustomRecorderApp::videoOutput() const {
    for (const auto& output : recorder->session()->outputs()) {
        if (auto video = std::dynamic_pointer_cast<av::CaptureVideoDataOutput>(output)) {
            return video;
        }
    }
    return nullptr;
}

std::shared_ptr<av::CaptureAudioDataOutput> CustomRecorderApp::audioOutput() const {
    for (const auto& output : recorder->session()->outputs()) {
        if (auto audio = std::dynamic_pointer_cast<av::CaptureAudioDataOutput>(output)) {
            return audio;
        }
    }
    return nullptr;
}

void CustomRecorderApp::feedFrame(int index, double seconds) {
    ASSERT_TRUE(videoOutput()->deliver(av::test::SyntheticMedia::frame(360, 480, index, seconds)));
    drainSessionQueue();
}

void CustomRecorderApp::feedAudio(const std::shared_ptr<media::SampleBuffer>& sound) {
    ASSERT_TRUE(audioOutput()->deliver(sound));
    drainSessionQueue();
}

void CustomRecorderApp::advanceCapture(double seconds) {
    constexpr double kStep = 1.0 / 30;
    const double fps = devices().frameRate();
    const double rate = devices().microphoneSampleRate();
    const int steps = static_cast<int>(std::llround(seconds / kStep));
    for (int i = 0; i < steps; ++i) {
        advance(kStep);
        const double now = clock().now();  // the devices started with the clock at 0
        recorder->session()->pumpDevices();
        // Camera frame k is made at k / fps; microphone buffers once their 1024 frames are in.
        const auto frames = static_cast<int64_t>(std::floor(now * fps + 1e-6)) + 1;
        const auto buffers = static_cast<int64_t>(std::floor(now * rate / 1024 + 1e-6));
        ASSERT_TRUE(runUntil(
                [&] {
                    return recorder->handledVideoSamples() >= frames
                           && recorder->handledAudioSamples() >= buffers
                           && av::AssetWriter::pendingWorkInAllWriters() == 0;
                },
                30))
                << "at " << now << " s: " << recorder->handledVideoSamples() << " of " << frames
                << " frames, " << recorder->handledAudioSamples() << " of " << buffers
                << " sound buffers handled";
    }
    drainSessionQueue();
    RunLoop::runUntilIdle();
}

}  // namespace pelmar::test
