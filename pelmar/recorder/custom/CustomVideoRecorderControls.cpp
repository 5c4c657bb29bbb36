// The custom recorder's controls, the start and stop of a recording, and what becomes of a
// finished one: the export into Documents, the preview or the upload, and the retake.

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <utility>

#include "pelmar/core/Pelmar.h"
#include "pelmar/platform/av/URLAsset.h"
#include "pelmar/platform/dispatch/Clock.h"
#include "pelmar/platform/foundation/Sandbox.h"
#include "pelmar/platform/ui/Application.h"
#include "pelmar/recorder/custom/CustomUpload.h"
#include "pelmar/recorder/custom/CustomVideoRecorder.h"
#include "pelmar/recorder/internal/CaptureSetup.h"
#include "pelmar/recorder/internal/RecorderPipeline.h"
#include "pelmar/recorder/internal/RecorderQueues.h"
#include "pelmar/recorder/internal/RecorderText.h"
#include "pelmar/recorder/internal/RecordingCleanup.h"
#include "pelmar/recorder/internal/RecordingExport.h"

namespace pelmar {

using recorder::internal::moreThanOneCamera;

void CustomVideoRecorder::onCloseButtonTap() {
    // Nothing of a recording under way outlives the screen.
    invalidateDurationTimer();
    onSessionQueue([](CustomVideoRecorder& self) { self.cancelRecording(); });
    dismiss(false);
}

void CustomVideoRecorder::toggleMovieRecording() {
    onMain([](CustomVideoRecorder& self) {
        auto record = self.recordButton.lock();
        if (!record || !record->isEnabled()) {
            return;
        }
        // What the user asked for is what the button showed: selected while recording. The
        // session queue may have ended the recording since (the duration limit).
        const bool start = !record->isSelected();
        // Disabled at once, so a second tap handled in the same turn is ignored.
        record->setEnabled(false);
        self.onSessionQueue([start](CustomVideoRecorder& recorder) {
            const bool recording = recorder.pipeline_->hasWriter();
            if (start && !recording) {
                recorder.startRecordingOnQueue();
            } else if (!start && recording) {
                recorder.stopRecordingOnQueue();
            } else if (recording) {
                recorder.updateUIRecordingStarted();
            } else {
                // A stop that found the recording already ended: only the controls come back.
                recorder.updateUIRecordingComplete();
            }
        });
    });
}

void CustomVideoRecorder::startRecording() {
    onSessionQueue([](CustomVideoRecorder& self) {
        if (!self.pipeline_->hasWriter()) {
            self.startRecordingOnQueue();
        }
    });
}

void CustomVideoRecorder::stopRecording() {
    onSessionQueue([](CustomVideoRecorder& self) {
        if (self.pipeline_->hasWriter()) {
            self.stopRecordingOnQueue();
        }
    });
}

void CustomVideoRecorder::startRecordingOnQueue() {
    updateUIRecordingStartingStopping();
    if (ui::Application::shared().isMultitaskingSupported()) {
        endBackgroundTask();
        backgroundRecordingID_.store(
                recorder::internal::beginRecordingBackgroundTask("CustomVideoRecorder recording"));
    }
    // Every recording starts clean: its audio waits for its own first frame.
    pipeline_->reset();
    if (!setupAssetWriter()) {
        endBackgroundTask();
        updateUIRecordingComplete();
        return;
    }
    recording_.store(true);
    updateUIRecordingStarted();
}

bool CustomVideoRecorder::setupAssetWriter() {
    auto self = std::static_pointer_cast<CustomVideoRecorder>(shared_from_this());
    // The size follows the preview's orientation, which lives on the main thread.
    return dispatch::Queue::main()->sync([self] {
        const auto path = foundation::Sandbox::temporaryDirectory()
                          / (recorder::internal::globallyUniqueString() + ".mp4");
        return self->pipeline_->open(path, self->videoWidth(), self->videoHeight(), nullptr);
    });
}

void CustomVideoRecorder::stopRecordingOnQueue() {
    updateUIRecordingStartingStopping();
    auto writer = pipeline_->take();
    recording_.store(false);
    if (!writer) {
        updateUIRecordingComplete();
        return;
    }
    if (writer->status() == av::AssetWriter::Status::Unknown) {
        // Stopped before its first frame: there is no movie to finish or hand on.
        writer->cancelWriting();
        endBackgroundTask();
        invalidateDurationTimer();
        updateUIRecordingComplete();
        return;
    }
    const auto path = writer->outputURL();
    {
        pelmar::MutexLock lock(mutex_);
        outputURL_ = path;
    }
    std::weak_ptr<CustomVideoRecorder> weak =
            std::static_pointer_cast<CustomVideoRecorder>(shared_from_this());
    recorder::internal::finishMovie(writer, [weak, path](const std::optional<Error>& error) {
        if (auto self = weak.lock()) {
            self->processRecordedVideo(path, error);
        }
    });
}

void CustomVideoRecorder::cancelRecording() {
    auto writer = pipeline_->take();
    if (!writer) {
        return;
    }
    recording_.store(false);
    writer->cancelWriting();
    endBackgroundTask();
    invalidateDurationTimer();
    updateUIRecordingComplete();
}

void CustomVideoRecorder::endBackgroundTask() {
    recorder::internal::endBackgroundTask(backgroundRecordingID_);
}

void CustomVideoRecorder::captureOutput(const std::shared_ptr<av::CaptureDataOutput>& output,
                                        const std::shared_ptr<const media::SampleBuffer>& sample,
                                        const std::shared_ptr<av::CaptureConnection>&) {
    // Handled one turn later, in delivery order.
    onSessionQueue(
            [output, sample](CustomVideoRecorder& self) { self.handleSample(output, sample); });
}

void CustomVideoRecorder::handleSample(const std::shared_ptr<av::CaptureDataOutput>& output,
                                       std::shared_ptr<const media::SampleBuffer> sample) {
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
        pipeline_->writeAudio(*placed);
    } else if (pipeline_->writeVideo(*placed, false, maxRecordedDurationSeconds())) {
        // The limit stops the recording here and now, whatever the buttons show.
        stopRecordingOnQueue();
    }
}

