#include "pelmar/recorder/PelmarRecorder.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <utility>

#include "pelmar/core/PelmarEnums.h"
#include "pelmar/core/Utils.h"
#include "pelmar/platform/av/CaptureDevice.h"
#include "pelmar/platform/av/CaptureMovieFileOutput.h"
#include "pelmar/platform/dispatch/Clock.h"
#include "pelmar/platform/foundation/Sandbox.h"
#include "pelmar/platform/image/Bitmap.h"
#include "pelmar/platform/ui/AlertController.h"
#include "pelmar/platform/ui/Application.h"
#include "pelmar/platform/ui/Image.h"
#include "pelmar/recorder/internal/PelmarRecorderNib.h"
#include "pelmar/recorder/internal/RecorderPipeline.h"
#include "pelmar/recorder/internal/RecorderText.h"

namespace pelmar {

namespace {

constexpr const char* kAlertTitle = "recorder";
constexpr const char* kCameraDenied =
        "recorder doesn't have permission to use the camera, please change privacy settings";
constexpr const char* kMicrophoneDenied =
        "recorder doesn't have permission to use the microphone, please change privacy settings";
constexpr const char* kConfigurationFailed = "Unable to capture media";

// Queues `fn` on the main queue with the recorder held weakly.
template <class F>
void onMain(const std::weak_ptr<PelmarRecorder>& weak, F fn) {
    dispatch::Queue::main()->async([weak, fn = std::move(fn)]() mutable {
        if (auto self = weak.lock()) {
            fn(*self);
        }
    });
}

template <class F>
void onQueue(const std::shared_ptr<dispatch::Queue>& queue,
             const std::weak_ptr<PelmarRecorder>& weak,
             F fn) {
    queue->async([weak, fn = std::move(fn)]() mutable {
        if (auto self = weak.lock()) {
            fn(*self);
        }
    });
}

bool moreThanOneCamera() {
    return av::CaptureDevice::devices(av::MediaType::Video).size() > 1;
}

}  // namespace

std::shared_ptr<PelmarRecorder> PelmarRecorder::create(std::shared_ptr<Pelmar> application,
                                                       std::optional<std::string> videoToken) {
    internal::registerPelmarRecorderNib();
    return std::make_shared<PelmarRecorder>(std::move(application), std::move(videoToken));
}

PelmarRecorder::PelmarRecorder(std::shared_ptr<Pelmar> application,
                               std::optional<std::string> videoToken)
    : ui::ViewController("PelmarRecorder"),
      pelmar_(std::move(application)),
      videoToken_(std::move(videoToken)),
      selfieSegmentation_(std::make_shared<image::SelfieSegmentation>()),
      sessionQueue_(dispatch::Queue::serial("session queue")),
      pipeline_(std::make_unique<internal::RecorderPipeline>(
              [this](const std::string& item) { log(item); })) {
    internal::registerPelmarRecorderNib();
}

PelmarRecorder::~PelmarRecorder() {
    // The last holder may let go on the session queue: touch no view here, only the timers,
    // whose invalidation is safe from any thread.
    invalidateTimers();
    if (auto writer = pipeline_->take()) {
        writer->cancelWriting();
    }
    endBackgroundTask();
    if (session_ && runningObserver_ != 0) {
        session_->removeRunningObserver(runningObserver_);
    }
}

void PelmarRecorder::log(const std::string& item) const {
    if (pelmar_) {
        pelmar_->log(item);
    }
}

void PelmarRecorder::logError(const std::string& item) const {
    if (pelmar_) {
        pelmar_->logError(item);
    }
}

std::shared_ptr<PelmarRecorderDelegate> PelmarRecorder::recorderDelegate() const {
    return pelmar_ ? pelmar_->recorderDelegate() : nullptr;
}

std::shared_ptr<av::CaptureSession> PelmarRecorder::session() const {
    pelmar::MutexLock lock(sessionMutex_);
    return session_;
}

void PelmarRecorder::setShowControls(bool show) {
    if (auto controls = controlsView.lock()) {
        std::weak_ptr<ui::View> weak = controls;
        dispatch::Queue::main()->async([weak, show] {
            if (auto view = weak.lock()) {
                view->setHidden(!show);
            }
        });
    }
    showControlsInternal_ = show;
}

bool PelmarRecorder::isPaused() const {
    return pipeline_->isPaused();
}

double PelmarRecorder::duration() const {
    return pipeline_->duration();
}

int64_t PelmarRecorder::handledVideoSamples() const {
    return pipeline_->handledVideoSamples();
}

int64_t PelmarRecorder::handledAudioSamples() const {
    return pipeline_->handledAudioSamples();
}

bool PelmarRecorder::shouldAutorotate() const {
    return !pipeline_->hasStarted();
}

int PelmarRecorder::videoWidth() {
    auto preview = previewView.lock();
    auto connection = preview ? preview->videoPreviewLayer()->connection() : nullptr;
    if (connection
        && (connection->videoOrientation() == av::VideoOrientation::LandscapeRight
            || connection->videoOrientation() == av::VideoOrientation::LandscapeLeft)) {
        return 1920;
    }
    return 1080;
}

int PelmarRecorder::videoHeight() {
    return videoWidth() == 1920 ? 1080 : 1920;
}

void PelmarRecorder::viewDidLoad() {
    ViewController::viewDidLoad();
    auto weak = std::weak_ptr<PelmarRecorder>(
            std::static_pointer_cast<PelmarRecorder>(shared_from_this()));

    applyTheme();
    if (auto v = audioLevelView.lock()) {
        v->setHidden(!showSoundIndicator);
    }
    if (auto v = faceOutlineView.lock()) {
        v->setHidden(!showFaceOutline);
    }
    if (auto v = luxMeterView.lock()) {
        v->setHidden(!showLightIndicator);
    }
    if (auto v = controlsView.lock()) {
        v->setHidden(!showControlsInternal_);
    }

    applyButtonImages();

    if (auto b = cameraButton.lock()) {
        b->setEnabled(false);
        b->setHidden(!cameraFlipButtonVisible);
    }
    if (auto b = recordButton.lock()) {
        b->setEnabled(false);
    }
    if (auto b = pauseButton.lock()) {
        b->setEnabled(false);
    }

    auto session = av::CaptureSession::create();
    session->setSessionPreset(av::SessionPreset::Medium);
    {
        pelmar::MutexLock lock(sessionMutex_);
        session_ = session;
    }
    if (auto preview = previewView.lock()) {
        preview->setSession(session);
    }

    setupResult_.store(AVCamSetupResult::success);

    selfieSegmentation_->setDelegate(weak);
    selfieSegmentation_->startGraph();

    if (auto label = startDelayLabel.lock()) {
        label->layer()->setShadowOpacity(0.8);
        label->layer()->setShadowColor(ui::Color::black());
        label->layer()->setShadowOffset(ui::Size{0, 0});
    }

    if (auto s = blurringSwitch.lock()) {
        s->setOn(blurMode());
    }
    if (auto v = blurringPreviewView.lock()) {
        v->setHidden(!blurMode());
    }
    if (auto v = previewView.lock()) {
        v->setHidden(blurMode());
    }

    askPermissions();
    onQueue(sessionQueue_, weak, [](PelmarRecorder& self) { self.configureSession(); });

    if (auto delegate = recorderDelegate()) {
        delegate->recorderReady();
    }
}

void PelmarRecorder::applyTheme() {
    if (!pelmar_) {
        return;
    }
    const Json theme = pelmar_->themeArgsForRecorder();
    const std::string key(rawValue(Pelmar_Key_Type::BLUR_EFFECT));
    if (theme.is_object() && theme.contains(key) && theme[key].is_string()
        && theme[key].get<std::string>() == "true") {
        setBlurMode(true);
    }
}

void PelmarRecorder::applyButtonImages() {
    auto applyImage = [](const std::optional<std::string>& path,
                         const std::shared_ptr<ui::Button>& button, ui::ControlState state) {
        if (!path || !button) {
            return;
        }
        if (auto image = ui::Image::fromFile(*path)) {
            button->setImage(image, state);
        }
    };
    applyImage(recorderUIConfig.recordButton.imagePath, recordButton.lock(),
               ui::ControlState::Normal);
    applyImage(recorderUIConfig.recordButton.selectedImagePath, recordButton.lock(),
               ui::ControlState::Selected);
    applyImage(recorderUIConfig.cameraFlipButton.imagePath, cameraButton.lock(),
               ui::ControlState::Normal);
    applyImage(recorderUIConfig.closeButton.imagePath, closeButton.lock(),
               ui::ControlState::Normal);
}

// A pending question suspends the session queue, so the configuration queued after this waits
// for the answer; every answer resumes it.
void PelmarRecorder::askPermissions() {
    auto weak = std::weak_ptr<PelmarRecorder>(
            std::static_pointer_cast<PelmarRecorder>(shared_from_this()));

    struct Permission {
        av::MediaType media;
        AVCamSetupResult refusal;
    };

    for (const Permission p :
         {Permission{av::MediaType::Video, AVCamSetupResult::cameraNotAuthorized},
          Permission{av::MediaType::Audio, AVCamSetupResult::micNotAuthorized}}) {
        switch (av::CaptureDevice::authorizationStatus(p.media)) {
            case av::AuthorizationStatus::Authorized:
                break;
            case av::AuthorizationStatus::NotDetermined: {
                sessionQueue_->suspend();
                auto queue = sessionQueue_;
                av::CaptureDevice::requestAccess(p.media, [weak, queue, p](bool granted) {
                    if (!granted) {
                        if (auto self = weak.lock()) {
                            self->setupResult_.store(p.refusal);
                        }
                    }
                    queue->resume();
                });
                break;
            }
            case av::AuthorizationStatus::Denied:
            case av::AuthorizationStatus::Restricted:
                setupResult_.store(p.refusal);
                break;
        }
    }
}

void PelmarRecorder::viewWillAppear(bool animated) {
    ViewController::viewWillAppear(animated);
    auto weak = std::weak_ptr<PelmarRecorder>(
            std::static_pointer_cast<PelmarRecorder>(shared_from_this()));
    onMain(weak, [](PelmarRecorder& self) {
        if (auto preview = self.previewView.lock()) {
            preview->layer()->setOpacity(0);
        }
        if (auto label = self.recordingDurationLabel.lock()) {
            label->setText("00:00");
        }
    });
    onQueue(sessionQueue_, weak, [](PelmarRecorder& self) {
        switch (self.setupResult()) {
            case AVCamSetupResult::none:
                break;
            case AVCamSetupResult::success:
                self.startSession();
                break;
            case AVCamSetupResult::cameraNotAuthorized:
                self.showAlert(kCameraDenied, true);
                break;
            case AVCamSetupResult::micNotAuthorized:
                self.showAlert(kMicrophoneDenied, true);
                break;
            case AVCamSetupResult::sessionConfigurationFailed:
                self.showAlert(kConfigurationFailed, false);
                break;
        }
    });
}

void PelmarRecorder::viewDidAppear(bool animated) {
    ViewController::viewDidAppear(animated);
    resetVideoOrientation();
}

void PelmarRecorder::viewDidDisappear(bool animated) {
    auto weak = std::weak_ptr<PelmarRecorder>(
            std::static_pointer_cast<PelmarRecorder>(shared_from_this()));
    // A screen that goes away takes its countdown and any recording under way with it.
    stopTimers();
    onQueue(sessionQueue_, weak, [](PelmarRecorder& self) {
        self.cancelRecording();
        if (self.setupResult() == AVCamSetupResult::success) {
            if (auto session = self.session()) {
                session->stopRunning();
            }
            self.removeObservers();
        }
    });
    ViewController::viewDidDisappear(animated);
}

void PelmarRecorder::viewWillTransition(ui::Size size) {
    ViewController::viewWillTransition(size);
    const int orientation = static_cast<int>(ui::Application::shared().deviceOrientation());
    if (orientation < 1 || orientation > 4) {
        return;
    }
    auto session = this->session();
    if (!session) {
        return;
    }
    session->beginConfiguration();
    auto preview = previewView.lock();
    auto previewConnection = preview ? preview->videoPreviewLayer()->connection() : nullptr;
    if (previewConnection) {
        previewConnection->setVideoOrientation(static_cast<av::VideoOrientation>(orientation));
    }
    auto weak = std::weak_ptr<PelmarRecorder>(
            std::static_pointer_cast<PelmarRecorder>(shared_from_this()));
    const auto videoOrientation = previewConnection
                                          ? previewConnection->videoOrientation()
                                          : static_cast<av::VideoOrientation>(orientation);
    onQueue(sessionQueue_, weak, [videoOrientation](PelmarRecorder& self) {
        if (self.videoDataOutput_) {
            self.videoConnection_ = self.videoDataOutput_->connection(av::MediaType::Video);
        }
        if (self.videoConnection_) {
            self.videoConnection_->setVideoOrientation(videoOrientation);
        }
    });
    session->commitConfiguration();
}

void PelmarRecorder::resetVideoOrientation() {
    const int interface = static_cast<int>(ui::Application::shared().statusBarOrientation());
    const auto orientation = (interface >= 2 && interface <= 4)
                                     ? static_cast<av::VideoOrientation>(interface)
                                     : av::VideoOrientation::Portrait;
    auto weak = std::weak_ptr<PelmarRecorder>(
            std::static_pointer_cast<PelmarRecorder>(shared_from_this()));
    onMain(weak, [weak, orientation](PelmarRecorder& self) {
        auto preview = self.previewView.lock();
        if (auto connection = preview ? preview->videoPreviewLayer()->connection() : nullptr) {
            connection->setVideoOrientation(orientation);
        }
        onQueue(self.sessionQueue_, weak, [orientation](PelmarRecorder& recorder) {
            auto output = recorder.videoDataOutput_;
            auto connection = output ? output->connection(av::MediaType::Video) : nullptr;
            if (!connection) {
                return;
            }
            if (connection->isVideoStabilizationSupported()) {
                connection->setPreferredVideoStabilizationMode(av::VideoStabilizationMode::Auto);
            }
            connection->setVideoOrientation(orientation);
        });
    });
}

void PelmarRecorder::showAlert(const std::string& message, bool offerSettings) {
    dispatch::Queue::main()->async([message, offerSettings] {
        auto alert = std::make_shared<ui::AlertController>(kAlertTitle, message);
        alert->addAction({"OK", ui::AlertAction::Style::Cancel, nullptr});
        if (offerSettings) {
            alert->addAction(
                    {"Settings", ui::AlertAction::Style::Default, [](const ui::AlertAction&) {
                         ui::Application::shared().open(
                                 std::string(ui::Application::kOpenSettingsURLString));
                     }});
        }
        Utils::showPresentViewController(alert);
    });
}

std::shared_ptr<av::CaptureDevice> PelmarRecorder::createDevice(
        av::MediaType media, av::CaptureDevicePosition position) {
    for (auto type :
         {av::CaptureDeviceType::BuiltInDualCamera, av::CaptureDeviceType::BuiltInDualWideCamera,
          av::CaptureDeviceType::BuiltInWideAngleCamera}) {
        if (auto device = av::CaptureDevice::defaultDevice(type, media, position)) {
            return device;
        }
    }
    const auto all = av::CaptureDevice::devices(media);
    if (all.empty()) {
        return nullptr;
    }
    for (const auto& device : all) {
        if (device->position() == position) {
            return device;
        }
    }
    return all.front();
}

void PelmarRecorder::failConfiguration(const std::string& message, bool configurationOpen) {
    logError(message);
    setupResult_.store(AVCamSetupResult::sessionConfigurationFailed);
    if (configurationOpen) {
        // A failed configuration is still closed, so the session is left consistent.
        if (auto session = this->session()) {
            session->commitConfiguration();
        }
    }
}

void PelmarRecorder::configureSession() {
    if (setupResult() != AVCamSetupResult::success) {
        return;
    }
    auto session = this->session();
    if (!session) {
        return;
    }
    backgroundRecordingID_.store(app::kInvalidBackgroundTask);

    const auto position = cameraDevice == CameraDevice::front ? av::CaptureDevicePosition::Front
                                                              : av::CaptureDevicePosition::Back;
    auto videoInput = av::CaptureDeviceInput::create(createDevice(av::MediaType::Video, position));
    if (!videoInput) {
        failConfiguration("could not create video device input", false);
        return;
    }

    session->beginConfiguration();
    if (!session->canAddInput(videoInput)) {
        failConfiguration("Could not add video device input to the session", true);
        return;
    }
    session->addInput(videoInput);
    videoDeviceInput_ = videoInput;
    resetVideoOrientation();

    auto audioInput =
            av::CaptureDeviceInput::create(av::CaptureDevice::defaultDevice(av::MediaType::Audio));
    if (!audioInput) {
        failConfiguration("Could not create audio device input", true);
        return;
    }
    if (!session->canAddInput(audioInput)) {
        failConfiguration("Could not add audio device input to the session", true);
        return;
    }
    session->addInput(audioInput);

    if (!session->canAddOutput(av::CaptureMovieFileOutput::create())) {
        failConfiguration("Could not add movie file output to the session", true);
        return;
    }

    setupMetadataOutput();
    setupDataOutputs();
    session->commitConfiguration();
    log("capture session configured");
}

void PelmarRecorder::setupMetadataOutput() {
    auto session = this->session();
    metadataOutput_ = av::CaptureMetadataOutput::create();
    if (!session->canAddOutput(metadataOutput_)) {
        return;
    }
    metadataOutput_->setMetadataObjectsDelegate(
            std::static_pointer_cast<PelmarRecorder>(shared_from_this()), dispatch::Queue::main());
    session->addOutput(metadataOutput_);
    metadataOutput_->setMetadataObjectTypes({av::CaptureMetadataOutput::kFace});
}

void PelmarRecorder::setupDataOutputs() {
    auto session = this->session();
    auto self = std::static_pointer_cast<PelmarRecorder>(shared_from_this());
    audioDataOutput_ = av::CaptureAudioDataOutput::create();
    audioDataOutput_->setSampleBufferDelegate(self, sessionQueue_);
    session->addOutput(audioDataOutput_);
    log("asset audio capture output added");

    videoDataOutput_ = av::CaptureVideoDataOutput::create();
    videoDataOutput_->setAlwaysDiscardsLateVideoFrames(true);
    videoDataOutput_->setPixelFormat(media::PixelFormat::BGRA32);
    videoDataOutput_->setSampleBufferDelegate(self, sessionQueue_);
    session->addOutput(videoDataOutput_);
    videoConnection_ = videoDataOutput_->connection(av::MediaType::Video);
    if (videoConnection_) {
        if (videoConnection_->isVideoStabilizationSupported()) {
            videoConnection_->setPreferredVideoStabilizationMode(av::VideoStabilizationMode::Auto);
        }
        videoConnection_->setVideoMirrored(cameraDevice == CameraDevice::front);
    }
    log("asset video capture output added");
}

void PelmarRecorder::startSession() {
    auto session = this->session();
    if (!session) {
        return;
    }
    addObservers();
    session->startRunning();
    sessionRunning_.store(session->isRunning());
    log("session started");
}

void PelmarRecorder::addObservers() {
    if (observing_) {
        return;  // appearance callbacks out of balance must not double the observers
    }
    observing_ = true;
    auto session = this->session();
    auto weak = std::weak_ptr<PelmarRecorder>(
            std::static_pointer_cast<PelmarRecorder>(shared_from_this()));
    runningObserver_ = session->addRunningObserver([weak](bool running) {
        if (auto self = weak.lock()) {
            self->sessionRunningChanged(running);
        }
    });
    auto& center = session->notificationCenter();
    runtimeErrorToken_ = center.addObserver(
            std::string(av::CaptureSession::kRuntimeErrorNotification), [weak](const Json& info) {
                if (auto self = weak.lock()) {
                    self->sessionRuntimeError(info);
                }
            });
    interruptedToken_ = center.addObserver(
            std::string(av::CaptureSession::kWasInterruptedNotification), [weak](const Json& info) {
                onMain(weak, [info](PelmarRecorder& self) { self.sessionWasInterrupted(info); });
            });
    interruptionEndedToken_ = center.addObserver(
            std::string(av::CaptureSession::kInterruptionEndedNotification), [weak] {
                onMain(weak, [](PelmarRecorder& self) { self.sessionInterruptionEnded(); });
            });
    if (videoDeviceInput_) {
        subjectAreaToken_ = videoDeviceInput_->device()->notificationCenter().addObserver(
                std::string(av::CaptureDevice::kSubjectAreaDidChangeNotification), [weak] {
                    if (auto self = weak.lock()) {
                        self->subjectAreaDidChange();
                    }
                });
    }
}

void PelmarRecorder::removeObservers() {
    if (!observing_) {
        return;
    }
    observing_ = false;
    if (auto session = this->session()) {
        session->removeRunningObserver(runningObserver_);
    }
    runningObserver_ = 0;
    runtimeErrorToken_.reset();
    interruptedToken_.reset();
    interruptionEndedToken_.reset();
    subjectAreaToken_.reset();
}

void PelmarRecorder::sessionRunningChanged(bool running) {
    auto weak = std::weak_ptr<PelmarRecorder>(
            std::static_pointer_cast<PelmarRecorder>(shared_from_this()));
    onMain(weak, [running](PelmarRecorder& self) {
        if (auto b = self.cameraButton.lock()) {
            b->setEnabled(running && moreThanOneCamera());
        }
        if (auto b = self.recordButton.lock()) {
            b->setEnabled(running);
        }
        if (auto preview = self.previewView.lock()) {
            preview->layer()->setOpacity(0);
            if (running) {
                auto layer = preview->layer();
                ui::View::animate(0.25, [layer] { layer->setOpacity(1); });
            }
        }
    });
}

void PelmarRecorder::sessionRuntimeError(const Json& info) {
    const Json error = info.contains("error") ? info["error"] : Json::object();
    const std::string description = error.contains("message") && error["message"].is_string()
                                            ? error["message"].get<std::string>()
                                            : std::string("unknown error");
    logError("capture session runtime error: " + description);
    const long code = error.contains("code") && error["code"].is_number_integer()
                              ? error["code"].get<long>()
                              : 0;
    if (code == av::kCaptureErrorMediaServicesWereReset) {
        auto weak = std::weak_ptr<PelmarRecorder>(
                std::static_pointer_cast<PelmarRecorder>(shared_from_this()));
        onQueue(sessionQueue_, weak, [](PelmarRecorder& self) {
            if (self.sessionRunning_.load()) {
                if (auto session = self.session()) {
                    session->startRunning();
                    self.sessionRunning_.store(session->isRunning());
                }
            }
        });
    }
}

void PelmarRecorder::sessionWasInterrupted(const Json& info) {
    if (auto preview = previewView.lock()) {
        preview->layer()->setOpacity(0);
    }
    const int reason = info.contains("reason") && info["reason"].is_number_integer()
                               ? info["reason"].get<int>()
                               : 0;
    log("capture session was interrupted with reason " + std::to_string(reason));
    if (reason
        == static_cast<int>(av::CaptureSession::InterruptionReason::
                                    VideoDeviceNotAvailableWithMultipleForegroundApps)) {
        if (auto label = cameraUnavailableLabel.lock()) {
            label->setHidden(false);
            label->setAlpha(0);
            ui::View::animate(0.25, [label] { label->setAlpha(1); });
        }
    }
}

void PelmarRecorder::sessionInterruptionEnded() {
    if (auto preview = previewView.lock()) {
        auto layer = preview->layer();
        ui::View::animate(0.25, [layer] { layer->setOpacity(1); });
    }
    log("capture session interruption ended");
    auto label = cameraUnavailableLabel.lock();
    if (label && !label->isHidden()) {
        std::weak_ptr<ui::Label> weakLabel = label;
        ui::View::animate(
                0.25, [label] { label->setAlpha(0); },
                [weakLabel](bool) {
                    dispatch::Queue::main()->async([weakLabel] {
                        if (auto l = weakLabel.lock()) {
                            l->setHidden(true);
                        }
                    });
                });
    }
}

void PelmarRecorder::subjectAreaDidChange() {
    log("subject area did change");
}

void PelmarRecorder::toggleMovieRecording() {
    auto weak = std::weak_ptr<PelmarRecorder>(
            std::static_pointer_cast<PelmarRecorder>(shared_from_this()));
    onMain(weak, [](PelmarRecorder& self) {
        auto record = self.recordButton.lock();
        if (!record || !record->isEnabled()) {
            return;
        }
        // What the user asked for is what the button showed: selected while recording. The
        // session queue may have ended the recording since (the duration limit).
        const bool start = !record->isSelected();
        // Disabled at once, so a second tap handled in the same turn is ignored.
        record->setEnabled(false);
        if (start && self.startDelay > 0) {
            self.updateUIRecordingStartingStopping();
            self.currentStartDelay_ = self.startDelay;
            if (auto label = self.startDelayLabel.lock()) {
                label->setHidden(false);
                label->setText(std::to_string(self.startDelay));
            }
            auto weakSelf = std::weak_ptr<PelmarRecorder>(
                    std::static_pointer_cast<PelmarRecorder>(self.shared_from_this()));
            self.startDelayTimer_ = dispatch::Timer::scheduled(1.0, true, [weakSelf] {
                if (auto s = weakSelf.lock()) {
                    s->startDelayTick();
                }
            });
            return;
        }
        self.startStopRecording(start);
    });
}

void PelmarRecorder::startDelayTick() {
    --currentStartDelay_;
    if (auto delegate = recorderDelegate()) {
        delegate->recorderCountdown(currentStartDelay_);
    }
    if (currentStartDelay_ < 1) {
        if (auto label = startDelayLabel.lock()) {
            label->setHidden(true);
        }
        if (startDelayTimer_) {
            startDelayTimer_->invalidate();
            startDelayTimer_.reset();
        }
        startStopRecording(true);
    } else if (auto label = startDelayLabel.lock()) {
        label->setText(std::to_string(currentStartDelay_));
    }
}

void PelmarRecorder::startStopRecording(bool start) {
    auto weak = std::weak_ptr<PelmarRecorder>(
            std::static_pointer_cast<PelmarRecorder>(shared_from_this()));
    onQueue(sessionQueue_, weak, [start](PelmarRecorder& self) {
        self.log("movie recording toggle requested");
        self.updateUIRecordingStartingStopping();
        const bool recording = self.pipeline_->hasWriter();
        if (start && !recording) {
            self.startRecording();
        } else if (!start && recording) {
            self.stopRecording();
        } else if (recording) {
            self.updateUIRecordingStarted();
        } else {
            // A stop that found the recording already ended: only the controls come back.
            self.updateUIRecordingComplete();
        }
    });
}

void PelmarRecorder::startRecording() {
    if (ui::Application::shared().isMultitaskingSupported()) {
        endBackgroundTask();
        std::weak_ptr<PelmarRecorder> weak =
                std::static_pointer_cast<PelmarRecorder>(shared_from_this());
        backgroundRecordingID_.store(
                app::AppLifecycle::beginBackgroundTask("PelmarRecorder recording", [weak] {
                    if (auto self = weak.lock()) {
                        self->endBackgroundTask();
                    }
                }));
    }
    if (videoDeviceInput_) {
        auto device = videoDeviceInput_->device();
        if (device->hasFlash() && device->isFlashModeSupported(av::FlashMode::Off)) {
            device->setFlashMode(av::FlashMode::Off);
        }
    }
    // Every recording starts clean: nothing of an earlier one's pause or timing carries over.
    pipeline_->reset();

    if (!setupAssetWriter()) {
        logError("could not create the movie asset writer");
        endBackgroundTask();
        updateUIRecordingComplete();
        return;
    }
    recording_.store(true);
    updateUIRecordingStarted();
    if (auto delegate = recorderDelegate()) {
        delegate->recorderStarted();
    }
}

bool PelmarRecorder::setupAssetWriter() {
    auto self = std::static_pointer_cast<PelmarRecorder>(shared_from_this());
    // The size follows the preview's orientation, which lives on the main thread.
    return dispatch::Queue::main()->sync([self] {
        const auto path = foundation::Sandbox::temporaryDirectory()
                          / (internal::globallyUniqueString() + ".mp4");
        self->log("recording started with path " + path.string());
        Error error;
        if (!self->pipeline_->open(path, self->videoWidth(), self->videoHeight(), &error)) {
            self->log(error.description());
            return false;
        }
        return true;
    });
}

void PelmarRecorder::stopForLimit() {
    // The limit stops the recording here and now, whatever the buttons show.
    updateUIRecordingStartingStopping();
    stopRecording();
}

void PelmarRecorder::stopRecording() {
    auto writer = pipeline_->take();
    recording_.store(false);
    if (!writer) {
        updateUIRecordingComplete();
        return;
    }
    if (writer->status() == av::AssetWriter::Status::Unknown) {
        // Stopped before its first frame: there is no movie to finish or hand on.
        writer->cancelWriting();
        log("recording stopped before it started");
        endBackgroundTask();
        onMain(std::static_pointer_cast<PelmarRecorder>(shared_from_this()),
               [](PelmarRecorder& self) { self.stopTimers(); });
        updateUIRecordingComplete();
        return;
    }
    const std::string path = writer->outputURL().string();
    std::weak_ptr<PelmarRecorder> weak =
            std::static_pointer_cast<PelmarRecorder>(shared_from_this());
    std::weak_ptr<av::AssetWriter> weakWriter = writer;
    writer->finishWriting([weak, weakWriter, path] {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        self->log("recording finished to " + path);
        std::optional<Error> error;
        if (auto w = weakWriter.lock()) {
            if (w->status() != av::AssetWriter::Status::Completed) {
                error = w->error().value_or(Error{std::string(av::kAssetWriterErrorDomain),
                                                  av::kAssetWriterErrorMuxer,
                                                  "the movie could not be finished"});
            }
        }
        self->processRecordedVideo(path, error);
    });
}

void PelmarRecorder::cancelRecording() {
    auto writer = pipeline_->take();
    if (!writer) {
        return;
    }
    recording_.store(false);
    writer->cancelWriting();
    log("recording cancelled");
    endBackgroundTask();
    updateUIRecordingComplete();
}

void PelmarRecorder::processRecordedVideo(const std::string& path,
                                          const std::optional<Error>& error) {
    auto delegate = recorderDelegate();
    if (delegate) {
        delegate->recorderManuallySubmitted();
    }
    log("capture output did finish");
    std::weak_ptr<PelmarRecorder> weak =
            std::static_pointer_cast<PelmarRecorder>(shared_from_this());
    onMain(weak, [](PelmarRecorder& self) {
        if (self.durationUpdateTimer_) {
            self.durationUpdateTimer_->invalidate();
            self.durationUpdateTimer_.reset();
        }
        self.updateDuration();
    });
    endBackgroundTask();
    if (error) {
        logError("Movie file finishing error: " + error->description());
    }
    updateUIRecordingComplete();
    if (delegate) {
        delegate->recorderStopped(path);
    }
}

void PelmarRecorder::endBackgroundTask() {
    const auto id = backgroundRecordingID_.exchange(app::kInvalidBackgroundTask);
    if (id != app::kInvalidBackgroundTask) {
        app::AppLifecycle::endBackgroundTask(id);
    }
}

void PelmarRecorder::toggleMoviePaused() {
    auto record = recordButton.lock();
    if (!record || !record->isEnabled()) {
        return;
    }
    auto enableAll = [this](bool pauseSelected) {
        for (auto& weakButton : {cameraButton, recordButton, pauseButton}) {
            if (auto b = weakButton.lock()) {
                b->setEnabled(true);
            }
        }
        if (auto b = pauseButton.lock()) {
            b->setSelected(pauseSelected);
        }
    };
    if (isRecording() && !isPaused()) {
        pipeline_->pause();
        enableAll(true);
    } else if (isPaused()) {
        pipeline_->resume();
        enableAll(false);
    }
}

void PelmarRecorder::changeCamera() {
    auto camera = cameraButton.lock();
    if (!camera || !camera->isEnabled()) {
        return;
    }
    for (auto& weakButton : {cameraButton, recordButton, pauseButton}) {
        if (auto b = weakButton.lock()) {
            b->setEnabled(false);
        }
    }
    auto weak = std::weak_ptr<PelmarRecorder>(
            std::static_pointer_cast<PelmarRecorder>(shared_from_this()));
    onQueue(sessionQueue_, weak, [weak](PelmarRecorder& self) {
        self.log("camera change requested");
        auto session = self.session();
        auto current = self.videoDeviceInput_;
        auto reenable = [weak] {
            onMain(weak, [](PelmarRecorder& s) {
                for (auto& weakButton : {s.cameraButton, s.recordButton, s.pauseButton}) {
                    if (auto b = weakButton.lock()) {
                        b->setEnabled(true);
                    }
                }
            });
        };
        if (!session || !current) {
            reenable();
            return;
        }
        const auto position = current->device()->position();
        const bool toFront = position != av::CaptureDevicePosition::Front;
        auto device = createDevice(av::MediaType::Video, toFront ? av::CaptureDevicePosition::Front
                                                                 : av::CaptureDevicePosition::Back);
        auto input = av::CaptureDeviceInput::create(device);
        if (!input) {
            reenable();
            return;
        }
        session->beginConfiguration();
        session->removeInput(current);
        if (session->canAddInput(input)) {
            session->addInput(input);
            self.videoDeviceInput_ = input;
            if (input->device()->isFlashModeSupported(av::FlashMode::Auto)) {
                input->device()->setFlashMode(av::FlashMode::Auto);
            }
            if (self.observing_) {
                self.subjectAreaToken_ = input->device()->notificationCenter().addObserver(
                        std::string(av::CaptureDevice::kSubjectAreaDidChangeNotification), [weak] {
                            if (auto s = weak.lock()) {
                                s->subjectAreaDidChange();
                            }
                        });
            }
            // cameraDevice is a main-thread setting: it is updated there, before the buttons
            // come back.
            const auto chosen = toFront ? CameraDevice::front : CameraDevice::rear;
            onMain(weak, [chosen](PelmarRecorder& s) { s.cameraDevice = chosen; });
        } else {
            // The new camera was refused: the old one goes back, so the session keeps a camera.
            session->addInput(current);
        }
        if (self.videoDataOutput_) {
            if (auto connection = self.videoDataOutput_->connection(av::MediaType::Video)) {
                connection->setVideoMirrored(self.videoDeviceInput_->device()->position()
                                             == av::CaptureDevicePosition::Front);
                if (connection->isVideoStabilizationSupported()) {
                    connection->setPreferredVideoStabilizationMode(
                            av::VideoStabilizationMode::Auto);
                }
            }
        }
        session->commitConfiguration();
        reenable();
    });
}

void PelmarRecorder::onCloseButtonTap() {
    stopTimers();
    auto weak = std::weak_ptr<PelmarRecorder>(
            std::static_pointer_cast<PelmarRecorder>(shared_from_this()));
    dismiss(true, [weak] {
        auto self = weak.lock();
        auto delegate = self ? self->recorderDelegate() : nullptr;
        if (delegate) {
            delegate->recorderCancelledByUser();
        }
    });
}

void PelmarRecorder::onChangeBlurMode() {
    auto s = blurringSwitch.lock();
    const bool on = s && s->isOn();
    setBlurMode(on);
    if (auto v = blurringPreviewView.lock()) {
        v->setHidden(!on);
    }
    if (auto v = previewView.lock()) {
        v->setHidden(on);
    }
}

void PelmarRecorder::stopTimers() {
    invalidateTimers();
    if (auto label = startDelayLabel.lock()) {
        label->setHidden(true);
    }
}

void PelmarRecorder::invalidateTimers() {
    if (startDelayTimer_) {
        startDelayTimer_->invalidate();
        startDelayTimer_.reset();
    }
    if (durationUpdateTimer_) {
        durationUpdateTimer_->invalidate();
        durationUpdateTimer_.reset();
    }
}

void PelmarRecorder::updateUIRecordingStartingStopping() {
    onMain(std::static_pointer_cast<PelmarRecorder>(shared_from_this()), [](PelmarRecorder& self) {
        for (auto& weakButton : {self.cameraButton, self.recordButton, self.pauseButton}) {
            if (auto b = weakButton.lock()) {
                b->setEnabled(false);
            }
        }
    });
}

void PelmarRecorder::updateUIRecordingStarted() {
    onMain(std::static_pointer_cast<PelmarRecorder>(shared_from_this()), [](PelmarRecorder& self) {
        self.log("capture output did start");
        if (auto b = self.recordButton.lock()) {
            b->setEnabled(true);
            b->setSelected(true);
        }
        if (auto b = self.pauseButton.lock()) {
            b->setEnabled(true);
            b->setSelected(false);
        }
        if (self.durationUpdateTimer_) {
            self.durationUpdateTimer_->invalidate();
        }
        std::weak_ptr<PelmarRecorder> weak =
                std::static_pointer_cast<PelmarRecorder>(self.shared_from_this());
        self.durationUpdateTimer_ = dispatch::Timer::scheduled(1.0, true, [weak] {
            if (auto s = weak.lock()) {
                s->updateDuration();
            }
        });
    });
}

void PelmarRecorder::updateUIRecordingComplete() {
    onMain(std::static_pointer_cast<PelmarRecorder>(shared_from_this()), [](PelmarRecorder& self) {
        if (auto b = self.cameraButton.lock()) {
            b->setEnabled(moreThanOneCamera());
        }
        if (auto b = self.recordButton.lock()) {
            b->setEnabled(true);
            b->setSelected(false);
        }
        if (auto b = self.pauseButton.lock()) {
            b->setEnabled(false);
            b->setSelected(false);
        }
    });
}

void PelmarRecorder::updateDuration() {
    onMain(std::static_pointer_cast<PelmarRecorder>(shared_from_this()), [](PelmarRecorder& self) {
        const double d = self.duration();
        if (auto delegate = self.recorderDelegate()) {
            delegate->recorderCurrentRecordedDurationSeconds(std::round(d * 100) / 100);
        }
        const double max = self.maxRecordedDurationSeconds;
        // An infinite limit is no limit; a huge one is capped so that its whole seconds fit.
        constexpr double kMaxShownSeconds = 1e15;
        const double shown = std::min(kMaxShownSeconds,
                                      max > 0 && std::isfinite(max) ? std::max(0.0, max - d) : d);
        if (auto label = self.recordingDurationLabel.lock()) {
            label->setText(
                    internal::minutesSeconds(static_cast<long long>(std::floor(shown + 0.4))));
        }
    });
}

void PelmarRecorder::captureOutput(const std::shared_ptr<av::CaptureDataOutput>& output,
                                   const std::shared_ptr<const media::SampleBuffer>& sample,
                                   const std::shared_ptr<av::CaptureConnection>&) {
    // Handled one turn later, in delivery order.
    std::weak_ptr<PelmarRecorder> weak =
            std::static_pointer_cast<PelmarRecorder>(shared_from_this());
    sessionQueue_->async([weak, output, sample] {
        if (auto self = weak.lock()) {
            self->handleSample(output, sample);
        }
    });
}

std::shared_ptr<const media::SampleBuffer> PelmarRecorder::adjustTime(
        const std::shared_ptr<const media::SampleBuffer>& sample, media::Time offset) {
    return internal::RecorderPipeline::adjustTime(sample, offset);
}

void PelmarRecorder::handleSample(const std::shared_ptr<av::CaptureDataOutput>& output,
                                  std::shared_ptr<const media::SampleBuffer> sample) {
    // Samples are told apart by the output that delivered them (connections may be remade).
    const bool isVideo = output && output == videoDataOutput_;
    const bool isAudio = output && output == audioDataOutput_;
    if (!isVideo && !isAudio) {
        return;
    }
    const auto placed = pipeline_->place(isVideo, std::move(sample));
    if (!placed) {
        return;
    }
    if (isAudio) {
        audioLevelMeter(*placed->sample);
        pipeline_->writeAudio(*placed);
        return;
    }
    if (blurMode()) {
        selfieSegmentation_->processVideoFrame(placed->sample->imageBuffer(),
                                               placed->sample->presentationTimeStamp());
    }
    drawFaces();
    luxMeter(*placed->sample);
    if (pipeline_->writeVideo(*placed, blurMode(), maxRecordedDurationSeconds)) {
        stopForLimit();
    }
}

void PelmarRecorder::selfieSegmentation(image::SelfieSegmentation&,
                                        const std::shared_ptr<media::PixelBuffer>& picture,
                                        media::Time presentationTime) {
    if (!blurMode()) {
        return;
    }
    std::weak_ptr<PelmarRecorder> weak =
            std::static_pointer_cast<PelmarRecorder>(shared_from_this());
    if (picture) {
        onMain(weak, [picture](PelmarRecorder& self) {
            if (auto view = self.blurringPreviewView.lock()) {
                view->setImage(ui::Image::fromBitmap(image::Bitmap::wrap(picture)));
            }
        });
    }
    // Written on the session queue, with the time of the frame it was made from.
    onQueue(sessionQueue_, weak, [picture, presentationTime](PelmarRecorder& self) {
        self.pipeline_->writePicture(picture, presentationTime);
    });
}

void PelmarRecorder::metadataOutput(const std::shared_ptr<av::CaptureMetadataOutput>&,
                                    const std::vector<av::MetadataFaceObject>& faces,
                                    const std::shared_ptr<av::CaptureConnection>&) {
    auto sensor = pelmar_ ? pelmar_->sensorDelegate() : nullptr;
    auto preview = previewView.lock();
    if (!sensor || !preview) {
        return;
    }
    const ui::Rect frame = preview->frame();
    for (const auto& face : faces) {
        sensor->faceDetected(face.faceID,
                             FaceRect{face.x * frame.width, face.y * frame.height,
                                      face.width * frame.width, face.height * frame.height});
    }
}

void PelmarRecorder::drawFaces() {
    onMain(std::static_pointer_cast<PelmarRecorder>(shared_from_this()), [](PelmarRecorder& self) {
        auto view = self.faceOutlineView.lock();
        if (view && !view->isHidden()) {
            view->setNeedsDisplay();
        }
    });
}

void PelmarRecorder::luxMeter(const media::SampleBuffer& sample) {
    const Json& attachments = sample.attachments();
    // A frame without a brightness reading is skipped.
    if (!attachments.contains("{Exif}") || !attachments["{Exif}"].is_object()
        || !attachments["{Exif}"].contains("BrightnessValue")
        || !attachments["{Exif}"]["BrightnessValue"].is_number()) {
        return;
    }
    const double brightness = attachments["{Exif}"]["BrightnessValue"].get<double>();
    if (auto sensor = pelmar_ ? pelmar_->sensorDelegate() : nullptr) {
        sensor->luxMeter(brightness);
    }
}

void PelmarRecorder::audioLevelMeter(const media::SampleBuffer& sample) {
    const auto data = sample.data();
    const std::size_t count = data.size() / 2;
    double level = 0;
    if (count > 0) {
        double sum = 0;
        for (std::size_t i = 0; i < count; ++i) {
            const auto s = static_cast<int16_t>(data[2 * i] | (data[2 * i + 1] << 8));
            sum += std::fabs(static_cast<double>(s));
        }
        level = std::min(1.0, sum / static_cast<double>(count) / 10000.0);
    }
    if (auto sensor = pelmar_ ? pelmar_->sensorDelegate() : nullptr) {
        sensor->audioMeter(level);
    }
}

}  // namespace pelmar
