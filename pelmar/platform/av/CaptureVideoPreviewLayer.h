#pragma once

#include <memory>
#include <mutex>

#include "pelmar/platform/av/CaptureConnection.h"
#include "pelmar/platform/av/CaptureDevice.h"
#include "pelmar/platform/av/CaptureSession.h"
#include "pelmar/platform/av/MetadataFaceObject.h"
#include "pelmar/platform/av/VideoGravity.h"
#include "pelmar/platform/image/Bitmap.h"
#include "pelmar/platform/sync/Mutex.h"
#include "pelmar/platform/ui/Layer.h"
#include "pelmar/platform/ui/Point.h"
#include "pelmar/platform/ui/Rect.h"

namespace pelmar::av {

// CaptureVideoPreviewLayer: the layer that shows a session's live camera picture. While the
// session has a camera input it paints the camera's latest frame (the environment's camera image,
// or the test pattern of the frame due on the clock), in the orientation of its connection, fitted
// by its video gravity and clipped to its bounds, and turned left to right when its connection
// mirrors (a front camera's does), as in a mirror. The synthetic camera sees whether or not
// the session runs, so a preview of a session not started yet shows the picture too.
// Ownership: made with std::make_shared (usually by a preview view); holds its session.
// Threads: main thread only for the session, the gravity and painting; connection() and the
//     connection's fields may be used from any thread.
// Errors: none; without a session or a camera it paints nothing.
class CaptureVideoPreviewLayer : public ui::Layer {
public:
    ~CaptureVideoPreviewLayer() override;

    std::shared_ptr<CaptureSession> session() const;

    void setSession(std::shared_ptr<CaptureSession> session);

    // Null without a session or while the session has no camera input. The session keeps the
    // connection mirrored exactly while its camera is a front one.
    std::shared_ptr<CaptureConnection> connection() const;

    LayerVideoGravity videoGravity() const { return gravity_; }

    void setVideoGravity(LayerVideoGravity gravity) { gravity_ = gravity; }

    // The camera's picture as the layer shows it now, before fitting and mirroring; null without
    // a session or a camera.
    std::shared_ptr<const image::Bitmap> currentPicture() const;

    void draw(ui::GraphicsContext& context, ui::Rect bounds) override;

    // Conversions between a point of the layer and device coordinates: (0, 0) to (1, 1) over the
    // camera's own picture, unturned (landscape right) and unmirrored, as points of interest and
    // face bounds are given. The layer shows the picture over all of `bounds` (the layer's
    // bounds: the stand-in layer keeps no geometry of its own), turned by its connection's
    // orientation and then mirrored when the connection mirrors; without a connection it shows
    // it portrait and unmirrored. Device points are kept within 0 to 1.
    DevicePoint captureDevicePointConverted(ui::Point layerPoint, ui::Rect bounds) const;
    ui::Point layerPointConverted(DevicePoint devicePoint, ui::Rect bounds) const;

    // `face` with its bounds turned from device coordinates into the layer's.
    MetadataFaceObject transformedMetadataObject(const MetadataFaceObject& face,
                                                 ui::Rect bounds) const;

private:
    mutable Mutex mutex_;
    std::shared_ptr<CaptureSession> session_ PELMAR_GUARDED_BY(mutex_);
    const std::shared_ptr<CaptureConnection> connection_ =
            std::make_shared<CaptureConnection>(MediaType::Video);
    LayerVideoGravity gravity_ = LayerVideoGravity::ResizeAspect;
};

}  // namespace pelmar::av
