#include "pelmar/platform/net/URLError.h"

#include <utility>

namespace pelmar::net {

Error urlError(URLErrorCode code, std::string message) {
    return Error{std::string(kURLErrorDomain), code, std::move(message)};
}

}  // namespace pelmar::net
