// Fuzz target: AudioSpecificConfig bytes as an encoder or a recorded file hands them to the FLV
// muxer, which reads the sample rate and channels from them.
#include "pelmar/live/AudioSpecificConfig.h"

#include <cstddef>
#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto configuration = pelmar::live::ReadAudioSpecificConfig(std::span(data, size));
    if (configuration && (configuration->sampleRate <= 0 || configuration->channels < 0)) {
        __builtin_trap();
    }
    return 0;
}
