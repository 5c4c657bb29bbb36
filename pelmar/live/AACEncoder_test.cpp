#include "pelmar/live/AACEncoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mem.h>
}

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "pelmar/live/AudioSpecificConfig.h"
#include "pelmar/live/internal/AACEncoderCpp.h"
#include "pelmar/live/testing/Bytes.h"
#include "pelmar/platform/foundation/Console.h"
#include "testing/SyntheticMedia.h"
#include "testing/Waits.h"

namespace pelmar::live {
namespace {

struct Packet {
    std::vector<uint8_t> data;
    std::vector<uint8_t> asc;
    media::Time pts;
};

class RecordingDelegate : public AACEncoderDelegate {
public:
    void compressedAudioDataReceived(std::span<const uint8_t> data,
                                     std::span<const uint8_t> asc,
                                     media::Time pts) override {
        packets.push_back({{data.begin(), data.end()}, {asc.begin(), asc.end()}, pts});
    }

    std::vector<Packet> packets;
};

struct DecodedAudio {
    int sampleRate = 0;
    int channels = 0;
    std::vector<AVChannel> labels;  // what the decoder says each channel is
    std::vector<int> framesPerPacket;
    std::vector<std::vector<float>> samples;  // per channel, every decoded frame, priming included
    int errors = 0;
};

// Decodes each packet on its own with libavcodec, configured by nothing but `asc`.
DecodedAudio Decode(const std::vector<Packet>& packets, const std::vector<uint8_t>& asc) {
    DecodedAudio result;
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_AAC);
    AVCodecContext* context = avcodec_alloc_context3(codec);
    context->extradata =
            static_cast<uint8_t*>(av_mallocz(asc.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    std::memcpy(context->extradata, asc.data(), asc.size());
    context->extradata_size = static_cast<int>(asc.size());
    if (avcodec_open2(context, codec, nullptr) < 0) {
        avcodec_free_context(&context);
        result.errors = 1;
        return result;
    }
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    for (const auto& p : packets) {
        std::vector<uint8_t> padded(p.data);
        padded.resize(p.data.size() + AV_INPUT_BUFFER_PADDING_SIZE);
        packet->data = padded.data();
        packet->size = static_cast<int>(p.data.size());
        if (avcodec_send_packet(context, packet) < 0) {
            ++result.errors;
            continue;
        }
        int frames = 0;
        while (avcodec_receive_frame(context, frame) == 0) {
            frames += frame->nb_samples;
            result.sampleRate = frame->sample_rate;
            result.channels = frame->ch_layout.nb_channels;
            result.labels.clear();
            result.samples.resize(static_cast<size_t>(result.channels));
            for (int c = 0; c < result.channels; ++c) {
                result.labels.push_back(av_channel_layout_channel_from_index(
                        &frame->ch_layout, static_cast<unsigned>(c)));
                const auto* samples = reinterpret_cast<const float*>(frame->extended_data[c]);
                auto& channel = result.samples[static_cast<size_t>(c)];
                channel.insert(channel.end(), samples, samples + frame->nb_samples);
            }
            av_frame_unref(frame);
        }
        result.framesPerPacket.push_back(frames);
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&context);
    return result;
}

// Energy of the difference between the decoded audio (its priming packet skipped) and the sine
// that went in, relative to the sine's energy, over the first `frames` frames.
double RelativeError(const DecodedAudio& decoded, int64_t frames, int sampleRate) {
    double error = 0;
    double signal = 0;
    if (decoded.samples.empty()) {
        return 1.0;
    }
    const auto& first = decoded.samples[0];
    for (int64_t i = 0; i < frames; ++i) {
        const size_t at = static_cast<size_t>(i) + 1024;
        if (at >= first.size()) {
            return 1.0;
        }
        const double expected = test::SineSample(i, 440.0, sampleRate) / 32768.0;
        const double difference = first[at] - expected;
        error += difference * difference;
        signal += expected * expected;
    }
    return error / signal;
}

TEST(AACEncoderTest, EveryInputFrameComesOutOnceInWholePacketsWithTheirOwnTimes) {
    constexpr int kRate = 44100;
    auto encoder = AACEncoder::create(kRate, 2, 128'000);
    auto delegate = std::make_shared<RecordingDelegate>();
    encoder->setDelegate(delegate);

    // Buffers of awkward sizes, some larger than many packets, starting at 5 s.
    const int64_t start = 5 * kRate;
    const int64_t sizes[] = {2500, 512, 7, 3000, 1, 1023, 1024, 20000, 333, 15199};
    int64_t fed = 0;
    for (const int64_t size : sizes) {
        encoder->putCMSampleBuffer(test::SinePcm(start + fed, size, kRate, 2));
        fed += size;
        // Each completed 1024-frame block gives one packet, one block behind.
        const int64_t blocks = fed / 1024;
        EXPECT_EQ(delegate->packets.size(), static_cast<size_t>(blocks > 0 ? blocks - 1 : 0))
                << "after " << fed << " frames";
    }
    encoder->flush();
    const size_t expectedPackets = (fed + 1023) / 1024 + 1;  // the priming packet in front
    ASSERT_EQ(delegate->packets.size(), expectedPackets);

    for (size_t i = 0; i < delegate->packets.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(delegate->packets[i].pts,
                  media::Time::make(start + (static_cast<int64_t>(i) - 1) * 1024, kRate));
        EXPECT_EQ(test::ToHex(delegate->packets[i].asc), "12 10");
    }
    const DecodedAudio decoded = Decode(delegate->packets, delegate->packets[0].asc);
    EXPECT_EQ(decoded.errors, 0);
    EXPECT_EQ(decoded.framesPerPacket, std::vector<int>(expectedPackets, 1024))
            << "one packet of 1024 frames per delegate call";
    // A frame dropped or repeated anywhere would put the tone out of phase from there on (one
    // frame of shift alone gives about 0.004).
    EXPECT_LT(RelativeError(decoded, fed, kRate), 0.001);

    // A flushed encoder takes nothing more.
    foundation::Console::Capture console;
    encoder->putCMSampleBuffer(test::SinePcm(start + fed, 4096, kRate, 2));
    EXPECT_EQ(delegate->packets.size(), expectedPackets);
    EXPECT_TRUE(console.contains("AAC encoder: input after flush; dropped"));
}

TEST(AACEncoderTest, AudioSpecificConfigDescribesTheStreamToADecoder) {
    struct Case {
        const char* name;
        int rate;
        int channels;
        const char* asc;
        int decodedRate;  // rates outside the table are resampled to the nearest table rate
    };

    const Case cases[] = {
            {"44.1 kHz stereo", 44100, 2, "12 10", 44100},
            {"48 kHz stereo", 48000, 2, "11 90", 48000},
            {"44.1 kHz mono", 44100, 1, "12 08", 44100},
            {"16 kHz stereo", 16000, 2, "14 10", 16000},
            {"96 kHz mono", 96000, 1, "10 08", 96000},
            {"8 kHz mono", 8000, 1, "15 88", 8000},
            {"22 kHz mono", 22000, 1, "13 88", 22050},
            {"44 kHz stereo", 44000, 2, "12 10", 44100},
            {"37.8 kHz stereo", 37800, 2, "12 90", 32000},
            {"7.4 kHz mono", 7400, 1, "16 08", 7350},
            {"192 kHz stereo", 192000, 2, "10 10", 96000},
            {"4 kHz mono", 4000, 1, "16 08", 7350},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto encoder = AACEncoder::create(c.rate, c.channels, 64'000 * c.channels);
        auto delegate = std::make_shared<RecordingDelegate>();
        encoder->setDelegate(delegate);
        const int64_t frames = c.rate / 2;
        for (int64_t at = 0; at < frames; at += 1000) {
            encoder->putCMSampleBuffer(
                    test::SinePcm(at, std::min<int64_t>(1000, frames - at), c.rate, c.channels));
        }
        encoder->flush();
        ASSERT_FALSE(delegate->packets.empty());
        EXPECT_EQ(test::ToHex(delegate->packets[0].asc), c.asc);

        const DecodedAudio decoded = Decode(delegate->packets, delegate->packets[0].asc);
        EXPECT_EQ(decoded.errors, 0);
        EXPECT_EQ(decoded.sampleRate, c.decodedRate);
        EXPECT_EQ(decoded.channels, c.channels);
        // The tone is a function of time, so the same sine sampled at the decoded rate is what
        // must come out, resampled or not.
        EXPECT_LT(RelativeError(decoded, frames * c.decodedRate / c.rate - 2048, c.decodedRate),
                  0.01);
    }
}

// Where a channel of a multichannel stream plays, and the decoder's names for that place.
enum class Speaker { C, L, R, Cs, Ls, Rs, Lfe };

bool DecoderNames(Speaker speaker, AVChannel label) {
    switch (speaker) {
        case Speaker::C:
            return label == AV_CHAN_FRONT_CENTER;
        case Speaker::L:
            return label == AV_CHAN_FRONT_LEFT;
        case Speaker::R:
            return label == AV_CHAN_FRONT_RIGHT;
        case Speaker::Cs:
            return label == AV_CHAN_BACK_CENTER;
        case Speaker::Ls:
            return label == AV_CHAN_SIDE_LEFT || label == AV_CHAN_BACK_LEFT;
        case Speaker::Rs:
            return label == AV_CHAN_SIDE_RIGHT || label == AV_CHAN_BACK_RIGHT;
        case Speaker::Lfe:
            return label == AV_CHAN_LOW_FREQUENCY;
    }
    return false;
}

// A tone of its own for each place (a low one for the LFE channel, which carries only bass).
double ToneOf(Speaker speaker) {
    constexpr double kTones[] = {300, 500, 700, 900, 1100, 1300, 80};
    return kTones[static_cast<int>(speaker)];
}

// `frames` frames of 16-bit interleaved PCM from frame `first` on, channel k a sine of
// `tones[k]` Hz.
std::shared_ptr<media::SampleBuffer> TonesPcm(int64_t first,
                                              int64_t frames,
                                              int rate,
                                              const std::vector<double>& tones) {
    auto data = std::make_shared<std::vector<uint8_t>>();
    for (int64_t i = 0; i < frames; ++i) {
        for (const double tone : tones) {
            const auto value = static_cast<uint16_t>(test::SineSample(first + i, tone, rate));
            data->push_back(static_cast<uint8_t>(value & 0xFF));
            data->push_back(static_cast<uint8_t>(value >> 8));
        }
    }
    auto format = media::FormatDescription::forAudio(
            media::AudioStreamBasicDescription::pcm16(rate, static_cast<uint32_t>(tones.size())));
    return media::SampleBuffer::createWithData(
            format, std::move(data), frames,
            {media::SampleTimingInfo{media::Time::make(1, rate), media::Time::make(first, rate),
                                     media::Time::invalid()}});
}

// The power of `samples` at `frequency` (Goertzel), from `from` on.
double TonePower(const std::vector<float>& samples, size_t from, double frequency, int rate) {
    const double coefficient = 2 * std::cos(2 * std::numbers::pi * frequency / rate);
    double previous = 0;
    double beforePrevious = 0;
    for (size_t i = from; i < samples.size(); ++i) {
        const double current = samples[i] + coefficient * previous - beforePrevious;
        beforePrevious = previous;
        previous = current;
    }
    return previous * previous + beforePrevious * beforePrevious
           - coefficient * previous * beforePrevious;
}

TEST(AACEncoderTest, EachChannelCountIsEncodedInTheLayoutItsConfigurationNames) {
    using enum Speaker;

    struct Case {
        const char* name;
        std::vector<Speaker> input;  // the input's channels, in order
        const char* asc;
        int rate = 48000;
        int codingRate = 48000;
    };

    const Case cases[] = {
            {"mono", {C}, "11 88"},
            {"stereo", {L, R}, "11 90"},
            {"three channels", {C, L, R}, "11 98"},
            {"four channels", {C, L, R, Cs}, "11 A0"},
            {"five channels", {C, L, R, Ls, Rs}, "11 A8"},
            {"six channels", {C, L, R, Ls, Rs, Lfe}, "11 B0"},
            {"six channels, resampled", {C, L, R, Ls, Rs, Lfe}, "12 B0", 37800, 32000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const int channels = static_cast<int>(c.input.size());
        std::vector<double> tones;
        for (const Speaker speaker : c.input) {
            tones.push_back(ToneOf(speaker));
        }
        auto encoder = AACEncoder::create(c.rate, channels, 64'000 * channels);
        auto delegate = std::make_shared<RecordingDelegate>();
        encoder->setDelegate(delegate);
        for (int64_t at = 0; at < c.rate; at += 1000) {
            encoder->putCMSampleBuffer(TonesPcm(at, 1000, c.rate, tones));
        }
        encoder->flush();
        ASSERT_FALSE(delegate->packets.empty());
        EXPECT_EQ(test::ToHex(delegate->packets[0].asc), c.asc);

        const DecodedAudio decoded = Decode(delegate->packets, delegate->packets[0].asc);
        EXPECT_EQ(decoded.errors, 0);
        EXPECT_EQ(decoded.sampleRate, c.codingRate);
        EXPECT_EQ(decoded.framesPerPacket, std::vector<int>(delegate->packets.size(), 1024));
        ASSERT_EQ(decoded.channels, channels);
        // Each decoded channel carries the tone of the input channel meant for its place, and
        // hardly any of the others.
        for (size_t out = 0; out < decoded.samples.size(); ++out) {
            char name[16] = {};
            av_channel_name(name, sizeof name, decoded.labels[out]);
            SCOPED_TRACE(name);
            std::vector<double> powers;
            for (const double tone : tones) {
                powers.push_back(TonePower(decoded.samples[out], 2048, tone, c.codingRate));
            }
            const auto loudest = static_cast<size_t>(std::max_element(powers.begin(), powers.end())
                                                     - powers.begin());
            EXPECT_TRUE(DecoderNames(c.input[loudest], decoded.labels[out]))
                    << "carries the tone of input channel " << loudest;
            for (size_t other = 0; other < powers.size(); ++other) {
                if (other != loudest) {
                    EXPECT_LT(powers[other], powers[loudest] / 100) << "tone of input " << other;
                }
            }
        }
    }
}

TEST(AACEncoderTest, OffTableInputKeepsItsDurationAndTimesAtTheCodingRate) {
    constexpr int kRate = 37800;
    constexpr int kCodingRate = 32000;
    auto encoder = AACEncoder::create(kRate, 2, 128'000);
    auto delegate = std::make_shared<RecordingDelegate>();
    encoder->setDelegate(delegate);

    // Five seconds from 2 s on, in buffers of awkward sizes.
    const int64_t start = 2 * kRate;
    const int64_t total = 5 * kRate;
    const int64_t sizes[] = {2500, 512, 7, 3000, 1, 1023, 1024, 20000, 333};
    int64_t fed = 0;
    for (size_t i = 0; fed < total; ++i) {
        const int64_t size = std::min(sizes[i % std::size(sizes)], total - fed);
        encoder->putCMSampleBuffer(test::SinePcm(start + fed, size, kRate, 2));
        fed += size;
    }
    encoder->flush();

    // 160,000 frames at 32 kHz fill 157 packets (the last padded), behind the priming packet.
    const int64_t codedFrames = 5 * kCodingRate;
    ASSERT_EQ(delegate->packets.size(), static_cast<size_t>((codedFrames + 1023) / 1024 + 1));
    for (size_t i = 0; i < delegate->packets.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(delegate->packets[i].pts,
                  media::Time::make(2 * kCodingRate + (static_cast<int64_t>(i) - 1) * 1024,
                                    kCodingRate));
    }
    const DecodedAudio decoded = Decode(delegate->packets, delegate->packets[0].asc);
    EXPECT_EQ(decoded.errors, 0);
    EXPECT_LT(RelativeError(decoded, codedFrames - 1024, kCodingRate), 0.01);
}

TEST(AACEncoderTest, NearestTableRateBreaksTiesUpward) {
    const std::pair<int, int> cases[] = {{37800, 32000},  {38049, 32000}, {38050, 44100},
                                         {11000, 11025},  {90000, 88200}, {7000, 7350},
                                         {100000, 96000}, {48000, 48000}};
    for (const auto& [rate, nearest] : cases) {
        EXPECT_EQ(AACNearestSampleRate(rate), nearest) << rate;
    }
}

TEST(AACEncoderTest, SampleRateIndexFollowsTheMpeg4Table) {
    const std::pair<unsigned, int> cases[] = {{96000, 0}, {88200, 1},  {48000, 3},
                                              {44100, 4}, {16000, 8},  {8000, 11},
                                              {7350, 12}, {44000, 15}, {0, 15}};
    for (const auto& [rate, index] : cases) {
        EXPECT_EQ(internal::AACEncoderCpp::getSampleRateIndex(rate), index) << rate;
    }
}

TEST(AACEncoderTest, FailedSetUpIsPrintedAndTheEncoderDropsInput) {
    struct Case {
        const char* name;
        int rate;
        int channels;
        int bitrate;
        const char* step;
    };

    const Case cases[] = {
            {"rate too low", internal::AACEncoderCpp::kMinSampleRate - 1, 2, 128'000,
             "audioConverterNewSpecific failed"},
            {"rate too high", internal::AACEncoderCpp::kMaxSampleRate + 1, 2, 128'000,
             "audioConverterNewSpecific failed"},
            {"no channels", 44100, 0, 128'000, "audioConverterNewSpecific failed"},
            {"seven channels", 44100, 7, 128'000, "audioConverterNewSpecific failed"},
            {"no bitrate", 44100, 2, 0, "audioConverter set bitrate failed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        foundation::Console::Capture console;
        auto encoder = AACEncoder::create(c.rate, c.channels, c.bitrate);
        ASSERT_NE(encoder, nullptr);
        // AVERROR(EINVAL), -22, as an unsigned 32-bit number.
        EXPECT_EQ(console.lines(), (std::vector<std::string>{
                                           c.step, "AAC encoder initialization failed: ffffffea"}));
        auto delegate = std::make_shared<RecordingDelegate>();
        encoder->setDelegate(delegate);
        // Far more than any fixed buffer would hold: dropped, never written anywhere.
        encoder->putCMSampleBuffer(test::SinePcm(0, 100'000, 44100, 2));
        encoder->flush();
        EXPECT_TRUE(delegate->packets.empty());
    }
}

TEST(AACEncoderTest, BuffersOfAnotherFormatAreReportedAndDroppedWhole) {
    auto encoder = AACEncoder::create(44100, 2, 128'000);
    auto delegate = std::make_shared<RecordingDelegate>();
    encoder->setDelegate(delegate);
    encoder->putCMSampleBuffer(test::SinePcm(0, 700, 44100, 2));

    foundation::Console::Capture console;
    encoder->putCMSampleBuffer(test::SinePcm(700, 5000, 48000, 2));
    encoder->putCMSampleBuffer(test::SinePcm(700, 5000, 44100, 1));
    encoder->putCMSampleBuffer(nullptr);
    auto untimed = test::SinePcm(700, 5000, 44100, 2)
                           ->copyWithNewTiming({media::SampleTimingInfo{media::Time::make(1, 44100),
                                                                        media::Time::invalid(),
                                                                        media::Time::invalid()}});
    encoder->putCMSampleBuffer(untimed);
    EXPECT_TRUE(delegate->packets.empty());
    EXPECT_EQ(console.lines().size(), 4u);
    EXPECT_TRUE(console.contains(
            "AAC encoder: not 16-bit interleaved PCM at 44100 Hz with 2 channels; dropped"));
    EXPECT_TRUE(console.contains("AAC encoder: invalid presentation time; dropped"));

    // The 700 frames taken before are still there and the stream goes on from them.
    encoder->putCMSampleBuffer(test::SinePcm(700, 3 * 1024 - 700, 44100, 2));
    ASSERT_EQ(delegate->packets.size(), 2u);
    EXPECT_EQ(delegate->packets[1].pts, media::Time::make(0, 44100));

    // Without a delegate the packets go nowhere.
    delegate.reset();
    encoder->putCMSampleBuffer(test::SinePcm(3 * 1024, 4096, 44100, 2));
    EXPECT_EQ(encoder->delegate(), nullptr);
}

// Calls back into its encoder from inside a delivery: more input while it has fewer than six
// packets, then the end of the stream.
class ReenteringDelegate : public AACEncoderDelegate {
public:
    void compressedAudioDataReceived(std::span<const uint8_t> data,
                                     std::span<const uint8_t> asc,
                                     media::Time pts) override {
        packets.push_back({{data.begin(), data.end()}, {asc.begin(), asc.end()}, pts});
        auto target = encoder.lock();
        if (!target || flushed) {
            return;
        }
        if (packets.size() < 6) {
            target->putCMSampleBuffer(test::SinePcm(fed, 1024, 44100, 2));
            fed += 1024;
        } else {
            flushed = true;
            target->flush();
        }
    }

    std::weak_ptr<AACEncoder> encoder;
    int64_t fed = 0;
    bool flushed = false;
    std::vector<Packet> packets;
};

TEST(AACEncoderTest, DelegateMayCallBackIntoItsEncoderAndPacketsStayInOrder) {
    auto encoder = AACEncoder::create(44100, 2, 128'000);
    auto delegate = std::make_shared<ReenteringDelegate>();
    delegate->encoder = encoder;
    encoder->setDelegate(delegate);
    test::BackgroundCall run([encoder, delegate] {
        delegate->fed = 2048;
        encoder->putCMSampleBuffer(test::SinePcm(0, 2048, 44100, 2));
    });
    ASSERT_TRUE(run.returnsWithin()) << "the encoder deadlocked on its own delegate";
    // Everything fed from inside the delegate came out, in order, before the first call ended:
    // the priming packet, one per 1024 frames, and the one the flush let go.
    ASSERT_TRUE(delegate->flushed);
    const auto packets = (delegate->fed + 1023) / 1024 + 1;
    ASSERT_EQ(delegate->packets.size(), static_cast<size_t>(packets));
    for (size_t i = 0; i < delegate->packets.size(); ++i) {
        EXPECT_EQ(delegate->packets[i].pts,
                  media::Time::make((static_cast<int64_t>(i) - 1) * 1024, 44100))
                << i;
    }
    const DecodedAudio decoded = Decode(delegate->packets, delegate->packets[0].asc);
    EXPECT_EQ(decoded.errors, 0);
    EXPECT_LT(RelativeError(decoded, delegate->fed - 1024, 44100), 0.01);
}

}  // namespace
}  // namespace pelmar::live
