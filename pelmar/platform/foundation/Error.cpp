#include "pelmar/platform/foundation/Error.h"

#include <ostream>
#include <system_error>

namespace pelmar {

std::string Error::description() const {
    if (!message.empty()) {
        return message;
    }
    return domain + " error " + std::to_string(code);
}

std::ostream& operator<<(std::ostream& out, const Error& error) {
    return out << error.domain << ' ' << error.code << ": " << error.message;
}

Error fileError(int errnum, std::string_view what) {
    // std::generic_category().message() is thread-safe, unlike strerror().
    std::string message(what);
    message += ": ";
    message += std::generic_category().message(errnum);
    return Error{std::string(kFileErrorDomain), errnum, std::move(message)};
}

}  // namespace pelmar
