#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "pelmar/live/internal/OrderedDelivery.h"
#include "pelmar/platform/libav/LibavHandles.h"
#include "pelmar/platform/media/SampleBuffer.h"
#include "pelmar/platform/media/Time.h"
#include "pelmar/platform/sync/Mutex.h"

// AACEncoderCpp: the AAC-LC encoder behind AACEncoder: libswresample converts 16-bit interleaved
// PCM to planar float, its channels (in AAC channel-configuration order) moved into FFmpeg's
// order for the configuration's layout, and libavcodec's native AAC encoder encodes it in
// 1024-frame blocks.
// Ownership: owns the libavcodec, libavutil and libswresample state and the output function.
// Threads: thread-safe. One mutex serialises the encoding; the output function runs after it is
//          released, one packet at a time and in encoding order (OrderedDelivery), so it may call
//          back into this encoder.
// Errors: a failed set-up prints "audioConverterNewSpecific failed" (rate outside kMinSampleRate
//         ..kMaxSampleRate, channels outside 1..kMaxChannels, no encoder) or "audioConverter set
//         bitrate failed" (bitrate <= 0), then "AAC encoder initialization failed: " and the
//         status (an FFmpeg error code) in lower-case hex, to standard output through
//         foundation::Console; the encoder then drops all input.
//         Input that is not 16-bit interleaved PCM of the encoder's rate and channel count, or has
//         no valid time, prints "AAC encoder: <reason>" and is dropped whole.
// Limits: rates kMinSampleRate..kMaxSampleRate; memory holds about two 1024-frame blocks (of
//         the input's rate), whatever the size of the input.

namespace pelmar::live::internal {

class AACEncoderCpp {
public:
    // One AAC packet (raw, no ADTS header), the AudioSpecificConfig, the packet's time.
    using Output = std::function<void(
            std::span<const uint8_t> packet, std::span<const uint8_t> asc, media::Time pts)>;

    static constexpr int kFramesPerPacket = 1024;
    // Any rate in this range is taken; rates outside the MPEG-4 table are resampled.
    static constexpr int kMinSampleRate = 1000;
    static constexpr int kMaxSampleRate = 768000;
    static constexpr int kMaxChannels = 6;

    // `bitrate` in bits per second.
    AACEncoderCpp(int sampleRate, int channels, int bitrate, Output output);

    ~AACEncoderCpp();

    AACEncoderCpp(const AACEncoderCpp&) = delete;
    AACEncoderCpp& operator=(const AACEncoderCpp&) = delete;

    bool isValid() const;

    // Takes one PCM sample buffer; every whole 1024-frame block is encoded (and, unless another
    // call is delivering at the time, which then hands them over next, delivered) before
    // returning, and a remainder waits for the next call. Each encoded packet leaves on its own
    // through the output function with the AudioSpecificConfig and its own presentation time,
    // counted in frames of the coding rate. Input at a rate outside the MPEG-4 sampling-frequency
    // table is resampled to the nearest table rate (codingRate()), which the AudioSpecificConfig
    // names, so every stream has a two-byte configuration that any decoder accepts. The encoder
    // lags one packet behind its input; its first packet (presented 1024 frames before the first
    // input frame) holds the decoder's priming.
    void putFrame(const std::shared_ptr<const media::SampleBuffer>& sampleBuffer);

    // Encodes the frames still waiting (padded with silence to a whole block) and the packet the
    // encoder still holds. The encoder is finished afterwards and drops further input.
    void flush();

    // The MPEG-4 sampling-frequency index of `rate`, 15 for rates outside the table.
    static int getSampleRateIndex(unsigned rate);

    // The AudioSpecificConfig in two bytes: AAC LC, the coding rate's index, the channel
    // configuration.
    std::vector<uint8_t> makeAsc() const;

    // The rate the audio is encoded at: the input rate when it is in the MPEG-4 table, the
    // nearest table rate otherwise.
    int codingRate() const { return codingRate_; }

private:
    struct Packet {
        std::vector<uint8_t> data;
        media::Time pts;
    };

    void encodeInput(const std::shared_ptr<const media::SampleBuffer>& sampleBuffer);

    void encodeRest();

    static std::vector<uint8_t> buildAsc(int sampleRate, int channels);

    // Converts (and resamples) `frames` frames of interleaved PCM, or drains the resampler when
    // `interleaved` is null, into the block queue.
    bool convert(const uint8_t* interleaved, int frames) PELMAR_REQUIRES(mutex_);

    // Encodes every whole block in the queue.
    void encodeQueued() PELMAR_REQUIRES(mutex_);

    void encodeBlock(int64_t firstFrame) PELMAR_REQUIRES(mutex_);

    void drainPackets() PELMAR_REQUIRES(mutex_);

    mutable Mutex mutex_;
    libav::CodecContextPtr context_ PELMAR_GUARDED_BY(mutex_);  // null when set-up failed
    libav::ResamplerPtr converter_ PELMAR_GUARDED_BY(mutex_);
    libav::FramePtr converted_ PELMAR_GUARDED_BY(mutex_);  // the converter's output for one call
    libav::AudioFifoPtr queue_ PELMAR_GUARDED_BY(mutex_);  // converted frames not yet encoded
    libav::FramePtr block_ PELMAR_GUARDED_BY(mutex_);
    libav::PacketPtr packet_ PELMAR_GUARDED_BY(mutex_);
    // Time of the first queued frame, in frames of the coding rate; set by the first input.
    int64_t queueStart_ PELMAR_GUARDED_BY(mutex_) = 0;
    bool timed_ PELMAR_GUARDED_BY(mutex_) = false;
    bool finished_ PELMAR_GUARDED_BY(mutex_) = false;
    const int sampleRate_;
    const int codingRate_;
    const int channels_;
    const int bitrate_;
    const int bytesPerFrame_;
    const std::vector<uint8_t> asc_;
    const Output output_;
    OrderedDelivery<Packet> delivery_;
};

}  // namespace pelmar::live::internal
