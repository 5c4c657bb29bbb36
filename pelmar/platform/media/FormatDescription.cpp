#include "pelmar/platform/media/FormatDescription.h"

#include <utility>

namespace pelmar::media {

AudioStreamBasicDescription AudioStreamBasicDescription::pcm16(double sampleRate,
                                                               uint32_t channels) {
    AudioStreamBasicDescription d;
    d.sampleRate = sampleRate;
    d.formatID = CodecType::LinearPCM;
    d.isSignedInteger = true;
    d.channelsPerFrame = channels;
    d.bitsPerChannel = 16;
    d.bytesPerFrame = 2 * channels;
    d.bytesPerPacket = d.bytesPerFrame;
    d.framesPerPacket = 1;
    return d;
}

AudioStreamBasicDescription AudioStreamBasicDescription::aac(double sampleRate, uint32_t channels) {
    AudioStreamBasicDescription d;
    d.sampleRate = sampleRate;
    d.formatID = CodecType::MPEG4AAC;
    d.isSignedInteger = false;
    d.channelsPerFrame = channels;
    d.framesPerPacket = 1024;
    return d;
}

std::shared_ptr<const FormatDescription> FormatDescription::forPixelBuffer(
        const PixelBuffer& buffer) {
    return forVideo(
            buffer.format() == PixelFormat::ARGB32 ? CodecType::RawARGB : CodecType::RawBGRA,
            buffer.width(), buffer.height());
}

std::shared_ptr<const FormatDescription> FormatDescription::forVideo(CodecType codec,
                                                                     int width,
                                                                     int height) {
    std::shared_ptr<FormatDescription> d(new FormatDescription());
    d->mediaType_ = MediaType::Video;
    d->codec_ = codec;
    d->width_ = width;
    d->height_ = height;
    return d;
}

std::shared_ptr<const FormatDescription> FormatDescription::forH264(int width,
                                                                    int height,
                                                                    std::vector<uint8_t> sps,
                                                                    std::vector<uint8_t> pps) {
    std::shared_ptr<FormatDescription> d(new FormatDescription());
    d->mediaType_ = MediaType::Video;
    d->codec_ = CodecType::H264;
    d->width_ = width;
    d->height_ = height;
    d->sps_ = std::move(sps);
    d->pps_ = std::move(pps);
    return d;
}

std::shared_ptr<const FormatDescription> FormatDescription::forAudio(
        const AudioStreamBasicDescription& asbd, std::vector<uint8_t> audioSpecificConfig) {
    std::shared_ptr<FormatDescription> d(new FormatDescription());
    d->mediaType_ = MediaType::Audio;
    d->codec_ = asbd.formatID;
    d->asbd_ = asbd;
    d->audioSpecificConfig_ = std::move(audioSpecificConfig);
    return d;
}

}  // namespace pelmar::media
