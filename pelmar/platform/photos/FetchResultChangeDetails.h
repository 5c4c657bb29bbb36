#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "pelmar/platform/photos/Asset.h"
#include "pelmar/platform/photos/FetchResult.h"

namespace pelmar::photos {

// FetchResultChangeDetails: how the answer of one fetch differs before and after a library
// change, computed by comparing the two answers by identifier. Removed indexes refer to the
// answer before, inserted and changed ones to the answer after; moves are (from before, to
// after) of objects that stayed but changed their order relative to the others. Applied in the
// order removals, insertions, moves, they turn the old list into the new one.
// Ownership: value type.
// Threads: thread-compatible.
// Errors: none.
class FetchResultChangeDetails {
public:
    // Details for the change from `before` to `after`, or none when they hold the same assets
    // in the same order at the same revisions. `incremental` false leaves the index sets empty.
    static std::optional<FetchResultChangeDetails> between(FetchResult<Asset> before,
                                                           FetchResult<Asset> after,
                                                           bool incremental = true);

    const FetchResult<Asset>& fetchResultBeforeChanges() const { return before_; }

    const FetchResult<Asset>& fetchResultAfterChanges() const { return after_; }

    bool hasIncrementalChanges() const { return incremental_; }

    // Ascending.
    const std::vector<std::size_t>& removedIndexes() const { return removed_; }

    const std::vector<std::size_t>& insertedIndexes() const { return inserted_; }

    const std::vector<std::size_t>& changedIndexes() const { return changed_; }

    const std::vector<AssetPtr>& removedObjects() const { return removedObjects_; }

    const std::vector<AssetPtr>& insertedObjects() const { return insertedObjects_; }

    bool hasMoves() const { return !moves_.empty(); }

    void enumerateMoves(const std::function<void(std::size_t from, std::size_t to)>& visit) const {
        for (const auto& [from, to] : moves_) {
            visit(from, to);
        }
    }

private:
    FetchResult<Asset> before_;
    FetchResult<Asset> after_;
    bool incremental_ = true;
    std::vector<std::size_t> removed_;
    std::vector<std::size_t> inserted_;
    std::vector<std::size_t> changed_;
    std::vector<AssetPtr> removedObjects_;
    std::vector<AssetPtr> insertedObjects_;
    std::vector<std::pair<std::size_t, std::size_t>> moves_;
};

}  // namespace pelmar::photos
