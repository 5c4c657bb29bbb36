#include "pelmar/platform/ui/internal/Diagnostics.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/foundation/Log.h"

namespace pelmar::ui::internal {

void warn(std::string_view message) {
    foundation::Log::write("pelmar ui: " + std::string(message));
}

void requireMainThread(std::string_view what) {
    if (!dispatch::isMainThread()) {
        std::fprintf(stderr, "pelmar ui: %.*s called off the main thread\n",
                     static_cast<int>(what.size()), what.data());
        std::fflush(stderr);
        std::abort();
    }
}

}  // namespace pelmar::ui::internal
