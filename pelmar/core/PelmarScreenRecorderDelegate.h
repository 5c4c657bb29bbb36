#pragma once

// PelmarScreenRecorderDelegate: held for the host app; the SDK calls nothing on it.
// Ownership: held strongly by the facade.
// Threads: not called.
// Errors: none.

namespace pelmar {

class PelmarScreenRecorderDelegate {
public:
    virtual ~PelmarScreenRecorderDelegate() = default;
};

}  // namespace pelmar
