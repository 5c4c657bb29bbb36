#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "pelmar/platform/photos/Asset.h"

namespace pelmar {

// AssetStore: the picker's selection: the chosen assets in the order they were chosen (index 0 is
// the oldest). Assets are equal when their identifiers are; append() keeps them unique, while a
// list given whole (the constructor, setAssets) is kept as it is.
// Ownership: reference object from std::make_shared, shared by the picker and its grid.
// Threads: main thread only.
// Errors: none; lookups of absent assets answer none and change nothing.
class AssetStore {
public:
    explicit AssetStore(std::vector<photos::AssetPtr> assets) : assets_(std::move(assets)) {}

    const std::vector<photos::AssetPtr>& assets() const { return assets_; }

    void setAssets(std::vector<photos::AssetPtr> assets) { assets_ = std::move(assets); }

    int64_t count() const { return static_cast<int64_t>(assets_.size()); }

    bool contains(const photos::Asset& asset) const { return index(asset).has_value(); }

    void append(const photos::AssetPtr& asset);

    // Removes the first equal entry, if any.
    void remove(const photos::Asset& asset);

    // Removes and returns the oldest entry; none when empty.
    photos::AssetPtr removeFirst();

    std::optional<int64_t> index(const photos::Asset& asset) const;

private:
    std::vector<photos::AssetPtr> assets_;
};

}  // namespace pelmar
