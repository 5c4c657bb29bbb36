#pragma once

#include <gmock/gmock.h>

#include <exception>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "pelmar/platform/foundation/Error.h"

// Matchers every test uses to check a failure exactly: the Error's domain and code (and its text
// where the SDK fixes it), or the text of the exception an action throws.
// Ownership: value types made by the factory functions below.
// Threads: thread-compatible, like any gmock matcher.
// Errors: none; a mismatch is explained in the test's failure output.
//
//   EXPECT_THAT(result.error, test::IsError(kFileErrorDomain, ENOENT));
//   EXPECT_THAT([&] { parser.parse(bytes); }, test::ThrowsWithText("invalid chunk size"));

namespace pelmar::test {

class ErrorMatcher {
public:
    ErrorMatcher(std::string domain, long code, std::optional<std::string> text)
        : domain_(std::move(domain)), code_(code), text_(std::move(text)) {}

    using is_gtest_matcher = void;

    bool MatchAndExplain(const Error& error, std::ostream* out) const {
        const bool matches = error.domain == domain_ && error.code == code_
                             && (!text_ || error.message == *text_);
        if (!matches && out != nullptr) {
            *out << "which is " << error;
        }
        return matches;
    }

    bool MatchAndExplain(const std::optional<Error>& error, std::ostream* out) const {
        if (!error) {
            if (out != nullptr) {
                *out << "which is no error";
            }
            return false;
        }
        return MatchAndExplain(*error, out);
    }

    void DescribeTo(std::ostream* out) const {
        *out << "is the error " << domain_ << " " << code_;
        if (text_) {
            *out << " with the text \"" << *text_ << "\"";
        }
    }

    void DescribeNegationTo(std::ostream* out) const {
        *out << "is not ";
        DescribeTo(out);
    }

private:
    std::string domain_;
    long code_;
    std::optional<std::string> text_;
};

// Matches an Error, or an engaged std::optional<Error>, by domain and code.
inline ErrorMatcher IsError(std::string_view domain, long code) {
    return {std::string(domain), code, std::nullopt};
}

// Matches an Error, or an engaged std::optional<Error>, by domain, code and exact message.
inline ErrorMatcher IsError(std::string_view domain, long code, std::string_view text) {
    return {std::string(domain), code, std::string(text)};
}

// Matches a callable that throws a std::exception whose what() is exactly `text`.
inline auto ThrowsWithText(std::string text) {
    return ::testing::ThrowsMessage<std::exception>(::testing::StrEq(std::move(text)));
}

// The what() of the std::exception `action` throws, or "no error" when it returns.
inline std::string ErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "no error";
}

}  // namespace pelmar::test
