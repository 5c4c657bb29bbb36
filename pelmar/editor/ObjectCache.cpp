#include "pelmar/editor/ObjectCache.h"

#include <utility>

namespace pelmar {

ObjectCache::Object ObjectCache::object(const Object& key) const {
    MutexLock lock(mutex_);
    const auto it = entries_.find(key.get());
    return it == entries_.end() ? nullptr : it->second.second;
}

void ObjectCache::setObject(Object object, const Object& key) {
    if (!key) {
        return;
    }
    if (!object) {
        removeObject(key);
        return;
    }
    // Declared before the lock, what is replaced or removed goes after the lock is given back:
    // its destructor may be anyone's code.
    std::pair<Object, Object> replaced;
    MutexLock lock(mutex_);
    auto& entry = entries_[key.get()];
    replaced = std::exchange(entry, {key, std::move(object)});
}

void ObjectCache::removeObject(const Object& key) {
    std::pair<Object, Object> removed;
    MutexLock lock(mutex_);
    const auto it = entries_.find(key.get());
    if (it != entries_.end()) {
        removed = std::move(it->second);
        entries_.erase(it);
    }
}

void ObjectCache::removeAllObjects() {
    std::map<const void*, std::pair<Object, Object>> removed;
    MutexLock lock(mutex_);
    removed.swap(entries_);
}

std::size_t ObjectCache::count() const {
    MutexLock lock(mutex_);
    return entries_.size();
}

}  // namespace pelmar
