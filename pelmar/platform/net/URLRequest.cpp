#include "pelmar/platform/net/URLRequest.h"

#include <algorithm>

namespace pelmar::net {

namespace {

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool headerNameEquals(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return lowerAscii(x) == lowerAscii(y);
           });
}

void URLRequest::setValue(std::string value, std::string_view field) {
    for (auto& [name, existing] : allHTTPHeaderFields) {
        if (headerNameEquals(name, field)) {
            existing = std::move(value);
            return;
        }
    }
    allHTTPHeaderFields.emplace_back(std::string(field), std::move(value));
}

std::optional<std::string> URLRequest::value(std::string_view field) const {
    for (const auto& [name, existing] : allHTTPHeaderFields) {
        if (headerNameEquals(name, field)) {
            return existing;
        }
    }
    return std::nullopt;
}

}  // namespace pelmar::net
