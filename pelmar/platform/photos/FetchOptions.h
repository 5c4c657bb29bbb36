#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "pelmar/platform/photos/Predicate.h"

namespace pelmar::photos {

// SortDescriptor: one key of a fetch's sort order. Keys as Predicate's; an asset without the
// key's value sorts before those with one (ascending).
struct SortDescriptor {
    std::string key;
    bool ascending = true;

    bool operator==(const SortDescriptor&) const = default;
};

// FetchOptions: how a fetch filters, orders and limits what it finds. Copying gives an
// independent set of options.
// Ownership: value type.
// Threads: thread-compatible.
// Errors: none here (a Predicate refuses a bad format when made); an unknown sort key throws
//     std::invalid_argument at the fetch.
struct FetchOptions {
    std::optional<Predicate> predicate;
    std::vector<SortDescriptor> sortDescriptors;
    // 0: no limit.
    std::size_t fetchLimit = 0;
};

}  // namespace pelmar::photos
