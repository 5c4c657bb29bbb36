#include "pelmar/recorder/testing/RecorderApp.h"

#include "pelmar/platform/av/CaptureMetadataOutput.h"
#include "pelmar/platform/av/testing/SyntheticMedia.h"
#include "pelmar/recorder/testing/CaptureAppSteps.h"

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
        stopRecorderSession(*this, *recorder);
    }
}

void RecorderApp::readyWithManualFeed() {
    standardDevices();
    devices().setManualFeed(true);
    presentAndWaitUntilReady();
}

std::shared_ptr<av::CaptureVideoDataOutput> RecorderApp::videoOutput() const {
    return captureOutputOf<av::CaptureVideoDataOutput>(*recorder->session());
}

std::shared_ptr<av::CaptureAudioDataOutput> RecorderApp::audioOutput() const {
    return captureOutputOf<av::CaptureAudioDataOutput>(*recorder->session());
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
    addStandardCaptureDevices(*this);
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
    presentRecorder(*this, recorder);
}

void RecorderApp::drainSessionQueue() {
    drainRecorderSessionQueue(*this, *recorder);
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
    advanceRecorderCapture(*this, *recorder, seconds, settled,
                           [this](double now) { captured_ = now; });
}

}  // namespace pelmar::test
