#include "pelmar/platform/media/Time.h"

#include <cmath>
#include <limits>

namespace pelmar::media {

namespace {

__extension__ typedef __int128 Int128;

constexpr int64_t kMaxValue = std::numeric_limits<int64_t>::max();

// value * to / from rounded half away from zero, or none when it does not fit.
bool rescale(int64_t value, int64_t from, int64_t to, int64_t* out) {
    const Int128 scaled = static_cast<Int128>(value) * to;
    const Int128 half = from / 2;
    const Int128 q = scaled >= 0 ? (scaled + half) / from : (scaled - half) / from;
    if (q > kMaxValue || q < -kMaxValue) {
        return false;
    }
    *out = static_cast<int64_t>(q);
    return true;
}

}  // namespace

Time Time::makeWithSeconds(double seconds, int32_t preferredTimescale) {
    if (!std::isfinite(seconds) || preferredTimescale <= 0) {
        return invalid();
    }
    const double scaled = std::round(seconds * preferredTimescale);
    if (std::fabs(scaled) >= 9.2e18) {
        return invalid();
    }
    Time t = make(static_cast<int64_t>(scaled), preferredTimescale);
    if (scaled != seconds * preferredTimescale) {
        t.flags |= kHasBeenRounded;
    }
    return t;
}

Time Time::positiveInfinity() {
    Time t = make(0, 1);
    t.flags |= kPositiveInfinity;
    return t;
}

double Time::seconds() const {
    if (!isValid()) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    if (flags & kPositiveInfinity) {
        return std::numeric_limits<double>::infinity();
    }
    if (flags & kNegativeInfinity) {
        return -std::numeric_limits<double>::infinity();
    }
    if (flags & kIndefinite) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    return static_cast<double>(value) / timescale;
}

Time Time::convertScale(int32_t newTimescale) const {
    if (!isNumeric() || newTimescale <= 0) {
        return invalid();
    }
    int64_t v = 0;
    if (!rescale(value, timescale, newTimescale, &v)) {
        return invalid();
    }
    Time t = make(v, newTimescale);
    t.epoch = epoch;
    if (static_cast<Int128>(v) * timescale != static_cast<Int128>(value) * newTimescale) {
        t.flags |= kHasBeenRounded;
    }
    return t;
}

namespace {

Time combine(const Time& a, const Time& b, bool subtract) {
    if (!a.isNumeric() || !b.isNumeric()) {
        return Time::invalid();
    }
    const int32_t scale = a.timescale >= b.timescale ? a.timescale : b.timescale;
    const Time x = a.convertScale(scale);
    const Time y = b.convertScale(scale);
    if (!x.isValid() || !y.isValid()) {
        return Time::invalid();
    }
    int64_t v = 0;
    const bool overflow = subtract ? __builtin_sub_overflow(x.value, y.value, &v)
                                   : __builtin_add_overflow(x.value, y.value, &v);
    if (overflow) {
        return Time::invalid();
    }
    Time t = Time::make(v, scale);
    t.flags |= (x.flags | y.flags) & Time::kHasBeenRounded;
    t.epoch = a.epoch;
    return t;
}

}  // namespace

Time operator+(const Time& a, const Time& b) {
    return combine(a, b, false);
}

Time operator-(const Time& a, const Time& b) {
    return combine(a, b, true);
}

std::strong_ordering operator<=>(const Time& a, const Time& b) {
    if (!a.isValid() || !b.isValid()) {
        return a.isValid() <=> b.isValid();
    }
    auto rank = [](const Time& t) {
        if (t.flags & Time::kNegativeInfinity) {
            return 0;
        }
        if (t.flags & Time::kPositiveInfinity) {
            return 2;
        }
        if (t.flags & Time::kIndefinite) {
            return 3;
        }
        return 1;
    };
    if (rank(a) != 1 || rank(b) != 1) {
        return rank(a) <=> rank(b);
    }
    const Int128 left = static_cast<Int128>(a.value) * b.timescale;
    const Int128 right = static_cast<Int128>(b.value) * a.timescale;
    if (left < right) {
        return std::strong_ordering::less;
    }
    return left == right ? std::strong_ordering::equal : std::strong_ordering::greater;
}

}  // namespace pelmar::media
