#include "pelmar/player/internal/PlayerText.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <random>

#include "pelmar/platform/foundation/URL.h"

namespace pelmar::player::internal {

namespace {

// The full 128-bit product of two 64-bit numbers, as (high, low).
std::pair<uint64_t, uint64_t> multiplyWide(uint64_t a, uint64_t b) {
    const uint64_t aLow = a & 0xFFFFFFFFu;
    const uint64_t aHigh = a >> 32;
    const uint64_t bLow = b & 0xFFFFFFFFu;
    const uint64_t bHigh = b >> 32;
    const uint64_t lowLow = aLow * bLow;
    const uint64_t highLow = aHigh * bLow;
    const uint64_t lowHigh = aLow * bHigh;
    const uint64_t highHigh = aHigh * bHigh;
    const uint64_t middle = (lowLow >> 32) + (highLow & 0xFFFFFFFFu) + (lowHigh & 0xFFFFFFFFu);
    const uint64_t high = highHigh + (highLow >> 32) + (lowHigh >> 32) + (middle >> 32);
    const uint64_t low = (middle << 32) | (lowLow & 0xFFFFFFFFu);
    return {high, low};
}

uint64_t systemRandom64() {
    thread_local std::random_device device;
    return (static_cast<uint64_t>(device()) << 32) | device();
}

std::string valueText(const Json& value) {
    return value.is_string() ? value.get<std::string>() : value.dump();
}

}  // namespace

std::string vttTimestamp(int64_t milliseconds) {
    const int64_t t = std::max<int64_t>(0, milliseconds);
    char text[48];
    std::snprintf(text, sizeof(text), "%02" PRId64 ":%02" PRId64 ":%02" PRId64 ".%03" PRId64,
                  t / 3600000, (t / 60000) % 60, (t / 1000) % 60, t % 1000);
    return text;
}

std::string renderVTT(const Json& words,
                      const Json& times,
                      const std::function<void(const std::string&)>& afterCue) {
    std::string text = "WEBVTT\n\n";
    if (!words.is_array() || !times.is_array()) {
        return text;
    }
    const size_t count = std::min(words.size(), times.size());
    for (size_t i = 0; i < count; ++i) {
        const Json& word = words[i];
        const Json& time = times[i];
        if (!word.is_string() || !time.is_object() || !time.contains("start")
            || !time.contains("end") || !time["start"].is_number_integer()
            || !time["end"].is_number_integer()) {
            continue;
        }
        text += vttTimestamp(time["start"].get<int64_t>()) + " --> "
                + vttTimestamp(time["end"].get<int64_t>()) + "\n";
        text += word.get<std::string>() + "\n\n";
        if (afterCue) {
            afterCue(text);
        }
    }
    return text;
}

uint64_t drawSeed() {
    // Lemire's method over the range 2^63 - 1: 2^64 mod (2^63 - 1) is 2, so products whose low
    // half falls below 2 would bias the result and are drawn again.
    constexpr uint64_t kRange = 0x7FFFFFFFFFFFFFFFull;
    for (;;) {
        const auto [high, low] = multiplyWide(systemRandom64(), kRange);
        if (low >= 2) {
            return high;
        }
    }
}

std::string tokenRoadURL(const std::string& videoUrl, const Json& params, uint64_t seed) {
    std::string url = videoUrl + "?";
    if (params.is_object()) {
        for (const auto& [key, value] : params.items()) {
            url += foundation::percentEncode(key) + "="
                   + foundation::percentEncode(valueText(value)) + "&";
        }
    }
    return url + "seed=" + std::to_string(seed) + "&";
}

double roundToHundredths(double seconds) {
    return std::round(seconds * 100) / 100;
}

std::string shortestDecimal(double value) {
    std::array<char, 64> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                      std::chars_format::fixed);
    std::string text(buffer.data(), result.ptr);
    if (std::isfinite(value) && text.find('.') == std::string::npos) {
        text += ".0";
    }
    return text;
}

std::string uniqueName() {
    static std::atomic<uint64_t> counter{0};
    const uint64_t a = systemRandom64();
    const uint64_t b = systemRandom64();
    char text[80];
    std::snprintf(text, sizeof(text),
                  "%08" PRIX64 "-%04" PRIX64 "-4%03" PRIX64 "-%04" PRIX64 "-%012" PRIX64
                  "-%" PRIu64,
                  a >> 32, (a >> 16) & 0xFFFF, a & 0xFFF, ((b >> 48) & 0x3FFF) | 0x8000,
                  b & uint64_t{0xFFFFFFFFFFFF}, ++counter);
    return text;
}

}  // namespace pelmar::player::internal
