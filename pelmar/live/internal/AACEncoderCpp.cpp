#include "pelmar/live/internal/AACEncoderCpp.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
#include <libavutil/samplefmt.h>
}

#include <algorithm>
#include <cstring>
#include <sstream>
#include <string>

#include "pelmar/live/AudioSpecificConfig.h"
#include "pelmar/platform/foundation/Console.h"

namespace pelmar::live::internal {
namespace {

void printFailure(const std::string& reason) {
    foundation::Console::print("AAC encoder: " + reason);
}

// What the AudioSpecificConfig's channel configuration 1..6 means, as FFmpeg's layout (its
// native channel order), and where each of that layout's channels is in the input, whose frames
// hold the channels in the configuration's own order: 1 C; 2 L R; 3 C L R; 4 C L R Cs;
// 5 C L R Ls Rs; 6 C L R Ls Rs LFE. The encoder writes exactly these elements, so a decoder that
// knows only the configuration reads the stream.
struct ChannelSetup {
    uint64_t layout;
    int inputChannel[AACEncoderCpp::kMaxChannels];
};

constexpr ChannelSetup kChannelSetups[AACEncoderCpp::kMaxChannels + 1] = {
        {0, {}},
        {AV_CH_LAYOUT_MONO, {0}},
        {AV_CH_LAYOUT_STEREO, {0, 1}},
        {AV_CH_LAYOUT_SURROUND, {1, 2, 0}},               // FL FR FC
        {AV_CH_LAYOUT_4POINT0, {1, 2, 0, 3}},             // FL FR FC BC
        {AV_CH_LAYOUT_5POINT0_BACK, {1, 2, 0, 3, 4}},     // FL FR FC BL BR
        {AV_CH_LAYOUT_5POINT1_BACK, {1, 2, 0, 5, 3, 4}},  // FL FR FC LFE BL BR
};

}  // namespace

AACEncoderCpp::AACEncoderCpp(int sampleRate, int channels, int bitrate, Output output)
    : sampleRate_(sampleRate),
      codingRate_(AACNearestSampleRate(sampleRate)),
      channels_(channels),
      bitrate_(bitrate),
      bytesPerFrame_(2 * channels),
      asc_(buildAsc(codingRate_, channels)),
      output_(std::move(output)),
      delivery_([this](Packet packet) {
          if (output_) {
              output_(packet.data, asc_, packet.pts);
          }
      }) {
    MutexLock lock(mutex_);
    const char* failedStep = nullptr;
    int status = 0;
    const AVCodec* codec = nullptr;
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
    libav::CodecContextPtr context;
    libav::ResamplerPtr converter;
    libav::FramePtr converted;
    libav::AudioFifoPtr queue;
    libav::FramePtr block;
    libav::PacketPtr packet;
    if (failedStep == nullptr) {
        av_channel_layout_from_mask(&layout, kChannelSetups[channels_].layout);
        context.reset(avcodec_alloc_context3(codec));
        converted.reset(av_frame_alloc());
        queue.reset(av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, channels_, 2 * kFramesPerPacket));
        block.reset(av_frame_alloc());
        packet.reset(av_packet_alloc());
        status = AVERROR(ENOMEM);
        if (context && converted && queue && block && packet) {
            context->sample_fmt = AV_SAMPLE_FMT_FLTP;
            context->sample_rate = codingRate_;
            av_channel_layout_copy(&context->ch_layout, &layout);
            context->bit_rate = bitrate_;
            context->profile = FF_PROFILE_AAC_LOW;
            context->time_base = AVRational{1, codingRate_};
            status = avcodec_open2(context.get(), codec, nullptr);
        }
        if (status >= 0 && context->frame_size != kFramesPerPacket) {
            status = AVERROR(EINVAL);
        }
        if (status >= 0) {
            // 16-bit interleaved in, planar float out; the rate changes only for input outside
            // the table.
            SwrContext* raw = nullptr;
            status = swr_alloc_set_opts2(&raw, &layout, AV_SAMPLE_FMT_FLTP, codingRate_, &layout,
                                         AV_SAMPLE_FMT_S16, sampleRate_, 0, nullptr);
            converter.reset(raw);
            if (status >= 0) {
                // The input's channels, taken in the layout's order.
                status = swr_set_channel_mapping(converter.get(),
                                                 kChannelSetups[channels_].inputChannel);
            }
            if (status >= 0) {
                status = swr_init(converter.get());
            }
        }
        if (status >= 0) {
            block->format = AV_SAMPLE_FMT_FLTP;
            block->nb_samples = kFramesPerPacket;
            block->sample_rate = codingRate_;
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
    converted_ = std::move(converted);
    queue_ = std::move(queue);
    block_ = std::move(block);
    packet_ = std::move(packet);
}

AACEncoderCpp::~AACEncoderCpp() = default;

bool AACEncoderCpp::isValid() const {
    MutexLock lock(mutex_);
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
    return {static_cast<uint8_t>(0x10 | (index >> 1)),
            static_cast<uint8_t>(((index & 1) << 7) | (configuration << 3))};
}

void AACEncoderCpp::putFrame(const std::shared_ptr<const media::SampleBuffer>& sampleBuffer) {
    encodeInput(sampleBuffer);
    delivery_.deliver();
}

void AACEncoderCpp::encodeInput(const std::shared_ptr<const media::SampleBuffer>& sampleBuffer) {
    MutexLock lock(mutex_);
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
    // The time in frames of the input's rate; a time too large for that is as bad as none.
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
    // A block at most at a time, so the queue never holds much more than one block.
    const size_t chunkBytes = static_cast<size_t>(kFramesPerPacket) * bytesPerFrame;
    for (size_t offset = 0; offset < data.size(); offset += chunkBytes) {
        const int frames =
                static_cast<int>(std::min(chunkBytes, data.size() - offset) / bytesPerFrame);
        if (av_audio_fifo_size(queue_.get()) == 0) {
            // The next frame out of the converter is as old as its input minus what the
            // converter still holds. Input that continues the last keeps counting on; input after
            // a gap (or the first) sets the time. When resampling, a frame of slack absorbs the
            // rounding of the rate conversion.
            const int64_t inputFrame = pts.value + static_cast<int64_t>(offset / bytesPerFrame);
            const int64_t next =
                    av_rescale_rnd(inputFrame, codingRate_, sampleRate_, AV_ROUND_NEAR_INF)
                    - swr_get_delay(converter_.get(), codingRate_);
            const int64_t slack = codingRate_ == sampleRate_ ? 0 : 1;
            if (!timed_ || next > queueStart_ + slack || next < queueStart_ - slack) {
                queueStart_ = next;
                timed_ = true;
            }
        }
        if (!convert(data.data() + offset, frames)) {
            continue;
        }
        encodeQueued();
    }
}

void AACEncoderCpp::flush() {
    encodeRest();
    delivery_.deliver();
}

void AACEncoderCpp::encodeRest() {
    MutexLock lock(mutex_);
    if (!context_ || finished_) {
        return;
    }
    finished_ = true;
    if (timed_ && convert(nullptr, 0)) {
        encodeQueued();
    }
    const int left = av_audio_fifo_size(queue_.get());
    if (left > 0 && av_frame_make_writable(block_.get()) >= 0
        && av_audio_fifo_read(queue_.get(), reinterpret_cast<void**>(block_->data), left) == left) {
        av_samples_set_silence(block_->data, left, kFramesPerPacket - left, channels_,
                               AV_SAMPLE_FMT_FLTP);
        encodeBlock(queueStart_);
    }
    const int status = avcodec_send_frame(context_.get(), nullptr);
    if (status < 0) {
        printFailure(libav::avErrorText(status));
    }
    drainPackets();
}

bool AACEncoderCpp::convert(const uint8_t* interleaved, int frames) {
    const int room = swr_get_out_samples(converter_.get(), frames);
    if (room < 0) {
        printFailure(libav::avErrorText(room) + "; " + std::to_string(frames) + " frames lost");
        return false;
    }
    if (room > converted_->nb_samples) {
        av_frame_unref(converted_.get());
        converted_->format = AV_SAMPLE_FMT_FLTP;
        av_channel_layout_copy(&converted_->ch_layout, &context_->ch_layout);
        converted_->nb_samples = room;
        const int status = av_frame_get_buffer(converted_.get(), 0);
        if (status < 0) {
            converted_->nb_samples = 0;
            printFailure(libav::avErrorText(status) + "; " + std::to_string(frames)
                         + " frames lost");
            return false;
        }
    }
    const uint8_t* in[1] = {interleaved};
    const int got = swr_convert(converter_.get(), converted_->data, converted_->nb_samples,
                                interleaved != nullptr ? in : nullptr, frames);
    if (got < 0
        || av_audio_fifo_write(queue_.get(), reinterpret_cast<void**>(converted_->data), got)
                   != got) {
        printFailure("format conversion failed; " + std::to_string(frames) + " frames lost");
        return false;
    }
    return true;
}

void AACEncoderCpp::encodeQueued() {
    while (av_audio_fifo_size(queue_.get()) >= kFramesPerPacket) {
        const int64_t firstFrame = queueStart_;
        queueStart_ += kFramesPerPacket;
        int status = av_frame_make_writable(block_.get());
        if (status >= 0) {
            status = av_audio_fifo_read(queue_.get(), reinterpret_cast<void**>(block_->data),
                                        kFramesPerPacket);
        }
        if (status != kFramesPerPacket) {
            av_audio_fifo_drain(queue_.get(), kFramesPerPacket);
            printFailure((status < 0 ? libav::avErrorText(status) : std::string("short read"))
                         + "; 1024 frames lost");
            continue;
        }
        encodeBlock(firstFrame);
    }
}

void AACEncoderCpp::encodeBlock(int64_t firstFrame) {
    block_->pts = firstFrame;
    const int status = avcodec_send_frame(context_.get(), block_.get());
    if (status < 0) {
        printFailure(libav::avErrorText(status) + "; 1024 frames lost");
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
            printFailure(libav::avErrorText(status));
            return;
        }
        if (packet_->size > 0) {
            delivery_.queue({std::vector<uint8_t>(packet_->data, packet_->data + packet_->size),
                             media::Time::make(packet_->pts, codingRate_)});
        }
        av_packet_unref(packet_.get());
    }
}

}  // namespace pelmar::live::internal
