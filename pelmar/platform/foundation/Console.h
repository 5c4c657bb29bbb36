#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Console: the lines the SDK prints to standard output (the file utilities' messages, for example).
// Ownership: static; a Capture records lines only while it is alive.
// Threads: thread-safe; a line is written whole, never interleaved with another.
// Errors: write failures are ignored.
// Limits: a Capture keeps every line it sees (meant for tests, which stay small).

namespace pelmar::foundation {

namespace internal {
class LineRecorder;
}

class Console {
public:
    Console() = delete;

    // Prints `line` and a newline to stdout, and to every live Capture.
    static void print(std::string_view line);

    // Records every line written through Console (from any thread) while it is alive. The lines
    // still reach stdout.
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
