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

using recorder::internal::moreThanOneCamera;
using recorder::internal::onMain;
using recorder::internal::onQueue;

void PelmarRecorder::subjectAreaDidChange() {
    log("subject area did change");
    focus(av::FocusMode::ContinuousAutoFocus, av::ExposureMode::ContinuousAutoExposure,
          av::DevicePoint{0.5, 0.5}, false);
}

void PelmarRecorder::focusAndExposeTap(ui::Point point) {
    auto preview = previewView.lock();
    if (!preview) {
        return;
    }
    focus(av::FocusMode::AutoFocus, av::ExposureMode::AutoExpose,
          preview->captureDevicePoint(point), true);
}

void PelmarRecorder::focus(av::FocusMode focusMode,
                           av::ExposureMode exposureMode,
                           av::DevicePoint point,
                           bool monitorSubjectAreaChange) {
    auto weak = std::weak_ptr<PelmarRecorder>(
            std::static_pointer_cast<PelmarRecorder>(shared_from_this()));
    onQueue(sessionQueue_, weak, [=](PelmarRecorder& self) {
        auto device = self.videoDeviceInput_ ? self.videoDeviceInput_->device() : nullptr;
        if (!device) {
            return;
        }
        if (!device->lockForConfiguration()) {
            self.log("could not lock device for configuration");
            return;
        }
        if (device->isFocusPointOfInterestSupported() && device->isFocusModeSupported(focusMode)) {
            device->setFocusPointOfInterest(point);
            device->setFocusMode(focusMode);
        }
        if (device->isExposurePointOfInterestSupported()
            && device->isExposureModeSupported(exposureMode)) {
            device->setExposurePointOfInterest(point);
            device->setExposureMode(exposureMode);
        }
        device->setSubjectAreaChangeMonitoringEnabled(monitorSubjectAreaChange);
        device->unlockForConfiguration();
    });
}

void PelmarRecorder::setFlashMode(av::FlashMode mode,
                                  const std::shared_ptr<av::CaptureDevice>& device) {
    if (!device || !device->hasFlash() || !device->isFlashModeSupported(mode)) {
        return;
    }
    if (!device->lockForConfiguration()) {
        log("could not lock device for configuration");
        return;
    }
    device->setFlashMode(mode);
    device->unlockForConfiguration();
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
        const auto target = recorder::internal::cameraSwitchFrom(current->device()->position());
        auto input =
                av::CaptureDeviceInput::create(createDevice(av::MediaType::Video, target.position));
        if (!input) {
            reenable();
            return;
        }
        session->beginConfiguration();
        session->removeInput(current);
        const bool added = session->canAddInput(input);
        if (added) {
            session->addInput(input);
            self.videoDeviceInput_ = input;
            self.setFlashMode(av::FlashMode::Auto, input->device());
            if (self.sessionObservers_->isObserving()) {
                self.subjectAreaToken_ = input->device()->notificationCenter().addObserver(
                        std::string(av::CaptureDevice::kSubjectAreaDidChangeNotification), [weak] {
                            if (auto s = weak.lock()) {
                                s->subjectAreaDidChange();
                            }
                        });
            }
            // cameraDevice is a main-thread setting: it is updated there, before the buttons
            // come back.
            const auto chosen = target.position == av::CaptureDevicePosition::Front
                                        ? CameraDevice::front
                                        : CameraDevice::rear;
            onMain(weak, [chosen](PelmarRecorder& s) { s.cameraDevice = chosen; });
        } else {
            // The new camera was refused: the old one goes back, so the session keeps a camera.
            session->addInput(current);
        }
        if (auto output = self.videoDataOutput_) {
            if (auto connection = output->connection(av::MediaType::Video)) {
                if (connection->isVideoStabilizationSupported()) {
                    connection->setPreferredVideoStabilizationMode(
                            av::VideoStabilizationMode::Auto);
                }
                // A refused camera leaves the old one, and its mirroring, in place.
                if (added) {
                    connection->setVideoMirrored(target.mirrored);
                }
            }
            onMain(weak, [output](PelmarRecorder& s) {
                recorder::internal::copyPreviewOrientation(s.previewView.lock(), output);
            });
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
        const double max = self.maxRecordedDurationSeconds();
        // An infinite limit is no limit; a huge one is capped so that its whole seconds fit.
        constexpr double kMaxShownSeconds = 1e15;
        const double shown = std::min(kMaxShownSeconds,
                                      max > 0 && std::isfinite(max) ? std::max(0.0, max - d) : d);
        if (auto label = self.recordingDurationLabel.lock()) {
            label->setText(recorder::internal::minutesSeconds(
                    static_cast<long long>(std::floor(shown + 0.4))));
        }
    });
}

}  // namespace pelmar
