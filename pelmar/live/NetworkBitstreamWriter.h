#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <vector>

#include "pelmar/live/BitstreamWriter.h"
#include "pelmar/live/NetworkConnection.h"

// NetworkBitstreamWriter: a BitstreamWriter whose bytes go straight to a NetworkConnection: each
// byte completed by PutByte or PutBits is sent at once, and PutBytes sends a run in pieces of at
// most kPieceLength bytes.
// Ownership: refers to the connection, which must outlive the writer.
// Threads: thread-compatible; sends follow NetworkConnection's rules.
// Errors: std::runtime_error "bitstream writer is not aligned" (PutBytes with bits pending,
//         nothing sent) and NetworkConnection::Send's errors.

namespace pelmar::live {

namespace internal {

// Holds the byte vector the base class refers to; it is never written.
struct UnusedBitstreamStorage {
    std::vector<uint8_t> unused;
};

}  // namespace internal

class NetworkBitstreamWriter : private internal::UnusedBitstreamStorage, public BitstreamWriter {
public:
    static constexpr size_t kPieceLength = 1024;

    explicit NetworkBitstreamWriter(NetworkConnection& connection)
        : BitstreamWriter(unused), connection_(connection) {}

    void PutByteInternal(uint8_t byte) override { connection_.Send(&byte, 1); }

    template <typename ForwardIt>
    void PutBytes(ForwardIt first, ForwardIt last) {
        // An empty run through the base checks the alignment without writing anything.
        BitstreamWriter::PutBytes(first, first);
        uint8_t piece[kPieceLength];
        while (first != last) {
            size_t n = 0;
            for (; n < kPieceLength && first != last; ++n, ++first) {
                piece[n] = static_cast<uint8_t>(*first);
            }
            connection_.Send(piece, n);
        }
    }

private:
    NetworkConnection& connection_;
};

}  // namespace pelmar::live
