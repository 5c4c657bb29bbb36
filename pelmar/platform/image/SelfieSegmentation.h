#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

#include "pelmar/platform/dispatch/LateGate.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/media/PixelBuffer.h"
#include "pelmar/platform/media/Time.h"
#include "pelmar/platform/sync/Mutex.h"

namespace pelmar::image {

class SelfieSegmentation;

// Receives segmented pictures. `picture` is null when a frame could not be segmented.
class SelfieSegmentationDelegate {
public:
    virtual ~SelfieSegmentationDelegate() = default;

    virtual void selfieSegmentation(SelfieSegmentation& segmentation,
                                    const std::shared_ptr<media::PixelBuffer>& picture,
                                    media::Time presentationTime) = 0;
};

// SelfieSegmentation: blurs the background of camera pictures, keeping the person. This stand-in
// takes the person to be the centred ellipse of the picture and blurs everything outside it (8 x 8
// block average), or paints it a fixed marker colour so tests can recognise its pictures. Each
// result is a new BGRA picture of the same size, handed to the delegate with the time the frame
// came with, on the component's own thread, some time after processVideoFrame. processVideoFrame
// never blocks: a frame is dropped while one handed over at an earlier clock instant is still being
// worked on; frames of one instant queue, up to kMaxQueuedFrames (dispatch::LateGate).
// Ownership: made with std::make_shared; refers to its delegate weakly; the worker holds it weakly.
// Threads: thread-safe; the delegate is called on the component's serial queue.
// Errors: none; a null or non-BGRA/ARGB picture yields a null result.
class SelfieSegmentation : public std::enable_shared_from_this<SelfieSegmentation> {
public:
    static constexpr int kMaxQueuedFrames = 8;

    SelfieSegmentation();

    SelfieSegmentation(const SelfieSegmentation&) = delete;
    SelfieSegmentation& operator=(const SelfieSegmentation&) = delete;

    void setDelegate(std::weak_ptr<SelfieSegmentationDelegate> delegate);

    // Frames are taken only after the graph has started.
    void startGraph() { started_.store(true); }

    void processVideoFrame(std::shared_ptr<media::PixelBuffer> picture, media::Time time);

    // Test knobs: a colour painted outside the person (bytes B, G, R), and results withheld.
    void setMarkerColor(std::optional<uint32_t> bgr);

    void setProducesNothing(bool nothing) { producesNothing_.store(nothing); }

    int64_t framesProcessed() const { return processed_.load(); }

    int64_t framesDropped() const { return dropped_.load(); }

    // Segments `picture` into a new picture (no delegate involved).
    std::shared_ptr<media::PixelBuffer> segment(const media::PixelBuffer& picture) const;

private:
    const std::shared_ptr<dispatch::Queue> queue_;
    std::atomic<bool> started_{false};
    std::atomic<bool> producesNothing_{false};
    dispatch::LateGate lateGate_{kMaxQueuedFrames};
    std::atomic<int64_t> processed_{0};
    std::atomic<int64_t> dropped_{0};
    mutable Mutex mutex_;
    std::weak_ptr<SelfieSegmentationDelegate> delegate_ PELMAR_GUARDED_BY(mutex_);
    std::optional<uint32_t> marker_ PELMAR_GUARDED_BY(mutex_);
};

}  // namespace pelmar::image
