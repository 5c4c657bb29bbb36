#include "pelmar/imageloader/PelmarRemoteImageBasicCache.h"

#include <unistd.h>

#include <algorithm>

#include "pelmar/platform/app/AppLifecycle.h"
#include "pelmar/platform/dispatch/Queue.h"

namespace pelmar {

uint64_t PelmarRemoteImageBasicCache::defaultTotalCostLimit() {
    constexpr uint64_t kCeiling = 256ULL * 1024 * 1024;
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0) {
        return kCeiling;
    }
    return std::min<uint64_t>(kCeiling, static_cast<uint64_t>(pages) * pageSize / 8);
}

std::shared_ptr<PelmarRemoteImageBasicCache> PelmarRemoteImageBasicCache::create(
        uint64_t totalCostLimit) {
    std::shared_ptr<PelmarRemoteImageBasicCache> cache(
            new PelmarRemoteImageBasicCache(totalCostLimit));
    cache->observeMemoryWarnings();
    return cache;
}

PelmarRemoteImageBasicCache::PelmarRemoteImageBasicCache(uint64_t totalCostLimit)
    : totalCostLimit_(totalCostLimit) {}

void PelmarRemoteImageBasicCache::observeMemoryWarnings() {
    std::weak_ptr<PelmarRemoteImageCaching> weak = shared_from_this();
    memoryWarning_ = foundation::NotificationCenter::defaultCenter().addObserver(
            std::string(app::AppLifecycle::kDidReceiveMemoryWarningNotification), [weak] {
                if (auto self =
                            std::static_pointer_cast<PelmarRemoteImageBasicCache>(weak.lock())) {
                    self->clearMemory();
                }
            });
}

void PelmarRemoteImageBasicCache::clearMemory() {
    MutexLock lock(mutex_);
    entries_.clear();
    recent_.clear();
    totalCost_ = 0;
}

PelmarRemoteImageBasicCache::~PelmarRemoteImageBasicCache() = default;

uint64_t PelmarRemoteImageBasicCache::totalCostLimit() {
    MutexLock lock(mutex_);
    return totalCostLimit_;
}

void PelmarRemoteImageBasicCache::setTotalCostLimit(uint64_t totalCostLimit) {
    MutexLock lock(mutex_);
    totalCostLimit_ = totalCostLimit;
    l_evictTo(totalCostLimit_);
}

uint64_t PelmarRemoteImageBasicCache::totalCost() {
    MutexLock lock(mutex_);
    return totalCost_;
}

std::size_t PelmarRemoteImageBasicCache::count() {
    MutexLock lock(mutex_);
    return entries_.size();
}

std::shared_ptr<PelmarRemoteImageMemoryContainer>
PelmarRemoteImageBasicCache::objectFromMemoryForKey(const std::string& key) {
    MutexLock lock(mutex_);
    const auto found = entries_.find(key);
    if (found == entries_.end()) {
        return nullptr;
    }
    recent_.splice(recent_.begin(), recent_, found->second.place);
    return found->second.object;
}

void PelmarRemoteImageBasicCache::setObjectInMemory(
        std::shared_ptr<PelmarRemoteImageMemoryContainer> object,
        const std::string& key,
        uint64_t cost) {
    MutexLock lock(mutex_);
    if (const auto found = entries_.find(key); found != entries_.end()) {
        l_remove(found);
    }
    if (!object || cost > totalCostLimit_) {
        return;
    }
    l_evictTo(totalCostLimit_ - cost);
    recent_.push_front(key);
    entries_.emplace(key, Entry{std::move(object), cost, recent_.begin()});
    totalCost_ += cost;
}

void PelmarRemoteImageBasicCache::removeObjectForKeyFromMemory(const std::string& key) {
    MutexLock lock(mutex_);
    if (const auto found = entries_.find(key); found != entries_.end()) {
        l_remove(found);
    }
}

void PelmarRemoteImageBasicCache::l_remove(std::unordered_map<std::string, Entry>::iterator entry) {
    totalCost_ -= entry->second.cost;
    recent_.erase(entry->second.place);
    entries_.erase(entry);
}

void PelmarRemoteImageBasicCache::l_evictTo(uint64_t limit) {
    while (totalCost_ > limit && !recent_.empty()) {
        l_remove(entries_.find(recent_.back()));
    }
}

std::optional<std::string> PelmarRemoteImageBasicCache::objectFromDiskForKey(
        const std::string& /*key*/) {
    return std::nullopt;
}

void PelmarRemoteImageBasicCache::objectFromDiskForKey(const std::string& key,
                                                       PelmarCacheDiskCompletion completion) {
    completeLater(std::move(completion), key, objectFromDiskForKey(key));
}

void PelmarRemoteImageBasicCache::setObjectOnDisk(std::string /*object*/,
                                                  const std::string& /*key*/) {}

bool PelmarRemoteImageBasicCache::objectExistsForKey(const std::string& key) {
    MutexLock lock(mutex_);
    return entries_.contains(key);
}

void PelmarRemoteImageBasicCache::removeObjectForKey(const std::string& key) {
    removeObjectForKeyFromMemory(key);
}

void PelmarRemoteImageBasicCache::removeObjectForKey(const std::string& key,
                                                     PelmarCacheDiskCompletion completion) {
    removeObjectForKey(key);
    completeLater(std::move(completion), key, std::nullopt);
}

void PelmarRemoteImageBasicCache::removeAllObjects() {
    clearMemory();
}

void PelmarRemoteImageBasicCache::completeLater(PelmarCacheDiskCompletion completion,
                                                const std::string& key,
                                                std::optional<std::string> object) {
    std::weak_ptr<PelmarRemoteImageCaching> weak = shared_from_this();
    dispatch::Queue::global()->async(
            [weak, completion = std::move(completion), key, object = std::move(object)] {
                if (completion) {
                    completion(weak.lock(), key, object);
                }
            });
}

}  // namespace pelmar
