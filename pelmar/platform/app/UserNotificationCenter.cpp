#include "pelmar/platform/app/UserNotificationCenter.h"

#include <algorithm>
#include <utility>

namespace pelmar::app {

UserNotificationCenter& UserNotificationCenter::current() {
    static UserNotificationCenter center;
    return center;
}

void UserNotificationCenter::add(
        NotificationRequest request,
        const std::function<void(const std::optional<Error>&)>& completion) {
    std::optional<Error> error;
    if (request.identifier.empty()) {
        error = Error{std::string(kUserNotificationErrorDomain),
                      kUserNotificationErrorInvalidRequest,
                      "a notification request needs an identifier"};
    } else {
        MutexLock lock(mutex_);
        auto same = std::find_if(
                pending_.begin(), pending_.end(),
                [&](const NotificationRequest& r) { return r.identifier == request.identifier; });
        if (same != pending_.end()) {
            *same = std::move(request);
        } else if (pending_.size() >= kMaxPendingRequests) {
            error = Error{std::string(kUserNotificationErrorDomain),
                          kUserNotificationErrorTooManyPending,
                          "too many pending notification requests"};
        } else {
            pending_.push_back(std::move(request));
        }
    }
    if (completion) {
        completion(error);
    }
}

std::vector<NotificationRequest> UserNotificationCenter::pendingNotificationRequests() const {
    MutexLock lock(mutex_);
    return pending_;
}

void UserNotificationCenter::removePendingNotificationRequests(
        const std::vector<std::string>& identifiers) {
    MutexLock lock(mutex_);
    std::erase_if(pending_, [&](const NotificationRequest& r) {
        return std::find(identifiers.begin(), identifiers.end(), r.identifier) != identifiers.end();
    });
}

void UserNotificationCenter::removeAllPendingNotificationRequests() {
    MutexLock lock(mutex_);
    pending_.clear();
}

}  // namespace pelmar::app
