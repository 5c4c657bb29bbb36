#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "pelmar/live/BitstreamReader.h"
#include "pelmar/live/NetworkBitstreamWriter.h"
#include "pelmar/live/NetworkConnection.h"

// NetworkBitstreamReader: a BitstreamReader whose bytes come straight from a NetworkConnection:
// GetByte and GetBits receive a byte whenever they need one, and GetBytes receives a run in pieces
// of at most kPieceLength bytes.
// Ownership: refers to the connection, which must outlive the reader.
// Threads: thread-compatible; receives follow NetworkConnection's rules.
// Errors: std::runtime_error "bitstream reader is not aligned" (GetBytes with bits unread,
//         nothing received) and NetworkConnection::Receive's errors.

namespace pelmar::live {

class NetworkBitstreamReader : private internal::UnusedBitstreamStorage, public BitstreamReader {
public:
    static constexpr size_t kPieceLength = 1024;

    explicit NetworkBitstreamReader(NetworkConnection& connection)
        : BitstreamReader(unused), connection_(connection) {}

    uint8_t GetByteInternal() override {
        uint8_t byte = 0;
        connection_.Receive(&byte, 1);
        return byte;
    }

    template <typename OutputIt>
    void GetBytes(OutputIt destination, size_t count) {
        // An empty run through the base checks the alignment without reading anything.
        BitstreamReader::GetBytes(destination, 0);
        uint8_t piece[kPieceLength];
        while (count > 0) {
            const size_t n = count < kPieceLength ? count : kPieceLength;
            connection_.Receive(piece, n);
            for (size_t i = 0; i < n; ++i) {
                *destination++ = piece[i];
            }
            count -= n;
        }
    }

private:
    NetworkConnection& connection_;
};

}  // namespace pelmar::live
