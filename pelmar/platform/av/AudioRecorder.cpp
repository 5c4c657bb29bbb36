#include "pelmar/platform/av/AudioRecorder.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <utility>
#include <vector>

#include "pelmar/platform/av/AudioSession.h"
#include "pelmar/platform/av/CaptureEnvironment.h"
#include "pelmar/platform/av/internal/AudioFaults.h"
#include "pelmar/platform/dispatch/Clock.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/libav/LibavHandles.h"

namespace pelmar::av {

namespace {

internal::FaultSwitch<AudioRecorder::Faults>& faultSwitch() {
    static auto* faults = new internal::FaultSwitch<AudioRecorder::Faults>();
    return *faults;
}

using internal::amplitudeToDecibels;

}  // namespace

void AudioRecorder::setFaults(Faults faults) {
    faultSwitch().set(std::move(faults));
}

AudioRecorder::Faults AudioRecorder::faults() {
    return faultSwitch().get();
}

// The muxer and encoder of one file: s16 interleaved in, planar s16 frames of the codec's size out.
struct AudioRecorder::Encoder {
    libav::OutputFormatPtr format;
    libav::CodecContextPtr codec;
    libav::FramePtr frame;
    libav::PacketPtr packet;
    AVStream* stream = nullptr;
    int channels = 0;
    int frameSize = 0;
    bool smallLastFrame = false;
    bool planar = true;
    std::vector<int16_t> pending;  // interleaved
    int64_t pts = 0;

    bool open(const std::string& path, const AudioRecorderSettings& settings) {
        const bool lossless = settings.formatID == kAudioFormatAppleLossless;
        const AVCodec* encoder =
                avcodec_find_encoder(lossless ? AV_CODEC_ID_ALAC : AV_CODEC_ID_PCM_S16LE);
        if (encoder == nullptr) {
            return false;
        }
        AVFormatContext* raw = nullptr;
        // The file name has no extension, so the container is named: a QuickTime movie keeps the
        // exact sample count of a short last packet.
        if (avformat_alloc_output_context2(&raw, nullptr, "mov", path.c_str()) < 0) {
            return false;
        }
        format.reset(raw);
        codec.reset(avcodec_alloc_context3(encoder));
        if (!codec) {
            return false;
        }
        channels = settings.channels;
        planar = lossless;
        codec->sample_rate = static_cast<int>(settings.sampleRate);
        codec->sample_fmt = lossless ? AV_SAMPLE_FMT_S16P : AV_SAMPLE_FMT_S16;
        av_channel_layout_default(&codec->ch_layout, channels);
        codec->time_base = AVRational{1, codec->sample_rate};
        if ((format->oformat->flags & AVFMT_GLOBALHEADER) != 0) {
            codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        }
        if (avcodec_open2(codec.get(), encoder, nullptr) < 0) {
            return false;
        }
        frameSize = codec->frame_size > 0 ? codec->frame_size : 4096;
        smallLastFrame = (encoder->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME) != 0
                         || codec->frame_size == 0;
        stream = avformat_new_stream(raw, nullptr);
        if (stream == nullptr
            || avcodec_parameters_from_context(stream->codecpar, codec.get()) < 0) {
            return false;
        }
        stream->time_base = codec->time_base;
        if (avio_open(&raw->pb, path.c_str(), AVIO_FLAG_WRITE) < 0) {
            return false;
        }
        if (avformat_write_header(raw, nullptr) < 0) {
            return false;
        }
        frame.reset(av_frame_alloc());
        packet.reset(av_packet_alloc());
        return frame && packet;
    }

    bool drain() {
        while (true) {
            const int rc = avcodec_receive_packet(codec.get(), packet.get());
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) {
                return true;
            }
            if (rc < 0) {
                return false;
            }
            av_packet_rescale_ts(packet.get(), codec->time_base, stream->time_base);
            packet->stream_index = stream->index;
            if (av_interleaved_write_frame(format.get(), packet.get()) < 0) {
                return false;
            }
        }
    }

