#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "pelmar/core/Pelmar.h"
#include "pelmar/core/PelmarRecorderInterfaceConfig.h"
#include "pelmar/platform/app/AppLifecycle.h"
#include "pelmar/platform/av/AssetExportSession.h"
#include "pelmar/platform/av/CaptureAudioDataOutput.h"
#include "pelmar/platform/av/CaptureDeviceInput.h"
#include "pelmar/platform/av/CaptureMetadataOutput.h"
#include "pelmar/platform/av/CaptureSession.h"
#include "pelmar/platform/av/CaptureVideoDataOutput.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/dispatch/Timer.h"
#include "pelmar/platform/foundation/Json.h"
#include "pelmar/platform/foundation/NotificationCenter.h"
#include "pelmar/platform/image/SelfieSegmentation.h"
#include "pelmar/platform/media/SampleBuffer.h"
#include "pelmar/platform/sync/Mutex.h"
#include "pelmar/platform/ui/Button.h"
#include "pelmar/platform/ui/Image.h"
#include "pelmar/platform/ui/ImageView.h"
#include "pelmar/platform/ui/Label.h"
#include "pelmar/platform/ui/Switch.h"
#include "pelmar/platform/ui/ViewController.h"
#include "pelmar/recorder/AudioLevelView.h"
#include "pelmar/recorder/CapturePreviewView.h"
#include "pelmar/recorder/FaceOutlineView.h"
#include "pelmar/recorder/LuxMeterView.h"
#include "pelmar/recorder/VideoPreviewDelegate.h"
#include "pelmar/recorder/VideoPreviewProtocol.h"

