#pragma once

#include <optional>
#include <type_traits>

#include "pelmar/platform/sync/Mutex.h"

// FacadeLink: a service object's non-owning link to the facade that made it, which the facade cuts
// when it ends, so that callbacks running late on other threads find it gone instead of dangling.
// Ownership: held by value inside the service object; refers to the facade without owning it.
// Threads: thread-safe. `with` runs its function under a shared lock: the function must only read
//     what it needs and must not call out (delegates, callbacks) or cut the link.
// Errors: none; `with` returns std::nullopt (or false) once cut.

namespace pelmar {
class Pelmar;
}  // namespace pelmar

namespace pelmar::core::internal {

class FacadeLink {
public:
    explicit FacadeLink(Pelmar& facade) : facade_(&facade) {}

    FacadeLink(const FacadeLink&) = delete;
    FacadeLink& operator=(const FacadeLink&) = delete;

    // Waits for the functions running in `with` right now; later ones see no facade.
    void cut() {
        WriterMutexLock lock(mutex_);
        facade_ = nullptr;
    }

    // Runs `fn(Pelmar&)` while the facade lives; returns its result, or none once cut.
    template <class F>
    auto with(F&& fn) const {
        using Result = std::invoke_result_t<F&, Pelmar&>;
        ReaderMutexLock lock(mutex_);
        if constexpr (std::is_void_v<Result>) {
            if (facade_ == nullptr) {
                return false;
            }
            fn(*facade_);
            return true;
        } else {
            if (facade_ == nullptr) {
                return std::optional<Result>();
            }
            return std::optional<Result>(fn(*facade_));
        }
    }

private:
    mutable SharedMutex mutex_;
    Pelmar* facade_ PELMAR_GUARDED_BY(mutex_);  // null once cut
};

}  // namespace pelmar::core::internal
