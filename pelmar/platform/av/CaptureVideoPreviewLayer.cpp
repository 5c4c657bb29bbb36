#include "pelmar/platform/av/CaptureVideoPreviewLayer.h"

#include <algorithm>
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
    std::shared_ptr<CaptureSession> previous;
    {
        MutexLock lock(mutex_);
        previous = std::exchange(session_, session);
    }
    // The session mirrors the connection as its camera changes; not under our lock, since the
    // session takes its own.
    if (previous && previous != session) {
        previous->removeCameraFollowingConnection(connection_);
    }
    if (session) {
        session->addCameraFollowingConnection(connection_);
    } else {
        connection_->setVideoMirrored(false);
    }
}

CaptureVideoPreviewLayer::~CaptureVideoPreviewLayer() {
    if (auto current = session()) {
        current->removeCameraFollowingConnection(connection_);
    }
}

std::shared_ptr<CaptureConnection> CaptureVideoPreviewLayer::connection() const {
    auto current = session();
    return current && current->videoDevice() ? connection_ : nullptr;
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

void CaptureVideoPreviewLayer::draw(ui::GraphicsContext& context, ui::Rect bounds) {
    auto picture = currentPicture();
    auto link = connection();
    if (!picture || !link) {
        return;
    }
    // A front camera's connection mirrors, as a mirror shows a face.
    drawVideoPicture(context, *picture, gravity_, bounds, link->isVideoMirrored());
}

namespace {

// A point in shares (0 to 1) of the shown picture's width and height.
struct Share {
    double x;
    double y;
};

// The shares of the shown picture at device point `d`: turned for the orientation (the camera's
// own picture is landscape right), then mirrored across the vertical axis.
Share shownFromDevice(DevicePoint d, VideoOrientation orientation, bool mirrored) {
    Share s{d.x, d.y};
    switch (orientation) {
        case VideoOrientation::Portrait:
            s = {1 - d.y, d.x};
            break;
        case VideoOrientation::PortraitUpsideDown:
            s = {d.y, 1 - d.x};
            break;
        case VideoOrientation::LandscapeLeft:
            s = {1 - d.x, 1 - d.y};
            break;
        case VideoOrientation::LandscapeRight:
            break;
    }
    if (mirrored) {
        s.x = 1 - s.x;
    }
    return s;
}

DevicePoint deviceFromShown(Share s, VideoOrientation orientation, bool mirrored) {
    if (mirrored) {
        s.x = 1 - s.x;
    }
    switch (orientation) {
        case VideoOrientation::Portrait:
            return {s.y, 1 - s.x};
        case VideoOrientation::PortraitUpsideDown:
            return {1 - s.y, s.x};
        case VideoOrientation::LandscapeLeft:
            return {1 - s.x, 1 - s.y};
        case VideoOrientation::LandscapeRight:
            break;
    }
    return {s.x, s.y};
}

}  // namespace

DevicePoint CaptureVideoPreviewLayer::captureDevicePointConverted(ui::Point layerPoint,
                                                                  ui::Rect bounds) const {
    auto link = connection();
    const auto orientation = link ? link->videoOrientation() : VideoOrientation::Portrait;
    auto share = [](double value, double length) {
        return length > 0 ? std::clamp(value / length, 0.0, 1.0) : 0.5;
    };
    return deviceFromShown({share(layerPoint.x - bounds.x, bounds.width),
                            share(layerPoint.y - bounds.y, bounds.height)},
                           orientation, link && link->isVideoMirrored());
}

ui::Point CaptureVideoPreviewLayer::layerPointConverted(DevicePoint devicePoint,
                                                        ui::Rect bounds) const {
    auto link = connection();
    const auto orientation = link ? link->videoOrientation() : VideoOrientation::Portrait;
    const Share s = shownFromDevice(devicePoint, orientation, link && link->isVideoMirrored());
    return {bounds.x + s.x * bounds.width, bounds.y + s.y * bounds.height};
}

MetadataFaceObject CaptureVideoPreviewLayer::transformedMetadataObject(
        const MetadataFaceObject& face, ui::Rect bounds) const {
    const ui::Point a = layerPointConverted({face.x, face.y}, bounds);
    const ui::Point b = layerPointConverted({face.x + face.width, face.y + face.height}, bounds);
    MetadataFaceObject turned = face;
    turned.x = std::min(a.x, b.x);
    turned.y = std::min(a.y, b.y);
    turned.width = std::abs(b.x - a.x);
    turned.height = std::abs(b.y - a.y);
    return turned;
}

}  // namespace pelmar::av
