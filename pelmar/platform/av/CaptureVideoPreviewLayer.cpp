#include "pelmar/platform/av/CaptureVideoPreviewLayer.h"

#include <utility>

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

}  // namespace pelmar::av
