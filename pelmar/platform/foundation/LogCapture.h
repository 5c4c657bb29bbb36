#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "pelmar/platform/foundation/LogSink.h"

// LogCapture: records the lines written on one channel (from any thread) while it is alive,
// whatever the current LogSink does with them; for tests of the SDK and of host apps.
// Ownership: a scoped object; recording stops when it goes.
// Threads: thread-safe.
// Errors: none.
// Limits: keeps every line it sees (meant for tests, which stay small).

namespace pelmar::foundation {

namespace internal {
class LineRecorder;
}

class LogCapture {
public:
    explicit LogCapture(LogChannel channel);
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> lines() const;
    // True when some recorded line contains `text`.
    bool contains(std::string_view text) const;
    void clear();

private:
    std::shared_ptr<internal::LineRecorder> recorder_;
};

}  // namespace pelmar::foundation
