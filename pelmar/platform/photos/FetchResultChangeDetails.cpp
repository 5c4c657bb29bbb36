#include "pelmar/platform/photos/FetchResultChangeDetails.h"

#include <algorithm>
#include <string>
#include <unordered_map>

namespace pelmar::photos {

namespace {

// Positions (into `values`) of one longest strictly increasing subsequence.
std::vector<std::size_t> longestIncreasing(const std::vector<std::size_t>& values) {
    std::vector<std::size_t> tails;  // indexes into values
    std::vector<std::ptrdiff_t> previous(values.size(), -1);
    for (std::size_t i = 0; i < values.size(); ++i) {
        auto it = std::lower_bound(tails.begin(), tails.end(), values[i],
                                   [&](std::size_t t, std::size_t v) { return values[t] < v; });
        if (it != tails.begin()) {
            previous[i] = static_cast<std::ptrdiff_t>(*(it - 1));
        }
        if (it == tails.end()) {
            tails.push_back(i);
        } else {
            *it = i;
        }
    }
    std::vector<std::size_t> out;
    for (std::ptrdiff_t i = tails.empty() ? -1 : static_cast<std::ptrdiff_t>(tails.back()); i >= 0;
         i = previous[static_cast<std::size_t>(i)]) {
        out.push_back(static_cast<std::size_t>(i));
    }
    std::reverse(out.begin(), out.end());
    return out;
}

}  // namespace

std::optional<FetchResultChangeDetails> FetchResultChangeDetails::between(FetchResult<Asset> before,
                                                                          FetchResult<Asset> after,
                                                                          bool incremental) {
    std::unordered_map<std::string, std::size_t> beforeIndex;
    for (std::size_t i = 0; i < before.count(); ++i) {
        beforeIndex.emplace(before.objectAt(i)->localIdentifier(), i);
    }
    std::unordered_map<std::string, std::size_t> afterIndex;
    for (std::size_t i = 0; i < after.count(); ++i) {
        afterIndex.emplace(after.objectAt(i)->localIdentifier(), i);
    }

    FetchResultChangeDetails d;
    for (std::size_t i = 0; i < before.count(); ++i) {
        if (!afterIndex.contains(before.objectAt(i)->localIdentifier())) {
            d.removed_.push_back(i);
            d.removedObjects_.push_back(before.objectAt(i));
        }
    }
    // Objects that stay, in their new order, with their old positions.
    std::vector<std::size_t> stayedAfter;
    std::vector<std::size_t> stayedBefore;
    for (std::size_t i = 0; i < after.count(); ++i) {
        const auto& asset = after.objectAt(i);
        auto found = beforeIndex.find(asset->localIdentifier());
        if (found == beforeIndex.end()) {
            d.inserted_.push_back(i);
            d.insertedObjects_.push_back(asset);
            continue;
        }
        stayedAfter.push_back(i);
        stayedBefore.push_back(found->second);
        if (before.objectAt(found->second)->revision() != asset->revision()) {
            d.changed_.push_back(i);
        }
    }
    std::vector<bool> inOrder(stayedBefore.size(), false);
    for (std::size_t k : longestIncreasing(stayedBefore)) {
        inOrder[k] = true;
    }
    for (std::size_t k = 0; k < stayedBefore.size(); ++k) {
        if (!inOrder[k]) {
            d.moves_.emplace_back(stayedBefore[k], stayedAfter[k]);
        }
    }
    if (d.removed_.empty() && d.inserted_.empty() && d.changed_.empty() && d.moves_.empty()) {
        return std::nullopt;
    }
    if (!incremental) {
        d.removed_.clear();
        d.inserted_.clear();
        d.changed_.clear();
        d.removedObjects_.clear();
        d.insertedObjects_.clear();
        d.moves_.clear();
    }
    d.incremental_ = incremental;
    d.before_ = std::move(before);
    d.after_ = std::move(after);
    return d;
}

}  // namespace pelmar::photos
