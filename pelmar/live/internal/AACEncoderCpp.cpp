#include "pelmar/live/internal/AACEncoderCpp.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

#include <algorithm>
#include <cstring>
#include <sstream>
#include <string>

#include "pelmar/live/AudioSpecificConfig.h"
#include "pelmar/platform/foundation/Console.h"

namespace pelmar::live::internal {
namespace {

// The standard rate whose coding tables serve `rate`: the rate itself when it is in the table,
// otherwise by the MPEG-4 audio frequency ranges, as decoders map an explicit frequency.
int codingRate(int rate) {
    if (AACEncoderCpp::getSampleRateIndex(static_cast<unsigned>(rate)) != 15) {
        return rate;
    }

    struct Range {
        int atLeast;
        int rate;
    };

    static constexpr Range kRanges[] = {
            {92017, 96000}, {75132, 88200}, {55426, 64000}, {46009, 48000},
            {37566, 44100}, {27713, 32000}, {23004, 24000}, {18783, 22050},
            {13856, 16000}, {11502, 12000}, {9391, 11025},
    };
    for (const auto& range : kRanges) {
        if (rate >= range.atLeast) {
            return range.rate;
        }
    }
    return 8000;
}

void printFailure(const std::string& reason) {
    foundation::Console::print("AAC encoder: " + reason);
}

}  // namespace

AACEncoderCpp::AACEncoderCpp(int sampleRate, int channels, int bitrate, Output output)
    : sampleRate_(sampleRate),
      channels_(channels),
      bitrate_(bitrate),
      bytesPerFrame_(2 * channels),
      asc_(buildAsc(sampleRate, channels)),
      output_(std::move(output)) {
    std::lock_guard lock(mutex_);
    const char* failedStep = nullptr;
    int status = 0;
    const AVCodec* codec = nullptr;
    const int rate = codingRate(sampleRate_);
    AVChannelLayout layout{};
    if (sampleRate_ < kMinSampleRate || sampleRate_ > kMaxSampleRate || channels_ < 1
        || channels_ > kMaxChannels) {
        failedStep = "audioConverterNewSpecific failed";
        status = AVERROR(EINVAL);
    } else if ((codec = avcodec_find_encoder_by_name("aac")) == nullptr) {
        failedStep = "audioConverterNewSpecific failed";
        status = AVERROR_ENCODER_NOT_FOUND;
    } else if (bitrate_ <= 0) {
        failedStep = "audioConverter set bitrate failed";
        status = AVERROR(EINVAL);
    }
    CodecContextPtr context;
    ResamplerPtr converter;
    FramePtr block;
    PacketPtr packet;
    if (failedStep == nullptr) {
        av_channel_layout_default(&layout, channels_);
        context.reset(avcodec_alloc_context3(codec));
        block.reset(av_frame_alloc());
        packet.reset(av_packet_alloc());
        status = AVERROR(ENOMEM);
        if (context && block && packet) {
            context->sample_fmt = AV_SAMPLE_FMT_FLTP;
            context->sample_rate = rate;
            av_channel_layout_copy(&context->ch_layout, &layout);
            context->bit_rate = bitrate_;
            context->profile = FF_PROFILE_AAC_LOW;
            // Times are counted in frames of the input; no frame is added or removed, so the
            // input's rate counts the encoder's frames too.
            context->time_base = AVRational{1, rate};
            status = avcodec_open2(context.get(), codec, nullptr);
        }
        if (status >= 0 && context->frame_size != kFramesPerPacket) {
            status = AVERROR(EINVAL);
        }
        if (status >= 0) {
            // Only the sample format changes: 16-bit interleaved in, planar float out.
            SwrContext* raw = nullptr;
            status = swr_alloc_set_opts2(&raw, &layout, AV_SAMPLE_FMT_FLTP, rate, &layout,
                                         AV_SAMPLE_FMT_S16, rate, 0, nullptr);
            converter.reset(raw);
            if (status >= 0) {
                status = swr_init(converter.get());
            }
        }
        if (status >= 0) {
            block->format = AV_SAMPLE_FMT_FLTP;
            block->nb_samples = kFramesPerPacket;
            block->sample_rate = rate;
            av_channel_layout_copy(&block->ch_layout, &layout);
            status = av_frame_get_buffer(block.get(), 0);
        }
        if (status < 0) {
            failedStep = "audioConverterNewSpecific failed";
        }
        av_channel_layout_uninit(&layout);
    }
    if (failedStep != nullptr) {
        foundation::Console::print(failedStep);
        std::ostringstream line;
        line << "AAC encoder initialization failed: " << std::hex << static_cast<uint32_t>(status);
        foundation::Console::print(line.str());
        return;
    }
    context_ = std::move(context);
    converter_ = std::move(converter);
    block_ = std::move(block);
    packet_ = std::move(packet);
    pending_.resize(static_cast<size_t>(kFramesPerPacket) * static_cast<size_t>(bytesPerFrame_));
}

AACEncoderCpp::~AACEncoderCpp() = default;

bool AACEncoderCpp::isValid() const {
    std::lock_guard lock(mutex_);
    return context_ != nullptr;
}

int AACEncoderCpp::getSampleRateIndex(unsigned rate) {
    return rate > static_cast<unsigned>(kMaxSampleRate)
                   ? 15
                   : AACSampleRateIndex(static_cast<int>(rate));
}

std::vector<uint8_t> AACEncoderCpp::makeAsc() const {
    return asc_;
}

std::vector<uint8_t> AACEncoderCpp::buildAsc(int sampleRate, int channels) {
    const unsigned index =
            static_cast<unsigned>(getSampleRateIndex(static_cast<unsigned>(sampleRate)));
    const unsigned configuration = static_cast<unsigned>(channels) & 15;
    if (index != 15) {
        return {static_cast<uint8_t>(0x10 | (index >> 1)),
                static_cast<uint8_t>(((index & 1) << 7) | (configuration << 3))};
    }
    // 5 bits object type 2 (AAC LC), 4 bits index 15, 24 bits frequency, 4 bits channel
    // configuration, 3 bits 0: forty bits.
    const uint64_t bits = (uint64_t{2} << 35) | (uint64_t{15} << 31)
                          | ((static_cast<uint64_t>(sampleRate) & 0xFFFFFF) << 7)
                          | (uint64_t{configuration} << 3);
    std::vector<uint8_t> asc(5);
    for (size_t i = 0; i < asc.size(); ++i) {
        asc[i] = static_cast<uint8_t>(bits >> (8 * (asc.size() - 1 - i)));
    }
    return asc;
}

void AACEncoderCpp::putFrame(const std::shared_ptr<const media::SampleBuffer>& sampleBuffer) {
    std::lock_guard lock(mutex_);
    if (!context_) {
        return;
    }
    if (finished_) {
        printFailure("input after flush; dropped");
        return;
    }
    if (!sampleBuffer) {
        printFailure("no sample buffer; dropped");
        return;
    }
    const auto& format = *sampleBuffer->formatDescription();
    const auto& asbd = format.audioStreamBasicDescription();
    if (format.mediaType() != media::MediaType::Audio
        || format.codecType() != media::CodecType::LinearPCM || asbd.bitsPerChannel != 16
        || !asbd.isSignedInteger || asbd.isNonInterleaved
        || asbd.channelsPerFrame != static_cast<uint32_t>(channels_)
        || asbd.bytesPerFrame != static_cast<uint32_t>(bytesPerFrame_)
        || asbd.sampleRate != sampleRate_) {
        printFailure("not 16-bit interleaved PCM at " + std::to_string(sampleRate_) + " Hz with "
                     + std::to_string(channels_) + " channels; dropped");
        return;
    }
    // The time in frames of the encoder's rate; a time too large for that is as bad as none.
    const media::Time pts = sampleBuffer->presentationTimeStamp().convertScale(sampleRate_);
    if (!pts.isNumeric()) {
        printFailure("invalid presentation time; dropped");
        return;
    }
    const auto data = sampleBuffer->data();
    const auto bytesPerFrame = static_cast<size_t>(bytesPerFrame_);
    if (data.size() % bytesPerFrame != 0) {
        printFailure("partial audio frame; dropped");
        return;
    }
    const int64_t firstFrame = pts.value;
    const size_t blockBytes = static_cast<size_t>(kFramesPerPacket) * bytesPerFrame;
    size_t offset = 0;
    while (offset < data.size()) {
        if (pendingFrames_ == 0) {
            pendingStart_ = firstFrame + static_cast<int64_t>(offset / bytesPerFrame);
        }
        const size_t used = static_cast<size_t>(pendingFrames_) * bytesPerFrame;
        const size_t take = std::min(blockBytes - used, data.size() - offset);
        if (used == 0 && take == blockBytes) {
            encodeBlock(data.data() + offset, pendingStart_);
        } else {
            std::memcpy(pending_.data() + used, data.data() + offset, take);
            pendingFrames_ += static_cast<int>(take / bytesPerFrame);
            if (pendingFrames_ == kFramesPerPacket) {
                pendingFrames_ = 0;
                encodeBlock(pending_.data(), pendingStart_);
            }
        }
        offset += take;
    }
}

void AACEncoderCpp::flush() {
    std::lock_guard lock(mutex_);
    if (!context_ || finished_) {
        return;
    }
    if (pendingFrames_ > 0) {
        const size_t used =
                static_cast<size_t>(pendingFrames_) * static_cast<size_t>(bytesPerFrame_);
        std::fill(pending_.begin() + static_cast<std::ptrdiff_t>(used), pending_.end(), 0);
        pendingFrames_ = 0;
        encodeBlock(pending_.data(), pendingStart_);
    }
    const int status = avcodec_send_frame(context_.get(), nullptr);
    if (status < 0) {
        printFailure(avErrorText(status));
    }
    drainPackets();
    finished_ = true;
}

void AACEncoderCpp::encodeBlock(const uint8_t* interleaved, int64_t firstFrame) {
    int status = av_frame_make_writable(block_.get());
    if (status < 0) {
        printFailure(avErrorText(status) + "; 1024 frames lost");
        return;
    }
    const uint8_t* in[1] = {interleaved};
    const int converted =
            swr_convert(converter_.get(), block_->data, kFramesPerPacket, in, kFramesPerPacket);
    if (converted != kFramesPerPacket) {
        printFailure("format conversion failed; 1024 frames lost");
        return;
    }
    block_->pts = firstFrame;
    status = avcodec_send_frame(context_.get(), block_.get());
    if (status < 0) {
        printFailure(avErrorText(status) + "; 1024 frames lost");
        return;
    }
    drainPackets();
}

void AACEncoderCpp::drainPackets() {
    for (;;) {
        const int status = avcodec_receive_packet(context_.get(), packet_.get());
        if (status == AVERROR(EAGAIN) || status == AVERROR_EOF) {
            return;
        }
        if (status < 0) {
            printFailure(avErrorText(status));
            return;
        }
        if (packet_->size > 0 && output_) {
            output_(std::span<const uint8_t>(packet_->data, static_cast<size_t>(packet_->size)),
                    asc_, media::Time::make(packet_->pts, sampleRate_));
        }
        av_packet_unref(packet_.get());
    }
}

}  // namespace pelmar::live::internal
