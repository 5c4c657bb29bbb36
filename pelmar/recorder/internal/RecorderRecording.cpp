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
#include "pelmar/recorder/internal/PelmarRecorderNib.h"
#include "pelmar/recorder/internal/RecorderPipeline.h"
#include "pelmar/recorder/internal/RecorderQueues.h"
#include "pelmar/recorder/internal/RecorderText.h"
#include "pelmar/recorder/internal/RecordingCleanup.h"

namespace pelmar {

using recorder::internal::moreThanOneCamera;
using recorder::internal::onMain;
using recorder::internal::onQueue;

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
        backgroundRecordingID_.store(
                recorder::internal::beginRecordingBackgroundTask("PelmarRecorder recording"));
    }
    if (videoDeviceInput_) {
        setFlashMode(av::FlashMode::Off, videoDeviceInput_->device());
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
                          / (recorder::internal::globallyUniqueString() + ".mp4");
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
        // The host heard recorderStarted: it hears the end too, with no movie to its name.
        if (auto delegate = recorderDelegate()) {
            delegate->recorderStopped("");
        }
        return;
    }
    const std::string path = writer->outputURL().string();
    std::weak_ptr<PelmarRecorder> weak =
            std::static_pointer_cast<PelmarRecorder>(shared_from_this());
    recorder::internal::finishMovie(writer, [weak, path](const std::optional<Error>& error) {
        if (auto self = weak.lock()) {
            self->log("recording finished to " + path);
            self->processRecordedVideo(path, error);
        }
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

void PelmarRecorder::endBackgroundTask() {
    recorder::internal::endBackgroundTask(backgroundRecordingID_);
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
    return recorder::internal::RecorderPipeline::adjustTime(sample, offset);
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
        framesToSegmentation_.fetch_add(1);
        selfieSegmentation_->processVideoFrame(placed->sample->imageBuffer(),
                                               placed->sample->presentationTimeStamp());
    }
    drawFaces();
    luxMeter(*placed->sample);
    if (pipeline_->writeVideo(*placed, blurMode(), maxRecordedDurationSeconds())) {
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

}  // namespace pelmar
