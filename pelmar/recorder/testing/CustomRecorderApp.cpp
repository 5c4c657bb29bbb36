#include "pelmar/recorder/testing/CustomRecorderApp.h"

#include "pelmar/platform/av/testing/SyntheticMedia.h"
#include "pelmar/recorder/testing/CaptureAppSteps.h"

namespace pelmar::test {

using dispatch::RunLoop;

CustomRecorderApp::~CustomRecorderApp() {
    if (recorder) {
        stopRecorderSession(*this, *recorder);
    }
}

void CustomRecorderApp::standardDevices() {
    addStandardCaptureDevices(*this);
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
    presentRecorder(*this, recorder);
}

void CustomRecorderApp::presentAndWaitUntilReady() {
    present();
    ASSERT_TRUE(runUntil([&] {
        auto record = recorder->recordButton.lock();
        return recorder->isSessionRunning() && record && record->isEnabled();
    }));
}

void CustomRecorderApp::drainSessionQueue() {
    drainRecorderSessionQueue(*this, *recorder);
}

void CustomRecorderApp::startRecording() {
    recorder->startRecording();
    ASSERT_TRUE(runUntil([&] { return recorder->isRecording(); }, 30));
    drainSessionQueue();
    RunLoop::runUntilIdle();
}

std::shared_ptr<av::CaptureVideoDataOutput> CustomRecorderApp::videoOutput() const {
    return captureOutputOf<av::CaptureVideoDataOutput>(*recorder->session());
}

std::shared_ptr<av::CaptureAudioDataOutput> CustomRecorderApp::audioOutput() const {
    return captureOutputOf<av::CaptureAudioDataOutput>(*recorder->session());
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
    advanceRecorderCapture(*this, *recorder, seconds, nullptr, nullptr);
}

}  // namespace pelmar::test
