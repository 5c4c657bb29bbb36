#pragma once

#include <optional>
#include <string_view>

namespace pelmar::photos {

class Asset;

namespace internal {

// Whether `key` names an asset value that predicates and sort descriptors can read.
bool isAssetKey(std::string_view key);

// The value of `key` for `asset` as a number (booleans 0/1, dates in seconds), or none when the
// asset has no such value (an absent date).
std::optional<double> assetKeyValue(const Asset& asset, std::string_view key);

}  // namespace internal
}  // namespace pelmar::photos
