#pragma once

#include <cstdint>
#include <memory>

#include "pelmar/platform/media/SampleBuffer.h"
#include "testing/SyntheticMedia.h"

namespace pelmar::av::test {

// SyntheticMedia: the shared synthetic media (testing/SyntheticMedia.h) under the names the
// recorder's tests and benchmarks use: camera-like frames and microphone-like buffers with chosen
// times.
// Ownership: static functions returning new buffers.
// Threads: thread-safe.
// Errors: none.
struct SyntheticMedia {
    // Frame `index` of the test pattern, `width` x `height` BGRA, at `seconds` (nanosecond
    // clock) lasting 1/30 s.
    static std::shared_ptr<media::SampleBuffer> frame(int width,
                                                      int height,
                                                      int64_t index,
                                                      double seconds);

    // `frames` frames of a tone as signed 16-bit PCM starting at sample `firstSample` of a
    // `rate` clock.
    static std::shared_ptr<media::SampleBuffer> tone(int64_t firstSample,
                                                     int frames = 1024,
                                                     int rate = 44100,
                                                     int channels = 1);
};

}  // namespace pelmar::av::test
