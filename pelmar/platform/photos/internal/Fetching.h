#pragma once

#include <vector>

#include "pelmar/platform/photos/Asset.h"
#include "pelmar/platform/photos/FetchOptions.h"

namespace pelmar::photos::internal {

// Filters `assets` by the options' predicate, sorts them by its sort descriptors (stable, so
// equal keys keep the library's order) and cuts them to its fetch limit.
std::vector<AssetPtr> applyOptions(std::vector<AssetPtr> assets, const FetchOptions* options);

// Whether the library grants access now (fetches answer nothing without it).
bool libraryReadable();

}  // namespace pelmar::photos::internal
