#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include "pelmar/platform/av/CaptureOutput.h"
#include "pelmar/platform/dispatch/LateGate.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/media/SampleBuffer.h"
#include "pelmar/platform/sync/Mutex.h"

namespace pelmar::av {

class CaptureDataOutput;

// Receives the samples of a video or audio data output.
class CaptureDataOutputSampleBufferDelegate {
public:
    virtual ~CaptureDataOutputSampleBufferDelegate() = default;

    virtual void captureOutput(const std::shared_ptr<CaptureDataOutput>& output,
                               const std::shared_ptr<const media::SampleBuffer>& sample,
                               const std::shared_ptr<CaptureConnection>& connection) = 0;
};

// CaptureDataOutput: an output that hands every sample to a delegate on the delegate's queue, in
// capture order. The synthetic devices deliver through deliver(); in manual-feed mode a test calls
// it itself. An output that discards late samples drops one while an earlier one, handed over at an
// earlier clock instant, still waits for the delegate (dispatch::LateGate).
// Ownership: refers to its delegate weakly (a gone delegate gets nothing) and holds its queue.
// Threads: thread-safe.
// Errors: none; samples without a delegate, queue or connection are dropped.
class CaptureDataOutput : public CaptureOutput {
public:
    void setSampleBufferDelegate(std::weak_ptr<CaptureDataOutputSampleBufferDelegate> delegate,
                                 std::shared_ptr<dispatch::Queue> queue);

    std::shared_ptr<dispatch::Queue> sampleBufferCallbackQueue() const;

    // Queues `sample` for the delegate. Returns false when it was dropped.
    bool deliver(std::shared_ptr<const media::SampleBuffer> sample);

    // Samples queued for the delegate and not yet handed over.
    int pendingSamples() const { return pending_.load(); }

protected:
    CaptureDataOutput() = default;

    // Whether a sample may be dropped when the previous one is still waiting.
    virtual bool discardsLateSamples() const { return false; }

private:
    mutable Mutex mutex_;
    std::weak_ptr<CaptureDataOutputSampleBufferDelegate> delegate_ PELMAR_GUARDED_BY(mutex_);
    std::shared_ptr<dispatch::Queue> queue_ PELMAR_GUARDED_BY(mutex_);
    std::atomic<int> pending_{0};
    // Samples made at one instant (a manual clock's jump) queue up to this many.
    static constexpr std::size_t kMaxSamplesAtOneInstant = 32;
    dispatch::LateGate lateGate_{kMaxSamplesAtOneInstant};
};

}  // namespace pelmar::av
