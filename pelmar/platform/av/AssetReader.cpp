#include "pelmar/platform/av/AssetReader.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <utility>

#include "pelmar/platform/libav/LibavHandles.h"
#include "pelmar/platform/media/FormatDescription.h"

namespace pelmar::av {

namespace {

Error readerError(AssetReaderErrorCode code, std::string message) {
    return Error{std::string(kAssetReaderErrorDomain), static_cast<long>(code), std::move(message)};
}

void setError(std::optional<Error>* out, Error error) {
    if (out != nullptr) {
        *out = std::move(error);
    }
}

}  // namespace

struct AssetReader::State {
    libav::InputFormatPtr format;
    libav::CodecContextPtr codec;
    libav::ResamplerPtr resampler;
    libav::PacketPtr packet;
    libav::FramePtr frame;
    int stream = -1;
    AVChannelLayout layout{};
    // Frames of the output still to skip before the range starts, and to hand out at most.
    int64_t skip = 0;
    int64_t remaining = -1;  // -1: to the end
    int64_t startFrame = 0;
    // Decoded s16 frames not handed out yet.
    std::vector<uint8_t> pending;
    bool flushed = false;
    bool ended = false;

    ~State() { av_channel_layout_uninit(&layout); }
};

namespace {

struct Opened {
    std::unique_ptr<AssetReader::State> state;
    AudioTrackInfo info;
};

}  // namespace

static std::optional<Opened> openFile(const std::string& path, std::optional<Error>* error) {
    std::error_code ec;
    if (path.empty() || !std::filesystem::is_regular_file(path, ec)) {
        setError(error, readerError(AssetReaderErrorCode::cannotOpen,
                                    "The file \"" + path + "\" couldn't be opened"));
        return std::nullopt;
    }
    auto state = std::make_unique<AssetReader::State>();
    AVFormatContext* raw = nullptr;
    if (const int rc = avformat_open_input(&raw, path.c_str(), nullptr, nullptr); rc < 0) {
        setError(error, readerError(AssetReaderErrorCode::cannotOpen,
                                    "The file couldn't be opened: " + libav::avErrorText(rc)));
        return std::nullopt;
    }
    state->format.reset(raw);
    if (const int rc = avformat_find_stream_info(raw, nullptr); rc < 0) {
        setError(error, readerError(AssetReaderErrorCode::cannotOpen,
                                    "The file couldn't be read: " + libav::avErrorText(rc)));
        return std::nullopt;
    }
    const AVCodec* decoder = nullptr;
    const int stream = av_find_best_stream(raw, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
    if (stream < 0 || decoder == nullptr) {
        setError(error,
                 readerError(AssetReaderErrorCode::noAudioTrack, "The file holds no audio track"));
        return std::nullopt;
    }
    state->stream = stream;
    AVStream* st = raw->streams[stream];
    const int rate = st->codecpar->sample_rate;
    const int channels = st->codecpar->ch_layout.nb_channels;
    if (rate <= 0 || channels <= 0) {
        setError(error, readerError(AssetReaderErrorCode::noAudioTrack,
                                    "The audio track has no sample rate or channels"));
        return std::nullopt;
    }
    AudioTrackInfo info;
    info.sampleRate = rate;
    info.channels = channels;
    info.codecName = avcodec_get_name(st->codecpar->codec_id);
    int64_t ticks = -1;
    if (st->duration != AV_NOPTS_VALUE && st->duration > 0) {
        ticks = av_rescale_q(st->duration, st->time_base, AVRational{1, rate});
    } else if (raw->duration != AV_NOPTS_VALUE && raw->duration > 0) {
        ticks = av_rescale_q(raw->duration, AVRational{1, AV_TIME_BASE}, AVRational{1, rate});
    }
    info.duration = ticks >= 0 ? media::Time::make(ticks, rate) : media::Time::invalid();
    return Opened{std::move(state), std::move(info)};
}

std::optional<AudioTrackInfo> AssetReader::probeAudio(const std::string& path,
                                                      std::optional<Error>* error) {
    auto opened = openFile(path, error);
    if (!opened) {
        return std::nullopt;
    }
    return opened->info;
}

std::shared_ptr<AssetReader> AssetReader::open(const std::string& path,
                                               std::optional<Error>* error) {
    auto opened = openFile(path, error);
    if (!opened) {
        return nullptr;
    }
    return std::shared_ptr<AssetReader>(
            new AssetReader(std::move(opened->state), std::move(opened->info)));
}

std::pair<std::shared_ptr<AssetReader>, std::shared_ptr<AssetReaderTrackOutput>>
AssetReader::startReadingFile(const std::string& path) {
    auto reader = open(path, nullptr);
    if (!reader) {
        return {};
    }
    auto output = std::make_shared<AssetReaderTrackOutput>();
    reader->add(output);
    if (!reader->startReading()) {
        return {};
    }
    return {std::move(reader), std::move(output)};
}

AssetReader::AssetReader(std::unique_ptr<State> state, AudioTrackInfo track)
    : state_(std::move(state)), track_(std::move(track)) {}

AssetReader::~AssetReader() = default;

void AssetReader::setTimeRange(media::Time start, media::Time duration) {
    const double rate = track_.sampleRate;
    const double startSeconds = start.isValid() ? std::max(0.0, start.seconds()) : 0.0;
    state_->startFrame = static_cast<int64_t>(std::llround(startSeconds * rate));
    if (duration.isValid() && std::isfinite(duration.seconds())) {
        state_->remaining =
                std::max<int64_t>(0, static_cast<int64_t>(std::llround(duration.seconds() * rate)));
    } else {
        state_->remaining = -1;
    }
}

bool AssetReader::canAdd(const AssetReaderTrackOutput& /*output*/) const {
    return output_ == nullptr && status_ == Status::unknown;
}

void AssetReader::add(const std::shared_ptr<AssetReaderTrackOutput>& output) {
    if (output && canAdd(*output)) {
        output_ = output;
        output->reader_ = weak_from_this();
    }
}

bool AssetReader::startReading() {
    if (status_ != Status::unknown) {
        return false;
    }
    auto fail = [&](std::string message) {
        status_ = Status::failed;
        error_ = readerError(AssetReaderErrorCode::decodeFailed, std::move(message));
        return false;
    };
    if (!output_) {
        return fail("The reader has no output");
    }
    AVStream* st = state_->format->streams[state_->stream];
    const AVCodec* decoder = avcodec_find_decoder(st->codecpar->codec_id);
    if (decoder == nullptr) {
        return fail("No decoder for the audio track");
    }
    state_->codec.reset(avcodec_alloc_context3(decoder));
    if (!state_->codec || avcodec_parameters_to_context(state_->codec.get(), st->codecpar) < 0
        || avcodec_open2(state_->codec.get(), decoder, nullptr) < 0) {
        return fail("The audio decoder couldn't be opened");
    }
    av_channel_layout_copy(&state_->layout, &state_->codec->ch_layout);
    SwrContext* swr = nullptr;
    if (swr_alloc_set_opts2(&swr, &state_->layout, AV_SAMPLE_FMT_S16, state_->codec->sample_rate,
                            &state_->codec->ch_layout, state_->codec->sample_fmt,
                            state_->codec->sample_rate, 0, nullptr)
                < 0
        || swr == nullptr) {
        return fail("The resampler couldn't be made");
    }
    state_->resampler.reset(swr);
    if (swr_init(swr) < 0) {
        return fail("The resampler couldn't be started");
    }
    state_->packet.reset(av_packet_alloc());
    state_->frame.reset(av_frame_alloc());
    if (state_->startFrame > 0) {
        // Land before the start and skip the frames up to it, counted from the decoded
        // timestamps.
        const int64_t target =
                av_rescale_q(state_->startFrame, AVRational{1, static_cast<int>(track_.sampleRate)},
                             st->time_base);
        if (av_seek_frame(state_->format.get(), state_->stream, target, AVSEEK_FLAG_BACKWARD) < 0) {
            av_seek_frame(state_->format.get(), state_->stream, 0, AVSEEK_FLAG_BACKWARD);
        }
    }
    state_->skip = -1;  // fixed by the first decoded frame's timestamp
    status_ = Status::reading;
    return true;
}

void AssetReader::cancelReading() {
    if (status_ == Status::reading || status_ == Status::unknown) {
        status_ = Status::cancelled;
    }
    state_->pending.clear();
}

int64_t AssetReader::readFrames(std::vector<uint8_t>& out, int64_t maxFrames) {
    if (status_ != Status::reading) {
        return 0;
    }
    State& s = *state_;
    const int channels = track_.channels;
    const size_t frameBytes = static_cast<size_t>(channels) * 2;
    auto appendFrame = [&](AVFrame* frame) -> bool {
        int64_t first = 0;
        if (frame->pts != AV_NOPTS_VALUE) {
            first = av_rescale_q(frame->pts, s.format->streams[s.stream]->time_base,
                                 AVRational{1, static_cast<int>(track_.sampleRate)});
        }
        if (s.skip < 0) {
            s.skip = std::max<int64_t>(0, s.startFrame - first);
        }
        const int capacity = swr_get_out_samples(s.resampler.get(), frame->nb_samples);
        if (capacity < 0) {
            return false;
        }
        std::vector<uint8_t> buffer(static_cast<size_t>(capacity) * frameBytes);
        uint8_t* planes[1] = {buffer.data()};
        const int got =
                swr_convert(s.resampler.get(), planes, capacity,
                            const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
        if (got < 0) {
            return false;
        }
        int64_t offset = std::min<int64_t>(s.skip, got);
        s.skip -= offset;
        s.pending.insert(s.pending.end(), buffer.begin() + offset * frameBytes,
                         buffer.begin() + static_cast<int64_t>(got) * frameBytes);
        return true;
    };
    while (static_cast<int64_t>(s.pending.size() / frameBytes) < maxFrames && !s.ended) {
        const int rc = avcodec_receive_frame(s.codec.get(), s.frame.get());
        if (rc == 0) {
            const bool ok = appendFrame(s.frame.get());
            av_frame_unref(s.frame.get());
            if (!ok) {
                status_ = Status::failed;
                error_ = readerError(AssetReaderErrorCode::decodeFailed, "Resampling failed");
                return 0;
            }
            continue;
        }
        if (rc == AVERROR_EOF) {
            s.ended = true;
            break;
        }
        if (rc != AVERROR(EAGAIN)) {
            status_ = Status::failed;
            error_ = readerError(AssetReaderErrorCode::decodeFailed,
                                 "Decoding failed: " + libav::avErrorText(rc));
            return 0;
        }
        if (s.flushed) {
            s.ended = true;
            break;
        }
        const int read = av_read_frame(s.format.get(), s.packet.get());
        if (read < 0) {
            avcodec_send_packet(s.codec.get(), nullptr);
            s.flushed = true;
            continue;
        }
        if (s.packet->stream_index == s.stream) {
            const int sent = avcodec_send_packet(s.codec.get(), s.packet.get());
            if (sent < 0 && sent != AVERROR(EAGAIN) && sent != AVERROR_INVALIDDATA) {
                av_packet_unref(s.packet.get());
                status_ = Status::failed;
                error_ = readerError(AssetReaderErrorCode::decodeFailed,
                                     "Decoding failed: " + libav::avErrorText(sent));
                return 0;
            }
        }
        av_packet_unref(s.packet.get());
    }
    int64_t frames =
            std::min<int64_t>(maxFrames, static_cast<int64_t>(s.pending.size() / frameBytes));
    if (s.remaining >= 0) {
        frames = std::min(frames, s.remaining);
        s.remaining -= frames;
    }
    out.assign(s.pending.begin(), s.pending.begin() + frames * static_cast<int64_t>(frameBytes));
    s.pending.erase(s.pending.begin(),
                    s.pending.begin() + frames * static_cast<int64_t>(frameBytes));
    if (frames == 0) {
        status_ = Status::completed;
        s.pending.clear();
    }
    return frames;
}

std::shared_ptr<media::SampleBuffer> AssetReaderTrackOutput::copyNextSampleBuffer() {
    auto reader = reader_.lock();
    if (!reader) {
        return nullptr;
    }
    auto bytes = std::make_shared<std::vector<uint8_t>>();
    const int64_t frames = reader->readFrames(*bytes, AssetReader::kFramesPerChunk);
    if (frames == 0) {
        return nullptr;
    }
    const auto& track = reader->audioTrack();
    const auto rate = static_cast<int32_t>(track.sampleRate);
    auto format = media::FormatDescription::forAudio(media::AudioStreamBasicDescription::pcm16(
            track.sampleRate, static_cast<uint32_t>(track.channels)));
    media::SampleTimingInfo timing{media::Time::make(1, rate),
                                   media::Time::make(reader->state_->startFrame + framesOut_, rate),
                                   media::Time::invalid()};
    framesOut_ += frames;
    return media::SampleBuffer::createWithData(std::move(format), std::move(bytes), frames,
                                               {timing});
}

}  // namespace pelmar::av