void CustomVideoRecorder::changeCamera() {
    onMain([](CustomVideoRecorder& self) {
        auto camera = self.cameraButton.lock();
        if (!camera || !camera->isEnabled()) {
            return;
        }
        camera->setEnabled(false);
        if (auto record = self.recordButton.lock()) {
            record->setEnabled(false);
        }
        self.onSessionQueue([](CustomVideoRecorder& recorder) {
            auto session = recorder.session();
            auto current = recorder.videoDeviceInput_;
            if (session && current) {
                const auto target =
                        recorder::internal::cameraSwitchFrom(current->device()->position());
                auto input = av::CaptureDeviceInput::create(
                        createDevice(av::MediaType::Video, target.position));
                if (input) {
                    session->beginConfiguration();
                    session->removeInput(current);
                    const bool added = session->canAddInput(input);
                    if (added) {
                        session->addInput(input);
                        recorder.videoDeviceInput_ = input;
                    } else {
                        // The new camera was refused: the old one, and its mirroring, go back.
                        session->addInput(current);
                    }
                    auto output = recorder.videoDataOutput_;
                    if (auto connection =
                                output ? output->connection(av::MediaType::Video) : nullptr) {
                        if (connection->isVideoStabilizationSupported()) {
                            connection->setPreferredVideoStabilizationMode(
                                    av::VideoStabilizationMode::Auto);
                        }
                        if (added) {
                            connection->setVideoMirrored(target.mirrored);
                        }
                        recorder.onMain([output](CustomVideoRecorder& s) {
                            recorder::internal::copyPreviewOrientation(s.previewView.lock(),
                                                                       output);
                        });
                    }
                    session->commitConfiguration();
                }
            }
            recorder.onMain([](CustomVideoRecorder& s) {
                for (const auto& weakButton : {s.cameraButton, s.recordButton}) {
                    if (auto b = weakButton.lock()) {
                        b->setEnabled(true);
                    }
                }
            });
        });
    });
}

void CustomVideoRecorder::invalidateDurationTimer() {
    onMain([](CustomVideoRecorder& self) {
        if (self.durationUpdateTimer_) {
            self.durationUpdateTimer_->invalidate();
            self.durationUpdateTimer_.reset();
        }
    });
}

void CustomVideoRecorder::updateUIRecordingStartingStopping() {
    onMain([](CustomVideoRecorder& self) {
        for (const auto& weakButton : {self.cameraButton, self.recordButton}) {
            if (auto b = weakButton.lock()) {
                b->setEnabled(false);
            }
        }
    });
}

