// Fuzz target: access units as an encoder or a recorded file hands them to the FLV muxer:
// parameter-set extraction, the decoder configuration record and the SPS picture-size reader.
#include "pelmar/live/AVCCParser.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);
    pelmar::live::AVCCParser parser;
    parser.ExtractSpsPps(bytes);
    try {
        const auto record = parser.GetDecoderConfigurationRecord();
        if (record.size() < 7) {
            __builtin_trap();
        }
    } catch (const std::runtime_error&) {
        // Refusing a record is a valid outcome.
    }
    for (const auto& sps : parser.SPS()) {
        (void)pelmar::live::AVCCParser::ReadPictureSize(sps);
    }
    (void)pelmar::live::AVCCParser::ReadPictureSize(bytes);
    return 0;
}
