#include "pelmar/platform/av/CaptureVideoPreviewLayer.h"

#include <cmath>
#include <cstdint>
#include <utility>

#include "pelmar/platform/av/CaptureDevice.h"
#include "pelmar/platform/av/CaptureEnvironment.h"
#include "pelmar/platform/av/internal/SyntheticCapture.h"
#include "pelmar/platform/dispatch/Clock.h"
#include "pelmar/platform/image/Bitmap.h"

namespace pelmar::av {

std::shared_ptr<CaptureSession> CaptureVideoPreviewLayer::session() const {
    MutexLock lock(mutex_);
    return session_;
}

void CaptureVideoPreviewLayer::setSession(std::shared_ptr<CaptureSession> session) {
    MutexLock lock(mutex_);
    session_ = std::move(session);
}

std::shared_ptr<CaptureConnection> CaptureVideoPreviewLayer::connection() const {
    auto current = session();
    if (!current || !current->videoDevice()) {
        return nullptr;
    }
    return connection_;
}

std::shared_ptr<const image::Bitmap> CaptureVideoPreviewLayer::currentPicture() const {
    auto current = session();
    if (!current || !current->videoDevice()) {
        return nullptr;
    }
    // The frame the camera makes at this moment of the clock.
    const auto index = static_cast<int64_t>(
            std::floor(dispatch::clock().now() * CaptureEnvironment::shared().frameRate()));
    return image::Bitmap::wrap(internal::SyntheticCapture::makeFrame(
            current->sessionPreset(), connection_->videoOrientation(), false, index));
}

void CaptureVideoPreviewLayer::drawInContext(ui::GraphicsContext& context, ui::Rect bounds) {
    auto picture = currentPicture();
    auto current = session();
    auto camera = current ? current->videoDevice() : nullptr;
    if (!picture || !camera) {
        return;
    }
    // Previews of a front camera adjust their mirroring on their own, as a mirror shows a face.
    const bool mirrored =
            connection_->isVideoMirrored() || camera->position() == CaptureDevicePosition::Front;
    drawVideoPicture(context, *picture, gravity_, bounds, mirrored);
}

}  // namespace pelmar::av
