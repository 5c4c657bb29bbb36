#pragma once

#include <memory>
#include <utility>

#include "pelmar/platform/av/CaptureDevice.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/recorder/PelmarRecorder.h"

// Queue hops of the camera screen: each holds the recorder weakly and does nothing once it has
// gone. Threads: thread-safe.

namespace pelmar::recorder::internal {

template <class F>
inline void onMain(const std::weak_ptr<PelmarRecorder>& weak, F fn) {
    dispatch::Queue::main()->async([weak, fn = std::move(fn)]() mutable {
        if (auto self = weak.lock()) {
            fn(*self);
        }
    });
}

template <class F>
inline void onQueue(const std::shared_ptr<dispatch::Queue>& queue,
                    const std::weak_ptr<PelmarRecorder>& weak,
                    F fn) {
    queue->async([weak, fn = std::move(fn)]() mutable {
        if (auto self = weak.lock()) {
            fn(*self);
        }
    });
}

inline bool moreThanOneCamera() {
    return av::CaptureDevice::devices(av::MediaType::Video).size() > 1;
}
}  // namespace pelmar::recorder::internal
