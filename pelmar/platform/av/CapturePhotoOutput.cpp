#include "pelmar/platform/av/CapturePhotoOutput.h"

#include <utility>

namespace pelmar::av {

void CapturePhotoOutput::setPreparedPhotoSettingsArray(std::vector<CapturePhotoSettings> settings) {
    MutexLock lock(mutex_);
    prepared_ = std::move(settings);
}

std::vector<CapturePhotoSettings> CapturePhotoOutput::preparedPhotoSettingsArray() const {
    MutexLock lock(mutex_);
    return prepared_;
}

}  // namespace pelmar::av
