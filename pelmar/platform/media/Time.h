#pragma once

#include <compare>
#include <cstdint>

namespace pelmar::media {

// Time: a media time as a rational number: value / timescale seconds, with flags and an epoch. A
// time with timescale 0 (or without the Valid flag) is invalid. Arithmetic converts to the larger
// timescale, rounding half away from zero; invalid operands give an invalid result.
// Ownership: value type.
// Threads: thread-compatible.
// Errors: none; results that do not fit stay invalid rather than overflow.
class Time {
public:
    enum Flags : uint32_t {
        kValid = 1,
        kHasBeenRounded = 2,
        kPositiveInfinity = 4,
        kNegativeInfinity = 8,
        kIndefinite = 16,
    };

    // The invalid time (value 0, timescale 0, no flags).
    constexpr Time() = default;

    static constexpr Time make(int64_t value, int32_t timescale) {
        Time t;
        t.value = value;
        t.timescale = timescale;
        t.flags = timescale > 0 ? uint32_t{kValid} : uint32_t{0};
        return t;
    }

    // `seconds` in `preferredTimescale` units, rounded half away from zero; invalid for a
    // non-finite value or a timescale <= 0.
    static Time makeWithSeconds(double seconds, int32_t preferredTimescale);

    static constexpr Time invalid() { return Time(); }

    static constexpr Time zero() { return make(0, 1); }

    static Time positiveInfinity();

    constexpr bool isValid() const { return (flags & kValid) != 0 && timescale > 0; }

    constexpr bool isNumeric() const {
        return isValid() && (flags & (kPositiveInfinity | kNegativeInfinity | kIndefinite)) == 0;
    }

    // Seconds as a double; NaN when invalid, +-infinity for the infinite times.
    double seconds() const;

    // The same time in `newTimescale` units, rounded half away from zero.
    Time convertScale(int32_t newTimescale) const;

    friend Time operator+(const Time& a, const Time& b);

    friend Time operator-(const Time& a, const Time& b);

    // Orders by the rational value; invalid times sort before every valid one and equal each
    // other. Equality means the same instant, whatever the timescales.
    friend std::strong_ordering operator<=>(const Time& a, const Time& b);

    friend bool operator==(const Time& a, const Time& b) { return (a <=> b) == 0; }

    int64_t value = 0;
    int32_t timescale = 0;
    uint32_t flags = 0;
    int64_t epoch = 0;
};

}  // namespace pelmar::media
