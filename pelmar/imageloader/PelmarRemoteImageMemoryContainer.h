#pragma once

#include <memory>
#include <string>

#include "pelmar/imageloader/PelmarRemoteImageManagerResult.h"
#include "pelmar/imageloader/PelmarRemoteLock.h"

namespace pelmar {

// PelmarRemoteImageMemoryContainer: one entry of the memory cache: the encoded bytes of an image
// and, once decoded, the decoded image, so that later hits need no decoding.
// Ownership: made with std::make_shared and shared by the cache and whoever materialises it.
// Threads: thread-safe; image and data are read and written only under the container's lock.
// Errors: none.
class PelmarRemoteImageMemoryContainer {
public:
    PelmarRemoteLock lock{"PelmarRemoteImageMemoryContainer"};
    PelmarImage image PELMAR_GUARDED_BY(lock);
    // Shared, never changed once set: a hit reads it without copying the bytes.
    std::shared_ptr<const std::string> data PELMAR_GUARDED_BY(lock);
};

}  // namespace pelmar
