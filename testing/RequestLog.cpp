#include "testing/RequestLog.h"

#include <regex>

namespace pelmar::test {

namespace {

std::optional<std::string> lookup(const FieldList& fields, std::string_view name, bool ignoreCase) {
    if (const std::string* value = findField(fields, name, ignoreCase)) {
        return *value;
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> LoggedRequest::header(std::string_view name) const {
    return lookup(headers, name, true);
}

std::optional<std::string> LoggedRequest::queryParam(std::string_view name) const {
    return lookup(queryParams, name, false);
}

std::optional<std::string> LoggedRequest::formParam(std::string_view name) const {
    return lookup(formParams, name, false);
}

std::optional<std::string> LoggedRequest::param(std::string_view name) const {
    if (auto value = queryParam(name)) {
        return value;
    }
    return formParam(name);
}

uint64_t RequestLog::nextSequence() {
    MutexLock lock(mutex_);
    return ++sequence_;
}

void RequestLog::append(LoggedRequest entry) {
    {
        MutexLock lock(mutex_);
        entry.completedSequence = ++sequence_;
        if (entry.body.size() > kBodyCap) {
            entry.body.resize(kBodyCap);
        }
        entries_.push_back(std::move(entry));
        while (entries_.size() > kMaxEntries) {
            entries_.pop_front();
            ++dropped_;
        }
    }
    changed_.notifyAll();
}

std::vector<LoggedRequest> RequestLog::snapshot() const {
    MutexLock lock(mutex_);
    return {entries_.begin(), entries_.end()};
}

std::vector<LoggedRequest> RequestLog::matching(std::string_view method,
                                                const std::string& pathPattern) const {
    const std::regex pattern(pathPattern, std::regex::ECMAScript);
    std::vector<LoggedRequest> found;
    for (auto& entry : snapshot()) {
        if ((method.empty() || entry.method == method) && std::regex_match(entry.path, pattern)) {
            found.push_back(std::move(entry));
        }
    }
    return found;
}

void RequestLog::clear() {
    MutexLock lock(mutex_);
    entries_.clear();
    dropped_ = 0;
}

uint64_t RequestLog::dropped() const {
    MutexLock lock(mutex_);
    return dropped_;
}

bool RequestLog::waitUntil(const std::function<bool(const std::vector<LoggedRequest>&)>& predicate,
                           std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    MutexLock lock(mutex_);
    while (!predicate(std::vector<LoggedRequest>(entries_.begin(), entries_.end()))) {
        if (!changed_.waitUntil(mutex_, deadline)) {
            return predicate(std::vector<LoggedRequest>(entries_.begin(), entries_.end()));
        }
    }
    return true;
}

}  // namespace pelmar::test
