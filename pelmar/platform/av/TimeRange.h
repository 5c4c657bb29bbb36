#pragma once

#include "pelmar/platform/media/Time.h"

// TimeRange: a stretch of media time: a start and a duration. A range with an invalid start or
// duration is invalid; the default range is invalid (for an export: the whole asset).
// Ownership: value type.
// Threads: thread-compatible.
// Errors: none.

namespace pelmar::av {

struct TimeRange {
    media::Time start;
    media::Time duration;

    static TimeRange make(media::Time start, media::Time duration) { return {start, duration}; }

    // [startSeconds, startSeconds + durationSeconds) at a millisecond timescale.
    static TimeRange seconds(double startSeconds, double durationSeconds) {
        return {media::Time::makeWithSeconds(startSeconds, 1000),
                media::Time::makeWithSeconds(durationSeconds, 1000)};
    }

    bool isValid() const { return start.isNumeric() && duration.isNumeric(); }

    media::Time end() const { return start + duration; }

    friend bool operator==(const TimeRange&, const TimeRange&) = default;
};

}  // namespace pelmar::av
