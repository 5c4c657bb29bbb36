#include "pelmar/platform/av/CaptureSession.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <vector>

#include "pelmar/platform/av/CaptureAudioDataOutput.h"
#include "pelmar/platform/av/CaptureEnvironment.h"
#include "pelmar/platform/av/CaptureMetadataOutput.h"
#include "pelmar/platform/av/CaptureMovieFileOutput.h"
#include "pelmar/platform/av/CaptureVideoDataOutput.h"
#include "pelmar/platform/av/CaptureVideoPreviewLayer.h"
#include "pelmar/platform/dispatch/RunLoop.h"
#include "pelmar/platform/dispatch/testing/MainLoopFixture.h"
#include "pelmar/platform/sync/Mutex.h"

namespace pelmar::av {
namespace {

using dispatch::RunLoop;

// Keeps every sample it is handed, by kind.
class Collector : public CaptureDataOutputSampleBufferDelegate,
                  public MetadataOutputObjectsDelegate {
public:
    void captureOutput(const std::shared_ptr<CaptureDataOutput>& output,
                       const std::shared_ptr<const media::SampleBuffer>& sample,
                       const std::shared_ptr<CaptureConnection>&) override {
        pelmar::MutexLock lock(mutex);
        (output->kind() == CaptureOutputKind::VideoData ? video : audio).push_back(sample);
    }

    void metadataOutput(const std::shared_ptr<CaptureMetadataOutput>&,
                        const std::vector<MetadataFaceObject>& found,
                        const std::shared_ptr<CaptureConnection>&) override {
        pelmar::MutexLock lock(mutex);
        faces += static_cast<int>(found.size());
    }

    size_t count(bool ofVideo) {
        pelmar::MutexLock lock(mutex);
        return ofVideo ? video.size() : audio.size();
    }

    pelmar::Mutex mutex;
    std::vector<std::shared_ptr<const media::SampleBuffer>> video PELMAR_GUARDED_BY(mutex);
    std::vector<std::shared_ptr<const media::SampleBuffer>> audio PELMAR_GUARDED_BY(mutex);
    int faces PELMAR_GUARDED_BY(mutex) = 0;
};

class CaptureSessionTest : public dispatch::test::MainLoopFixture {
protected:
    void SetUp() override {
        MainLoopFixture::SetUp();
        CaptureEnvironment::shared().reset();
        CaptureEnvironment::shared().addBackCamera().addFrontCamera().addMicrophone();
        session_ = CaptureSession::create();
        session_->setSessionPreset(SessionPreset::Medium);
    }

    void TearDown() override {
        session_->stopRunning();
        session_.reset();
        CaptureEnvironment::shared().reset();
        MainLoopFixture::TearDown();
    }

    // Camera and microphone in; video, audio and face outputs delivering to `collector_`.
    void wire() {
        ASSERT_TRUE(session_->addInput(
                CaptureDeviceInput::create(CaptureDevice::defaultDevice(MediaType::Video))));
        ASSERT_TRUE(session_->addInput(
                CaptureDeviceInput::create(CaptureDevice::defaultDevice(MediaType::Audio))));
        video_ = CaptureVideoDataOutput::create();
        audio_ = CaptureAudioDataOutput::create();
        faces_ = CaptureMetadataOutput::create();
        ASSERT_TRUE(session_->addOutput(video_));
        ASSERT_TRUE(session_->addOutput(audio_));
        ASSERT_TRUE(session_->addOutput(faces_));
        video_->setSampleBufferDelegate(collector_, queue_);
        audio_->setSampleBufferDelegate(collector_, queue_);
        faces_->setMetadataObjectsDelegate(collector_, dispatch::Queue::main());
        faces_->setMetadataObjectTypes({CaptureMetadataOutput::kFace});
    }

