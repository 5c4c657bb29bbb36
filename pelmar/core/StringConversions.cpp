#include "pelmar/core/StringConversions.h"

#include <charconv>
#include <string>
#include <system_error>

namespace pelmar {
namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

std::string keepDigitsAndPoints(std::string_view text) {
    std::string kept;
    kept.reserve(text.size());
    for (char c : text) {
        if (isDigit(c) || c == '.') {
            kept.push_back(c);
        }
    }
    return kept;
}

template <class Float>
Float parseWhole(std::string_view text) {
    const std::string kept = keepDigitsAndPoints(text);
    Float value = 0;
    const char* end = kept.data() + kept.size();
    auto [ptr, ec] = std::from_chars(kept.data(), end, value, std::chars_format::fixed);
    if (kept.empty() || ec != std::errc() || ptr != end) {
        return 0;
    }
    return value;
}

}  // namespace

int64_t toInt(std::string_view text) {
    size_t digitsStart = 0;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        digitsStart = 1;
    }
    if (digitsStart == text.size()) {
        return 0;
    }
    for (size_t i = digitsStart; i < text.size(); ++i) {
        if (!isDigit(text[i])) {
            return 0;
        }
    }
    // from_chars takes a leading "-" but not a "+".
    const char* begin = text.data() + (text[0] == '+' ? 1 : 0);
    const char* end = text.data() + text.size();
    int64_t value = 0;
    auto [ptr, ec] = std::from_chars(begin, end, value);
    if (ec != std::errc() || ptr != end) {
        return 0;
    }
    return value;
}

float toFloat(std::string_view text) {
    return parseWhole<float>(text);
}

double toDouble(std::string_view text) {
    return parseWhole<double>(text);
}

}  // namespace pelmar
