#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "pelmar/imageloader/PelmarRemoteImageManagerResult.h"
#include "pelmar/imageloader/PelmarRemoteLock.h"

namespace pelmar {

// PelmarRemoteImageMemoryContainer: one entry of the memory cache: the encoded bytes of an image
// and, once decoded, the decoded image, so that later hits need no decoding, and the immutable
// result that memory hits of that image answer with, so that they make none.
// Ownership: made with std::make_shared and shared by the cache and whoever materialises it.
// Threads: thread-safe; image and data are read and written only under the container's lock,
//     and the image is set at most once.
// Errors: none.
class PelmarRemoteImageMemoryContainer {
public:
    PelmarRemoteLock lock{"PelmarRemoteImageMemoryContainer"};
    PelmarImage image PELMAR_GUARDED_BY(lock);
    // Shared, never changed once set: a hit reads it without copying the bytes.
    std::shared_ptr<const std::string> data PELMAR_GUARDED_BY(lock);
    // The answer of memory hits of `image` (which, once set, never changes): made under the lock
    // by the first hit, then published by `hasMemoryHitResult` (release) and never changed
    // again, so that hits that see the flag (acquire) read it without the lock or a copy.
    PelmarImageResult memoryHitResult;
    // Whether `data` is an animated GIF, set with memoryHitResult and published by the same flag.
    bool dataIsAnimatedGIF = false;
    std::atomic<bool> hasMemoryHitResult{false};
};

}  // namespace pelmar
