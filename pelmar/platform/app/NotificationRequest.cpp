#include "pelmar/platform/app/NotificationRequest.h"

#include <cmath>
#include <ctime>
#include <limits>

namespace pelmar::app {

std::optional<DateComponents> DateComponents::local(double unixSeconds) {
    if (!std::isfinite(unixSeconds)
        || std::fabs(unixSeconds)
                   > static_cast<double>(std::numeric_limits<int32_t>::max()) * 1000.0) {
        return std::nullopt;
    }
    const auto seconds = static_cast<std::time_t>(std::floor(unixSeconds));
    std::tm parts{};
    if (::localtime_r(&seconds, &parts) == nullptr) {
        return std::nullopt;
    }
    return DateComponents{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
                          parts.tm_hour,        parts.tm_min,     parts.tm_sec};
}

}  // namespace pelmar::app
