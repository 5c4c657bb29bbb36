#include "pelmar/recorder/PelmarRecorder.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <utility>

#include "pelmar/core/PelmarEnums.h"
#include "pelmar/core/Utils.h"
#include "pelmar/platform/av/CaptureDevice.h"
#include "pelmar/platform/av/CaptureMovieFileOutput.h"
#include "pelmar/platform/av/CaptureOrientation.h"
#include "pelmar/platform/dispatch/Clock.h"
#include "pelmar/platform/foundation/Sandbox.h"
#include "pelmar/platform/image/Bitmap.h"
#include "pelmar/platform/ui/Application.h"
#include "pelmar/platform/ui/Image.h"
#include "pelmar/recorder/PelmarRecordedVideoPreview.h"
#include "pelmar/recorder/internal/CaptureSessionObservers.h"
#include "pelmar/recorder/internal/CaptureSetup.h"
#include "pelmar/recorder/internal/PelmarRecorderNib.h"
#include "pelmar/recorder/internal/RecorderPipeline.h"
#include "pelmar/recorder/internal/RecorderQueues.h"
#include "pelmar/recorder/internal/RecorderText.h"
#include "pelmar/recorder/internal/RecordingCleanup.h"

namespace pelmar {

using recorder::internal::moreThanOneCamera;
using recorder::internal::onMain;
using recorder::internal::onQueue;

std::shared_ptr<PelmarRecorder> PelmarRecorder::create(std::shared_ptr<Pelmar> application,
                                                       std::optional<std::string> videoToken) {
    recorder::internal::registerPelmarRecorderNib();
    auto recorder = std::make_shared<PelmarRecorder>(std::move(application), std::move(videoToken));
    // One preview for every recording of this recorder; it answers the recorder, held weakly.
    auto preview = PelmarRecordedVideoPreview::create();
    preview->setPreviewDelegate(recorder);
    recorder->videoPreview = preview;
    return recorder;
}

PelmarRecorder::PelmarRecorder(std::shared_ptr<Pelmar> application,
                               std::optional<std::string> videoToken)
    : ui::ViewController("PelmarRecorder"),
      pelmar_(std::move(application)),
      videoToken_(std::move(videoToken)),
      selfieSegmentation_(std::make_shared<image::SelfieSegmentation>()),
      sessionQueue_(dispatch::Queue::serial("session queue")),
      pipeline_(std::make_unique<recorder::internal::RecorderPipeline>(
              [this](const std::string& item) { log(item); })),
      sessionObservers_(std::make_unique<recorder::internal::CaptureSessionObservers>()),
      cleanup_(std::make_unique<recorder::internal::RecordingCleanupSlot>()) {
    recorder::internal::registerPelmarRecorderNib();
}

PelmarRecorder::~PelmarRecorder() {
    // The last holder may let go on the session queue: touch no view here, only the timers,
    // whose invalidation is safe from any thread.
    invalidateTimers();
    if (auto writer = pipeline_->take()) {
        writer->cancelWriting();
    }
    endBackgroundTask();
}

std::shared_ptr<const ui::Image> PelmarRecorder::getImageFromResource(const std::string& name) {
    return ui::Image::named(name);
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

int64_t PelmarRecorder::handledSegmentedPictures() const {
    return pipeline_->handledPictures();
}

bool PelmarRecorder::shouldAutorotate() const {
    return !pipeline_->hasStarted();
}

int PelmarRecorder::videoWidth() {
    return recorder::internal::captureVideoWidth(previewView.lock());
}

int PelmarRecorder::videoHeight() {
    return recorder::internal::captureVideoHeight(videoWidth());
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
// for the answer.
void PelmarRecorder::askPermissions() {
    auto weak = std::weak_ptr<PelmarRecorder>(
            std::static_pointer_cast<PelmarRecorder>(shared_from_this()));
    recorder::internal::askCapturePermissions(sessionQueue_, [weak](AVCamSetupResult refusal) {
        if (auto self = weak.lock()) {
            self->setupResult_.store(refusal);
        }
    });
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
        const auto result = self.setupResult();
        switch (result) {
            case AVCamSetupResult::none:
                break;
            case AVCamSetupResult::success:
                self.startSession();
                break;
            case AVCamSetupResult::cameraNotAuthorized:
            case AVCamSetupResult::micNotAuthorized:
            case AVCamSetupResult::sessionConfigurationFailed:
                self.showSetupAlert(result);
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
    const auto orientation = av::interfaceVideoOrientation();
    auto weak = std::weak_ptr<PelmarRecorder>(
            std::static_pointer_cast<PelmarRecorder>(shared_from_this()));
    onMain(weak, [weak, orientation](PelmarRecorder& self) {
        auto preview = self.previewView.lock();
        if (auto connection = preview ? preview->videoPreviewLayer()->connection() : nullptr) {
            connection->setVideoOrientation(orientation);
        }
        onQueue(self.sessionQueue_, weak, [orientation](PelmarRecorder& recorder) {
            recorder::internal::orientVideoOutput(recorder.videoDataOutput_, orientation);
        });
    });
}

void PelmarRecorder::showSetupAlert(AVCamSetupResult result) {
    dispatch::Queue::main()->async([result] {
        if (auto alert = recorder::internal::setupAlert(result)) {
            Utils::showPresentViewController(alert);
        }
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

}  // namespace pelmar
