#pragma once

#include <memory>

#include "pelmar/platform/av/CaptureDataOutput.h"

namespace pelmar::av {

// CaptureAudioDataOutput: delivers microphone buffers (interleaved signed 16-bit PCM, 1024 frames
// each) to its delegate.
// Ownership: see CaptureDataOutput.
// Threads: thread-safe.
// Errors: none.
class CaptureAudioDataOutput : public CaptureDataOutput {
public:
    static std::shared_ptr<CaptureAudioDataOutput> create() {
        return std::shared_ptr<CaptureAudioDataOutput>(new CaptureAudioDataOutput());
    }

    CaptureOutputKind kind() const override { return CaptureOutputKind::AudioData; }

protected:
    MediaType connectionMediaType() const override { return MediaType::Audio; }

private:
    CaptureAudioDataOutput() = default;
};

}  // namespace pelmar::av