    bool encode(const int16_t* samples, int count) {
        av_frame_unref(frame.get());
        frame->nb_samples = count;
        frame->format = codec->sample_fmt;
        frame->sample_rate = codec->sample_rate;
        av_channel_layout_copy(&frame->ch_layout, &codec->ch_layout);
        if (av_frame_get_buffer(frame.get(), 0) < 0) {
            return false;
        }
        for (int i = 0; i < count; ++i) {
            for (int c = 0; c < channels; ++c) {
                if (planar) {
                    reinterpret_cast<int16_t*>(frame->data[c])[i] = samples[i * channels + c];
                } else {
                    reinterpret_cast<int16_t*>(frame->data[0])[i * channels + c] =
                            samples[i * channels + c];
                }
            }
        }
        frame->pts = pts;
        pts += count;
        if (avcodec_send_frame(codec.get(), frame.get()) < 0) {
            return false;
        }
        return drain();
    }

    bool write(const int16_t* samples, int64_t count) {
        pending.insert(pending.end(), samples, samples + count * channels);
        const size_t block = static_cast<size_t>(frameSize) * channels;
        size_t used = 0;
        while (pending.size() - used >= block) {
            if (!encode(pending.data() + used, frameSize)) {
                return false;
            }
            used += block;
        }
        pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(used));
        return true;
    }

    bool close() {
        bool ok = true;
        if (!pending.empty()) {
            const int count = static_cast<int>(pending.size() / channels);
            if (!smallLastFrame) {
                pending.resize(static_cast<size_t>(frameSize) * channels, 0);
            }
            ok = encode(pending.data(), smallLastFrame ? count : frameSize);
            pending.clear();
        }
        ok = avcodec_send_frame(codec.get(), nullptr) >= 0 && drain() && ok;
        ok = av_write_trailer(format.get()) >= 0 && ok;
        format.reset();
        return ok;
    }
};

std::shared_ptr<AudioRecorder> AudioRecorder::create(std::string path,
                                                     AudioRecorderSettings settings) {
    if (faults().failCreate) {
        throw AudioError(AudioErrorCode::recorderCreationFailed,
                         "The audio recorder couldn't be created");
    }
    if ((settings.formatID != kAudioFormatAppleLossless
         && settings.formatID != kAudioFormatLinearPCM)
        || settings.channels < 1 || settings.channels > 8 || settings.sampleRate < 8000
        || settings.sampleRate > 192000) {
        throw AudioError(AudioErrorCode::recorderCreationFailed,
                         "The audio recorder doesn't support these settings");
    }
    return std::shared_ptr<AudioRecorder>(new AudioRecorder(std::move(path), settings));
}

AudioRecorder::AudioRecorder(std::string path, AudioRecorderSettings settings)
    : path_(std::move(path)), settings_(settings) {}

AudioRecorder::~AudioRecorder() {
    if (encoder_ && encoder_->format) {
        encoder_->close();
    }
}

bool AudioRecorder::prepareToRecord() {
    if (encoder_) {
        return true;
    }
    if (faults().failPrepare || finished_) {
        return false;
    }
    auto encoder = std::make_unique<Encoder>();
    if (!encoder->open(path_, settings_)) {
        encoder.reset();
        std::error_code ec;
        std::filesystem::remove(path_, ec);
        return false;
    }
    encoder_ = std::move(encoder);
    return true;
}

bool AudioRecorder::record() {
    if (recording_) {
        return true;
    }
    if (faults().failRecord || !prepareToRecord()) {
        return false;
    }
    // Without the user's permission the microphone gives silence.
    auto signal = AudioSession::shared().recordPermission() == RecordPermission::granted
                          ? CaptureEnvironment::shared().microphoneSignal()
                          : MicrophoneSignal::silence();
    microphone_ = std::make_unique<MicrophoneRenderer>(std::move(signal), settings_.sampleRate,
                                                       settings_.channels);
    segmentStart_ = dispatch::clock().now();
    segmentFrames_ = frames_;
    recording_ = true;
    return true;
}

