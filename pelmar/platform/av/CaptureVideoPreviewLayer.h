#pragma once

#include <memory>
#include <mutex>

#include "pelmar/platform/av/CaptureConnection.h"
#include "pelmar/platform/av/CaptureSession.h"
#include "pelmar/platform/sync/Mutex.h"
#include "pelmar/platform/ui/Layer.h"

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

    // Null without a session or while the session has no camera input.
    std::shared_ptr<CaptureConnection> connection() const;

private:
    mutable Mutex mutex_;
    std::shared_ptr<CaptureSession> session_ PELMAR_GUARDED_BY(mutex_);
    const std::shared_ptr<CaptureConnection> connection_ =
            std::make_shared<CaptureConnection>(MediaType::Video);
};

}  // namespace pelmar::av
