// live-streaming: publishes two seconds of live H.264 video to an RTMP server: pictures are
// encoded by the SDK's H264Encoder and sent by its LiveStreamer.
//
//   live-streaming --rtmp rtmp://127.0.0.1:1935/live [--stream NAME]
//
// Exits 0 when the server accepted the stream and every picture was sent, 1 otherwise.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "pelmar/live/H264Encoder.h"
#include "pelmar/live/H264EncoderDelegate.h"
#include "pelmar/live/LiveStreamer.h"
#include "pelmar/live/LiveStreamerDelegate.h"
#include "pelmar/platform/media/PixelBuffer.h"
#include "pelmar/platform/media/Time.h"

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 360;
constexpr int kFramesPerSecond = 30;

// Hands each encoded frame to the streamer and hears how publishing goes.
class Link : public pelmar::live::H264EncoderDelegate, public pelmar::live::LiveStreamerDelegate {
public:
    void compressedVideoDataReceived(
            const std::shared_ptr<const pelmar::media::SampleBuffer>& frame) override {
        if (auto target = streamer.lock()) {
            target->putVideoSample(frame);
            ++sent;
        }
    }

    void onPublishStart() override { started = true; }

    void onError(const std::string& message) override {
        std::fprintf(stderr, "live-streaming: %s\n", message.c_str());
        errors++;
    }

    std::weak_ptr<pelmar::live::LiveStreamer> streamer;
    std::atomic<bool> started{false};
    std::atomic<int> sent{0};
    std::atomic<int> errors{0};
};

// Picture `index`: colour bars that move one step per picture.
std::shared_ptr<pelmar::media::PixelBuffer> picture(int index) {
    auto pixels =
            pelmar::media::PixelBuffer::create(kWidth, kHeight, pelmar::media::PixelFormat::BGRA32);
    for (int y = 0; y < kHeight; ++y) {
        uint8_t* row = pixels->data() + y * pixels->bytesPerRow();
        for (int x = 0; x < kWidth; ++x) {
            const int bar = ((x + index * 8) % kWidth) * 6 / kWidth;
            row[x * 4 + 0] = bar & 1 ? 255 : 40;
            row[x * 4 + 1] = bar & 2 ? 255 : 40;
            row[x * 4 + 2] = bar & 4 ? 255 : 40;
            row[x * 4 + 3] = 255;
        }
    }
    return pixels;
}

}  // namespace

int main(int argc, char** argv) {
    std::string target;
    std::string name = "example";
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string_view flag = argv[i];
        (flag == "--rtmp" ? target : flag == "--stream" ? name : target) = argv[i + 1];
    }
    if (target.empty()) {
        std::fprintf(stderr, "usage: %s --rtmp rtmp://HOST[:PORT]/APP [--stream NAME]\n", argv[0]);
        return 2;
    }
    auto link = std::make_shared<Link>();
    auto streamer = pelmar::live::LiveStreamer::create(target, name, link);
    if (!streamer) {
        std::fprintf(stderr, "live-streaming: cannot connect to %s\n", target.c_str());
        return 1;
    }
    link->streamer = streamer;
    auto encoder = pelmar::live::H264Encoder::create(kWidth, kHeight, 1'000'000, kFramesPerSecond);
    encoder->setDelegate(link);
    constexpr int kFrames = 2 * kFramesPerSecond;
    for (int i = 0; i < kFrames; ++i) {
        encoder->putCVPixelBuffer(picture(i), pelmar::media::Time::make(i, kFramesPerSecond));
    }
    streamer->stop();
    std::printf("published %d pictures to %s/%s\n", link->sent.load(), target.c_str(),
                name.c_str());
    return link->started && link->sent == kFrames && link->errors == 0 ? 0 : 1;
}
