#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pelmar/platform/app/NotificationRequest.h"
#include "pelmar/platform/foundation/Error.h"
#include "pelmar/platform/sync/Mutex.h"

// UserNotificationCenter: schedules local notifications for the user. Nothing is shown on Linux:
// the centre keeps the pending requests so that the host app and tests can read them.
// Ownership: `current()` lives for the whole process.
// Threads: thread-safe; the completion of add() runs on the caller's thread before add() returns.
// Errors: add() refuses a request with an empty identifier or beyond kMaxPendingRequests
//     (kUserNotificationErrorDomain, codes below).
// Limits: at most kMaxPendingRequests pending requests.

namespace pelmar::app {

inline constexpr std::string_view kUserNotificationErrorDomain = "pelmar.app.notifications";

enum UserNotificationErrorCode : long {
    kUserNotificationErrorInvalidRequest = 1,
    kUserNotificationErrorTooManyPending = 2,
};

class UserNotificationCenter {
public:
    static constexpr size_t kMaxPendingRequests = 64;

    static UserNotificationCenter& current();

    UserNotificationCenter(const UserNotificationCenter&) = delete;
    UserNotificationCenter& operator=(const UserNotificationCenter&) = delete;

    // Adds `request`, replacing a pending one with the same identifier.
    void add(NotificationRequest request,
             const std::function<void(const std::optional<Error>&)>& completion = {});

    // In the order they were added.
    std::vector<NotificationRequest> pendingNotificationRequests() const;

    void removePendingNotificationRequests(const std::vector<std::string>& identifiers);

    void removeAllPendingNotificationRequests();

private:
    UserNotificationCenter() = default;

    mutable Mutex mutex_;
    std::vector<NotificationRequest> pending_ PELMAR_GUARDED_BY(mutex_);
};

}  // namespace pelmar::app
