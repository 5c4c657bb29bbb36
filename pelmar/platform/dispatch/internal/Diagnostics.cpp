#include "pelmar/platform/dispatch/internal/Diagnostics.h"

#include <cstdio>
#include <cstdlib>

namespace pelmar::dispatch::internal {

void fatalMisuse(std::string_view message) {
    std::fprintf(stderr, "pelmar dispatch: %.*s\n", static_cast<int>(message.size()),
                 message.data());
    std::fflush(stderr);
    std::abort();
}

void warnMisuse(std::string_view message) {
    std::fprintf(stderr, "pelmar dispatch: %.*s\n", static_cast<int>(message.size()),
                 message.data());
}

}  // namespace pelmar::dispatch::internal
