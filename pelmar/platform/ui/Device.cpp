#include "pelmar/platform/ui/Device.h"

#include <charconv>

namespace pelmar::ui {

Device& Device::current() {
    static auto* device = new Device();  // never destroyed
    return *device;
}

bool Device::isSystemVersionAtLeast(int major, int minor) const {
    int parts[2] = {0, 0};
    const char* p = systemVersion_.data();
    const char* end = p + systemVersion_.size();
    for (int i = 0; i < 2 && p < end; ++i) {
        auto [next, ec] = std::from_chars(p, end, parts[i]);
        if (ec != std::errc()) {
            return major < 0 || (major == 0 && minor <= 0);
        }
        p = next;
        if (p < end && *p == '.') {
            ++p;
        } else {
            break;
        }
    }
    return parts[0] > major || (parts[0] == major && parts[1] >= minor);
}

}  // namespace pelmar::ui
