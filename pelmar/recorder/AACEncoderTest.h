#pragma once

namespace pelmar {

// AACEncoderTest: an empty class kept for compatibility; nothing uses it.
// Ownership: value type.
// Threads: thread-safe.
// Errors: none.
class AACEncoderTest {};

}  // namespace pelmar
