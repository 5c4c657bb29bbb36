#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>

#include "pelmar/imageloader/PelmarRemoteImageCaching.h"
#include "pelmar/platform/foundation/NotificationCenter.h"
#include "pelmar/platform/sync/Mutex.h"

namespace pelmar {

// PelmarRemoteImageBasicCache: the image manager's default cache: a memory tier only, limited by
// the total cost of its entries. When a new entry would pass the limit, the least recently used
// entries go first; an entry costlier than the whole limit is not kept. The cache empties on the
// application's memory warning. The persistent tier drops what it is given and finds nothing.
// Ownership: made by create() and held by shared_ptr; completions hold it weakly.
// Threads: thread-safe; one mutex guards the entries and is never held while a completion runs.
// Errors: none.
class PelmarRemoteImageBasicCache : public PelmarRemoteImageCaching {
public:
    // The smaller of an eighth of physical memory and 256 MiB.
    static uint64_t defaultTotalCostLimit();

    static std::shared_ptr<PelmarRemoteImageBasicCache> create(
            uint64_t totalCostLimit = defaultTotalCostLimit());

    ~PelmarRemoteImageBasicCache() override;

    uint64_t totalCostLimit();

    // A lower limit evicts at once.
    void setTotalCostLimit(uint64_t totalCostLimit);

    // The sum of the costs of the entries held.
    uint64_t totalCost();

    std::size_t count();

    // Empties the memory tier only.
    void clearMemory();

    std::shared_ptr<PelmarRemoteImageMemoryContainer> objectFromMemoryForKey(
            const std::string& key) override;

    void setObjectInMemory(std::shared_ptr<PelmarRemoteImageMemoryContainer> object,
                           const std::string& key,
                           uint64_t cost) override;

    void removeObjectForKeyFromMemory(const std::string& key) override;

    std::optional<std::string> objectFromDiskForKey(const std::string& key) override;

    void objectFromDiskForKey(const std::string& key,
                              PelmarCacheDiskCompletion completion) override;

    void setObjectOnDisk(std::string object, const std::string& key) override;

    bool objectExistsForKey(const std::string& key) override;

    void removeObjectForKey(const std::string& key) override;

    void removeObjectForKey(const std::string& key, PelmarCacheDiskCompletion completion) override;

    void removeAllObjects() override;

protected:
    explicit PelmarRemoteImageBasicCache(uint64_t totalCostLimit);

    // Empties the memory tier on every memory warning from now on (called once by create()).
    void observeMemoryWarnings();

    // Calls `completion` with this cache (held weakly meanwhile), `key` and `object` on the
    // global queue.
    void completeLater(PelmarCacheDiskCompletion completion,
                       const std::string& key,
                       std::optional<std::string> object);

private:
    struct Entry {
        std::shared_ptr<PelmarRemoteImageMemoryContainer> object;
        uint64_t cost = 0;
        std::list<std::string>::iterator place;
    };

    void l_remove(std::unordered_map<std::string, Entry>::iterator entry) PELMAR_REQUIRES(mutex_);

    void l_evictTo(uint64_t limit) PELMAR_REQUIRES(mutex_);

    Mutex mutex_;
    uint64_t totalCostLimit_ PELMAR_GUARDED_BY(mutex_);
    uint64_t totalCost_ PELMAR_GUARDED_BY(mutex_) = 0;
    std::list<std::string> recent_ PELMAR_GUARDED_BY(mutex_);  // front is the most recent
    std::unordered_map<std::string, Entry> entries_ PELMAR_GUARDED_BY(mutex_);
    foundation::NotificationCenter::Token memoryWarning_;
};

}  // namespace pelmar
