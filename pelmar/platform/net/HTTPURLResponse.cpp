#include "pelmar/platform/net/HTTPURLResponse.h"

namespace pelmar::net {

std::optional<std::string> HTTPURLResponse::value(std::string_view field) const {
    for (const auto& [name, value] : headerFields_) {
        if (headerNameEquals(name, field)) {
            return value;
        }
    }
    return std::nullopt;
}

}  // namespace pelmar::net
