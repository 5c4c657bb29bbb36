#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Log: the platform log: diagnostic lines of the SDK, written to standard error.
// Ownership: static; a Capture records lines only while it is alive.
// Threads: thread-safe; a line is written whole, never interleaved with another.
// Errors: write failures are ignored.
// Limits: a Capture keeps every line it sees (meant for tests, which stay small).

namespace pelmar::foundation {

namespace internal {
class LineRecorder;
}

class Log {
public:
    Log() = delete;

    // Writes `line` and a newline to stderr, and to every live Capture.
    static void write(std::string_view line);

    // Records every line written through Log (from any thread) while it is alive. The lines
    // still reach stderr.
    class Capture {
    public:
        Capture();
        ~Capture();
        Capture(const Capture&) = delete;
        Capture& operator=(const Capture&) = delete;

        std::vector<std::string> lines() const;
        // True when some recorded line contains `text`.
        bool contains(std::string_view text) const;
        void clear();

    private:
        std::shared_ptr<internal::LineRecorder> recorder_;
    };
};

}  // namespace pelmar::foundation
