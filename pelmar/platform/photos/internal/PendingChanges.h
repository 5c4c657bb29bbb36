#pragma once

#include <memory>
#include <string>
#include <vector>

#include "pelmar/platform/photos/AssetChangeRequest.h"
#include "pelmar/platform/photos/PhotoLibrary.h"

namespace pelmar::photos {

// The requests a change block has made so far (see PhotoLibrary::performChanges).
struct PhotoLibrary::PendingChanges {
    std::vector<std::shared_ptr<AssetChangeRequest>> requests;
    std::vector<std::string> deletions;
};

}  // namespace pelmar::photos
