#include "pelmar/recorder/internal/RecorderText.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <random>

namespace pelmar::recorder::internal {

std::string shortestDouble(double value) {
    if (!std::isfinite(value)) {
        return std::isnan(value) ? "nan" : (value > 0 ? "inf" : "-inf");
    }
    char buffer[64];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof(buffer), value);
    std::string text(buffer, end);
    if (text.find_first_of(".e") == std::string::npos) {
        text += ".0";
    }
    return text;
}

std::string globallyUniqueString() {
    static std::mutex mutex;
    static std::mt19937_64 random{std::random_device{}()};
    static std::atomic<unsigned long long> counter{0};
    unsigned long long a = 0;
    unsigned long long b = 0;
    {
        std::lock_guard lock(mutex);
        a = random();
        b = random();
    }
    char text[80];
    std::snprintf(text, sizeof(text), "%08llX-%04llX-4%03llX-%04llX-%012llX-%llu", a >> 32,
                  (a >> 16) & 0xFFFF, a & 0xFFF, (b >> 48 & 0x3FFF) | 0x8000, b & 0xFFFFFFFFFFFFULL,
                  ++counter);
    return text;
}

std::string minutesSeconds(long long seconds) {
    if (seconds < 0) {
        seconds = 0;
    }
    char text[32];
    std::snprintf(text, sizeof(text), "%02lld:%02lld", seconds / 60, seconds % 60);
    return text;
}

std::string durationLabelText(double elapsed, double limit) {
    // An infinite limit is no limit; a huge time is capped so that its whole seconds fit.
    constexpr double kMaxShownSeconds = 1e15;
    const double shown =
            limit > 0 && std::isfinite(limit) ? std::max(0.0, limit - elapsed) : elapsed;
    if (!(shown >= 0)) {
        return minutesSeconds(0);  // a time that is not a number
    }
    return minutesSeconds(
            static_cast<long long>(std::floor(std::min(kMaxShownSeconds, shown) + 0.4)));
}

}  // namespace pelmar::recorder::internal
