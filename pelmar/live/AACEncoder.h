#pragma once

#include <memory>
#include <span>

#include "pelmar/live/AACEncoderDelegate.h"
#include "pelmar/platform/media/SampleBuffer.h"
#include "pelmar/platform/sync/Mutex.h"

// AACEncoder: encodes microphone audio (16-bit interleaved PCM sample buffers) to AAC LC for live
// streaming and hands each packet to its delegate, ready for LiveStreamer::putAudioSample.
// Ownership: made by create() and held by shared_ptr; owns its encoder; holds its delegate weakly.
// Threads: thread-safe. Buffers are taken one at a time in call order. Packets reach the delegate
//          one at a time and in encoding order, with none of the encoder's locks held, so the
//          delegate may call back into the encoder (or wait, for example while a LiveStreamer
//          waits for publishing to start) without holding up other threads that put audio in.
// Errors: a failed set-up prints its lines through foundation::Console, so to the host's LogSink
//         (standard output by default): ("audioConverterNewSpecific
//         failed" or "audioConverter set bitrate failed", then "AAC encoder initialization
//         failed: " and the status in hex); the encoder is still returned and drops all input.
//         A buffer of another format, or without a valid time, prints one line and is dropped.
// Limits: rates 1,000..768,000 Hz, 1..6 channels, bitrate above 0; memory for about two packets'
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
    // the delegate before the call returns, unless another call (of another thread, or of the
    // delegate itself) is delivering packets at that moment: that call then delivers it, right
    // after the packets before it. Every input frame is encoded exactly once, in
    // 1024-frame packets, one delegate call per packet with its own time (the time of its first
    // frame); frames short of a whole packet wait for the next buffer. The encoder runs one packet
    // behind its input: the first packet, presented 1024 frames before the first input frame,
    // carries the decoder's priming. Mono input is encoded and described as mono. The channels of
    // a frame come in the order of the AAC channel configuration for their count, and the stream
    // carries exactly that layout: 1 C; 2 L R; 3 C L R; 4 C L R Cs (surround centre); 5 C L R Ls
    // Rs; 6 C L R Ls Rs LFE. Input at a rate
    // outside the MPEG-4 sampling-frequency table (7,350 to 96,000 Hz, thirteen rates) is
    // resampled to the nearest table rate (192,000 Hz to 96,000, 4,000 Hz to 7,350), which the
    // AudioSpecificConfig names and in whose frames the packet times count.
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
