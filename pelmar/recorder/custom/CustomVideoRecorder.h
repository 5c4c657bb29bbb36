#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "pelmar/platform/app/AppLifecycle.h"
#include "pelmar/platform/av/AssetExportSession.h"
#include "pelmar/platform/av/CaptureAudioDataOutput.h"
#include "pelmar/platform/av/CaptureDeviceInput.h"
#include "pelmar/platform/av/CaptureSession.h"
#include "pelmar/platform/av/CaptureVideoDataOutput.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/dispatch/Timer.h"
#include "pelmar/platform/foundation/Json.h"
#include "pelmar/platform/foundation/NotificationCenter.h"
#include "pelmar/platform/media/SampleBuffer.h"
#include "pelmar/platform/media/Time.h"
#include "pelmar/platform/sync/Mutex.h"
#include "pelmar/platform/ui/Button.h"
#include "pelmar/platform/ui/Image.h"
#include "pelmar/platform/ui/Label.h"
#include "pelmar/platform/ui/ViewController.h"
#include "pelmar/recorder/CapturePreviewView.h"
#include "pelmar/recorder/PelmarRecorder.h"
#include "pelmar/recorder/VideoPreviewDelegate.h"
#include "pelmar/recorder/custom/CustomVideoPlayer.h"

namespace pelmar {

class Pelmar;

namespace recorder::internal {
class CaptureSessionObservers;
class RecorderPipeline;
class RecordingCleanup;
class RecordingCleanupSlot;
}  // namespace recorder::internal

// CustomVideoRecorder: the camera screen a host app embeds and drives itself (interface file
// "CustomVideoRecorder"). It asks for camera and microphone access, runs a capture session on its
// serial "session queue" and records camera and microphone into a temporary MPEG-4 file (H.264
// 1080 x 1920, or 1920 x 1080 when the preview is landscape as the recording starts; AAC 44.1 kHz
// stereo) through the camera recorder's pipeline, set to start the movie at its first frame's
// presentation time, with no pause, blur or meters. The host starts and stops recordings with
// startRecording() / stopRecording() (or lets the screen's own controls do it) and finds the file
// with getRecordedFile(). A finished recording is exported into Documents and then shown in
// videoPreview (when isControllerEnable and recordedVideoPreviewEnabled), left to the host (when
// isControllerEnable is false), or uploaded through the facade at once (no preview).
// Ownership: made with create(); the presenter holds it while shown. Holds the facade, its
// session, writer and preview screen; outlets are weak; every callback it registers (outputs,
// timers, notifications, writer and export completions) holds it weakly.
// Threads: main thread for the settings, outlets, actions and the host calls (start and stop
// hop to the session queue). Session work and every sample run on sessionQueue(). duration(),
// setupResult(), isSessionRunning(), isRecording() and getRecordedFile() may be read anywhere.
// Errors: set-up failures end in setupResult() values and alerts ("recorder" / the permission
// messages / "Unable to capture media"). A writer that cannot be made, or a recording stopped
// before its first frame, leaves no recording and brings the controls back; a movie that could
// not be finished is not exported (getRecordedFile() still names it). Host calls that make no
// sense in the current state (stop with no recording, start while recording, a camera switch
// before the camera is set up) do nothing.
class CustomVideoRecorder : public ui::ViewController,
                            public av::CaptureDataOutputSampleBufferDelegate,
                            public VideoPreviewDelegate {
public:
    // The recorder, its interface file loaded and its preview screen made.
    static std::shared_ptr<CustomVideoRecorder> create(std::shared_ptr<Pelmar> pelmar);

    // The SDK's picture resource `name` (a named image without pixels when it does not ship).
    static std::shared_ptr<const ui::Image> getImageFromResource(const std::string& name);

    ~CustomVideoRecorder() override;

    // Settings, set on the main thread before presenting.
    bool recordedVideoPreviewEnabled = true;
    CameraDevice cameraDevice = CameraDevice::rear;
    // The preview screen (made by create(), with isRecordingPreview on and this recorder as its
    // delegate). With none, a finished recording is uploaded at once.
    std::shared_ptr<CustomVideoPlayer> videoPreview;
    // Kept for the host app; the recorder never reads it.
    std::optional<Json> extraArgsForCreateVideo;
    // The screen's own controls are used; false hides them (on every appearance) and leaves a
    // finished recording to the host.
    bool isControllerEnable = true;

    // Duration limit in seconds; 0 or less means none. Any thread.
    double maxRecordedDurationSeconds() const { return maxRecordedDurationSeconds_.load(); }

    void setMaxRecordedDurationSeconds(double seconds) {
        maxRecordedDurationSeconds_.store(seconds);
    }

    // Outlets, bound by the interface file.
    std::weak_ptr<ui::View> controlView;
    std::weak_ptr<CapturePreviewView> previewView;
    std::weak_ptr<ui::Label> recordingDurationLabel;
    std::weak_ptr<ui::Button> recordButton;
    std::weak_ptr<ui::Button> cameraButton;
    std::weak_ptr<ui::Button> closeButton;

    const std::shared_ptr<Pelmar>& pelmar() const { return pelmar_; }

    // State (any thread).
    AVCamSetupResult setupResult() const { return setupResult_.load(); }

    bool isSessionRunning() const { return sessionRunning_.load(); }

    // A writer exists: a recording is under way (started or waiting for its first frame).
    bool isRecording() const { return recording_.load(); }

    // Seconds from the first frame of the last recording to the last camera frame.
    double duration() const;

    // Presentation time of the last camera frame handled; none before the first. Session queue.
    std::optional<media::Time> currentCMTime() const;

    // Video and audio samples handled (dropped ones included), for diagnostics.
    int64_t handledVideoSamples() const;

    int64_t handledAudioSamples() const;

    const std::shared_ptr<dispatch::Queue>& sessionQueue() const { return sessionQueue_; }

    std::shared_ptr<av::CaptureSession> session() const;

    // Width and height of a recording started now: 1920 x 1080 when the preview is landscape,
    // else 1080 x 1920 (also without a preview connection). Main thread.
    int videoWidth();

    int videoHeight();

    // Actions (main thread), as the controls send them.
    void onCloseButtonTap();

    void changeCamera();

    // Starts a recording when the record button shows none (not selected), else stops it; a stop
    // that finds the recording already ended (the duration limit) starts nothing.
    void toggleMovieRecording();

    // Host calls (main thread; the work runs on the session queue).
    void startRecording();

    void stopRecording();

    // The "file://" URL of the last recording's file, or "" before any.
    std::string getRecordedFile() const;

    // The preview's and the data connection's orientation from the status bar's.
    void resetVideoOrientation();

    // The duration label: elapsed time, or time left with a limit ("MM:SS").
    void updateDuration();

    // A recording finished at `path` (with the writer's `error`, if any); from the writer's
    // completion. A finished movie is exported into Documents ("<seconds since 2001>.mp4", with
    // "-1" and so on when that exists), then previewed, left to the host or uploaded.
    void processRecordedVideo(const std::filesystem::path& path, const std::optional<Error>& error);

    // The preview's answers (main thread). retake() removes `url` (when given) and the temporary
    // recording and readies the screen for the next one. uploadVideo() uploads a copy of `url`
    // through the facade and dismisses the screen.
    void retake(const std::optional<std::filesystem::path>& url) override;

    void uploadVideo(const std::filesystem::path& url) override;

    void captureOutput(const std::shared_ptr<av::CaptureDataOutput>& output,
                       const std::shared_ptr<const media::SampleBuffer>& sample,
                       const std::shared_ptr<av::CaptureConnection>& connection) override;

    // The camera chosen for `position`, as the camera recorder chooses it.
    static std::shared_ptr<av::CaptureDevice> createDevice(av::MediaType media,
                                                           av::CaptureDevicePosition position) {
        return PelmarRecorder::createDevice(media, position);
    }

    // View lifecycle.
    void viewDidLoad() override;

    void viewWillAppear(bool animated) override;

    void viewDidAppear(bool animated) override;

    void viewDidDisappear(bool animated) override;

    void viewWillTransition(ui::Size size) override;

    bool shouldAutorotate() const override;

    int supportedInterfaceOrientations() const override { return 30; }

    explicit CustomVideoRecorder(std::shared_ptr<Pelmar> pelmar);

private:
    template <class F>
    void onMain(F fn);
    template <class F>
    void onSessionQueue(F fn);

    // Session queue.
    void configureSession();
    void failConfiguration(bool configurationOpen);
    void setupDataOutputs();
    bool setupAssetWriter();
    void addObservers();
    void removeObservers();
    void startRecordingOnQueue();
    void stopRecordingOnQueue();
    void cancelRecording();
    void handleSample(const std::shared_ptr<av::CaptureDataOutput>& output,
                      std::shared_ptr<const media::SampleBuffer> sample);
    void showSetupAlert(AVCamSetupResult result);
    void sessionRunningChanged(bool running);
    void sessionRuntimeError(const Json& info);
    void endBackgroundTask();

    // After a recording (writer and export queues).
    bool exportRecording(const std::filesystem::path& path);
    void exportFinished(const std::shared_ptr<av::AssetExportSession>& session);

    // Interface updates, each queued on the main queue.
    void updateUIRecordingStartingStopping();
    void updateUIRecordingStarted();
    void updateUIRecordingComplete();
    void invalidateDurationTimer();

    std::shared_ptr<Pelmar> pelmar_;
    const std::shared_ptr<dispatch::Queue> sessionQueue_;
    std::atomic<double> maxRecordedDurationSeconds_{0};
    std::atomic<AVCamSetupResult> setupResult_{AVCamSetupResult::none};
    std::atomic<bool> sessionRunning_{false};
    std::atomic<bool> recording_{false};
    std::atomic<app::BackgroundTaskIdentifier> backgroundRecordingID_{app::kInvalidBackgroundTask};

    mutable pelmar::Mutex mutex_;
    std::shared_ptr<av::CaptureSession> session_ PELMAR_GUARDED_BY(mutex_);  // set once on main
    std::optional<std::filesystem::path> outputURL_ PELMAR_GUARDED_BY(mutex_);

    // Session-queue state.
    std::shared_ptr<av::CaptureDeviceInput> videoDeviceInput_;
    std::shared_ptr<av::CaptureAudioDataOutput> audioDataOutput_;
    std::shared_ptr<av::CaptureVideoDataOutput> videoDataOutput_;
    const std::unique_ptr<recorder::internal::RecorderPipeline> pipeline_;
    const std::unique_ptr<recorder::internal::CaptureSessionObservers> sessionObservers_;
    const std::unique_ptr<recorder::internal::RecordingCleanupSlot> cleanup_;

    // Main-thread state.
    std::shared_ptr<dispatch::Timer> durationUpdateTimer_;
};

// Queue hops: each holds the recorder weakly and does nothing once it has gone.
template <class F>
void CustomVideoRecorder::onMain(F fn) {
    std::weak_ptr<CustomVideoRecorder> weak =
            std::static_pointer_cast<CustomVideoRecorder>(shared_from_this());
    dispatch::Queue::main()->async([weak, fn = std::move(fn)]() mutable {
        if (auto self = weak.lock()) {
            fn(*self);
        }
    });
}

template <class F>
void CustomVideoRecorder::onSessionQueue(F fn) {
    std::weak_ptr<CustomVideoRecorder> weak =
            std::static_pointer_cast<CustomVideoRecorder>(shared_from_this());
    sessionQueue_->async([weak, fn = std::move(fn)]() mutable {
        if (auto self = weak.lock()) {
            fn(*self);
        }
    });
}

}  // namespace pelmar
