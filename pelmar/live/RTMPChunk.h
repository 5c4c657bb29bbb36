#pragma once

#include <cstddef>
#include <cstdint>

#include "pelmar/live/MediaFrame.h"

// RTMPChunk: one serialized RTMP chunk (basic header, message header, extended timestamp when
// present, payload) as frame data, with its header format as a handle field; plus the limits of
// the RTMP chunk stream shared by the chunk formatter and parser.
// Ownership: copies share the data and copy the header format.
// Threads: thread-compatible.
// Errors: none.

namespace pelmar::live {

// The chunk header format: what the message header of a chunk carries.
enum class RTMPChunkHeaderSize : uint8_t {
    Size12 = 0,  // timestamp, message length, type id, message stream id
    Size8 = 1,   // timestamp delta, message length, type id
    Size4 = 2,   // timestamp delta
    Size1 = 3,   // nothing: everything repeats from the previous message
};

inline constexpr size_t kRTMPDefaultChunkSize = 128;
// Chunk sizes are 31-bit on the wire; 0 would never move a byte of payload.
inline constexpr size_t kRTMPMaxChunkSize = 0x7FFFFFFF;
// The 24-bit length field: no message is longer (16 MiB - 1).
inline constexpr size_t kRTMPMaxMessageLength = 0xFFFFFF;
// Lowest and highest chunk stream ids of the 1-, 2- and 3-byte basic headers.
inline constexpr uint32_t kRTMPMinChannel = 2;
inline constexpr uint32_t kRTMPMaxChannel = 65599;
// A 24-bit timestamp field of this value announces a 4-byte extended timestamp.
inline constexpr uint64_t kRTMPExtendedTimestampMarker = 0xFFFFFF;

class RTMPChunk : public MediaFrame {
public:
    // Empty data, header format 0.
    RTMPChunk();

    RTMPChunkHeaderSize HeaderFormat() const { return headerFormat_; }

    void SetHeaderFormat(RTMPChunkHeaderSize format) { headerFormat_ = format; }

private:
    RTMPChunkHeaderSize headerFormat_ = RTMPChunkHeaderSize::Size12;
};

}  // namespace pelmar::live
