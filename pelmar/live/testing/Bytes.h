#pragma once

#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// Byte helpers for the streaming library's tests, fuzz targets and benchmarks: hex text to bytes
// and back, so golden wire bytes read as they are written in protocol tables.
// Ownership: free functions on values.
// Threads: thread-safe.
// Errors: Hex() throws std::invalid_argument on a character that is neither a hex digit nor a
// blank.

namespace pelmar::test {

// "03 00 0A" (blanks optional) to bytes.
inline std::vector<uint8_t> Hex(std::string_view text) {
    std::vector<uint8_t> bytes;
    int high = -1;
    for (const char c : text) {
        int digit = -1;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else if (c == ' ' || c == '\n') {
            continue;
        } else {
            throw std::invalid_argument("not a hex digit");
        }
        if (high < 0) {
            high = digit;
        } else {
            bytes.push_back(static_cast<uint8_t>(high * 16 + digit));
            high = -1;
        }
    }
    if (high >= 0) {
        throw std::invalid_argument("odd number of hex digits");
    }
    return bytes;
}

// Bytes to "03 00 0A", for readable assertion messages.
inline std::string ToHex(const std::vector<uint8_t>& bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (const uint8_t b : bytes) {
        if (!text.empty()) {
            text += ' ';
        }
        text += kDigits[b >> 4];
        text += kDigits[b & 0xF];
    }
    return text;
}

// Concatenation of byte vectors.
inline std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> all;
    for (const auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

}  // namespace pelmar::test
