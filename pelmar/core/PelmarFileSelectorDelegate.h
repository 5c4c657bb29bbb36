#pragma once

#include <string>
#include <vector>

// PelmarFileSelectorDelegate: what the host app hears from the file selector. Optional methods.
// Ownership: held strongly by the facade.
// Threads: called on the thread where the selection completes; implementations must be thread-safe.
// Errors: none.

namespace pelmar {

class PelmarFileSelectorDelegate {
public:
    virtual ~PelmarFileSelectorDelegate() = default;

    // The "file://" URL strings of the picked files, in picking order.
    virtual void uploadSelected(const std::vector<std::string>& /*paths*/) {}

    virtual void uploadCancelledByUser() {}
};

}  // namespace pelmar
