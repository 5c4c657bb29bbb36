#pragma once

#include <memory>
#include <mutex>

#include "pelmar/platform/av/CaptureConnection.h"
#include "pelmar/platform/av/CaptureDevice.h"
#include "pelmar/platform/av/CaptureSession.h"
#include "pelmar/platform/av/MetadataFaceObject.h"
#include "pelmar/platform/sync/Mutex.h"
#include "pelmar/platform/ui/Layer.h"
#include "pelmar/platform/ui/Point.h"
#include "pelmar/platform/ui/Rect.h"

namespace pelmar::av {

// CaptureVideoPreviewLayer: the layer that shows a session's live camera picture. Nothing is drawn;
// it holds the session and a connection that exists while the session has a camera input.
// Ownership: made with std::make_shared (usually by a preview view); holds its session.
// Threads: main thread only for the session; connection() and the connection's fields may be used
//     from any thread.
// Errors: none.
class CaptureVideoPreviewLayer : public ui::Layer {
public:
    std::shared_ptr<CaptureSession> session() const;

    void setSession(std::shared_ptr<CaptureSession> session);

    // Null without a session or while the session has no camera input. The connection mirrors
    // the picture exactly while the camera is a front one.
    std::shared_ptr<CaptureConnection> connection() const;

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
};

}  // namespace pelmar::av