    std::shared_ptr<CaptureSession> session_;
    std::shared_ptr<Collector> collector_ = std::make_shared<Collector>();
    std::shared_ptr<dispatch::Queue> queue_ = dispatch::Queue::serial("session queue");
    std::shared_ptr<CaptureVideoDataOutput> video_;
    std::shared_ptr<CaptureAudioDataOutput> audio_;
    std::shared_ptr<CaptureMetadataOutput> faces_;
};

TEST_F(CaptureSessionTest, RunningDevicesFollowTheClockWithExactTimes) {
    wire();
    video_->connection(MediaType::Video)->setVideoOrientation(VideoOrientation::Portrait);
    CaptureEnvironment::shared().setBrightness(-0.75).setFaces({{7, 0.4, 0.3, 0.2, 0.2}});
    session_->startRunning();
    RunLoop::advance(1.0);
    session_->pumpDevices();  // in case a deadline was set while the clock was moving
    // Frames at 0, 1/30, ... 30/30 s; 43 whole 1024-frame buffers fit into 44100 samples.
    ASSERT_TRUE(RunLoop::runUntil(
            [&] { return collector_->count(true) == 31 && collector_->count(false) == 43; }));
    RunLoop::runUntilIdle();

    pelmar::MutexLock lock(collector_->mutex);
    for (size_t i = 0; i < collector_->video.size(); ++i) {
        const auto& frame = collector_->video[i];
        ASSERT_NE(frame->imageBuffer(), nullptr);
        EXPECT_EQ(frame->imageBuffer()->width(), 360);
        EXPECT_EQ(frame->imageBuffer()->height(), 480);
        EXPECT_EQ(frame->imageBuffer()->format(), media::PixelFormat::BGRA32);
        EXPECT_EQ(frame->presentationTimeStamp(),
                  media::Time::makeWithSeconds(static_cast<double>(i) / 30, 1'000'000'000));
        EXPECT_EQ(frame->attachments()["{Exif}"]["BrightnessValue"], -0.75);
    }
    for (size_t i = 0; i < collector_->audio.size(); ++i) {
        const auto& buffer = collector_->audio[i];
        EXPECT_EQ(buffer->presentationTimeStamp(),
                  media::Time::make(static_cast<int64_t>(i) * 1024, 44100));
        EXPECT_EQ(buffer->numSamples(), 1024);
        EXPECT_EQ(buffer->formatDescription()->audioStreamBasicDescription(),
                  media::AudioStreamBasicDescription::pcm16(44100, 1));
    }
    EXPECT_EQ(collector_->faces, 31);
}

TEST_F(CaptureSessionTest, NothingIsMadeInManualFeedModeWhileTestsFeedTheOutputs) {
    CaptureEnvironment::shared().setManualFeed(true);
    wire();
    session_->startRunning();
    EXPECT_TRUE(session_->isRunning());
    RunLoop::advance(1.0);
    auto pixels = media::PixelBuffer::create(8, 8, media::PixelFormat::BGRA32);
    EXPECT_TRUE(video_->deliver(media::SampleBuffer::createForImageBuffer(
            pixels, {media::Time::make(1, 30), media::Time::make(5, 1), media::Time()})));
    ASSERT_TRUE(RunLoop::runUntil([&] { return collector_->count(true) == 1; }));
    queue_->sync([] {});
    EXPECT_EQ(collector_->count(false), 0U);
}

TEST_F(CaptureSessionTest, RunningObserversAndSessionNotificationsReachObservers) {
    wire();
    std::vector<bool> running;
    const auto id = session_->addRunningObserver([&](bool r) { running.push_back(r); });
    std::vector<std::string> events;
    auto onError = session_->notificationCenter().addObserver(
            std::string(CaptureSession::kRuntimeErrorNotification), [&](const Json& info) {
                events.push_back("error " + std::to_string(info["error"]["code"].get<long>()));
            });
    auto onInterrupt = session_->notificationCenter().addObserver(
            std::string(CaptureSession::kWasInterruptedNotification), [&](const Json& info) {
                events.push_back("interrupted " + std::to_string(info["reason"].get<int>()));
            });
    auto onEnd = session_->notificationCenter().addObserver(
            std::string(CaptureSession::kInterruptionEndedNotification),
            [&] { events.push_back("ended"); });

    session_->startRunning();
    session_->startRunning();  // already running: no second report
    session_->simulateInterruption(
            CaptureSession::InterruptionReason::VideoDeviceNotAvailableWithMultipleForegroundApps);
    EXPECT_TRUE(session_->isInterrupted());
    session_->simulateInterruptionEnded();
    session_->simulateRuntimeError(kCaptureErrorMediaServicesWereReset, "reset");
    EXPECT_FALSE(session_->isRunning());
    session_->removeRunningObserver(id);
    session_->startRunning();

    EXPECT_EQ(running, (std::vector<bool>{true, false}));
    EXPECT_EQ(events, (std::vector<std::string>{"interrupted 4", "ended", "error -11819"}));
}

TEST_F(CaptureSessionTest, RefusesSecondInputsOutputsOfAKindAndInjectedRefusals) {
    auto& env = CaptureEnvironment::shared();
    auto back = CaptureDeviceInput::create(CaptureDevice::devices(MediaType::Video)[0]);
    auto front = CaptureDeviceInput::create(CaptureDevice::devices(MediaType::Video)[1]);
    auto mic = CaptureDeviceInput::create(CaptureDevice::defaultDevice(MediaType::Audio));
    EXPECT_TRUE(session_->addInput(back));
    EXPECT_FALSE(session_->canAddInput(front));
    session_->removeInput(back);
    EXPECT_TRUE(session_->canAddInput(front));
    env.refuseInput(MediaType::Audio);
    EXPECT_FALSE(session_->addInput(mic));

    env.refuseOutput(CaptureOutputKind::MovieFile);
    EXPECT_FALSE(session_->canAddOutput(CaptureMovieFileOutput::create()));
    auto video = CaptureVideoDataOutput::create();
    EXPECT_EQ(video->connection(MediaType::Video), nullptr);
    EXPECT_TRUE(session_->addOutput(video));
    EXPECT_NE(video->connection(MediaType::Video), nullptr);
    EXPECT_EQ(video->connection(MediaType::Audio), nullptr);
    EXPECT_FALSE(session_->canAddOutput(CaptureVideoDataOutput::create()));
    EXPECT_FALSE(CaptureSession::create()->canAddOutput(video));  // already in a session

    session_->beginConfiguration();
    session_->beginConfiguration();
    session_->commitConfiguration();
    EXPECT_EQ(session_->configurationDepth(), 1);
    session_->commitConfiguration();
    session_->commitConfiguration();
    EXPECT_EQ(session_->configurationDepth(), 0);

    env.failStartRunning();
    session_->startRunning();
    EXPECT_FALSE(session_->isRunning());
}

TEST_F(CaptureSessionTest, ThePreviewLayerHasAConnectionOnlyWithACamera) {
    auto layer = std::make_shared<CaptureVideoPreviewLayer>();
    EXPECT_EQ(layer->session(), nullptr);
    EXPECT_EQ(layer->connection(), nullptr);
    layer->setSession(session_);
    EXPECT_EQ(layer->session(), session_);
    EXPECT_EQ(layer->connection(), nullptr);
    session_->addInput(CaptureDeviceInput::create(CaptureDevice::defaultDevice(MediaType::Video)));
    ASSERT_NE(layer->connection(), nullptr);
    EXPECT_EQ(layer->connection()->videoOrientation(), VideoOrientation::Portrait);
}

TEST_F(CaptureSessionTest, TheMicrophoneHearsTheScriptedSignal) {
    CaptureEnvironment::shared().setMicrophoneSignal(MicrophoneSignal::square(441, 0.5));
    wire();
    session_->startRunning();
    RunLoop::advance(0.1);
    session_->pumpDevices();
    ASSERT_TRUE(RunLoop::runUntil([&] { return collector_->count(false) >= 2; }));
    CaptureEnvironment::shared().setMicrophoneSignal(MicrophoneSignal::silence());
    RunLoop::advance(0.1);
    session_->pumpDevices();
    ASSERT_TRUE(RunLoop::runUntil([&] { return collector_->count(false) >= 6; }));
    RunLoop::runUntilIdle();

    pelmar::MutexLock lock(collector_->mutex);
    // 441 Hz at 44.1 kHz: 50 samples at +half scale, then 50 at -half scale.
    const auto first = collector_->audio.front()->data();
    const auto* samples = reinterpret_cast<const int16_t*>(first.data());
    EXPECT_EQ(samples[0], 16384);
    EXPECT_EQ(samples[49], 16384);
    EXPECT_EQ(samples[50], -16384);
    const auto last = collector_->audio.back()->data();
    const auto* quiet = reinterpret_cast<const int16_t*>(last.data());
    EXPECT_EQ(quiet[0], 0);
    EXPECT_EQ(quiet[1023], 0);
}

}  // namespace
}  // namespace pelmar::av
