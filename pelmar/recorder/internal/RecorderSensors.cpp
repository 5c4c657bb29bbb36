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
#include "pelmar/recorder/internal/RecorderQueues.h"
#include "pelmar/recorder/internal/RecorderText.h"

namespace pelmar {

using internal::moreThanOneCamera;
using internal::onMain;
using internal::onQueue;

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
