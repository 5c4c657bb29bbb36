#pragma once

#include <array>
#include <string_view>

// CharacterSet: a set of bytes, used to say which characters percent-encoding leaves as they are.
// Ownership: a plain constexpr value type.
// Threads: thread-compatible.
// Errors: none.

namespace pelmar::foundation {

class CharacterSet {
public:
    constexpr CharacterSet() = default;

    // Implicit, so a string literal of allowed characters can stand for a set.
    constexpr CharacterSet(std::string_view chars) { add(chars); }

    constexpr bool contains(char c) const { return members_[static_cast<unsigned char>(c)]; }

    // A copy of this set with `chars` added.
    constexpr CharacterSet with(std::string_view chars) const {
        CharacterSet result = *this;
        result.add(chars);
        return result;
    }

private:
    constexpr void add(std::string_view chars) {
        for (char c : chars) {
            members_[static_cast<unsigned char>(c)] = true;
        }
    }

    std::array<bool, 256> members_{};
};

}  // namespace pelmar::foundation