namespace pelmar {

namespace recorder::internal {
class CaptureSessionObservers;
class RecorderPipeline;
class RecordingCleanup;
class RecordingCleanupSlot;
}  // namespace recorder::internal

// Outcome of the camera screen's set-up.
enum class AVCamSetupResult {
    none,
    success,
    cameraNotAuthorized,
    micNotAuthorized,
    sessionConfigurationFailed,
};

// Which camera the recorder opens.
enum class CameraDevice : int { rear = 0, front = 1 };

// PelmarRecorder: the built-in camera recording screen (interface file "PelmarRecorder"). It asks
// for camera and microphone access, configures and runs a capture session on its serial "session
// queue", recovers from interruptions and media-services resets, and records the camera and
// microphone into a temporary MPEG-4 file (H.264 1080 x 1920, or 1920 x 1080 with a landscape
// preview; AAC 44.1 kHz stereo) with pause offsets removed, an optional duration limit and an
// optional background blur. Recording control: toggleMovieRecording (with the start-delay
// countdown), toggleMoviePaused, changeCamera, onCloseButtonTap. A finished recording's temporary
// path goes to the recorder delegate's recorderStopped.
// Ownership: made with create(), held by shared_ptr (the presenter holds it while shown). Holds
// the facade, its session and writer; outlets are weak (the view tree owns the views); every
// callback it registers (outputs, segmentation, timers, notifications, writer completions) holds
// it weakly.
// Threads: main thread only for the public settings, outlets and actions. Session work and every
// sample run on sessionQueue(); delegate calls on the threads PelmarRecorderDelegate names.
// Errors: set-up failures end in setupResult() values and alerts ("recorder" / the permission
// messages / "Unable to capture media"); the facade logs the rest (logError for configuration,
// runtime and writer failures). A recording whose writer failed is logged as a finishing error
// before recorderStopped; a writer that cannot be made reports no recording at all, and a
// recording stopped before its first frame leaves no file and tells recorderStopped with an
// empty path (nothing is submitted).
class PelmarRecorder : public ui::ViewController,
                       public av::CaptureDataOutputSampleBufferDelegate,
                       public av::MetadataOutputObjectsDelegate,
                       public image::SelfieSegmentationDelegate,
                       public VideoPreviewDelegate {
public:
    static std::shared_ptr<PelmarRecorder> create(std::shared_ptr<Pelmar> application,
                                                  std::optional<std::string> videoToken = {});

    ~PelmarRecorder() override;

    // The SDK's picture resource `name` (a named image without pixels when it does not ship).
    static std::shared_ptr<const ui::Image> getImageFromResource(const std::string& name);

    // Duration limit in seconds; 0 or less means none. Any thread: the session queue reads it for
    // every frame.
    double maxRecordedDurationSeconds() const { return maxRecordedDurationSeconds_.load(); }

    void setMaxRecordedDurationSeconds(double seconds) {
        maxRecordedDurationSeconds_.store(seconds);
    }

    // Settings, set before presenting (main thread).
    bool coverSelectorEnabled = false;
    bool recordedVideoPreviewEnabled = true;
    bool cameraFlipButtonVisible = true;
    CameraDevice cameraDevice = CameraDevice::rear;
    std::optional<Json> extraArgsForCreateVideo;
    int64_t startDelay = 0;
    PelmarRecorderInterfaceConfig recorderUIConfig;
    bool showFaceOutline = true;
    bool showLightIndicator = true;
    bool showSoundIndicator = true;

    // The screen that shows a finished recording before it is uploaded; with none (or with
    // recordedVideoPreviewEnabled false) a recording is uploaded as soon as it is exported. Must
    // be a view controller.
    std::shared_ptr<VideoPreviewProtocol> videoPreview;

    // Store the flag and, on the main queue, hide its meter view exactly when it is false. The
    // measurements and the sensor delegate's calls go on whatever the flags say.
    void setShowFaceOutline(bool show);

    void setShowLightIndicator(bool show);

    void setShowSoundIndicator(bool show);

    bool blurMode() const { return blurMode_.load(); }

    void setBlurMode(bool on) { blurMode_.store(on); }

    bool showControls() const { return showControlsInternal_; }

    void setShowControls(bool show);

    const std::optional<std::string>& videoToken() const { return videoToken_; }

    const std::shared_ptr<Pelmar>& application() const { return pelmar_; }

    // Outlets, bound by the interface file.
    std::weak_ptr<CapturePreviewView> previewView;
    std::weak_ptr<ui::Label> cameraUnavailableLabel;
    std::weak_ptr<ui::Label> recordingDurationLabel;
    std::weak_ptr<ui::Label> startDelayLabel;
    std::weak_ptr<ui::Button> pauseButton;
    std::weak_ptr<ui::Button> recordButton;
    std::weak_ptr<ui::Button> cameraButton;
    std::weak_ptr<ui::Button> closeButton;
    std::weak_ptr<ui::Switch> blurringSwitch;
    std::weak_ptr<ui::View> controlsView;
    std::weak_ptr<ui::ImageView> blurringPreviewView;
    std::weak_ptr<LuxMeterView> luxMeterView;
    std::weak_ptr<AudioLevelView> audioLevelView;
    std::weak_ptr<FaceOutlineView> faceOutlineView;

    // State (any thread).
    AVCamSetupResult setupResult() const { return setupResult_.load(); }

    bool isSessionRunning() const { return sessionRunning_.load(); }

    // A writer exists: a recording is under way (started or waiting for its first frame).
    bool isRecording() const { return recording_.load(); }

    bool isPaused() const;

    // Seconds recorded so far.
    double duration() const;

    // Video and audio samples the pipeline has handled (dropped ones included), for diagnostics.
    int64_t handledVideoSamples() const;

    int64_t handledAudioSamples() const;

    // Camera frames handed to the segmentation (with the blur on), and its results that reached
    // the session queue (null and unwritten ones included): each frame handed over and not
    // dropped there counts in the second once its picture has been offered to the movie.
    int64_t framesHandedToSegmentation() const { return framesToSegmentation_.load(); }

    int64_t handledSegmentedPictures() const;

    const std::shared_ptr<dispatch::Queue>& sessionQueue() const { return sessionQueue_; }

    // The background segmentation component the blur uses.
    const std::shared_ptr<image::SelfieSegmentation>& segmentation() const {
        return selfieSegmentation_;
    }

    // The capture session, once the view has loaded.
    std::shared_ptr<av::CaptureSession> session() const;

    // Width and height of the recording: 1920 x 1080 when the preview is landscape, else
    // 1080 x 1920 (also without a preview connection). Main thread.
    int videoWidth();

    int videoHeight();

    // Actions (main thread), as the controls send them.
    void toggleMovieRecording();

    void toggleMoviePaused();

    void changeCamera();

    void onCloseButtonTap();

    void onChangeBlurMode();

    // A tap on the preview at `point` (preview coordinates): focus and expose there once, and
    // watch for the scene to change.
    void focusAndExposeTap(ui::Point point);

    // View lifecycle.
    void viewDidLoad() override;

    void viewWillAppear(bool animated) override;

    void viewDidAppear(bool animated) override;

    void viewDidDisappear(bool animated) override;

    void viewWillTransition(ui::Size size) override;

    bool shouldAutorotate() const override;

    int supportedInterfaceOrientations() const override { return 30; }

    ui::StatusBarStyle preferredStatusBarStyle() const override {
        return ui::StatusBarStyle::LightContent;
    }

    // The preview's answers (main thread). retake() removes the export (when given), tells the
    // recorder delegate recorderRerecord, tidies the recording away and readies the screen for the
    // next one. uploadVideo() copies the export into the temporary folder, uploads the copy as a
    // video with the facade's uploading options and dismisses the screen; the temporary recording
    // is removed once the upload is confirmed.
    void retake(const std::optional<std::filesystem::path>& url) override;

    void uploadVideo(const std::filesystem::path& url) override;

    // A recording finished at `path` (with the writer's `error`, if any), as the writer's
    // completion hands it on (any thread): the delegate hears recorderManuallySubmitted, then
    // recorderStopped with `path`. A movie that can be used (no error, or more than 1024 bytes
    // written) is exported into Documents ("<seconds since 2001>.mp4", "-1" and so on when that
    // exists), then shown in the preview or uploaded. The temporary movie is removed when the
    // upload is confirmed, on a retake, when the export fails, or when the next recording
    // finishes.
    void processRecordedVideo(const std::string& path, const std::optional<Error>& error);

    // Sample delivery (session queue) and segmentation results (segmentation thread).
    void captureOutput(const std::shared_ptr<av::CaptureDataOutput>& output,
                       const std::shared_ptr<const media::SampleBuffer>& sample,
                       const std::shared_ptr<av::CaptureConnection>& connection) override;

    void metadataOutput(const std::shared_ptr<av::CaptureMetadataOutput>& output,
                        const std::vector<av::MetadataFaceObject>& faces,
                        const std::shared_ptr<av::CaptureConnection>& connection) override;

    void selfieSegmentation(image::SelfieSegmentation& segmentation,
                            const std::shared_ptr<media::PixelBuffer>& picture,
                            media::Time presentationTime) override;

    // A copy of `sample` with `offset` subtracted from every presentation and decode time; null
    // without a sample, without a valid offset, or when the copy cannot be made.
    static std::shared_ptr<const media::SampleBuffer> adjustTime(
            const std::shared_ptr<const media::SampleBuffer>& sample, media::Time offset);

    // The camera chosen for `position`: dual, dual wide, then wide-angle camera at the position,
    // else the first camera at the position, else the first camera; null without cameras.
    static std::shared_ptr<av::CaptureDevice> createDevice(av::MediaType media,
                                                           av::CaptureDevicePosition position);

    PelmarRecorder(std::shared_ptr<Pelmar> application, std::optional<std::string> videoToken);

private:
    void log(const std::string& item) const;
    void logError(const std::string& item) const;
    std::shared_ptr<PelmarRecorderDelegate> recorderDelegate() const;

    // Set-up (main thread, while the view loads).
    void applyTheme();
    void applyButtonImages();
    void askPermissions();

    // Set-up (session queue).
    void configureSession();
    void failConfiguration(const std::string& message, bool configurationOpen);
    void setupMetadataOutput();
    void setupDataOutputs();
    void startSession();
    void addObservers();
    void removeObservers();
    void showSetupAlert(AVCamSetupResult result);
    void resetVideoOrientation();

    // Observations.
    void sessionRunningChanged(bool running);
    void sessionRuntimeError(const Json& info);
    void sessionWasInterrupted(const Json& info);
    void sessionInterruptionEnded();
    void subjectAreaDidChange();
    void focus(av::FocusMode focusMode,
               av::ExposureMode exposureMode,
               av::DevicePoint point,
               bool monitorSubjectAreaChange);
    void setFlashMode(av::FlashMode mode, const std::shared_ptr<av::CaptureDevice>& device);

    // Recording (session queue unless noted).
    void startStopRecording(bool start);
    void startRecording();
    void stopRecording();
    void cancelRecording();
    bool setupAssetWriter();
    void stopForLimit();
    // Starts the export of a finished recording into Documents; false when it cannot start.
    bool exportRecording(const std::string& path);
    void exportFinished(const std::shared_ptr<av::AssetExportSession>& session);
    void showPreview(const std::filesystem::path& url);
    // Replaces the pending clean-up, running the one it replaces first.
    void endBackgroundTask();
    void handleSample(const std::shared_ptr<av::CaptureDataOutput>& output,
                      std::shared_ptr<const media::SampleBuffer> sample);
    void luxMeter(const media::SampleBuffer& sample);
    void audioLevelMeter(const media::SampleBuffer& sample);
    void drawFaces();

    // Interface updates, each queued on the main queue.
    void updateUIRecordingStartingStopping();
    void updateUIRecordingStarted();
    void updateUIRecordingComplete();
    void updateDuration();
    void startDelayTick();
    void stopTimers();
    void invalidateTimers();

    std::shared_ptr<Pelmar> pelmar_;
    std::optional<std::string> videoToken_;
    const std::shared_ptr<image::SelfieSegmentation> selfieSegmentation_;
    const std::shared_ptr<dispatch::Queue> sessionQueue_;
    std::atomic<bool> blurMode_{false};
    std::atomic<int64_t> framesToSegmentation_{0};
    bool showControlsInternal_ = true;
    std::atomic<AVCamSetupResult> setupResult_{AVCamSetupResult::none};
    std::atomic<bool> sessionRunning_{false};
    std::atomic<bool> recording_{false};
    std::atomic<app::BackgroundTaskIdentifier> backgroundRecordingID_{app::kInvalidBackgroundTask};
    std::atomic<double> maxRecordedDurationSeconds_{0};

    mutable pelmar::Mutex sessionMutex_;
    std::shared_ptr<av::CaptureSession> session_
            PELMAR_GUARDED_BY(sessionMutex_);  // set once on main

    // Session-queue state.
    std::shared_ptr<av::CaptureDeviceInput> videoDeviceInput_;
    std::shared_ptr<av::CaptureAudioDataOutput> audioDataOutput_;
    std::shared_ptr<av::CaptureVideoDataOutput> videoDataOutput_;
    std::shared_ptr<av::CaptureMetadataOutput> metadataOutput_;
    std::shared_ptr<av::CaptureConnection> videoConnection_;
    // The movie writer and the samples' timing (session queue).
    const std::unique_ptr<recorder::internal::RecorderPipeline> pipeline_;
    const std::unique_ptr<recorder::internal::CaptureSessionObservers> sessionObservers_;
    foundation::ObserverToken subjectAreaToken_;

    const std::unique_ptr<recorder::internal::RecordingCleanupSlot> cleanup_;

    // Main-thread state.
    std::shared_ptr<dispatch::Timer> durationUpdateTimer_;
    std::shared_ptr<dispatch::Timer> startDelayTimer_;
    int64_t currentStartDelay_ = 0;
};

}  // namespace pelmar
