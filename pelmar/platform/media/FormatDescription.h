#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "pelmar/platform/media/PixelBuffer.h"

namespace pelmar::media {

enum class MediaType { Video, Audio, Metadata };

// Four-character codec codes.
enum class CodecType : uint32_t {
    RawBGRA = 0x42475241,  // 'BGRA'
    RawARGB = 32,
    H264 = 0x61766331,       // 'avc1'
    LinearPCM = 0x6C70636D,  // 'lpcm'
    MPEG4AAC = 0x61616320,   // 'aac '
};

// The layout of an audio stream (all fields as the names say; 0 when variable or unknown).
struct AudioStreamBasicDescription {
    double sampleRate = 0;
    CodecType formatID = CodecType::LinearPCM;
    bool isSignedInteger = true;
    bool isNonInterleaved = false;
    uint32_t bytesPerPacket = 0;
    uint32_t framesPerPacket = 0;
    uint32_t bytesPerFrame = 0;
    uint32_t channelsPerFrame = 0;
    uint32_t bitsPerChannel = 0;

    // Interleaved signed 16-bit PCM.
    static AudioStreamBasicDescription pcm16(double sampleRate, uint32_t channels);

    // AAC: 1024 frames per packet.
    static AudioStreamBasicDescription aac(double sampleRate, uint32_t channels);

    friend bool operator==(const AudioStreamBasicDescription&,
                           const AudioStreamBasicDescription&) = default;
};

// FormatDescription: what the samples of a sample buffer are: raw pictures of a size and pixel
// format, H.264 with its parameter sets (SPS and PPS, without start codes), or audio with its
// stream description and, for AAC, the AudioSpecificConfig.
// Ownership: immutable value shared by shared_ptr<const FormatDescription>.
// Threads: thread-safe (immutable).
// Errors: none.
class FormatDescription {
public:
    static std::shared_ptr<const FormatDescription> forPixelBuffer(const PixelBuffer& buffer);

    static std::shared_ptr<const FormatDescription> forVideo(CodecType codec,
                                                             int width,
                                                             int height);

    static std::shared_ptr<const FormatDescription> forH264(int width,
                                                            int height,
                                                            std::vector<uint8_t> sps,
                                                            std::vector<uint8_t> pps);

    static std::shared_ptr<const FormatDescription> forAudio(
            const AudioStreamBasicDescription& asbd, std::vector<uint8_t> audioSpecificConfig = {});

    MediaType mediaType() const { return mediaType_; }

    CodecType codecType() const { return codec_; }

    int width() const { return width_; }

    int height() const { return height_; }

    const AudioStreamBasicDescription& audioStreamBasicDescription() const { return asbd_; }

    const std::vector<uint8_t>& sps() const { return sps_; }

    const std::vector<uint8_t>& pps() const { return pps_; }

    const std::vector<uint8_t>& audioSpecificConfig() const { return audioSpecificConfig_; }

private:
    FormatDescription() = default;

    MediaType mediaType_ = MediaType::Video;
    CodecType codec_ = CodecType::RawBGRA;
    int width_ = 0;
    int height_ = 0;
    AudioStreamBasicDescription asbd_;
    std::vector<uint8_t> sps_;
    std::vector<uint8_t> pps_;
    std::vector<uint8_t> audioSpecificConfig_;
};

}  // namespace pelmar::media
