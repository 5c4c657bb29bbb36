#include "pelmar/imageloader/PelmarProgressiveImage.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string_view>

#include "pelmar/imageloader/PelmarDecodedImage.h"
#include "pelmar/platform/image/ImageDecoder.h"
#include "pelmar/platform/net/URLOrigin.h"

namespace pelmar {

PelmarProgressiveImage::PelmarProgressiveImage(PelmarDataTask dataTask,
                                               std::shared_ptr<PelmarSpeedRecorder> speedRecorder)
    : dataTask_(std::move(dataTask)),
      speedRecorder_(speedRecorder ? std::move(speedRecorder)
                                   : PelmarSpeedRecorder::sharedRecorder()) {}

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
    // Only the first scan matters: once the second starts, the first covers the picture.
    while (sosCount_ < 2 && scannedByte_ < mutableData_.size()) {
        // One byte back, so a marker split between two chunks is found.
        const std::size_t from = scannedByte_ == 0 ? 0 : scannedByte_ - 1;
        const std::size_t found = mutableData_.find("\xFF\xDA", from);
        if (found == std::string::npos) {
            scannedByte_ = mutableData_.size();
        } else {
            scannedByte_ = found + 2;
            ++sosCount_;
        }
    }
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
    PelmarRemoteLock::Hold lock(lock_);
    return l_estimatedRemainingTime();
}

double PelmarProgressiveImage::l_estimatedRemainingTime() {
    constexpr double kUnknown = std::numeric_limits<float>::max();
    const int64_t expected = dataTask_->countOfBytesExpectedToReceive();
    const int64_t received = dataTask_->countOfBytesReceived();
    if (expected < 0) {
        return kUnknown;
    }
    if (expected == received) {
        return 0;
    }
    const float speed = speedRecorder_->weightedAdjustedBytesPerSecondForHost(
            net::urlHost(dataTask_->currentRequest().url).value_or(""));
    if (speed == -1.0f) {
        return kUnknown;
    }
    return static_cast<float>(expected - received) / speed;
}

std::vector<float> PelmarProgressiveImage::progressThresholds() {
    PelmarRemoteLock::Hold lock(lock_);
    return progressThresholds_;
}

void PelmarProgressiveImage::setProgressThresholds(std::vector<float> thresholds) {
    if (thresholds.empty()) {
        return;
    }
    PelmarRemoteLock::Hold lock(lock_);
    progressThresholds_ = std::move(thresholds);
}

double PelmarProgressiveImage::estimatedRemainingTimeThreshold() {
    PelmarRemoteLock::Hold lock(lock_);
    return estimatedRemainingTimeThreshold_;
}

void PelmarProgressiveImage::setEstimatedRemainingTimeThreshold(double seconds) {
    PelmarRemoteLock::Hold lock(lock_);
    estimatedRemainingTimeThreshold_ = seconds;
}

uint64_t PelmarProgressiveImage::decodeCount() {
    PelmarRemoteLock::Hold lock(lock_);
    return decodeCount_;
}

int PelmarProgressiveImage::sosCount() {
    PelmarRemoteLock::Hold lock(lock_);
    return sosCount_;
}

PelmarImage PelmarProgressiveImage::currentImageBlurred(bool blurred,
                                                        PelmarSize maxProgressiveRenderSize,
                                                        double* renderedImageQuality) {
    // One render at a time, so renders come out in the order of their shares.
    PelmarRemoteLock::Hold rendering(renderLock_);
    PelmarImage image;
    float progress = 0;
    {
        PelmarRemoteLock::Hold lock(lock_);
        image = l_decodeDueRender(maxProgressiveRenderSize, &progress);
    }
    if (!image) {
        return nullptr;
    }
    // The blur reads only the decoded picture: arriving bytes are appended meanwhile.
    if (blurred) {
        image = postProcessImage(image, progress);
    }
    if (renderedImageQuality != nullptr) {
        *renderedImageQuality = progress;
    }
    return image;
}

PelmarImage PelmarProgressiveImage::l_decodeDueRender(PelmarSize maxProgressiveRenderSize,
                                                      float* progressOut) {
    if (currentThreshold_ >= progressThresholds_.size()) {
        return nullptr;
    }
    // The estimate is taken under the lock already held.
    if (estimatedRemainingTimeThreshold_ > 0
        && l_estimatedRemainingTime() < estimatedRemainingTimeThreshold_) {
        return nullptr;
    }
    if (sosCount_ <= 1) {
        return nullptr;
    }
    if (size_.width <= 0 || size_.height <= 0) {
        if (const auto header = image::ImageDecoder::readHeader(mutableData_)) {
            size_ = {static_cast<double>(header->width), static_cast<double>(header->height)};
            isProgressiveJPEG_ = header->format == image::ImageFormat::JPEG && header->progressive;
        }
    }
    if (size_.width > maxProgressiveRenderSize.width
        || size_.height > maxProgressiveRenderSize.height) {
        return nullptr;
    }
    const float progress = expectedNumberOfBytes_ >= 1
                                   ? static_cast<float>(mutableData_.size())
                                             / static_cast<float>(expectedNumberOfBytes_)
                                   : 0.0f;
    if (progress >= 0.99f || !isProgressiveJPEG_ || size_.width <= 0 || size_.height <= 0) {
        return nullptr;
    }
    if (progress <= progressThresholds_[currentThreshold_]) {
        return nullptr;
    }
    while (currentThreshold_ < progressThresholds_.size()
           && progress > progressThresholds_[currentThreshold_]) {
        ++currentThreshold_;
    }
    ++decodeCount_;
    *progressOut = progress;
    return PelmarDecodedImage::decodedImageWithData(mutableData_);
}

