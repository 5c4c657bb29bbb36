#include "pelmar/recorder/custom/CustomVideoRecorder.h"

#include <utility>

#include "pelmar/core/Pelmar.h"
#include "pelmar/platform/av/CaptureDevice.h"
#include "pelmar/platform/av/CaptureMovieFileOutput.h"
#include "pelmar/platform/av/CaptureOrientation.h"
#include "pelmar/platform/foundation/URL.h"
#include "pelmar/platform/ui/Application.h"
#include "pelmar/platform/ui/Image.h"
#include "pelmar/recorder/custom/CustomNibs.h"
#include "pelmar/recorder/internal/CaptureSessionObservers.h"
#include "pelmar/recorder/internal/CaptureSetup.h"
#include "pelmar/recorder/internal/RecorderPipeline.h"
#include "pelmar/recorder/internal/RecorderQueues.h"
#include "pelmar/recorder/internal/RecordingCleanup.h"

namespace pelmar {

std::shared_ptr<CustomVideoRecorder> CustomVideoRecorder::create(std::shared_ptr<Pelmar> pelmar) {
    auto recorder = std::make_shared<CustomVideoRecorder>(pelmar);
    recorder->videoPreview = CustomVideoPlayer::create(std::move(pelmar));
    recorder->videoPreview->isRecordingPreview = true;
    recorder->videoPreview->setPreviewDelegate(recorder);
    return recorder;
}

CustomVideoRecorder::CustomVideoRecorder(std::shared_ptr<Pelmar> pelmar)
    : ui::ViewController("CustomVideoRecorder"),
      pelmar_(std::move(pelmar)),
      sessionQueue_(dispatch::Queue::serial("session queue")),
      // The camera recorder's pipeline, timing frames by their presentation times; this screen
      // logs nothing.
      pipeline_(std::make_unique<recorder::internal::RecorderPipeline>(
              [](const std::string&) {},
              recorder::internal::RecorderPipeline::Options{.timeFramesByPresentation = true})),
      sessionObservers_(std::make_unique<recorder::internal::CaptureSessionObservers>()),
      cleanup_(std::make_unique<recorder::internal::RecordingCleanupSlot>()) {
    recorder::internal::registerCustomNibs();
}

CustomVideoRecorder::~CustomVideoRecorder() {
    // The last holder may let go on any queue: only the timer (safe from any thread), the writer
    // and the background task are touched here.
    if (durationUpdateTimer_) {
        durationUpdateTimer_->invalidate();
    }
    if (auto writer = pipeline_->take()) {
        writer->cancelWriting();
    }
    endBackgroundTask();
}

std::shared_ptr<const ui::Image> CustomVideoRecorder::getImageFromResource(
        const std::string& name) {
    return ui::Image::named(name);
}

double CustomVideoRecorder::duration() const {
    return pipeline_->duration();
}

int64_t CustomVideoRecorder::handledVideoSamples() const {
    return pipeline_->handledVideoSamples();
}

int64_t CustomVideoRecorder::handledAudioSamples() const {
    return pipeline_->handledAudioSamples();
}

std::optional<media::Time> CustomVideoRecorder::currentCMTime() const {
    return pipeline_->currentVideoTime();
}

std::shared_ptr<av::CaptureSession> CustomVideoRecorder::session() const {
    pelmar::MutexLock lock(mutex_);
    return session_;
}

std::string CustomVideoRecorder::getRecordedFile() const {
    pelmar::MutexLock lock(mutex_);
    return outputURL_ ? foundation::fileURLFromPath(*outputURL_) : std::string();
}

bool CustomVideoRecorder::shouldAutorotate() const {
    return !pipeline_->hasStarted();
}

int CustomVideoRecorder::videoWidth() {
    return recorder::internal::captureVideoWidth(previewView.lock());
}

int CustomVideoRecorder::videoHeight() {
    return recorder::internal::captureVideoHeight(videoWidth());
}

void CustomVideoRecorder::viewDidLoad() {
    ViewController::viewDidLoad();
    for (const auto& weakButton : {cameraButton, recordButton}) {
        if (auto b = weakButton.lock()) {
            b->setEnabled(false);
        }
    }
    if (auto b = recordButton.lock()) {
        b->setImage(getImageFromResource("ic_play"), ui::ControlState::Normal);
        b->setImage(getImageFromResource("ic_stop"), ui::ControlState::Selected);
    }

    auto session = av::CaptureSession::create();
    session->setSessionPreset(av::SessionPreset::Medium);
    {
        pelmar::MutexLock lock(mutex_);
        session_ = session;
    }
    if (auto preview = previewView.lock()) {
        preview->setSession(session);
    }
    setupResult_.store(AVCamSetupResult::success);

    std::weak_ptr<CustomVideoRecorder> weak =
            std::static_pointer_cast<CustomVideoRecorder>(shared_from_this());
    recorder::internal::askCapturePermissions(sessionQueue_, [weak](AVCamSetupResult refusal) {
        if (auto self = weak.lock()) {
            self->setupResult_.store(refusal);
        }
    });
    onSessionQueue([](CustomVideoRecorder& self) { self.configureSession(); });
}

void CustomVideoRecorder::failConfiguration(bool configurationOpen) {
    setupResult_.store(AVCamSetupResult::sessionConfigurationFailed);
    if (configurationOpen) {
        // A failed configuration is still closed, so the session is left consistent.
        session()->commitConfiguration();
    }
}

void CustomVideoRecorder::configureSession() {
    auto session = this->session();
    if (setupResult() != AVCamSetupResult::success || !session) {
        return;
    }
    backgroundRecordingID_.store(app::kInvalidBackgroundTask);

    const auto position = cameraDevice == CameraDevice::front ? av::CaptureDevicePosition::Front
                                                              : av::CaptureDevicePosition::Back;
    auto videoInput = av::CaptureDeviceInput::create(createDevice(av::MediaType::Video, position));
    if (!videoInput) {
        failConfiguration(false);
        return;
    }
    session->beginConfiguration();
    if (!session->canAddInput(videoInput)) {
        failConfiguration(true);
        return;
    }
    session->addInput(videoInput);
    videoDeviceInput_ = videoInput;
    resetVideoOrientation();

    auto audioInput =
            av::CaptureDeviceInput::create(av::CaptureDevice::defaultDevice(av::MediaType::Audio));
    if (!audioInput || !session->canAddInput(audioInput)) {
        failConfiguration(true);
        return;
    }
    session->addInput(audioInput);
    if (!session->canAddOutput(av::CaptureMovieFileOutput::create())) {
        failConfiguration(true);
        return;
    }
    setupDataOutputs();
    session->commitConfiguration();
}

void CustomVideoRecorder::setupDataOutputs() {
    auto outputs = recorder::internal::addCaptureDataOutputs(
            *session(), std::static_pointer_cast<CustomVideoRecorder>(shared_from_this()),
            sessionQueue_, cameraDevice == CameraDevice::front);
    audioDataOutput_ = outputs.audio;
    videoDataOutput_ = outputs.video;
}

void CustomVideoRecorder::viewWillAppear(bool animated) {
    ViewController::viewWillAppear(animated);
    onMain([](CustomVideoRecorder& self) {
        if (auto preview = self.previewView.lock()) {
            preview->layer()->setOpacity(0);
        }
        if (auto label = self.recordingDurationLabel.lock()) {
            label->setText("00:00");
        }
        if (!self.isControllerEnable) {
            if (auto controls = self.controlView.lock()) {
                controls->setHidden(true);
            }
        }
    });
    onSessionQueue([](CustomVideoRecorder& self) {
        const auto result = self.setupResult();
        if (result == AVCamSetupResult::success) {
            self.addObservers();
            if (auto session = self.session()) {
                session->startRunning();
                self.sessionRunning_.store(session->isRunning());
            }
        } else if (result != AVCamSetupResult::none) {
            self.showSetupAlert(result);
        }
    });
}

void CustomVideoRecorder::showSetupAlert(AVCamSetupResult result) {
    onMain([result](CustomVideoRecorder& self) {
        if (auto alert = recorder::internal::setupAlert(result)) {
            self.present(alert, true);
        }
    });
}

void CustomVideoRecorder::viewDidAppear(bool animated) {
    ViewController::viewDidAppear(animated);
    resetVideoOrientation();
}

void CustomVideoRecorder::viewDidDisappear(bool animated) {
    // A screen that goes away takes its display timer and any recording under way with it.
    invalidateDurationTimer();
    onSessionQueue([](CustomVideoRecorder& self) {
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

void CustomVideoRecorder::viewWillTransition(ui::Size size) {
    ViewController::viewWillTransition(size);
    const int orientation = static_cast<int>(ui::Application::shared().deviceOrientation());
    auto session = this->session();
    if (orientation < 1 || orientation > 4 || !session) {
        return;
    }
    session->beginConfiguration();
    auto preview = previewView.lock();
    auto previewConnection = preview ? preview->videoPreviewLayer()->connection() : nullptr;
    if (previewConnection) {
        previewConnection->setVideoOrientation(static_cast<av::VideoOrientation>(orientation));
    }
    const auto videoOrientation = previewConnection
                                          ? previewConnection->videoOrientation()
                                          : static_cast<av::VideoOrientation>(orientation);
    // The data output belongs to the session queue.
    onSessionQueue([videoOrientation](CustomVideoRecorder& self) {
        auto output = self.videoDataOutput_;
        if (auto connection = output ? output->connection(av::MediaType::Video) : nullptr) {
            connection->setVideoOrientation(videoOrientation);
        }
    });
    session->commitConfiguration();
}

void CustomVideoRecorder::resetVideoOrientation() {
    const auto orientation = av::interfaceVideoOrientation();
    onMain([orientation](CustomVideoRecorder& self) {
        auto preview = self.previewView.lock();
        if (auto connection = preview ? preview->videoPreviewLayer()->connection() : nullptr) {
            connection->setVideoOrientation(orientation);
        }
        self.onSessionQueue([orientation](CustomVideoRecorder& recorder) {
            recorder::internal::orientVideoOutput(recorder.videoDataOutput_, orientation);
        });
    });
}

void CustomVideoRecorder::addObservers() {
    std::weak_ptr<CustomVideoRecorder> weak =
            std::static_pointer_cast<CustomVideoRecorder>(shared_from_this());
    sessionObservers_->add(
            session(), {.runningChanged =
                                [weak](bool running) {
                                    if (auto self = weak.lock()) {
                                        self->sessionRunningChanged(running);
                                    }
                                },
                        .runtimeError =
                                [weak](const Json& info) {
                                    if (auto self = weak.lock()) {
                                        self->sessionRuntimeError(info);
                                    }
                                },
                        .wasInterrupted =
                                [weak](const Json&) {
                                    if (auto self = weak.lock()) {
                                        self->onMain([](CustomVideoRecorder& s) {
                                            if (auto preview = s.previewView.lock()) {
                                                preview->layer()->setOpacity(0);
                                            }
                                        });
                                    }
                                },
                        .interruptionEnded =
                                [weak] {
                                    if (auto self = weak.lock()) {
                                        self->onMain([](CustomVideoRecorder& s) {
                                            if (auto preview = s.previewView.lock()) {
                                                auto layer = preview->layer();
                                                ui::View::animate(
                                                        0.25, [layer] { layer->setOpacity(1); });
                                            }
                                        });
                                    }
                                }});
}

void CustomVideoRecorder::removeObservers() {
    sessionObservers_->remove();
}

void CustomVideoRecorder::sessionRunningChanged(bool running) {
    onMain([running](CustomVideoRecorder& self) {
        recorder::internal::showSessionRunning(running, self.cameraButton.lock(),
                                               self.recordButton.lock(), self.previewView.lock());
    });
}

void CustomVideoRecorder::sessionRuntimeError(const Json& info) {
    if (!recorder::internal::isMediaServicesReset(info)) {
        return;
    }
    onSessionQueue([](CustomVideoRecorder& self) {
        auto session = self.session();
        if (self.sessionRunning_.load() && session) {
            session->startRunning();
            self.sessionRunning_.store(session->isRunning());
        }
    });
}

}  // namespace pelmar
