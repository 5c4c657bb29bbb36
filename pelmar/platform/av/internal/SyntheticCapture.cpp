#include "pelmar/platform/av/internal/SyntheticCapture.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

#include "pelmar/platform/av/CaptureAudioDataOutput.h"
#include "pelmar/platform/av/CaptureEnvironment.h"
#include "pelmar/platform/av/CaptureMetadataOutput.h"
#include "pelmar/platform/av/CaptureSession.h"
#include "pelmar/platform/av/CaptureVideoDataOutput.h"
#include "pelmar/platform/dispatch/Clock.h"
#include "pelmar/platform/media/SampleBuffer.h"

namespace pelmar::av::internal {

namespace {

constexpr int kAudioFramesPerBuffer = 1024;
constexpr int32_t kVideoTimescale = 1'000'000'000;
// Samples due within this much of now count as due, so that a clock moved in steps of 1/30 s
// (which do not add up exactly in binary) still finds the frame at the end of each step.
constexpr double kDueTolerance = 1e-6;

// Picture size of a preset; portrait connections swap width and height.
void frameSize(SessionPreset preset, VideoOrientation orientation, int* width, int* height) {
    int w = 480;
    int h = 360;
    if (preset == SessionPreset::Low) {
        w = 192;
        h = 144;
    } else if (preset == SessionPreset::High) {
        w = 1280;
        h = 720;
    } else if (preset == SessionPreset::Photo) {
        w = 1440;
        h = 1080;
    }
    const bool portrait = orientation == VideoOrientation::Portrait
                          || orientation == VideoOrientation::PortraitUpsideDown;
    *width = portrait ? h : w;
    *height = portrait ? w : h;
}

}  // namespace

SyntheticCapture::SyntheticCapture(std::weak_ptr<CaptureSession> session)
    : session_(std::move(session)), queue_(dispatch::Queue::serial("synthetic capture")) {}

void SyntheticCapture::start() {
    {
        MutexLock lock(tickMutex_);
        start_ = dispatch::clock().now();
        frames_ = 0;
        audioSamples_ = 0;
    }
    running_.store(true);
    armed_.store(true);
    std::weak_ptr<SyntheticCapture> weak = weak_from_this();
    queue_->async([weak] {
        if (auto self = weak.lock()) {
            self->tick(true);
        }
    });
}

void SyntheticCapture::pump() {
    std::weak_ptr<SyntheticCapture> weak = weak_from_this();
    queue_->sync([weak] {
        if (auto self = weak.lock()) {
            self->tick(false);
        }
    });
}

void SyntheticCapture::stop() {
    running_.store(false);
    // Wait for a tick under way; later ones see running_ false.
    MutexLock lock(tickMutex_);
}

std::shared_ptr<media::PixelBuffer> SyntheticCapture::makeFrame(SessionPreset preset,
                                                                VideoOrientation orientation,
                                                                bool mirrored,
                                                                int64_t index) {
    // The copy is the one a camera makes into its own buffer.
    if (auto image = CaptureEnvironment::shared().cameraImage()) {
        auto pixels = media::PixelBuffer::create(image->width(), image->height(), image->format());
        std::memcpy(pixels->data(), image->data(),
                    image->bytesPerRow() * static_cast<std::size_t>(image->height()));
        return pixels;
    }
    int w = 0;
    int h = 0;
    frameSize(preset, orientation, &w, &h);
    auto pixels = media::PixelBuffer::create(w, h, media::PixelFormat::BGRA32);
    drawTestPattern(*pixels, index, mirrored);
    return pixels;
}

void SyntheticCapture::drawTestPattern(media::PixelBuffer& buffer, int64_t index, bool mirrored) {
    static constexpr uint8_t kBars[8][3] = {{255, 255, 255}, {0, 255, 255}, {255, 255, 0},
                                            {0, 255, 0},     {255, 0, 255}, {0, 0, 255},
                                            {255, 0, 0},     {16, 16, 16}};  // B, G, R
    const int w = buffer.width();
    const int h = buffer.height();
    std::vector<uint8_t> row(static_cast<size_t>(w) * 4);
    const int shift = static_cast<int>(index * 4 % w);
    for (int x = 0; x < w; ++x) {
        const int sx = mirrored ? w - 1 - x : x;
        const int bar = ((sx + shift) % w) * 8 / w;
        uint8_t* p = row.data() + static_cast<size_t>(x) * 4;
        p[0] = kBars[bar][0];
        p[1] = kBars[bar][1];
        p[2] = kBars[bar][2];
        p[3] = 255;
    }
    for (int y = 0; y < h; ++y) {
        std::memcpy(buffer.data() + static_cast<size_t>(y) * buffer.bytesPerRow(), row.data(),
                    row.size());
    }
    // A dark square bouncing down the picture shows motion in both axes.
    const int side = std::max(4, std::min(w, h) / 6);
    const int span = std::max(1, h - side);
    const int64_t step = index * 6 % (2 * span);
    const int top = static_cast<int>(step < span ? step : 2 * span - step);
    const int left = (w - side) / 2;
    for (int y = top; y < top + side && y < h; ++y) {
        uint8_t* p = buffer.data() + static_cast<size_t>(y) * buffer.bytesPerRow()
                     + static_cast<size_t>(left) * 4;
        for (int x = 0; x < side; ++x, p += 4) {
            p[0] = 40;
            p[1] = 40;
            p[2] = 40;
        }
    }
}

void SyntheticCapture::tick(bool fromDeadline) {
    if (fromDeadline) {
        armed_.store(false);
    }
    MutexLock lock(tickMutex_);
    if (!running_.load()) {
        return;
    }
    auto session = session_.lock();
    if (!session) {
        return;
    }
    auto& env = CaptureEnvironment::shared();
    const double now = dispatch::clock().now();
    const double fps = env.frameRate();
    const double rate = env.microphoneSampleRate();
    const int channels = env.microphoneChannels();

    std::shared_ptr<CaptureVideoDataOutput> video;
    std::shared_ptr<CaptureAudioDataOutput> audio;
    std::shared_ptr<CaptureMetadataOutput> metadata;
    for (const auto& output : session->outputs()) {
        if (auto v = std::dynamic_pointer_cast<CaptureVideoDataOutput>(output)) {
            video = v;
        } else if (auto a = std::dynamic_pointer_cast<CaptureAudioDataOutput>(output)) {
            audio = a;
        } else if (auto m = std::dynamic_pointer_cast<CaptureMetadataOutput>(output)) {
            metadata = m;
        }
    }
    bool hasCamera = false;
    bool hasMicrophone = false;
    for (const auto& input : session->inputs()) {
        hasCamera = hasCamera || input->device()->mediaType() == MediaType::Video;
        hasMicrophone = hasMicrophone || input->device()->mediaType() == MediaType::Audio;
    }

    // Camera frames due by now (frame k is captured at start + k / fps).
    while (start_ + static_cast<double>(frames_) / fps <= now + kDueTolerance) {
        const double t = start_ + static_cast<double>(frames_) / fps;
        const int64_t index = frames_++;
        if (!hasCamera) {
            continue;
        }
        const bool codes = metadata && metadata->wantsCodes();
        if (video || codes) {
            auto link = video ? video->connection(MediaType::Video) : nullptr;
            auto pixels =
                    makeFrame(session->sessionPreset(),
                              link ? link->videoOrientation() : VideoOrientation::LandscapeRight,
                              link && link->isVideoMirrored(), index);
            if (codes) {
                metadata->decodeFrame(*pixels);
            }
            if (video) {
                const media::SampleTimingInfo timing{
                        media::Time::makeWithSeconds(1.0 / fps, kVideoTimescale),
                        media::Time::makeWithSeconds(t, kVideoTimescale), media::Time::invalid()};
                auto sample = media::SampleBuffer::createForImageBuffer(std::move(pixels), timing);
                if (auto brightness = env.brightness()) {
                    sample->attachments()["{Exif}"]["BrightnessValue"] = *brightness;
                }
                video->deliver(std::move(sample));
            }
        }
        if (metadata) {
            auto faces = env.faces();
            if (!faces.empty()) {
                metadata->deliver(std::move(faces));
            }
        }
    }

    // Microphone buffers whose last frame has been captured by now.
    const auto startSample = static_cast<int64_t>(std::llround(start_ * rate));
    while (start_ + static_cast<double>(audioSamples_ + kAudioFramesPerBuffer) / rate
           <= now + kDueTolerance) {
        const int64_t first = audioSamples_;
        audioSamples_ += kAudioFramesPerBuffer;
        if (!hasMicrophone || !audio) {
            continue;
        }
        auto bytes = std::make_shared<std::vector<uint8_t>>(
                static_cast<size_t>(kAudioFramesPerBuffer) * channels * 2);
        auto* out = reinterpret_cast<int16_t*>(bytes->data());
        const auto signal = env.microphoneSignal();
        if (!microphone_ || !(signal == microphoneSignal_) || rate != microphoneRate_
            || channels != microphoneChannels_) {
            microphone_ = std::make_unique<MicrophoneRenderer>(signal, rate, channels);
            microphoneSignal_ = signal;
            microphoneRate_ = rate;
            microphoneChannels_ = channels;
        }
        microphone_->render(first, kAudioFramesPerBuffer, out);
        const auto rateInt = static_cast<int32_t>(std::lround(rate));
        const media::SampleTimingInfo timing{media::Time::make(1, rateInt),
                                             media::Time::make(startSample + first, rateInt),
                                             media::Time::invalid()};
        auto format = media::FormatDescription::forAudio(
                media::AudioStreamBasicDescription::pcm16(rate, static_cast<uint32_t>(channels)));
        audio->deliver(media::SampleBuffer::createWithData(std::move(format), std::move(bytes),
                                                           kAudioFramesPerBuffer, {timing}));
    }

    const double nextVideo = start_ + static_cast<double>(frames_) / fps;
    const double nextAudio =
            start_ + static_cast<double>(audioSamples_ + kAudioFramesPerBuffer) / rate;
    const double wait = std::max(kDueTolerance, std::min(nextVideo, nextAudio) - now);
    lock.unlock();
    if (armed_.exchange(true)) {
        return;  // the armed deadline will come
    }
    std::weak_ptr<SyntheticCapture> weak = weak_from_this();
    queue_->asyncAfter(wait, [weak] {
        if (auto self = weak.lock()) {
            self->tick(true);
        }
    });
}

}  // namespace pelmar::av::internal
