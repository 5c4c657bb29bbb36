#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "pelmar/platform/foundation/Error.h"

// BodySource: a request body that is read piece by piece while it is sent, so that a large body
// never sits in memory. Its size is fixed up front and sent as Content-Length.
// Ownership: held by shared_ptr by the upload task that sends it (and by whoever made it).
// Threads: thread-compatible; a task calls it only from the transport thread.
// Errors: open() and read() return kURLErrorDomain errors; the task then fails with that error.

namespace pelmar::net {

class BodySource {
public:
    struct ReadResult {
        size_t bytes = 0;  // bytes written to the buffer; 0 without an error means the end
        std::optional<Error> error;
    };

    virtual ~BodySource() = default;

    // The exact byte count the source yields from open() to its end.
    virtual int64_t size() const = 0;

    // Starts (again) at the first byte: called before the first read and whenever the body must be
    // sent anew (a redirect).
    [[nodiscard]] virtual std::optional<Error> open() = 0;

    // Fills at most buffer.size() bytes.
    virtual ReadResult read(std::span<char> buffer) = 0;

    // Releases what open() acquired; called once the task ends.
    virtual void close() {}
};

}  // namespace pelmar::net
