#include "testing/FormEncoding.h"

namespace pelmar::test {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

}  // namespace

std::optional<std::string> percentDecode(std::string_view text, bool plusIsSpace) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%') {
            if (i + 2 >= text.size()) {
                return std::nullopt;
            }
            const int high = hexValue(text[i + 1]);
            const int low = hexValue(text[i + 2]);
            if (high < 0 || low < 0) {
                return std::nullopt;
            }
            out.push_back(static_cast<char>(high * 16 + low));
            i += 2;
        } else if (c == '+' && plusIsSpace) {
            out.push_back(' ');
        } else {
            out.push_back(c);
        }
    }
    return out;
}

std::optional<FieldList> parseForm(std::string_view text) {
    FieldList fields;
    while (!text.empty()) {
        const size_t amp = text.find('&');
        const std::string_view piece = text.substr(0, amp);
        text = amp == std::string_view::npos ? std::string_view{} : text.substr(amp + 1);
        if (piece.empty()) {
            continue;
        }
        const size_t eq = piece.find('=');
        auto name = percentDecode(piece.substr(0, eq), true);
        auto value = percentDecode(
                eq == std::string_view::npos ? std::string_view{} : piece.substr(eq + 1), true);
        if (!name || !value) {
            return std::nullopt;
        }
        fields.emplace_back(std::move(*name), std::move(*value));
    }
    return fields;
}

}  // namespace pelmar::test
