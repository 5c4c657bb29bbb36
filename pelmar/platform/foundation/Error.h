#pragma once

#include <iosfwd>
#include <string>
#include <string_view>

// Error: a failure reported by the SDK and its platform layer, passed as std::optional<Error>.
// Ownership: a plain value type.
// Threads: thread-compatible.
// Errors: none; `domain` names the layer that failed, `code` is domain-specific.

namespace pelmar {

// File-system failures; `code` is the errno value.
inline constexpr std::string_view kFileErrorDomain = "pelmar.file";

struct Error {
    std::string domain;
    long code = 0;
    std::string message;

    // The message when there is one, otherwise "<domain> error <code>".
    std::string description() const;

    bool operator==(const Error&) const = default;
};

// Prints "<domain> <code>: <message>" (for logs and test failure output).
std::ostream& operator<<(std::ostream& out, const Error& error);

// An Error in kFileErrorDomain with code `errnum` and the message "<what>: <strerror text>",
// for example "cannot move a to b: File exists".
Error fileError(int errnum, std::string_view what);

}  // namespace pelmar
