#pragma once

#include <memory>
#include <mutex>

#include "pelmar/platform/av/CaptureConnection.h"
#include "pelmar/platform/av/CaptureSession.h"
#include "pelmar/platform/av/VideoGravity.h"
#include "pelmar/platform/image/Bitmap.h"
#include "pelmar/platform/sync/Mutex.h"
#include "pelmar/platform/ui/Layer.h"

namespace pelmar::av {

// CaptureVideoPreviewLayer: the layer that shows a session's live camera picture. While the
// session has a camera input it paints the camera's latest frame (the environment's camera image,
// or the test pattern of the frame due on the clock), in the orientation of its connection, fitted
// by its video gravity and clipped to its bounds; a front camera's picture, or one on a mirrored
// connection, is turned left to right as in a mirror. The synthetic camera sees whether or not
// the session runs, so a preview of a session not started yet shows the picture too.
// Ownership: made with std::make_shared (usually by a preview view); holds its session.
// Threads: main thread only for the session, the gravity and painting; connection() and the
//     connection's fields may be used from any thread.
// Errors: none; without a session or a camera it paints nothing.
class CaptureVideoPreviewLayer : public ui::Layer {
public:
    std::shared_ptr<CaptureSession> session() const;

    void setSession(std::shared_ptr<CaptureSession> session);

    // Null without a session or while the session has no camera input.
    std::shared_ptr<CaptureConnection> connection() const;

    LayerVideoGravity videoGravity() const { return gravity_; }

    void setVideoGravity(LayerVideoGravity gravity) { gravity_ = gravity; }

    // The camera's picture as the layer shows it now, before fitting and mirroring; null without
    // a session or a camera.
    std::shared_ptr<const image::Bitmap> currentPicture() const;

    void drawInContext(ui::GraphicsContext& context, ui::Rect bounds) override;

private:
    mutable Mutex mutex_;
    std::shared_ptr<CaptureSession> session_ PELMAR_GUARDED_BY(mutex_);
    const std::shared_ptr<CaptureConnection> connection_ =
            std::make_shared<CaptureConnection>(MediaType::Video);
    LayerVideoGravity gravity_ = LayerVideoGravity::ResizeAspect;
};

}  // namespace pelmar::av
