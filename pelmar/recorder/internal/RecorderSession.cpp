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
#include "pelmar/recorder/PelmarRecorder.h"
#include "pelmar/recorder/internal/CaptureSessionObservers.h"
#include "pelmar/recorder/internal/CaptureSetup.h"
#include "pelmar/recorder/internal/PelmarRecorderNib.h"
#include "pelmar/recorder/internal/RecorderPipeline.h"
#include "pelmar/recorder/internal/RecorderQueues.h"
#include "pelmar/recorder/internal/RecorderText.h"

namespace pelmar {

using recorder::internal::onMain;
using recorder::internal::onQueue;

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
    auto outputs = recorder::internal::addCaptureDataOutputs(
            *session(), std::static_pointer_cast<PelmarRecorder>(shared_from_this()), sessionQueue_,
            cameraDevice == CameraDevice::front);
    audioDataOutput_ = outputs.audio;
    log("asset audio capture output added");
    videoDataOutput_ = outputs.video;
    videoConnection_ = videoDataOutput_->connection(av::MediaType::Video);
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
    auto weak = std::weak_ptr<PelmarRecorder>(
            std::static_pointer_cast<PelmarRecorder>(shared_from_this()));
    const bool added = sessionObservers_->add(
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
                                [weak](const Json& info) {
                                    onMain(weak, [info](PelmarRecorder& self) {
                                        self.sessionWasInterrupted(info);
                                    });
                                },
                        .interruptionEnded =
                                [weak] {
                                    onMain(weak, [](PelmarRecorder& self) {
                                        self.sessionInterruptionEnded();
                                    });
                                }});
    if (added && videoDeviceInput_) {
        subjectAreaToken_ = videoDeviceInput_->device()->notificationCenter().addObserver(
                std::string(av::CaptureDevice::kSubjectAreaDidChangeNotification), [weak] {
                    if (auto self = weak.lock()) {
                        self->subjectAreaDidChange();
                    }
                });
    }
}

void PelmarRecorder::removeObservers() {
    sessionObservers_->remove();
    subjectAreaToken_.reset();
}

void PelmarRecorder::sessionRunningChanged(bool running) {
    auto weak = std::weak_ptr<PelmarRecorder>(
            std::static_pointer_cast<PelmarRecorder>(shared_from_this()));
    onMain(weak, [running](PelmarRecorder& self) {
        recorder::internal::showSessionRunning(running, self.cameraButton.lock(),
                                               self.recordButton.lock(), self.previewView.lock());
    });
}

void PelmarRecorder::sessionRuntimeError(const Json& info) {
    const Json error = info.contains("error") ? info["error"] : Json::object();
    const std::string description = error.contains("message") && error["message"].is_string()
                                            ? error["message"].get<std::string>()
                                            : std::string("unknown error");
    logError("capture session runtime error: " + description);
    if (recorder::internal::isMediaServicesReset(info)) {
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

}  // namespace pelmar
