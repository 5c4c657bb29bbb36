#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pelmar::av {

// MicrophoneSignal: what the synthetic microphone hears: a sine tone or a square wave of a
// frequency and an amplitude (1.0 is full scale), silence, or the audio of a file (silence after
// its end). The same on every channel.
// Ownership: a plain value type.
// Threads: thread-compatible.
// Errors: none; a file that cannot be decoded is heard as silence.
struct MicrophoneSignal {
    enum class Kind { tone, square, silence, file };

    Kind kind = Kind::tone;
    double frequency = 440;
    double amplitude = 0.25;
    std::string path;

    static MicrophoneSignal tone(double frequency, double amplitude);
    static MicrophoneSignal square(double frequency, double amplitude);
    static MicrophoneSignal silence();
    static MicrophoneSignal file(std::string path);

    bool operator==(const MicrophoneSignal&) const = default;
};

// MicrophoneRenderer: turns a signal into interleaved signed 16-bit frames at a rate and channel
// count, frame index by frame index (so consecutive calls continue the waveform).
// Ownership: owns the decoded file, when the signal is one.
// Threads: thread-compatible.
// Errors: none.
class MicrophoneRenderer {
public:
    MicrophoneRenderer(MicrophoneSignal signal, double sampleRate, int channels);

    // Writes frames [first, first + count) to `out` (count * channels samples).
    void render(int64_t first, int64_t count, int16_t* out) const;

private:
    MicrophoneSignal signal_;
    double sampleRate_;
    int channels_;
    std::vector<int16_t> file_;  // mono, at fileRate_
    double fileRate_ = 0;
};

}  // namespace pelmar::av
