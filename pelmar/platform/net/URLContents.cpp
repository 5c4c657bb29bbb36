#include "pelmar/platform/net/URLContents.h"

#include "pelmar/platform/net/internal/DataURL.h"

namespace pelmar::net {

std::optional<std::string> dataWithContentsOfURL(std::string_view url) {
    auto content = internal::DataURL::decode(url);
    if (!content) {
        return std::nullopt;
    }
    return std::move(content->bytes);
}

}  // namespace pelmar::net
