#include "pelmar/imageloader/PelmarProgressiveImage.h"

#include <algorithm>
#include <limits>

#include "pelmar/platform/net/URLOrigin.h"

namespace pelmar {

PelmarProgressiveImage::PelmarProgressiveImage(PelmarDataTask dataTask,
                                               PelmarSpeedRecorder& speedRecorder)
    : dataTask_(std::move(dataTask)), speedRecorder_(speedRecorder) {}

void PelmarProgressiveImage::updateProgressiveImageWithData(const std::string& data,
                                                            int64_t expectedNumberOfBytes,
                                                            bool isResume) {
    PelmarRemoteLock::Hold lock(lock_);
    if (isResume) {
        startingBytes_ = data.size();
    }
    if (!hasData_) {
        hasData_ = true;
        expectedNumberOfBytes_ = expectedNumberOfBytes;
        // A server may announce any length: reserve only what is plausible, then grow.
        mutableData_.reserve(static_cast<std::size_t>(
                std::clamp<int64_t>(expectedNumberOfBytes, 0, kMaxReservedBytes)));
    }
    mutableData_ += data;
}

std::string PelmarProgressiveImage::data() {
    PelmarRemoteLock::Hold lock(lock_);
    return mutableData_;
}

int64_t PelmarProgressiveImage::expectedNumberOfBytes() {
    PelmarRemoteLock::Hold lock(lock_);
    return expectedNumberOfBytes_;
}

uint64_t PelmarProgressiveImage::startingBytes() {
    PelmarRemoteLock::Hold lock(lock_);
    return startingBytes_;
}

double PelmarProgressiveImage::estimatedRemainingTime() {
    constexpr double kUnknown = std::numeric_limits<float>::max();
    const int64_t expected = dataTask_->countOfBytesExpectedToReceive();
    const int64_t received = dataTask_->countOfBytesReceived();
    if (expected < 0) {
        return kUnknown;
    }
    if (expected == received) {
        return 0;
    }
    const float speed = speedRecorder_.weightedAdjustedBytesPerSecondForHost(
            net::urlHost(dataTask_->currentRequest().url).value_or(""));
    if (speed == -1.0f) {
        return kUnknown;
    }
    return static_cast<float>(expected - received) / speed;
}

}  // namespace pelmar
