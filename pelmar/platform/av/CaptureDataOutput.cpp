#include "pelmar/platform/av/CaptureDataOutput.h"

#include <utility>

namespace pelmar::av {

void CaptureDataOutput::setSampleBufferDelegate(
        std::weak_ptr<CaptureDataOutputSampleBufferDelegate> delegate,
        std::shared_ptr<dispatch::Queue> queue) {
    MutexLock lock(mutex_);
    delegate_ = std::move(delegate);
    queue_ = std::move(queue);
}

std::shared_ptr<dispatch::Queue> CaptureDataOutput::sampleBufferCallbackQueue() const {
    MutexLock lock(mutex_);
    return queue_;
}

bool CaptureDataOutput::deliver(std::shared_ptr<const media::SampleBuffer> sample) {
    std::weak_ptr<CaptureDataOutputSampleBufferDelegate> delegate;
    std::shared_ptr<dispatch::Queue> queue;
    {
        MutexLock lock(mutex_);
        delegate = delegate_;
        queue = queue_;
    }
    auto link = connection(sample ? sample->mediaType() : MediaType::Video);
    if (!sample || !queue || delegate.expired() || !link || !link->isEnabled()) {
        return false;
    }
    // A late frame is one whose predecessor the delegate had time to take and did not.
    const bool gated = discardsLateSamples();
    if (gated && !lateGate_.tryAdmit()) {
        return false;
    }
    ++pending_;
    auto self = std::static_pointer_cast<CaptureDataOutput>(shared_from_this());
    queue->async([self, gated, delegate = std::move(delegate), sample = std::move(sample),
                  link = std::move(link)] {
        --self->pending_;
        if (gated) {
            self->lateGate_.finish();
        }
        if (auto d = delegate.lock()) {
            d->captureOutput(self, sample, link);
        }
    });
    return true;
}

}  // namespace pelmar::av