void CustomVideoRecorder::updateUIRecordingStarted() {
    onMain([](CustomVideoRecorder& self) {
        if (auto b = self.recordButton.lock()) {
            b->setEnabled(true);
            b->setSelected(true);
        }
        if (self.durationUpdateTimer_) {
            self.durationUpdateTimer_->invalidate();
        }
        std::weak_ptr<CustomVideoRecorder> weak =
                std::static_pointer_cast<CustomVideoRecorder>(self.shared_from_this());
        self.durationUpdateTimer_ = dispatch::Timer::scheduled(1.0, true, [weak] {
            if (auto s = weak.lock()) {
                s->updateDuration();
            }
        });
    });
}

void CustomVideoRecorder::updateUIRecordingComplete() {
    onMain([](CustomVideoRecorder& self) {
        if (auto b = self.cameraButton.lock()) {
            b->setEnabled(moreThanOneCamera());
        }
        if (auto b = self.recordButton.lock()) {
            b->setEnabled(true);
            b->setSelected(false);
        }
    });
}

void CustomVideoRecorder::updateDuration() {
    onMain([](CustomVideoRecorder& self) {
        if (auto label = self.recordingDurationLabel.lock()) {
            label->setText(recorder::internal::durationLabelText(
                    self.duration(), self.maxRecordedDurationSeconds()));
        }
    });
}

void CustomVideoRecorder::processRecordedVideo(const std::filesystem::path& path,
                                               const std::optional<Error>& error) {
    invalidateDurationTimer();
    updateDuration();
    auto cleanup = std::make_shared<recorder::internal::RecordingCleanup>(
            path, backgroundRecordingID_.exchange(app::kInvalidBackgroundTask));
    cleanup_->set(cleanup);
    // A movie the writer could not finish is not exported; the file stays for the host app.
    const bool exporting = !error && av::videoAtPathIsCompatibleWithSavedPhotosAlbum(path)
                           && exportRecording(path);
    if (!exporting) {
        cleanup->endTask();
    }
    updateUIRecordingComplete();
}

bool CustomVideoRecorder::exportRecording(const std::filesystem::path& path) {
    std::weak_ptr<CustomVideoRecorder> weak =
            std::static_pointer_cast<CustomVideoRecorder>(shared_from_this());
    return recorder::internal::startRecordingExport(
            path, [](const std::filesystem::path&) {},
            [weak](const std::shared_ptr<av::AssetExportSession>& session) {
                if (auto self = weak.lock()) {
                    self->exportFinished(session);
                }
            });
}

void CustomVideoRecorder::exportFinished(const std::shared_ptr<av::AssetExportSession>& session) {
    auto cleanup = cleanup_->current();
    if (!recorder::internal::exportOutcome(session->status(), session->error()).completed) {
        if (cleanup) {
            cleanup->run();
        }
        return;
    }
    // Processing is over: the app need not stay awake for this recording any longer.
    if (cleanup) {
        cleanup->endTask();
    }
    const auto url = session->outputURL();
    // The settings are read on the main thread, where they are set.
    onMain([url](CustomVideoRecorder& self) {
        if (!self.videoPreview || !self.recordedVideoPreviewEnabled) {
            self.uploadVideo(url);
            return;
        }
        if (!self.isControllerEnable) {
            return;  // the host app takes it from here (getRecordedFile())
        }
        self.videoPreview->setVideoURL(url);
        self.videoPreview->setVideoRecorder(
                std::static_pointer_cast<CustomVideoRecorder>(self.shared_from_this()));
        self.videoPreview->setModalPresentationStyle(ui::ModalPresentationStyle::FullScreen);
        self.present(self.videoPreview, true);
    });
}

void CustomVideoRecorder::uploadVideo(const std::filesystem::path& url) {
    onMain([url](CustomVideoRecorder& self) {
        recorder::internal::uploadCustomRecording(self.pelmar_, url);
        self.dismiss(false);
    });
}

void CustomVideoRecorder::retake(const std::optional<std::filesystem::path>& url) {
    if (url) {
        std::error_code ec;
        std::filesystem::remove(*url, ec);
    }
    cleanup_->run();
    resetVideoOrientation();
}

}  // namespace pelmar
