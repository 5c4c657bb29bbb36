#include "pelmar/platform/av/internal/VideoPresenter.h"

#include <utility>

#include "pelmar/platform/av/internal/PlaybackDecoder.h"

namespace pelmar::av::internal {

bool VideoPresenter::prepare() {
    MutexLock lock(mutex_);
    return !std::exchange(prepared_, true);
}

bool VideoPresenter::prepared() const {
    MutexLock lock(mutex_);
    return prepared_;
}

bool VideoPresenter::presents(const void* item) const {
    MutexLock lock(mutex_);
    return decoder_ && item_ == item;
}

VideoPresenter::Decoder VideoPresenter::use(const void* item,
                                            const std::string& location,
                                            std::shared_ptr<ByteCache> cache,
                                            Decoder& retired) {
    MutexLock lock(mutex_);
    if (!decoder_ || item_ != item || decoder_->location() != location) {
        retired = std::move(decoder_);
        decoder_ = std::make_shared<PlaybackDecoder>(location, std::move(cache), maxWidth_,
                                                     maxHeight_);
        item_ = item;
        prepared_ = true;
    }
    return decoder_;
}

VideoPresenter::Decoder VideoPresenter::release(const void* item) {
    MutexLock lock(mutex_);
    if (!decoder_ || item_ != item) {
        return nullptr;
    }
    item_ = nullptr;
    return std::move(decoder_);
}

void VideoPresenter::seek(const void* item, const std::string& location, double seconds) {
    MutexLock lock(mutex_);
    if (decoder_ && item_ == item && decoder_->location() == location) {
        decoder_->seek(seconds);
    }
}

std::shared_ptr<const image::Bitmap> VideoPresenter::present(
        const Decoder& decoder, double seconds, int maxWidth, int maxHeight, double waitSeconds) {
    {
        MutexLock lock(mutex_);
        maxWidth_ = maxWidth;
        maxHeight_ = maxHeight;
    }
    decoder->setMaximumSize(maxWidth, maxHeight);
    const auto picture = decoder->pictureAt(seconds, waitSeconds);
    return picture ? picture->bitmap : nullptr;
}

std::shared_ptr<image::Bitmap> VideoPresenter::copy(
        const Decoder& decoder, double seconds, int maxWidth, int maxHeight, double waitSeconds) {
    const auto picture = decoder->pictureAt(seconds, waitSeconds);
    return picture ? decoder->copy(*picture, maxWidth, maxHeight) : nullptr;
}

void VideoPresenter::keepLast(std::shared_ptr<const image::Bitmap> picture) {
    MutexLock lock(mutex_);
    last_ = std::move(picture);
}

std::shared_ptr<const image::Bitmap> VideoPresenter::lastPicture() const {
    MutexLock lock(mutex_);
    return last_;
}

void VideoPresenter::forgetLast() {
    MutexLock lock(mutex_);
    last_.reset();
}

int64_t VideoPresenter::framesDecoded() const {
    MutexLock lock(mutex_);
    return decoder_ ? decoder_->framesDecoded() : 0;
}

}  // namespace pelmar::av::internal
