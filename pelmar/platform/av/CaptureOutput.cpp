#include "pelmar/platform/av/CaptureOutput.h"

namespace pelmar::av {

CaptureOutput::~CaptureOutput() = default;

std::shared_ptr<CaptureConnection> CaptureOutput::connection(MediaType media) const {
    MutexLock lock(mutex_);
    if (!connection_ || connection_->mediaType() != media) {
        return nullptr;
    }
    return connection_;
}

std::shared_ptr<CaptureSession> CaptureOutput::session() const {
    MutexLock lock(mutex_);
    return session_.lock();
}

void CaptureOutput::attach(const std::shared_ptr<CaptureSession>& session) {
    MutexLock lock(mutex_);
    session_ = session;
    if (!connection_) {
        connection_ = std::make_shared<CaptureConnection>(connectionMediaType());
    }
}

void CaptureOutput::detach() {
    MutexLock lock(mutex_);
    session_.reset();
    connection_.reset();
}

}  // namespace pelmar::av
