#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "pelmar/imageloader/PelmarRemoteImageMemoryContainer.h"

namespace pelmar {

class PelmarRemoteImageCaching;

// Given the cache, the key and the object (none when absent).
using PelmarCacheDiskCompletion =
        std::function<void(const std::shared_ptr<PelmarRemoteImageCaching>& cache,
                           const std::string& key,
                           const std::optional<std::string>& object)>;

// PelmarRemoteImageCaching: what the image manager asks of its cache. The memory tier holds
// memory containers weighed by a cost; the persistent tier holds bytes (encoded images, and
// encoded resume records under resume keys). Entries may vanish at any time.
// Ownership: the manager holds its cache by shared_ptr.
// Threads: implementations must be thread-safe; completions run on the global queue.
// Errors: none; a missing entry is simply absent.
class PelmarRemoteImageCaching : public std::enable_shared_from_this<PelmarRemoteImageCaching> {
public:
    virtual ~PelmarRemoteImageCaching() = default;

    virtual std::shared_ptr<PelmarRemoteImageMemoryContainer> objectFromMemoryForKey(
            const std::string& key) = 0;

    virtual void setObjectInMemory(std::shared_ptr<PelmarRemoteImageMemoryContainer> object,
                                   const std::string& key,
                                   uint64_t cost) = 0;

    virtual std::optional<std::string> objectFromDiskForKey(const std::string& key) = 0;

    virtual void objectFromDiskForKey(const std::string& key,
                                      PelmarCacheDiskCompletion completion) = 0;

    virtual void setObjectOnDisk(std::string object, const std::string& key) = 0;

    virtual bool objectExistsForKey(const std::string& key) = 0;

    virtual void removeObjectForKey(const std::string& key) = 0;

    // The completion receives the object removed from the persistent tier, if any.
    virtual void removeObjectForKey(const std::string& key,
                                    PelmarCacheDiskCompletion completion) = 0;

    virtual void removeAllObjects() = 0;

    virtual void removeObjectForKeyFromMemory(const std::string& /*key*/) {}

    // The age-limited operations are optional: the manager uses them only when a cache answers
    // supportsAgeLimits() true, and then according to the two TTL answers.
    virtual bool supportsAgeLimits() const { return false; }

    virtual void setObjectInMemoryWithAgeLimit(
            std::shared_ptr<PelmarRemoteImageMemoryContainer> object,
            const std::string& key,
            uint64_t cost,
            double /*ageLimit*/) {
        setObjectInMemory(std::move(object), key, cost);
    }

    virtual void setObjectOnDiskWithAgeLimit(std::string object,
                                             const std::string& key,
                                             double /*ageLimit*/) {
        setObjectOnDisk(std::move(object), key);
    }

    virtual bool memoryCacheIsTTLCache() const { return false; }

    virtual bool diskCacheIsTTLCache() const { return false; }
};

}  // namespace pelmar
