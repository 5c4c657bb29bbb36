#pragma once

#include <memory>
#include <span>

#include "pelmar/live/AACEncoderDelegate.h"
#include "pelmar/platform/media/SampleBuffer.h"
#include "pelmar/platform/sync/Mutex.h"

// AACEncoder: encodes microphone audio (16-bit interleaved PCM sample buffers) to AAC LC for live
// streaming and hands each packet to its delegate, ready for LiveStreamer::putAudioSample.
// Ownership: made by create() and held by shared_ptr; owns its encoder; holds its delegate weakly.
// Threads: thread-safe. Buffers are taken one at a time in call order; the delegate runs on the
//          calling thread while the encoder's lock is held, so it must not call back into the
//          same encoder.
// Errors: a failed set-up prints its lines to standard output ("audioConverterNewSpecific
//         failed" or "audioConverter set bitrate failed", then "AAC encoder initialization
//         failed: " and the status in hex); the encoder is still returned and drops all input.
//         A buffer of another format, or without a valid time, prints one line and is dropped.
// Limits: rates 7350..96000 Hz, 1..6 channels, bitrate above 0; memory for about two packets'
//         input.

namespace pelmar::live {

namespace internal {
class AACEncoderCpp;
}

class AACEncoder {
public:
    // `bitrate` in bits per second. Never null.
    static std::shared_ptr<AACEncoder> create(int sampleRate, int channels, int bitrate);

    ~AACEncoder();

    AACEncoder(const AACEncoder&) = delete;
    AACEncoder& operator=(const AACEncoder&) = delete;

    // Takes PCM of the encoder's rate and channel count; each whole packet it completes reaches
    // the delegate before the call returns. Every input frame is encoded exactly once, in
    // 1024-frame packets, one delegate call per packet with its own time (the time of its first
    // frame); frames short of a whole packet wait for the next buffer. The encoder runs one packet
    // behind its input: the first packet, presented 1024 frames before the first input frame,
    // carries the decoder's priming. Mono input is encoded and described as mono. Input at a rate
    // outside the MPEG-4 sampling-frequency table is resampled to the nearest table rate, which
    // the AudioSpecificConfig names and in whose frames the packet times count.
    void putCMSampleBuffer(const std::shared_ptr<const media::SampleBuffer>& sampleBuffer);

    // Ends the stream: the frames still waiting, padded with silence to a whole packet, and the
    // packet the encoder holds back reach the delegate. Later input is dropped.
    void flush();

    std::shared_ptr<AACEncoderDelegate> delegate() const;

    void setDelegate(std::weak_ptr<AACEncoderDelegate> delegate);

private:
    AACEncoder() = default;

    void deliver(std::span<const uint8_t> data, std::span<const uint8_t> asc, media::Time pts);

    mutable Mutex delegateMutex_;
    std::weak_ptr<AACEncoderDelegate> delegate_ PELMAR_GUARDED_BY(delegateMutex_);
    std::unique_ptr<internal::AACEncoderCpp> impl_;
};

}  // namespace pelmar::live
