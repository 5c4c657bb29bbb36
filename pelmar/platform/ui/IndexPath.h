#pragma once

#include <compare>

namespace pelmar::ui {

// IndexPath: an item (a row of a table) in a section of a table or collection view.
// Ownership: value type.
// Threads: thread-compatible.
// Errors: none.
struct IndexPath {
    int section = 0;
    int item = 0;

    constexpr int row() const { return item; }

    friend auto operator<=>(const IndexPath&, const IndexPath&) = default;
};

}  // namespace pelmar::ui
