// Splits the input into chunks the way the packet stream reads them from the socket (basic
// header, message header by format, extended timestamp, payload length from the header or the
// parser) and feeds each to the parser of its chunk stream. The first byte picks the chunk size.
// A parser error drops that chunk and the stream goes on, so state after errors is covered too.
#include "pelmar/live/RTMPChunkParser.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <stdexcept>
#include <vector>

#include "pelmar/live/MediaCallback.h"

using namespace pelmar::live;

namespace {

constexpr size_t kChunkSizes[] = {1, 2, 3, 128, 4096, 65536, kRTMPMaxChunkSize};
// A packet stream keeps a bounded number of chunk streams; so does this harness.
constexpr size_t kMaxChunkStreams = 64;

uint32_t Read24(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[2];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const size_t chunkSize = kChunkSizes[data[0] % std::size(kChunkSizes)];
    auto sink = std::make_shared<MediaCallback<RTMPPacket>>([](RTMPPacket message) {
        const auto& header = message.Header();
        if (message.Data().size() > RTMPChunkParser::kMaxMessageLength
            || message.PTS() != static_cast<double>(header.timestamp) / 1000.0) {
            std::abort();
        }
    });
    std::map<uint32_t, std::unique_ptr<RTMPChunkParser>> parsers;

    size_t pos = 1;
    while (pos < size) {
        const uint8_t* p = data + pos;
        const size_t left = size - pos;
        const size_t basic = RTMPChunkParser::BasicHeaderLength(p[0]);
        if (left < basic) {
            break;
        }
        uint32_t id = p[0] & 0x3Fu;
        if (id == 0) {
            id = 64u + p[1];
        } else if (id == 1) {
            id = 64u + p[1] + 256u * p[2];
        }
        auto& parser = parsers[id];
        if (!parser) {
            if (parsers.size() > kMaxChunkStreams) {
                break;
            }
            parser = std::make_unique<RTMPChunkParser>(sink, static_cast<RTMPChannel>(id));
            parser->SetChunkSize(chunkSize);
        }
        const auto format = static_cast<RTMPChunkHeaderSize>(p[0] >> 6);
        const size_t header = basic + RTMPChunkParser::MessageHeaderLength(format);
        size_t total = header;
        if (left >= header) {
            bool extended = parser->ExpectsExtendedTimestamp();
            size_t payload = parser->GetNextChunkSize();
            if (format != RTMPChunkHeaderSize::Size1) {
                extended = Read24(p + basic) == 0xFFFFFF;
            }
            if (format == RTMPChunkHeaderSize::Size12 || format == RTMPChunkHeaderSize::Size8) {
                payload = std::min<size_t>(Read24(p + basic + 3), chunkSize);
            }
            total += (extended ? 4 : 0) + payload;
        }
        // The end of the input cuts the last chunk short.
        total = std::min(total, left);
        RTMPChunk chunk;
        chunk.Data().assign(p, p + total);
        try {
            parser->PutFrame(chunk);
        } catch (const std::runtime_error&) {
        }
        pos += std::max<size_t>(total, 1);
    }
    return 0;
}
