#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "pelmar/platform/foundation/Error.h"
#include "pelmar/platform/libav/LibavHandles.h"
#include "pelmar/platform/media/PixelBuffer.h"

struct AVFrame;

namespace pelmar::av::internal {

// MovieEncoder: the libav side of the asset writer: H.264 (libx264) and AAC encoders, picture
// scaling and colour conversion (libswscale, aspect fit with black bars), audio conversion
// (libswresample to planar float at the output rate and channel count) and the MPEG-4 muxer. Times
// are in output units: 1/90000 s for video, output samples for audio.
// Ownership: owns every libav object; finish() closes the file, the destructor frees them without
//     finishing it.
// Threads: thread-compatible (the writer's worker thread uses it).
// Errors: each call returns an Error (domain kAssetWriterErrorDomain) from the failing libav call.
class MovieEncoder {
public:
    struct VideoConfig {
        int width = 0;
        int height = 0;
        double expectedFrameRate = 30;
    };

    struct AudioConfig {
        int channels = 2;
        int sampleRate = 44100;
        int bitRate = 128000;
    };

    static constexpr int kVideoTimescale = 90000;

    MovieEncoder() = default;

    MovieEncoder(const MovieEncoder&) = delete;
    MovieEncoder& operator=(const MovieEncoder&) = delete;

    // Creates `path` (which must not exist), opens the encoders and writes the header.
    // `container` is the libavformat muxer: "mp4" or "mov".
    std::optional<Error> open(const std::string& path,
                              const std::optional<VideoConfig>& video,
                              const std::optional<AudioConfig>& audio,
                              const char* container = "mp4");

    std::optional<Error> encodeVideo(const media::PixelBuffer& picture,
                                     int64_t pts,
                                     int64_t duration);

    // A picture already in the encoder's own form (planar YUV 4:2:0 at the track's size, see
    // videoWidth()/videoHeight()), as a decoder gives it: sent without any conversion.
    std::optional<Error> encodeVideoFrame(const AVFrame& picture, int64_t pts, int64_t duration);

    int videoWidth() const;
    int videoHeight() const;

    // `frames` interleaved signed 16-bit frames of `channels` at `rate`. `startPts` (output
    // samples) places the first chunk; later chunks follow on without gaps.
    std::optional<Error> encodeAudio(const int16_t* samples,
                                     int frames,
                                     int channels,
                                     int rate,
                                     std::optional<int64_t> startPts);

    // Drains the encoders and writes the trailer.
    std::optional<Error> finish();

private:
    std::optional<Error> openVideo(const VideoConfig& config);
    std::optional<Error> openAudio(const AudioConfig& config);
    std::optional<Error> drain(AVCodecContext* codec, AVStream* stream, bool video);
    std::optional<Error> encodeAudioFrames(bool flush);
    // Frees the encoders and closes the file (after the trailer, or without one).
    void close();

    // Declared first so that it is released last: the streams below belong to it.
    libav::OutputFormatPtr format_;
    bool headerWritten_ = false;
    libav::CodecContextPtr video_;
    AVStream* videoStream_ = nullptr;  // owned by format_
    libav::ScalerPtr scaler_;
    libav::CodecContextPtr audio_;
    AVStream* audioStream_ = nullptr;  // owned by format_
    libav::ResamplerPtr resampler_;
    int resamplerRate_ = 0;
    int resamplerChannels_ = 0;
    libav::AudioFifoPtr fifo_;
    libav::PacketPtr packet_;
    libav::FramePtr audioFrame_;
    int64_t nextAudioPts_ = 0;
    bool audioStarted_ = false;
    std::map<int64_t, int64_t> videoDurations_;  // pts -> duration of frames in the encoder
};

}  // namespace pelmar::av::internal
