#pragma once

#include <cstddef>
#include <map>
#include <memory>

#include "pelmar/platform/sync/Mutex.h"

namespace pelmar {

// ObjectCache: objects kept under object keys, for a screen that wants to hold on to work it may
// need again. A key is matched by identity (the object it points to), not by value; what the
// cache holds may be let go at any time (removeAllObjects()), so a caller never relies on
// finding an entry again.
// Ownership: holds its keys and values strongly until they are removed or replaced (a held key
//     cannot be freed and its address taken by another object).
// Threads: thread-safe (one internal mutex, never held while calling out).
// Errors: none; a null key is ignored.
class ObjectCache {
public:
    using Object = std::shared_ptr<const void>;

    // The object under `key`, or null.
    Object object(const Object& key) const;

    // Keeps `object` under `key` (a null object removes the entry).
    void setObject(Object object, const Object& key);

    void removeObject(const Object& key);

    void removeAllObjects();

    std::size_t count() const;

private:
    mutable Mutex mutex_;
    std::map<const void*, std::pair<Object, Object>> entries_ PELMAR_GUARDED_BY(mutex_);
};

}  // namespace pelmar
