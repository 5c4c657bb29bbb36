#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace pelmar::photos {

struct LibraryState;

// FetchResult: the answer of a fetch, frozen when it was made: the objects in order, and the
// query that made them, so that a library change can tell how the same query answers now.
// Ownership: value type; the objects are shared immutable snapshots.
// Threads: thread-compatible.
// Errors: objectAt() outside 0..count()-1 throws std::out_of_range.
template <class T>
class FetchResult {
public:
    using Query = std::function<std::vector<std::shared_ptr<const T>>(const LibraryState&)>;

    FetchResult() = default;

    FetchResult(std::vector<std::shared_ptr<const T>> objects, Query query)
        : objects_(std::move(objects)), query_(std::move(query)) {}

    std::size_t count() const { return objects_.size(); }

    bool empty() const { return objects_.empty(); }

    const std::shared_ptr<const T>& objectAt(std::size_t index) const { return objects_.at(index); }

    std::shared_ptr<const T> firstObject() const {
        return objects_.empty() ? nullptr : objects_.front();
    }

    std::shared_ptr<const T> lastObject() const {
        return objects_.empty() ? nullptr : objects_.back();
    }

    // The position of the object with the same identifier, or none.
    std::optional<std::size_t> indexOf(const T& object) const {
        for (std::size_t i = 0; i < objects_.size(); ++i) {
            if (*objects_[i] == object) {
                return i;
            }
        }
        return std::nullopt;
    }

    bool contains(const T& object) const { return indexOf(object).has_value(); }

    const std::vector<std::shared_ptr<const T>>& objects() const { return objects_; }

    auto begin() const { return objects_.begin(); }

    auto end() const { return objects_.end(); }

    // The query again against another state of the library (empty without a query).
    FetchResult refetch(const LibraryState& state) const {
        if (!query_) {
            return FetchResult();
        }
        return FetchResult(query_(state), query_);
    }

    bool hasQuery() const { return static_cast<bool>(query_); }

private:
    std::vector<std::shared_ptr<const T>> objects_;
    Query query_;
};

}  // namespace pelmar::photos