float PelmarProgressiveImage::blurRadius(double width, double scale, float progress) {
    return static_cast<float>(scale * std::max(1.0f - progress, 0.0f) * (width / 25.0));
}

int PelmarProgressiveImage::blurBoxSize(float radius) {
    constexpr float kEpsilon = std::numeric_limits<float>::epsilon();
    constexpr double kSqrtTwoPi = 2.5066282746310002;
    const double r = radius - 2 < kEpsilon ? 2.0 : radius;
    const auto box = static_cast<int>(std::floor(((r * 3 * kSqrtTwoPi) / 4 + 0.5) / 2));
    return box | 1;
}

PelmarImage PelmarProgressiveImage::postProcessImage(const PelmarImage& image, float progress) {
    if (!image || image->pointWidth() < 1 || image->pointHeight() < 1) {
        return nullptr;
    }
    const float radius = blurRadius(image->pointWidth(), image->scale(), progress);
    if (radius < std::numeric_limits<float>::epsilon()) {
        return image;
    }
    return boxBlurred(*image, blurBoxSize(radius));
}

namespace {

// One running-sum box pass over `count` BGRA pixels `step` bytes apart, edges extended: each
// output is the average of the `box` inputs centred on it, with out-of-range inputs taking the
// edge pixel. The four channels run together and the edge pixel is chosen by index, so each
// pixel costs a few additions whatever the box.
void boxPass(const uint8_t* in, uint8_t* out, int count, std::size_t step, int box) {
    const int half = box / 2;
    const uint32_t divisor = static_cast<uint32_t>(box);
    const uint32_t rounding = divisor / 2;
    const uint8_t* first = in;
    const uint8_t* last = in + static_cast<std::size_t>(count - 1) * step;
    const auto pixelAt = [&](int i) {
        return i <= 0 ? first : i >= count - 1 ? last : in + static_cast<std::size_t>(i) * step;
    };
    uint32_t b = 0, g = 0, r = 0, a = 0;
    for (int i = -half; i <= half; ++i) {
        const uint8_t* p = pixelAt(i);
        b += p[0];
        g += p[1];
        r += p[2];
        a += p[3];
    }
    uint8_t* o = out;
    for (int i = 0; i < count; ++i, o += step) {
        o[0] = static_cast<uint8_t>((b + rounding) / divisor);
        o[1] = static_cast<uint8_t>((g + rounding) / divisor);
        o[2] = static_cast<uint8_t>((r + rounding) / divisor);
        o[3] = static_cast<uint8_t>((a + rounding) / divisor);
        // i + half + 1 is past the start and i - half before the end, so one bound each.
        const int entering = i + half + 1;
        const int leaving = i - half;
        const uint8_t* in1 =
                entering >= count - 1 ? last : in + static_cast<std::size_t>(entering) * step;
        const uint8_t* out1 = leaving <= 0 ? first : in + static_cast<std::size_t>(leaving) * step;
        b = b + in1[0] - out1[0];
        g = g + in1[1] - out1[1];
        r = r + in1[2] - out1[2];
        a = a + in1[3] - out1[3];
    }
}

}  // namespace

PelmarImage PelmarProgressiveImage::boxBlurred(const image::Bitmap& image, int boxSize) {
    if (image.format() != image::PixelFormat::BGRA8 || boxSize < 1) {
        return nullptr;
    }
    const int width = image.width();
    const int height = image.height();
    auto layout = image.layout();
    layout.opaque = true;
    auto a = image::Bitmap::create(width, height, layout);
    auto b = image::Bitmap::create(width, height, layout);
    if (!a || !b) {
        return nullptr;
    }
    for (int y = 0; y < height; ++y) {
        std::copy_n(image.row(y), static_cast<std::size_t>(width) * 4, a->row(y));
    }
    // Three box passes stand in for a Gaussian; each runs across the rows into `b`, then down
    // the columns back into `a`.
    for (int pass = 0; pass < 3; ++pass) {
        for (int y = 0; y < height; ++y) {
            boxPass(a->row(y), b->row(y), width, 4, boxSize);
        }
        for (int x = 0; x < width; ++x) {
            const std::size_t column = static_cast<std::size_t>(x) * 4;
            boxPass(b->data() + column, a->data() + column, height, a->stride(), boxSize);
        }
    }
    // Drawn into an opaque picture: premultiplied colour over black, alpha full.
    for (int y = 0; y < height; ++y) {
        uint8_t* row = a->row(y);
        for (int x = 0; x < width; ++x) {
            row[x * 4 + 3] = 255;
        }
    }
    return a;
}

}  // namespace pelmar
