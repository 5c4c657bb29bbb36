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

namespace pelmar {

namespace {

template <class V>
void showMeter(const std::weak_ptr<V>& weak, bool show) {
    dispatch::Queue::main()->async([weak, show] {
        if (auto view = weak.lock()) {
            view->setHidden(!show);
        }
    });
}

}  // namespace

using recorder::internal::moreThanOneCamera;
using recorder::internal::onMain;
using recorder::internal::onQueue;

void PelmarRecorder::metadataOutput(const std::shared_ptr<av::CaptureMetadataOutput>&,
                                    const std::vector<av::MetadataFaceObject>& faces,
                                    const std::shared_ptr<av::CaptureConnection>&) {
    auto preview = previewView.lock();
    if (!preview) {
        return;
    }
    auto sensor = pelmar_ ? pelmar_->sensorDelegate() : nullptr;
    auto outline = faceOutlineView.lock();
    for (const auto& found : faces) {
        // Device coordinates become the preview's, turned and mirrored as the preview shows them.
        const auto face = preview->transformedMetadataObject(found);
        const ui::Rect rect{face.x, face.y, face.width, face.height};
        if (sensor) {
            sensor->faceDetected(face.faceID, FaceRect{rect.x, rect.y, rect.width, rect.height});
        }
        if (outline) {
            outline->addFace(face.faceID, rect);
        }
    }
}

void PelmarRecorder::setShowFaceOutline(bool show) {
    showFaceOutline = show;
    showMeter(faceOutlineView, show);
}

void PelmarRecorder::setShowLightIndicator(bool show) {
    showLightIndicator = show;
    showMeter(luxMeterView, show);
}

void PelmarRecorder::setShowSoundIndicator(bool show) {
    showSoundIndicator = show;
    showMeter(audioLevelView, show);
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
    if (auto view = luxMeterView.lock()) {
        view->setCurrentLuminousity(brightness);
    }
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
    if (auto view = audioLevelView.lock()) {
        view->setCurrentLevel(level);
    }
    if (auto sensor = pelmar_ ? pelmar_->sensorDelegate() : nullptr) {
        sensor->audioMeter(level);
    }
}

}  // namespace pelmar
