#include "pelmar/picker/AssetStore.h"

namespace pelmar {

void AssetStore::append(const photos::AssetPtr& asset) {
    if (asset && !contains(*asset)) {
        assets_.push_back(asset);
    }
}

void AssetStore::remove(const photos::Asset& asset) {
    if (const auto i = index(asset)) {
        assets_.erase(assets_.begin() + *i);
    }
}

photos::AssetPtr AssetStore::removeFirst() {
    if (assets_.empty()) {
        return nullptr;
    }
    auto first = assets_.front();
    assets_.erase(assets_.begin());
    return first;
}

std::optional<int64_t> AssetStore::index(const photos::Asset& asset) const {
    for (std::size_t i = 0; i < assets_.size(); ++i) {
        if (*assets_[i] == asset) {
            return static_cast<int64_t>(i);
        }
    }
    return std::nullopt;
}

}  // namespace pelmar
