#pragma once

// The H.264 encoder's pixel-buffer pool and compressed-data signal, as a host app reaches them
// through the installed headers: a pooled picture is encoded, and the frame it gives is signalled
// again. Returns an empty text on success, else what went wrong.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "pelmar/live/H264Encoder.h"

namespace consumer {

class CollectingVideo : public pelmar::live::H264EncoderDelegate {
public:
    void compressedVideoDataReceived(
            const std::shared_ptr<const pelmar::media::SampleBuffer>& sampleBuffer) override {
        frames.push_back(sampleBuffer);
    }

    std::vector<std::shared_ptr<const pelmar::media::SampleBuffer>> frames;
};

inline std::string checkLiveEncoder() {
    auto encoder = pelmar::live::H264Encoder::create(64, 64, 100'000, 25);
    auto delegate = std::make_shared<CollectingVideo>();
    encoder->setDelegate(delegate);
    const auto pool = encoder->pixelBufferPool();
    if (!pool) {
        return "no pixel buffer pool";
    }
    auto picture = pool->createPixelBuffer();
    if (!picture || picture->width() != 64 || picture->height() != 64) {
        return "no 64x64 picture from the pool";
    }
    std::memset(picture->data(), 0x80, picture->size());
    encoder->putCVPixelBuffer(picture, pelmar::media::Time::make(0, 25));
    if (delegate->frames.size() != 1 || !delegate->frames[0]->isKeyFrame()) {
        return "the pooled picture gave no key frame";
    }
    encoder->signalCompressedData(delegate->frames[0]);
    if (delegate->frames.size() != 2 || delegate->frames[1] != delegate->frames[0]) {
        return "the signalled frame did not reach the delegate";
    }
    return "";
}

}  // namespace consumer