void AudioRecorder::pull() {
    if (!recording_ || !encoder_) {
        return;
    }
    const double elapsed = dispatch::clock().now() - segmentStart_;
    const auto due = segmentFrames_
                     + static_cast<int64_t>(std::floor(elapsed * settings_.sampleRate + 1e-6));
    const auto errorAt = faults().encodeErrorAfterSeconds;
    int64_t target = due;
    if (errorAt) {
        target = std::min<int64_t>(
                target, static_cast<int64_t>(std::llround(*errorAt * settings_.sampleRate)));
    }
    if (target > frames_) {
        std::vector<int16_t> samples(static_cast<size_t>(target - frames_) * settings_.channels);
        microphone_->render(frames_, target - frames_, samples.data());
        for (int64_t i = 0; i < target - frames_; ++i) {
            const double s = samples[static_cast<size_t>(i * settings_.channels)] / 32768.0;
            sumSquares_ += s * s;
            meterPeak_ = std::max(meterPeak_, std::abs(s));
        }
        meterFrames_ += target - frames_;
        if (!encoder_->write(samples.data(), target - frames_)) {
            frames_ = target;
            fail("Audio encoding failed");
            return;
        }
        frames_ = target;
    }
    if (errorAt && due > target) {
        fail("Audio encoding failed");
    }
}

void AudioRecorder::fail(const std::string& message) {
    recording_ = false;
    Error error{std::string(kAudioErrorDomain), static_cast<long>(AudioErrorCode::encodeFailed),
                message};
    std::weak_ptr<AudioRecorder> weak = weak_from_this();
    dispatch::Queue::main()->async([weak, error] {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        if (auto delegate = self->delegate_.lock()) {
            delegate->audioRecorderEncodeErrorDidOccur(*self, error);
        }
    });
}

void AudioRecorder::pause() {
    pull();
    recording_ = false;
}

void AudioRecorder::stop() {
    pull();
    recording_ = false;
    if (!encoder_) {
        return;
    }
    const bool closed = encoder_->close();
    encoder_.reset();
    finished_ = true;
    finish(closed && !faults().finishUnsuccessfully);
}

void AudioRecorder::finish(bool ok) {
    std::weak_ptr<AudioRecorder> weak = weak_from_this();
    dispatch::Queue::main()->async([weak, ok] {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        if (auto delegate = self->delegate_.lock()) {
            delegate->audioRecorderDidFinishRecording(*self, ok);
        }
    });
}

bool AudioRecorder::deleteRecording() {
    if (recording_) {
        return false;
    }
    if (encoder_) {
        encoder_->close();
        encoder_.reset();
    }
    std::error_code ec;
    return std::filesystem::remove(path_, ec) && !ec;
}

double AudioRecorder::currentTime() {
    pull();
    return static_cast<double>(frames_) / settings_.sampleRate;
}

void AudioRecorder::updateMeters() {
    pull();
    if (meterFrames_ > 0) {
        average_ = amplitudeToDecibels(std::sqrt(sumSquares_ / static_cast<double>(meterFrames_)));
        peak_ = amplitudeToDecibels(meterPeak_);
    } else if (!recording_) {
        average_ = -160;
        peak_ = -160;
    }
    sumSquares_ = 0;
    meterFrames_ = 0;
    meterPeak_ = 0;
}

float AudioRecorder::averagePower(int channel) const {
    return metering_ && channel >= 0 && channel < settings_.channels ? average_ : -160;
}

float AudioRecorder::peakPower(int channel) const {
    return metering_ && channel >= 0 && channel < settings_.channels ? peak_ : -160;
}

}  // namespace pelmar::av
