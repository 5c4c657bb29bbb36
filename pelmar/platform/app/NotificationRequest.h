#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "pelmar/platform/foundation/Json.h"

// NotificationRequest: a local notification for the user: what it says and when it fires (a
// calendar trigger matching date components), under an identifier.
// Ownership: plain value types.
// Threads: thread-compatible.
// Errors: none.

namespace pelmar::app {

// Calendar fields in the local time zone; an absent field matches any value.
struct DateComponents {
    std::optional<int> year;
    std::optional<int> month;  // 1-12
    std::optional<int> day;    // 1-31
    std::optional<int> hour;
    std::optional<int> minute;
    std::optional<int> second;

    // Year to second of `unixSeconds` (whole seconds, local time zone); std::nullopt when the
    // time cannot be expressed as a calendar date.
    static std::optional<DateComponents> local(double unixSeconds);

    bool operator==(const DateComponents&) const = default;
};

struct NotificationContent {
    std::string title;
    std::string body;
    std::optional<std::string> sound;
    std::optional<int64_t> badge;
    Json userInfo = Json::object();
};

struct CalendarNotificationTrigger {
    DateComponents dateMatching;
    bool repeats = false;
};

struct NotificationRequest {
    std::string identifier;
    NotificationContent content;
    // No trigger: deliver at once.
    std::optional<CalendarNotificationTrigger> trigger;
};

}  // namespace pelmar::app
